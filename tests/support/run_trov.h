// Runs the built trov as a child process in a folder, with a file or nothing on standard input.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "fixtures.h"

namespace trov::testing {

struct RunResult {
  int status;            // exit status, or -1 when the child did not exit normally
  std::string out;       // everything written to standard output
  // The child's peak resident size. Linux counts it from before the exec, so
  // this is the larger of trov's own peak and the test process's size when
  // it forked (a few MB): an upper bound, which is what the tests check.
  long max_rss_kb;
};

// Runs trov in folder cwd with input (none: standard input closed) and
// collects its standard output through the file out_path.
inline RunResult run_trov_in(const std::string& cwd, const std::optional<std::string>& input,
                             const std::string& in_path, const std::string& out_path) {
  if (input) fixtures::write_file(in_path, *input);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    if (input) {
      int in = open(in_path.c_str(), O_RDONLY);
      if (in < 0 || dup2(in, 0) < 0) _exit(126);
      close(in);
    } else {
      close(0);
    }
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0) _exit(126);
    close(out);
    execl(TROV_EXE, TROV_EXE, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return {-1, "", 0};
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fixtures::read_file(out_path), usage.ru_maxrss};
}

// Whether this build runs under AddressSanitizer, whose shadow memory makes
// resident sizes meaningless.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderAddressSanitizer = true;
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif

}  // namespace trov::testing
