// FILE* owned by std::unique_ptr, and fopen that refuses folders.
#pragma once

#include <cstdio>
#include <memory>

namespace trov {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// fopen that also fails for a path naming a folder: on POSIX fopen(folder, "r")
// succeeds and every read then fails, which no caller could tell from a file.
FilePtr open_file(const char* path, const char* mode);

}  // namespace trov
