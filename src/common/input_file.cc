// Checked reads through a large buffer, and the put-back and skip steps.
#include "common/input_file.h"

#include <cstdio>
#include <string>

#include "common/fatal.h"

namespace trov {

namespace {

// stdio's default buffer of a few kB would cost a system call every few blocks.
constexpr std::size_t kBufferSize = std::size_t{64} << 10;

}  // namespace

std::size_t InputFile::read(void* buffer, std::size_t size) {
  const std::size_t n = read_partial(buffer, size);
  check_reading();
  return n;
}

std::size_t InputFile::read_partial(void* buffer, std::size_t size) {
  if (buffer_ == nullptr) {
    // setvbuf is valid only before the first operation on the stream, which this is.
    buffer_ = std::make_unique<char[]>(kBufferSize);  // NOLINT(cppcoreguidelines-avoid-c-arrays)
    std::setvbuf(file_.get(), buffer_.get(), _IOFBF, kBufferSize);
  }
  const std::size_t n = std::fread(buffer, 1, size, file_.get());
  delivered_ += n;
  if (delivered_ > limit_) {
    throw Fatal("Error reading " + name_ + ": larger than " + std::to_string(limit_ >> 20) + " MB");
  }
  return n;
}

void InputFile::check_reading() const {
  if (std::ferror(file_.get()) != 0) fail_reading();
}

void InputFile::put_back(unsigned char byte) {
  if (std::ungetc(byte, file_.get()) == EOF) fail_reading();
}

void InputFile::skip_byte() {
  unsigned char skipped = 0;
  if (read(&skipped, 1) == 0) std::clearerr(file_.get());  // read() has ruled out an error
}

void InputFile::fail_reading() const { throw Fatal("Error reading " + name_); }

}  // namespace trov
