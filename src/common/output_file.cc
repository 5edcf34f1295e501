// Block-buffered writes, checked after each block and at the close.
#include "common/output_file.h"

#include <cstdio>

#include "common/fatal.h"

namespace trov {

OutputFile::~OutputFile() {
  if (file_ != nullptr) flush_block();
}

void OutputFile::make_room() {
  if (block_ == nullptr) {
    // The block is the buffer: unbuffered, the stream hands each block to the
    // system in one write instead of copying it through a few kB at a time.
    // setvbuf is valid only before the first operation on the stream, which this is.
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
    block_.reset(new char[kBlockSize]);  // NOLINT: uninitialised on purpose (libc++ 14 lacks make_unique_for_overwrite)
  } else {
    flush_block();
  }
}

void OutputFile::flush_block() {
  if (used_ > 0) std::fwrite(block_.get(), 1, used_, file_.get());
  used_ = 0;
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
