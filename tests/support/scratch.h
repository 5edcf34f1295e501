// A fresh folder per test, streams over bytes in it, and streams that fail on demand.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/stream.h"
#include "fixtures.h"

namespace trov::testing {

namespace fs = std::filesystem;

// Created empty for the running test, removed afterwards.
class Scratch {
 public:
  Scratch() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("trov_") + info->test_suite_name() + "_" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    root_ = fs::path(::testing::TempDir()) / name;
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  std::string path(std::string_view name = "") const { return (root_ / name).string(); }
  void write(std::string_view name, std::string_view bytes) const {
    fs::create_directories((root_ / name).parent_path());
    fixtures::write_file(path(name), bytes);
  }
  std::string read(std::string_view name) const { return fixtures::read_file(path(name)); }
  bool exists(std::string_view name) const { return fs::exists(fs::symlink_status(root_ / name)); }

  Stream input(std::string_view name, std::string_view bytes) const {
    write(name, bytes);
    return Stream(open_file(path(name).c_str(), "rb"), std::string(name));
  }
  Stream output(std::string_view name) const {
    return Stream(open_file(path(name).c_str(), "w"), std::string(name));
  }

 private:
  fs::path root_;
};

// The message of the Fatal that f throws, or "" when it throws none.
template <typename F>
std::string fatal_message(F&& f) {
  try {
    f();
  } catch (const Fatal& e) {
    return e.what();
  }
  return "";
}

#ifdef __GLIBC__
// A stream over bytes whose reads fail (as a disk would with EIO) once the
// position reaches fail_at, and whose writes fail outright when it is a sink.
struct FailingDevice {
  std::string bytes;
  std::size_t fail_at;
  std::size_t position = 0;

  static ssize_t read(void* cookie, char* buffer, size_t size) {
    auto* d = static_cast<FailingDevice*>(cookie);
    if (d->position >= d->fail_at) return -1;
    std::size_t n = std::min({size, d->fail_at - d->position, d->bytes.size() - d->position});
    std::memcpy(buffer, d->bytes.data() + d->position, n);
    d->position += n;
    return static_cast<ssize_t>(n);
  }
  static ssize_t write(void*, const char*, size_t) { return -1; }
  static int seek(void* cookie, off64_t* offset, int whence) {
    auto* d = static_cast<FailingDevice*>(cookie);
    off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<off64_t>(d->position)
                                                               : static_cast<off64_t>(d->bytes.size());
    if (base + *offset < 0) return -1;
    d->position = static_cast<std::size_t>(base + *offset);
    *offset = static_cast<off64_t>(d->position);
    return 0;
  }
  static int close(void*) { return 0; }

  // The device must outlive the stream.
  Stream open(const char* mode, std::string name) {
    cookie_io_functions_t io{&FailingDevice::read, &FailingDevice::write, &FailingDevice::seek,
                             &FailingDevice::close};
    return Stream(FilePtr(fopencookie(this, mode, io)), std::move(name));
  }
};
#endif

}  // namespace trov::testing
