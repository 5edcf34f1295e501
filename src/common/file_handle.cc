// Opening files: a folder counts as a failed open on every platform.
#include "common/file_handle.h"

#include <exception>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <sys/types.h>
// Profiles of 2 GiB and more must open on 32-bit systems too: the build asks
// for 64-bit file offsets (_FILE_OFFSET_BITS=64), which fopen then uses.
static_assert(sizeof(off_t) >= 8, "build with -D_FILE_OFFSET_BITS=64");
#endif

namespace trov {

namespace {

bool names_folder(const char* path) {
  std::error_code error;
  try {
    return std::filesystem::is_directory(std::filesystem::path(path), error);
  } catch (const std::exception&) {
    // A name the file system cannot even represent is no folder; fopen then
    // reports the failure in the usual way.
    return false;
  }
}

}  // namespace

FilePtr open_file(const char* path, const char* mode) {
  if (names_folder(path)) return nullptr;
  return FilePtr(std::fopen(path, mode));
}

}  // namespace trov
