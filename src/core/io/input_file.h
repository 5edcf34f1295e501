// An input file that knows its name: checked reads from a file or from memory, and the one-byte steps the record reader takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/file_handle.h"

namespace trov {

// Where an InputFile's bytes come from: a file, memory (the browser edition's
// files, fuzz input) or, in tests, a device that fails.
class ByteSource {
 public:
  ByteSource() = default;
  virtual ~ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  ByteSource(ByteSource&&) = delete;
  ByteSource& operator=(ByteSource&&) = delete;
  // Up to size bytes; fewer only at the end of the bytes or after a failure,
  // which failed() then tells. A read after the end may find more (a pipe).
  virtual std::size_t read(void* buffer, std::size_t size) = 0;
  virtual bool failed() const = 0;
};

// A file read through a 64 KiB buffer.
std::unique_ptr<ByteSource> file_source(FilePtr file);
// Bytes held elsewhere, which must outlive the source.
std::unique_ptr<ByteSource> memory_source(std::string_view bytes);

// Every failure other than the end of the file throws Fatal("Error reading
// NAME"): callers only ever look at the end-of-file flag, and a file that
// fails without reaching its end would otherwise keep them reading for ever.
class InputFile {
 public:
  InputFile(std::unique_ptr<ByteSource> source, std::string name)
      : source_(std::move(source)), name_(std::move(name)) {}
  InputFile(FilePtr file, std::string name) : InputFile(file_source(std::move(file)), std::move(name)) {}

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
  // the end-of-file flag, as a seek back by one byte would (and as ungetc
  // does). byte must be the last byte read (after a read that delivered
  // nothing, the last byte before it). Nothing seeks: on Windows a seek
  // discards the whole read buffer.
  void put_back(unsigned char byte);
  // Skips one byte. At the end of the file the end-of-file flag stays clear,
  // as after a seek forward past the end: the next read meets it.
  void skip_byte();
  bool at_end() const { return at_end_; }
  // Nothing a close says matters to data that has been read.
  void close() { source_.reset(); }

 private:
  [[noreturn]] void fail_reading() const;

  std::unique_ptr<ByteSource> source_;
  std::string name_;
  int put_back_ = -1;  // the byte put back, or -1
  bool at_end_ = false;
  std::uint64_t delivered_ = 0;
  std::uint64_t limit_ = UINT64_MAX;
};

}  // namespace trov
