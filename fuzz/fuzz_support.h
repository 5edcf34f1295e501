// Real file streams over fuzz input, held in memory (Linux memfd), for the libFuzzer targets.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/file_handle.h"

// ASan keeps up to 256 MB of freed memory in quarantine to catch use after
// free; with a run's RSS limited to 256 MB that alone would read as a memory
// blow-up. 32 MB still catches use after free of recent buffers.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }

namespace trov::fuzz {

// A read-only stream over bytes, backed by a real file descriptor so that it
// buffers, reads and meets the end as a file on disk does.
inline FilePtr memory_file(const std::uint8_t* data, std::size_t size) {
  int fd = memfd_create("trov-fuzz", 0);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  if (lseek(fd, 0, SEEK_SET) != 0) std::abort();
  FilePtr file(fdopen(fd, "rb"));
  if (!file) std::abort();
  return file;
}

// Fails the run with a message: a broken invariant is a finding like a crash.
[[noreturn]] inline void finding(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace trov::fuzz
