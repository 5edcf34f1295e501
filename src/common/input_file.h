// An input file that knows its name: checked reads, and the one-byte steps the record reader takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/file_handle.h"

namespace trov {

// Every failure other than the end of the file throws Fatal("Error reading
// NAME"): callers only ever look at the end-of-file flag, and a file that
// fails without reaching its end would otherwise keep them reading for ever.
class InputFile {
 public:
  InputFile(FilePtr file, std::string name) : file_(std::move(file)), name_(std::move(name)) {}

  const std::string& name() const { return name_; }

  // Reads up to size bytes, like fread. The end-of-file flag is set only when
  // the file ended before size bytes were delivered.
  std::size_t read(void* buffer, std::size_t size);
  // The same, but a failure is reported only by the next check_reading(), so
  // that the caller can use what was delivered before it.
  std::size_t read_partial(void* buffer, std::size_t size);
  void check_reading() const;
  // Reading more than size bytes (about: a byte put back counts again) then
  // throws Fatal("Error reading NAME: larger than N MB"). For a file that is
  // never large, which may yet be a device or a pipe that never ends.
  void limit_size(std::uint64_t size) { limit_ = size; }
  // Puts back the byte just read, so that the next read starts with it; clears
  // the end-of-file flag, as a seek back by one byte would. byte must be the
  // last byte read (after a read that delivered nothing, the last byte before
  // it). Nothing seeks: on Windows a seek discards the whole read buffer.
  void put_back(unsigned char byte);
  // Skips one byte. At the end of the file the end-of-file flag stays clear,
  // as after a seek forward past the end: the next read meets it.
  void skip_byte();
  bool at_end() const { return std::feof(file_.get()) != 0; }
  // Nothing a close says matters to data that has been read.
  void close() { file_.reset(); }

 private:
  [[noreturn]] void fail_reading() const;

  // Declared before file_ so that it outlives the FILE that reads into it.
  std::unique_ptr<char[]> buffer_;  // NOLINT(cppcoreguidelines-avoid-c-arrays): given to setvbuf at the first read
  FilePtr file_;
  std::string name_;
  std::uint64_t delivered_ = 0;
  std::uint64_t limit_ = UINT64_MAX;
};

}  // namespace trov
