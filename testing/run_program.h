// The one way tests and benchmarks run a program: trov (or another) as a child process in a folder.
#pragma once

#ifdef _WIN32
#include "io/windows_api.h"
#include <psapi.h>

#include <filesystem>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "testing/files.h"

namespace trov::testing {

struct RunResult {
  int status;            // exit status, or -1 when the child did not exit normally
  std::string out;       // everything written to standard output
  // The child's peak resident size. Linux counts it from before the exec, so
  // this is the larger of trov's own peak and the test process's peak before
  // the spawn (a few MB): an upper bound, which is what the tests check. The
  // benchmark runs the program through bench/peak_rss for its own figure.
  long max_rss_kb;
};

// Runs a program (command: its path and arguments; by default the trov under
// test) in folder cwd with input (none: standard input closed) and collects
// its standard output (and standard error too with merge_stderr) through the
// file out_path.
#ifdef _WIN32
// Programs of the build stand beside the test executable (a build path baked
// in at compile time would be a Unix path when the tests run under Wine).
inline std::string program_beside_tests(const char* name) {
  std::string path(MAX_PATH, '\0');
  path.resize(GetModuleFileNameA(nullptr, path.data(), MAX_PATH));
  return (std::filesystem::path(path).parent_path() / name).string();
}
inline std::string trov_exe() { return program_beside_tests("trov.exe"); }
inline std::vector<std::string> trov_command() { return {trov_exe()}; }

inline std::wstring wide_text(const std::string& text, UINT code_page) {
  std::wstring wide(text.size() + 1, L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(code_page, 0, text.c_str(), static_cast<int>(text.size()), wide.data(),
                          static_cast<int>(wide.size()))));
  return wide;
}

inline RunResult run_trov_in(const std::string& cwd, const std::optional<std::string>& input,
                             const std::string& in_path, const std::string& out_path,
                             const std::vector<std::string>& words = trov_command(), bool merge_stderr = false) {
  if (input) write_file(in_path, *input);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE in = input ? CreateFileA(in_path.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr)
                    : nullptr;  // no standard input at all
  HANDLE out = CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = merge_stderr ? out : GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  // The words are UTF-8, so that a test can pass a name no ANSI code page
  // spells; the program and the folder are paths of the ANSI functions.
  std::string command;
  for (const std::string& word : words) command += (command.empty() ? "\"" : " \"") + word + "\"";
  std::wstring wide_command = wide_text(command, CP_UTF8);
  const BOOL started = CreateProcessW(wide_text(words[0], CP_ACP).c_str(), wide_command.data(), nullptr, nullptr, TRUE,
                                      0, nullptr, wide_text(cwd, CP_ACP).c_str(), &startup, &process);
  if (in != nullptr) CloseHandle(in);
  CloseHandle(out);
  if (!started) return {-1, "", 0};
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  PROCESS_MEMORY_COUNTERS memory{};
  K32GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return {static_cast<int>(status), read_file(out_path), static_cast<long>(memory.PeakWorkingSetSize / 1024)};
}
#else
// The trov under test: this build's, or the one TROV_UNDER_TEST names (CI
// runs the suite again on the trov of the Debian package and of the install).
inline std::string trov_exe() {
  const char* other = std::getenv("TROV_UNDER_TEST");
  return other != nullptr && *other != '\0' ? other : TROV_EXE;
}

// A cross build's tests run under an emulator (qemu-user), and so must every
// program they start: TROV_EMULATOR is its command, words separated by blanks.
#ifdef TROV_EMULATOR
inline constexpr bool kUnderEmulator = true;
#else
#define TROV_EMULATOR ""
inline constexpr bool kUnderEmulator = false;
#endif

// The command that runs a program of this build (by default the trov under
// test), through the emulator if there is one.
inline std::vector<std::string> trov_command(const std::string& program = trov_exe()) {
  std::vector<std::string> command;
  std::string word;
  for (const char* c = TROV_EMULATOR;; ++c) {
    if (*c == ' ' || *c == '\0') {
      if (!word.empty()) command.push_back(word);
      word.clear();
      if (*c == '\0') break;
    } else {
      word += *c;
    }
  }
  command.push_back(program);
  return command;
}

// command is the program and its arguments (a name without a folder is looked
// up on PATH); by default the trov under test. posix_spawn rather than fork:
// the benchmark calls this from a large process many times. start_in starts
// it and returns its process id (-1 when it could not be started).
inline pid_t start_in(const std::string& cwd, const std::optional<std::string>& input, const std::string& in_path,
                      const std::string& out_path, const std::vector<std::string>& command = trov_command(),
                      bool merge_stderr = false) {
  if (input) write_file(in_path, *input);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  if (input) {
    posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  } else {
    posix_spawn_file_actions_addclose(&actions, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (merge_stderr) posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

inline RunResult run_trov_in(const std::string& cwd, const std::optional<std::string>& input,
                             const std::string& in_path, const std::string& out_path,
                             const std::vector<std::string>& command = trov_command(), bool merge_stderr = false) {
  const pid_t pid = start_in(cwd, input, in_path, out_path, command, merge_stderr);
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return {-1, "", 0};
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out_path), usage.ru_maxrss};
}
#endif

// The command that runs one of this build's programs with args: on Windows
// the .exe beside the tests; elsewhere the one the variable under_test names,
// or the build's own (built; empty where the build does not say).
inline std::vector<std::string> program_command([[maybe_unused]] const char* windows_name,
                                                [[maybe_unused]] const char* under_test,
                                                [[maybe_unused]] const char* built,
                                                std::initializer_list<std::string> args) {
#ifdef _WIN32
  std::vector<std::string> command = {program_beside_tests(windows_name)};
#else
  const char* other = std::getenv(under_test);
  std::vector<std::string> command = trov_command(other != nullptr && *other != '\0' ? other : built);
#endif
  command.insert(command.end(), args);
  return command;
}

#if defined(TROV_EXPORT_EXE) || defined(_WIN32)
#ifndef TROV_EXPORT_EXE
#define TROV_EXPORT_EXE ""
#endif
// This build's trov-export with args, or the one TROV_EXPORT_UNDER_TEST names.
inline std::vector<std::string> export_command(std::initializer_list<std::string> args) {
  return program_command("trov-export.exe", "TROV_EXPORT_UNDER_TEST", TROV_EXPORT_EXE, args);
}
#endif

#if defined(TROV_SERIES_EXE) || defined(_WIN32)
#ifndef TROV_SERIES_EXE
#define TROV_SERIES_EXE ""
#endif
// This build's trov-series with args, or the one TROV_SERIES_UNDER_TEST names.
inline std::vector<std::string> series_command(std::initializer_list<std::string> args) {
  return program_command("trov-series.exe", "TROV_SERIES_UNDER_TEST", TROV_SERIES_EXE, args);
}
#endif

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

#ifdef _WIN32
inline constexpr bool kUnderEmulator = false;  // Wine runs Windows programs natively
#endif

}  // namespace trov::testing
