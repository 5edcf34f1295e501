// An output file that knows its name: text formatted straight into its block buffer, every failure reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/file_handle.h"

namespace trov {

// Where an OutputFile's bytes go: a file, or memory (tests, fuzzing, the
// browser edition).
class ByteSink {
 public:
  ByteSink() = default;
  virtual ~ByteSink() = default;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;
  ByteSink(ByteSink&&) = delete;
  ByteSink& operator=(ByteSink&&) = delete;
  // Whether all size bytes were written.
  virtual bool write(const char* bytes, std::size_t size) = 0;
  // Whether everything written reached its destination.
  virtual bool close() = 0;
};

// A new file, unbuffered at the C library: each block goes to the system in
// one write. file must be new: nothing read or written through it yet.
std::unique_ptr<ByteSink> file_sink(FilePtr file);
// Appends to text, which must outlive the sink.
std::unique_ptr<ByteSink> memory_sink(std::string& text);

// Callers format text straight into the file's block buffer (reserve, then
// commit), which reaches the file one block at a time, in one system call:
// no library call per line, no allocation after the first. Output cut short
// (a full disk, a quota) is never reported as success: check_written and
// close throw Fatal("Error writing NAME").
class OutputFile {
 public:
  static constexpr std::size_t kBlockSize = std::size_t{256} << 10;

  OutputFile(std::unique_ptr<ByteSink> sink, std::string name) : sink_(std::move(sink)), name_(std::move(name)) {}
  OutputFile(FilePtr file, std::string name) : OutputFile(file_sink(std::move(file)), std::move(name)) {}
  OutputFile(OutputFile&& other) noexcept = default;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // A file given up on (while a failure unwinds) still has its buffered text
  // written and is closed; whatever that says is past reporting.
  ~OutputFile();

  const std::string& name() const { return name_; }
  // Every byte taken so far, written out or still in the block.
  std::uint64_t size() const { return flushed_ + used_; }

  // Room for at least size more bytes, of any size; commit(end) then keeps
  // what was written up to end. A request larger than the block (a long JSON
  // text, say) writes out what is buffered and grows the block to fit: the
  // block is never written past its end, whatever the caller asks for.
  char* reserve(std::size_t size) {
    if (capacity_ - used_ < size) make_room(size);
    return block_.get() + used_;
  }
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - block_.get()); }
  // Appends text of any length: through the block, or straight to the sink
  // when it is a block or longer.
  void write(std::string_view text);
  // Writes out the buffered text and frees the block (the next reserve makes
  // a new one): for a file that stays open, but takes no more text for a while.
  void release_buffer();
  // Throws once any write has failed. Text still in the block buffer has not
  // been tried yet; close tries it.
  void check_written();
  // Writes what is left and closes; a failed write or close throws.
  void close();
  // Whether a write or the close has failed (and thrown).
  bool failed() const { return failed_; }
  // Closes without writing what is left, and says nothing: for a file about
  // to be removed.
  void discard() noexcept;

 private:
  void make_room(std::size_t size);
  void flush_block();

  std::unique_ptr<ByteSink> sink_;
  std::string name_;
  std::unique_ptr<char[]> block_;  // NOLINT(cppcoreguidelines-avoid-c-arrays): allocated by the first reserve
  std::size_t capacity_ = 0;  // of block_: kBlockSize, or more after a larger reserve
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;  // bytes handed to the sink
  bool failed_ = false;
};

}  // namespace trov
