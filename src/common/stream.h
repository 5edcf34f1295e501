// Owned C streams that know their file's name, and the program's one fatal error.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace trov {

// Everything that ends the program early: a file that cannot be opened, read or
// written, or a typed name that cannot be used. Thrown deep in the code and
// caught once in main, which prints what() on standard output and exits with
// status 1; unwinding closes (and flushes) every stream still open.
class Fatal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// fopen that also fails for a path naming a folder: on POSIX fopen(folder, "r")
// succeeds and every read then fails, which no caller could tell from a file.
FilePtr open_file(const char* path, const char* mode);

// An open file and the name it was opened by, used in every message about it.
class Stream {
 public:
  Stream(FilePtr file, std::string name) : file_(std::move(file)), name_(std::move(name)) {}

  std::FILE* get() const { return file_.get(); }
  const std::string& name() const { return name_; }

  // Reads up to size bytes like fread. A failure other than the end of the file
  // throws "Error reading NAME": callers only ever look at the end-of-file flag,
  // and a stream that fails without reaching its end would otherwise keep them
  // reading for ever.
  std::size_t read(void* buffer, std::size_t size);
  // Moves the position by offset bytes from the current one; a failed seek is a
  // failed read (the record reader would lose its place).
  void seek_relative(long offset);
  bool at_end() const { return std::feof(file_.get()) != 0; }

  void write(const char* bytes, std::size_t size) { std::fwrite(bytes, 1, size, file_.get()); }
  // Throws "Error writing NAME" once any write has failed.
  void check_written() const;
  // Closes an output file. Output cut short (a full disk, a quota) is never
  // reported as success: a failed write or close throws "Error writing NAME".
  void close_output();
  // Closes an input file; nothing the close says matters to the data.
  void close_input() { file_.reset(); }

  [[noreturn]] void fail_reading() const;

 private:
  FilePtr file_;
  std::string name_;
};

}  // namespace trov
