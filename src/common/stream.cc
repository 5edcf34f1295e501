// Owned C streams: opening that refuses folders, checked reads and steps, block-buffered checked writes.
#include "common/stream.h"

#include <filesystem>
#include <system_error>

namespace trov {

namespace {

bool names_folder(const char* path) {
  std::error_code error;
  try {
    return std::filesystem::is_directory(std::filesystem::path(path), error);
  } catch (const std::exception&) {
    // A name the file system cannot even represent is no folder; fopen then
    // reports the failure in the usual way.
    return false;
  }
}

}  // namespace

FilePtr open_file(const char* path, const char* mode) {
  if (names_folder(path)) return nullptr;
  return FilePtr(std::fopen(path, mode));
}

std::size_t Stream::read(void* buffer, std::size_t size) {
  if (input_ == nullptr) {
    // Only valid before the first operation on the stream, which this is.
    input_ = std::make_unique<char[]>(kInputBufferSize);  // NOLINT(cppcoreguidelines-avoid-c-arrays)
    std::setvbuf(file_.get(), input_.get(), _IOFBF, kInputBufferSize);
  }
  std::size_t n = std::fread(buffer, 1, size, file_.get());
  if (std::ferror(file_.get()) != 0) fail_reading();
  return n;
}

void Stream::step_back(unsigned char byte) {
  if (std::ungetc(byte, file_.get()) == EOF) fail_reading();
}

void Stream::step_forward() {
  unsigned char skipped = 0;
  if (read(&skipped, 1) == 0) std::clearerr(file_.get());  // read() has ruled out an error
}

void Stream::fail_reading() const { throw Fatal("Error reading " + name_); }

Stream::~Stream() {
  if (file_ != nullptr) flush_output();
}

void Stream::make_room() {
  if (output_ == nullptr) {
    output_ = std::make_unique<char[]>(kOutputBlockSize);  // NOLINT(cppcoreguidelines-avoid-c-arrays)
  } else {
    flush_output();
  }
}

void Stream::flush_output() {
  if (used_ > 0) std::fwrite(output_.get(), 1, used_, file_.get());
  used_ = 0;
}

void Stream::check_written() const {
  if (std::ferror(file_.get()) != 0) throw Fatal("Error writing " + name_);
}

void Stream::close_output() {
  flush_output();
  std::FILE* file = file_.release();
  bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0) failed = true;
  if (failed) throw Fatal("Error writing " + name_);
}

}  // namespace trov
