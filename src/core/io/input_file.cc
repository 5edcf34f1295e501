// Checked reads from a file or memory, and the put-back and skip steps.
#include "io/input_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/fatal.h"

namespace trov {

namespace {

class FileSource final : public ByteSource {
 public:
  explicit FileSource(FilePtr file) : file_(std::move(file)) {}
  std::size_t read(void* buffer, std::size_t size) override {
    if (buffer_ == nullptr) {
      // stdio's default buffer of a few kB would cost a system call every few
      // blocks. setvbuf is valid only before the first operation on the
      // stream, which this is.
      buffer_ = std::make_unique<char[]>(kBufferSize);  // NOLINT(cppcoreguidelines-avoid-c-arrays)
      std::setvbuf(file_.get(), buffer_.get(), _IOFBF, kBufferSize);
    }
    // A stream that met its end reads no further until told to (C99's sticky
    // end-of-file): a later read may find what a pipe delivered since.
    std::clearerr(file_.get());
    const std::size_t n = std::fread(buffer, 1, size, file_.get());
    failed_ = failed_ || std::ferror(file_.get()) != 0;
    return n;
  }
  bool failed() const override { return failed_; }

 private:
  static constexpr std::size_t kBufferSize = std::size_t{64} << 10;
  // Declared before file_ so that it outlives the FILE that reads into it.
  std::unique_ptr<char[]> buffer_;  // NOLINT(cppcoreguidelines-avoid-c-arrays)
  FilePtr file_;
  bool failed_ = false;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::size_t read(void* buffer, std::size_t size) override {
    const std::size_t n = std::min(size, bytes_.size());
    std::memcpy(buffer, bytes_.data(), n);
    bytes_.remove_prefix(n);
    return n;
  }
  bool failed() const override { return false; }

 private:
  std::string_view bytes_;
};

}  // namespace

std::unique_ptr<ByteSource> file_source(FilePtr file) { return std::make_unique<FileSource>(std::move(file)); }

std::unique_ptr<ByteSource> memory_source(std::string_view bytes) { return std::make_unique<MemorySource>(bytes); }

std::size_t InputFile::read(void* buffer, std::size_t size) {
  const std::size_t n = read_partial(buffer, size);
  check_reading();
  return n;
}

std::size_t InputFile::read_partial(void* buffer, std::size_t size) {
  if (size == 0) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t n = 0;
  if (put_back_ >= 0) {
    out[n++] = static_cast<unsigned char>(put_back_);
    put_back_ = -1;
  }
  n += source_->read(out + n, size - n);
  at_end_ = n < size && !source_->failed();
  delivered_ += n;
  if (delivered_ > limit_) {
    throw Fatal("Error reading " + name_ + ": larger than " + std::to_string(limit_ >> 20) + " MB");
  }
  return n;
}

void InputFile::check_reading() const {
  if (source_->failed()) fail_reading();
}

void InputFile::put_back(unsigned char byte) {
  if (put_back_ >= 0) fail_reading();  // one byte only, as ungetc promises
  put_back_ = byte;
  at_end_ = false;
}

void InputFile::skip_byte() {
  unsigned char skipped = 0;
  read(&skipped, 1);
  at_end_ = false;  // read() has ruled out an error
}

void InputFile::fail_reading() const { throw Fatal("Error reading " + name_); }

}  // namespace trov
