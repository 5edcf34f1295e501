// Block-buffered writes, checked after each block and at the close.
#include "common/output_file.h"

#include <algorithm>
#include <cstdio>

#include "common/fatal.h"

namespace trov {

OutputFile::OutputFile(FilePtr file, std::string name) : file_(std::move(file)), name_(std::move(name)) {
  // The block is the buffer: unbuffered, the stream hands each block to the
  // system in one write instead of copying it through a few kB at a time.
  // setvbuf is valid only before the first operation on the stream, which this is.
  if (file_ != nullptr) std::setvbuf(file_.get(), nullptr, _IONBF, 0);
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) flush_block();
}

void OutputFile::make_room(std::size_t size) {
  flush_block();
  if (capacity_ < size) {
    capacity_ = std::max(kBlockSize, size);
    block_.reset(new char[capacity_]);  // NOLINT: uninitialised on purpose (libc++ 14 lacks make_unique_for_overwrite)
  }
}

void OutputFile::write(std::string_view text) {
  // A block at a time: a long text needs no block of its own size.
  while (!text.empty()) {
    const std::size_t piece = std::min(text.size(), kBlockSize);
    commit(std::copy_n(text.data(), piece, reserve(piece)));
    text.remove_prefix(piece);
  }
}

void OutputFile::flush_block() {
  if (used_ > 0) std::fwrite(block_.get(), 1, used_, file_.get());
  used_ = 0;
}

void OutputFile::release_buffer() {
  if (file_ != nullptr) flush_block();
  block_.reset();
  capacity_ = 0;
}

void OutputFile::check_written() {
  if (std::ferror(file_.get()) != 0) {
    failed_ = true;
    throw Fatal("Error writing " + name_);
  }
}

void OutputFile::close() {
  flush_block();
  std::FILE* file = file_.release();
  failed_ = std::ferror(file) != 0;
  if (std::fclose(file) != 0) failed_ = true;
  if (failed_) throw Fatal("Error writing " + name_);
}

void OutputFile::discard() noexcept {
  used_ = 0;
  file_.reset();
}

}  // namespace trov
