// Output files that replace their old copies together or not at all, written under temporary names first.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "common/output_file.h"

namespace trov {

// Each file is written under a temporary name in its own folder
// (NAME.PID-N.tmp) and renamed over NAME only when every file of the set has
// been written and closed, so a reader never finds a file cut short, and a
// run that fails (a full disk, a folder where a file should be, an
// interruption) leaves the files of the previous run as they were. The
// temporary files go when the set is destroyed without commit(), and when
// the process is ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT (the system
// removes them on Windows, however the process ends); only a kill that no
// program can catch (SIGKILL) leaves one behind, never under the final name.
//
// While a set exists, a file size limit (SIGXFSZ) reads as a failed write
// rather than ending the process.
class OutputSet {
 public:
  OutputSet();
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;
  OutputSet(OutputSet&&) = delete;
  OutputSet& operator=(OutputSet&&) = delete;

  // A new temporary file for path; messages name path. Throws
  // Fatal("Error opening PATH") when path is a folder or a read-only file, or
  // when its folder takes no new file.
  OutputFile& create(const std::string& path);
  // Closes every file and renames each over its final name, in the order they
  // were created. Throws Fatal("Error writing PATH") when a file's text could
  // not all be written, or Fatal("Error replacing PATH") when its old copy
  // could not be replaced (on Windows, a file another program holds open);
  // the files renamed before that stay.
  void commit();

 private:
  struct Entry {
    std::string path, temporary;
    std::FILE* stream = nullptr;     // owned by file, which closes it
    std::optional<OutputFile> file;  // once the temporary file exists
    std::size_t slot = SIZE_MAX;     // in the list a signal handler removes; SIZE_MAX: none
  };
  std::deque<Entry> entries_;
  bool committed_ = false;
};

}  // namespace trov
