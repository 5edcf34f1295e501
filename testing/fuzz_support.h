// What every libFuzzer target shares: the sanitizer's memory setting and how a broken invariant is reported.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// ASan keeps up to 256 MB of freed memory in quarantine to catch use after
// free; with a run's RSS limited to 256 MB that alone would read as a memory
// blow-up. 32 MB still catches use after free of recent buffers. Defined in
// each fuzz target, which includes this header once.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }

namespace trov::testing {

// Fails the run with a message: a broken invariant is a finding like a crash.
[[noreturn]] inline void finding(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Makes a fresh folder under /tmp (name_prefix, then six random characters)
// the working folder for the rest of the process, removed with everything in
// it when the fuzzer exits. For targets that write files by relative names.
inline void work_in_scratch_folder(const char* name_prefix) {
  static std::filesystem::path folder;  // for the clean-up at exit
  std::string pattern = std::string("/tmp/") + name_prefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  folder = pattern;
  std::filesystem::current_path(folder);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
}

// Writes size bytes as the whole file name, in the working folder.
inline void write_input(const char* name, const void* bytes, std::size_t size) {
  std::ofstream(name, std::ios::binary).write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
}

}  // namespace trov::testing
