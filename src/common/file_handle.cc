// Opening files: a folder counts as a failed open on every platform; Windows names go through UTF-16.
#include "common/file_handle.h"

#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include "common/windows_api.h"
#else
#include <sys/types.h>
// Profiles of 2 GiB and more must open on 32-bit systems too: the build asks
// for 64-bit file offsets (_FILE_OFFSET_BITS=64), which fopen then uses.
static_assert(sizeof(off_t) >= 8, "build with -D_FILE_OFFSET_BITS=64");
#endif

namespace trov {

namespace {

#ifdef _WIN32
using NativeName = std::wstring;

// The name as Windows stores it; empty when its bytes are not valid in the code page.
NativeName native_name(const char* path, CodePage code_page) {
  const int length = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, path, -1, wide.data(), length);
  wide.pop_back();  // the NUL
  return wide;
}
#else
using NativeName = std::string;

NativeName native_name(const char* path, CodePage /*unused*/) { return path; }
#endif

bool names_folder(const NativeName& name) {
  std::error_code error;
  try {
    return std::filesystem::is_directory(std::filesystem::path(name), error);
  } catch (const std::exception&) {
    // A name the file system cannot even represent is no folder; fopen then
    // reports the failure in the usual way.
    return false;
  }
}

}  // namespace

FilePtr open_file(const char* path, const char* mode, CodePage code_page) {
  const NativeName name = native_name(path, code_page);
  if (name.empty() || names_folder(name)) return nullptr;
#ifdef _WIN32
  const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
  return FilePtr(_wfopen(name.c_str(), wide_mode.c_str()));
#else
  return FilePtr(std::fopen(name.c_str(), mode));
#endif
}

void remove_file(const char* path, CodePage code_page) {
  const NativeName name = native_name(path, code_page);
#ifdef _WIN32
  if (!name.empty()) _wremove(name.c_str());
#else
  std::remove(name.c_str());
#endif
}

}  // namespace trov
