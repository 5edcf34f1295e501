// What every libFuzzer target shares: the sanitizer's memory setting and how a broken invariant is reported.
#pragma once

#include <cstdio>
#include <cstdlib>

// ASan keeps up to 256 MB of freed memory in quarantine to catch use after
// free; with a run's RSS limited to 256 MB that alone would read as a memory
// blow-up. 32 MB still catches use after free of recent buffers. Defined in
// each fuzz target, which includes this header once.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }

namespace trov::fuzz {

// Fails the run with a message: a broken invariant is a finding like a crash.
[[noreturn]] inline void finding(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace trov::fuzz
