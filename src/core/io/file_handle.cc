// Opening files: a folder counts as a failed open on every platform; Windows names go through UTF-16.
#include "io/file_handle.h"

#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cstdint>

#include "io/windows_api.h"
#else
#include "common/utf8.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

// Profiles of 2 GiB and more must open on 32-bit systems too: the build asks
// for 64-bit file offsets (_FILE_OFFSET_BITS=64), which fopen then uses.
static_assert(sizeof(off_t) >= 8, "build with -D_FILE_OFFSET_BITS=64");
#endif

namespace trov {

namespace {

#ifdef _WIN32
using NativeName = std::wstring;

// UTF-8 that may also hold unpaired surrogates (WTF-8): how a Windows name,
// which need not be valid UTF-16, travels as bytes. Empty when the bytes are
// not of that form.
NativeName from_wtf8(const char* path) {
  std::wstring wide;
  for (const auto* p = reinterpret_cast<const unsigned char*>(path); *p != 0;) {
    const unsigned lead = *p;
    const int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                     : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (length == 0) return {};
    char32_t c = length == 1 ? lead : lead & (0x7FU >> length);
    for (int k = 1; k < length; ++k) {
      if ((p[k] & 0xC0U) != 0x80U) return {};
      c = (c << 6) | (p[k] & 0x3FU);
    }
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF))) return {};  // overlong
    if (c >= 0x10000) {
      wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(c);
    }
    p += length;
  }
  return wide;
}

