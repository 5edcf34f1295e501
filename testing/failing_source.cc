// A byte source that delivers the bytes before a given offset, then fails.
#include "testing/failing_source.h"

#include <algorithm>
#include <cstring>

namespace trov::testing {

namespace {

class FailingSource final : public ByteSource {
 public:
  FailingSource(std::string bytes, std::size_t fail_at) : bytes_(std::move(bytes)), fail_at_(fail_at) {}
  std::size_t read(void* buffer, std::size_t size) override {
    const std::size_t end = std::min(fail_at_, bytes_.size());
    const std::size_t n = std::min(size, end - std::min(end, position_));
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    failed_ = failed_ || (n < size && position_ >= fail_at_);
    return n;
  }
  bool failed() const override { return failed_; }

 private:
  std::string bytes_;
  std::size_t fail_at_;
  std::size_t position_ = 0;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<ByteSource> failing_source(std::string bytes, std::size_t fail_at) {
  return std::make_unique<FailingSource>(std::move(bytes), fail_at);
}

}  // namespace trov::testing
