// Block-buffered writes to a file or memory, checked after each block and at the close.
#include "io/output_file.h"

#include <algorithm>
#include <cstdio>

#include "common/fatal.h"

namespace trov {

namespace {

class FileSink final : public ByteSink {
 public:
  explicit FileSink(FilePtr file) : file_(std::move(file)) {
    // The caller's block is the buffer: unbuffered, the stream hands each
    // block to the system in one write instead of copying it through a few kB
    // at a time. setvbuf is valid only before the first operation on the
    // stream, which this is.
    if (file_ != nullptr) std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  }
  bool write(const char* bytes, std::size_t size) override {
    return std::fwrite(bytes, 1, size, file_.get()) == size;
  }
  bool close() override {
    std::FILE* file = file_.release();
    const bool written = std::ferror(file) == 0;
    return std::fclose(file) == 0 && written;
  }

 private:
  FilePtr file_;
};

class MemorySink final : public ByteSink {
 public:
  explicit MemorySink(std::string& text) : text_(text) {}
  bool write(const char* bytes, std::size_t size) override {
    text_.append(bytes, size);
    return true;
  }
  bool close() override { return true; }

 private:
  std::string& text_;
};

}  // namespace

std::unique_ptr<ByteSink> file_sink(FilePtr file) { return std::make_unique<FileSink>(std::move(file)); }

std::unique_ptr<ByteSink> memory_sink(std::string& text) { return std::make_unique<MemorySink>(text); }

OutputFile::~OutputFile() {
  if (sink_ != nullptr) flush_block();
}

void OutputFile::make_room(std::size_t size) {
  flush_block();
  if (capacity_ < size) {
    capacity_ = std::max(kBlockSize, size);
    block_.reset(new char[capacity_]);  // NOLINT: uninitialised on purpose (libc++ 14 lacks make_unique_for_overwrite)
  }
}

void OutputFile::write(std::string_view text) {
  // A text of a block or more goes to the sink as it stands, after what is
  // buffered, in one write and without a copy.
  if (text.size() >= kBlockSize) {
    flush_block();
    if (!sink_->write(text.data(), text.size())) failed_ = true;
    flushed_ += text.size();
    return;
  }
  // A shorter one through the block.
  while (!text.empty()) {
    const std::size_t piece = std::min(text.size(), kBlockSize);
    commit(std::copy_n(text.data(), piece, reserve(piece)));
    text.remove_prefix(piece);
  }
}

void OutputFile::flush_block() {
  if (used_ > 0 && !sink_->write(block_.get(), used_)) failed_ = true;
  flushed_ += used_;
  used_ = 0;
}

void OutputFile::release_buffer() {
  if (sink_ != nullptr) flush_block();
  block_.reset();
  capacity_ = 0;
}

void OutputFile::check_written() {
  if (failed_) throw Fatal("Error writing " + name_);
}

void OutputFile::close() {
  flush_block();
  if (!sink_->close()) failed_ = true;
  sink_.reset();
  if (failed_) throw Fatal("Error writing " + name_);
}

void OutputFile::discard() noexcept {
  used_ = 0;
  sink_.reset();
}

}  // namespace trov