std::string to_wtf8(const std::wstring& wide) {
  std::string out;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = static_cast<char16_t>(wide[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(wide[++i]) - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
              static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      out += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
              static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return out;
}

// The name as Windows stores it; empty when its bytes are not valid in the
// code page. UTF-8 is read as WTF-8, so that every UTF-16 name has bytes.
NativeName native_name(const char* path, CodePage code_page) {
  if (code_page == kUtf8CodePage) return from_wtf8(path);
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

}  // namespace

std::filesystem::path native_path(const std::string& path, CodePage code_page) {
  return std::filesystem::path(native_name(path.c_str(), code_page));
}

std::string path_text(const std::filesystem::path& path, CodePage code_page) {
#ifdef _WIN32
  const std::wstring wide = path.native();
  if (code_page == kUtf8CodePage) return to_wtf8(wide);
  const int length = WideCharToMultiByte(code_page, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, 0, wide.c_str(), -1, text.data(), length, nullptr, nullptr);
  text.pop_back();  // the NUL
  return text;
#else
  (void)code_page;
  return path.native();
#endif
}

namespace {

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

FilePtr open_regular_file(const char* path, CodePage code_page, bool& not_regular) {
  not_regular = false;
  const NativeName name = native_name(path, code_page);
  if (name.empty() || names_folder(name)) return nullptr;
#ifdef _WIN32
  FilePtr file(_wfopen(name.c_str(), L"rb"));
  struct _stat64 status {};
  if (file && (_fstat64(_fileno(file.get()), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)) {
    not_regular = true;
    return nullptr;
  }
  return file;
#else
  // Opened without waiting, so that a FIFO is seen for what it is rather than
  // waited on; a regular file then reads as usual.
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    not_regular = !S_ISDIR(status.st_mode);
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FilePtr file(fdopen(fd, "rb"));
  if (!file) ::close(fd);
  return file;
#endif
}

std::u32string file_name_characters(const char* path, CodePage code_page) {
#ifdef _WIN32
  const NativeName name = native_name(path, code_page);
  std::u32string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char32_t unit = name[i];
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
                      name[i + 1] <= 0xDFFF;
    if (pair) {
      out += 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(name[i + 1]) - 0xDC00);
      ++i;
    } else {
      out += unit;
    }
  }
  return out;
#else
  (void)code_page;
  return utf8_or_escaped_bytes(path);
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

FilePtr create_new_file(const char* path, CodePage code_page) {
  const NativeName name = native_name(path, code_page);
  if (name.empty()) return nullptr;
#ifdef _WIN32
  HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // Deleted at the close unless kept: a process killed from the task manager
  // or by closing its console leaves no file behind.
  FILE_DISPOSITION_INFO dispose{TRUE};
  SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose);
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FilePtr file(_fdopen(fd, "wb"));
  if (!file) _close(fd);
  return file;
#else
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FilePtr file(fdopen(fd, "wb"));
  if (!file) {
    ::close(fd);
    ::unlink(name.c_str());
  }
  return file;
#endif
}

bool keep_new_file(std::FILE* file) {
#ifdef _WIN32
  FILE_DISPOSITION_INFO keep{FALSE};
  auto* handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return SetFileInformationByHandle(handle, FileDispositionInfo, &keep, sizeof keep) != 0;
#else
  return file != nullptr;
#endif
}

bool replace_file(const char* from, const char* to, CodePage code_page) {
  const NativeName old_name = native_name(from, code_page);
  const NativeName new_name = native_name(to, code_page);
  if (old_name.empty() || new_name.empty()) return false;
#ifdef _WIN32
  return MoveFileExW(old_name.c_str(), new_name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return std::rename(old_name.c_str(), new_name.c_str()) == 0;
#endif
}

bool link_file(const char* from, const char* to, CodePage code_page) {
  const NativeName old_name = native_name(from, code_page);
  const NativeName new_name = native_name(to, code_page);
  if (old_name.empty() || new_name.empty()) return false;
#ifdef _WIN32
  // A file another program holds open without sharing its deletion can be
  // linked, but neither replaced nor its link removed: that is found here,
  // before anything is made.
  HANDLE probe = CreateFileW(old_name.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  CloseHandle(probe);
  return CreateHardLinkW(new_name.c_str(), old_name.c_str(), nullptr) != 0;
#else
  return ::link(old_name.c_str(), new_name.c_str()) == 0;
#endif
}

FileClaim::~FileClaim() {
#ifndef _WIN32
  if (fd_ >= 0) ::close(fd_);
#endif
}

FileClaim& FileClaim::operator=(FileClaim&& other) noexcept {
  if (this != &other) {
    FileClaim old(std::move(*this));
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

#ifdef _WIN32
bool FileClaim::claim(const char* /*path*/) { return true; }

void remove_if_unclaimed(const char* path, CodePage code_page) {
  // A file another process has open for writing refuses to be deleted.
  const NativeName name = native_name(path, code_page);
  if (!name.empty()) DeleteFileW(name.c_str());
}
#else
namespace {

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A descriptor of path holding the lock, or -1; the name must still be that
// file once the lock is held, since another run may have removed or
// replaced it between the open and the lock. A file system without locks
// (some network ones) gives the descriptor with no lock, and unlocked says so.
int open_locked(const char* path, int lock, bool& unlocked) {
  unlocked = false;
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::flock(fd, lock | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK || errno == EINTR) {
      ::close(fd);
      return -1;
    }
    unlocked = true;
  }
  struct stat held {};
  struct stat named {};
  if (::fstat(fd, &held) != 0 || ::lstat(path, &named) != 0 || !same_file(held, named) || !S_ISREG(held.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool FileClaim::claim(const char* path) {
  // Shared: a file may be claimed by this run more than once (a backup is a
  // second name of a file this run claims already); a clean-up asks for the
  // exclusive lock, which no shared one leaves it. Without locks the file is
  // written all the same, unclaimed.
  bool unlocked = false;
  const int fd = open_locked(path, LOCK_SH, unlocked);
  if (fd < 0) return false;
  *this = FileClaim();
  fd_ = fd;
  return true;
}

void remove_if_unclaimed(const char* path, CodePage /*unused*/) {
  // Where there are no locks, no file can be known to be stale: it stays.
  bool unlocked = false;
  const int fd = open_locked(path, LOCK_EX, unlocked);
  if (fd < 0) return;
  if (!unlocked) ::unlink(path);
  ::close(fd);
}
#endif

unsigned process_id() {
#ifdef _WIN32
  return static_cast<unsigned>(_getpid());
#else
  return static_cast<unsigned>(getpid());
#endif
}

}  // namespace trov
