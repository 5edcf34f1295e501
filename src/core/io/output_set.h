// Output files that replace their old copies together or not at all, written under temporary names first.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>

#include "io/file_handle.h"
#include "io/output_file.h"

namespace trov {

// Each file is written under a temporary name in its own folder
// (.trov-XXXXXXXXXXXXXXXX.tmp: random, so that no file planted in the folder
// can block a run, and short, so that it fits wherever the final name does)
// and renamed over its final name only when every file of the set has been
// written and closed. A reader never finds a file cut short; a run that fails
// (a full disk, a folder where a file should be, an old copy that cannot be
// replaced, an interruption) leaves the files of the previous run as they
// were; a run that gets as far as renaming completes the whole set.
//
// - While the set is renamed into place, SIGINT, SIGTERM, SIGHUP and SIGQUIT
//   wait: they end the process once the new set is whole. Before that they
//   remove the temporary files and end it at once.
// - Each old copy keeps a second name (a hard link; on a file system without
//   links it is moved aside) until the set is in place, so that a rename that
//   fails part way (on Windows, a file another program holds open) puts the
//   earlier ones back.
// - Only a kill no program can catch (SIGKILL, a power cut) can leave a
//   mixed set or temporary files. The temporary files are claimed while their
//   run lives (FileClaim), and the first set made in a folder removes those
//   that no live run claims. A mixed set is told by the summary, which names
//   each file's size.
//
// While a set exists, a file size limit (SIGXFSZ) reads as a failed write
// rather than ending the process.
class OutputSet {
 public:
  // Every name is in code_page's bytes (file_handle.h).
  explicit OutputSet(CodePage code_page = kAnsiCodePage);
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;
  OutputSet(OutputSet&&) = delete;
  OutputSet& operator=(OutputSet&&) = delete;

  // A new temporary file for path; messages name path. Throws
  // Fatal("Error opening PATH") when path is a folder or a read-only file, or
  // when its folder takes no new file.
  OutputFile& create(const std::string& path);
  // Closes every file and puts each in place of its final name. Throws
  // Fatal("Error writing PATH") when a file's text could not all be written,
  // or Fatal("Error replacing PATH") when its old copy could not be replaced;
  // either way every final name then stands for its old file again (or for
  // none, where there was none).
  void commit();

 private:
  struct Entry {
    std::string path, temporary;
    std::string backup;              // the old copy's second name, once made
    bool moved_aside = false;        // the backup is the old copy's only name
    bool replaced = false;           // path now names the new file
    std::FILE* stream = nullptr;     // owned by file, which closes it
    std::optional<OutputFile> file;  // once the temporary file exists
    FileClaim claim, backup_claim;
    std::size_t slot = SIZE_MAX;     // in the list a signal handler removes; SIZE_MAX: none
  };
  void put_back_old_copies() noexcept;

  std::deque<Entry> entries_;
  std::set<std::string> folders_cleaned_;
  CodePage code_page_;
  bool committed_ = false;
};

}  // namespace trov
