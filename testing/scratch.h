// A fresh folder per test, files and program runs in it, and the message of a Fatal.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/fatal.h"
#include "io/file_handle.h"
#include "io/input_file.h"
#include "io/output_file.h"
#include "testing/files.h"
#include "testing/run_program.h"

namespace trov::testing {

namespace fs = std::filesystem;

// Created empty, in the system's folder for temporary files, for the one
// running test (each process has its own); removed with everything in it.
class Scratch {
 public:
  Scratch() {
    static int made = 0;  // in this process
    root_ = fs::temp_directory_path() / ("trov-" + std::to_string(process_id()) + "-" + std::to_string(made++));
    std::error_code ignored;  // what an earlier process of the same number left is cleared where possible
    fs::remove_all(root_, ignored);
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
    write_file(path(name), bytes);
  }
  std::string read(std::string_view name) const { return read_file(path(name)); }
  bool exists(std::string_view name) const { return fs::exists(fs::symlink_status(root_ / name)); }

  InputFile input(std::string_view name, std::string_view bytes) const {
    write(name, bytes);
    return InputFile(open_file(path(name).c_str(), "rb"), std::string(name));
  }
  OutputFile output(std::string_view name) const {
    return OutputFile(open_file(path(name).c_str(), "w"), std::string(name));
  }

  // Runs trov in the folder cwd below the root, with input on standard input
  // (none: closed) through the files _stdin and _stdout in the root.
  RunResult run_trov(const std::optional<std::string>& input, const std::string& cwd = "") const {
    fs::create_directories(root_ / cwd);
    return run_trov_in(path(cwd), input, path("_stdin"), path("_stdout"));
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


}  // namespace trov::testing
