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
// Output goes through a block buffer of the stream's own, into which callers
// format text directly (reserve, then commit) and which reaches the file in
// one fwrite per block: no library call per line, no allocation after the
// first write.
class Stream {
 public:
  static constexpr std::size_t kOutputBlockSize = std::size_t{64} << 10;
  static constexpr std::size_t kInputBufferSize = std::size_t{64} << 10;

  Stream(FilePtr file, std::string name) : file_(std::move(file)), name_(std::move(name)) {}
  Stream(Stream&& other) noexcept = default;
  Stream& operator=(Stream&&) = delete;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  // A stream given up on (while a failure unwinds) still has its buffered
  // output written and is closed; whatever that says is past reporting.
  ~Stream();

  std::FILE* get() const { return file_.get(); }
  const std::string& name() const { return name_; }

  // Reads up to size bytes like fread, through a buffer of kInputBufferSize
  // (stdio's default of a few kB costs a system call every few blocks). A
  // failure other than the end of the file throws "Error reading NAME":
  // callers only ever look at the end-of-file flag, and a stream that fails
  // without reaching its end would otherwise keep them reading for ever.
  std::size_t read(void* buffer, std::size_t size);
  // Steps back over one byte that was just read, as a seek back by one byte
  // would, without the seek: a seek makes the Windows C runtime discard its
  // buffer, which for the record reader meant re-reading it for every record.
  // Like a seek it clears the end-of-file condition. byte must be the last
  // byte read; a failure counts as a failed read.
  void step_back(unsigned char byte);
  // Steps forward over one byte, as a seek forward by one would: at the end of
  // the file the end-of-file condition stays clear, and the next read meets it.
  void step_forward();
  bool at_end() const { return std::feof(file_.get()) != 0; }

  // Room for at least size (at most kOutputBlockSize) more bytes of output;
  // commit(end) then keeps what was written up to end.
  char* reserve(std::size_t size) {
    if (output_ == nullptr || kOutputBlockSize - used_ < size) make_room();
    return output_.get() + used_;
  }
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - output_.get()); }
  // Throws "Error writing NAME" once any write has failed. Output still in
  // the block buffer has not been tried yet; close_output tries it.
  void check_written() const;
  // Closes an output file. Output cut short (a full disk, a quota) is never
  // reported as success: a failed write or close throws "Error writing NAME".
  void close_output();
  // Closes an input file; nothing the close says matters to the data.
  void close_input() { file_.reset(); }

  [[noreturn]] void fail_reading() const;

 private:
  void make_room();
  void flush_output();

  // Declared before file_ so that it outlives the FILE that reads into it.
  std::unique_ptr<char[]> input_;  // NOLINT(cppcoreguidelines-avoid-c-arrays): given to setvbuf at the first read
  FilePtr file_;
  std::string name_;
  std::unique_ptr<char[]> output_;  // NOLINT(cppcoreguidelines-avoid-c-arrays): allocated at the first write
  std::size_t used_ = 0;
};

}  // namespace trov
