// FILE* owned by std::unique_ptr, and fopen that refuses folders and takes names in a stated code page.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace trov {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The character set of a file name's bytes. Windows file names are UTF-16 and
// a name typed at a console arrives in the console's code page, which is not
// the one fopen assumes (the ANSI code page); elsewhere names are bytes and
// reach the file system unchanged, and this is ignored.
using CodePage = unsigned;
inline constexpr CodePage kAnsiCodePage = 0;  // CP_ACP: what fopen assumes on Windows
inline constexpr CodePage kUtf8CodePage = 65001;  // CP_UTF8

// fopen that also fails for a path naming a folder: on POSIX fopen(folder, "r")
// succeeds and every read then fails, which no caller could tell from a file.
FilePtr open_file(const char* path, const char* mode, CodePage code_page = kAnsiCodePage);

// A name as std::filesystem takes it, and back: on Windows the UTF-16 name
// the code page gives (for kUtf8CodePage, WTF-8: UTF-8 that may also hold
// unpaired surrogates, so that every Windows name has bytes); elsewhere the
// bytes as they are. An invalid name gives an empty path.
std::filesystem::path native_path(const std::string& path, CodePage code_page = kAnsiCodePage);
std::string path_text(const std::filesystem::path& path, CodePage code_page = kAnsiCodePage);

// open_file for reading, refusing what is not a regular file once links are
// followed: a FIFO with no writer would block the open for ever, and a device
// such as /dev/zero never ends. Sets not_regular when that is why it failed;
// a folder or a missing file fails with not_regular false, as open_file does.
FilePtr open_regular_file(const char* path, CodePage code_page, bool& not_regular);

// The characters of a file name as the system holds it, for a text that must
// lead back to the very file: on POSIX its bytes read as UTF-8, any other
// byte kept as U+DC80 to U+DCFF (utf8_or_escaped_bytes); on Windows its
// UTF-16 name, an unpaired surrogate kept as itself.
std::u32string file_name_characters(const char* path, CodePage code_page = kAnsiCodePage);

// Removes a file; whether that worked is not reported.
void remove_file(const char* path, CodePage code_page = kAnsiCodePage);

// Creates path for writing; fails when anything of that name exists. On
// Windows the system deletes the file when it is closed, even when the process
// is killed, unless keep_new_file was called first; elsewhere it stays.
FilePtr create_new_file(const char* path, CodePage code_page = kAnsiCodePage);
// Makes a file of create_new_file outlive its closing; false when that failed.
bool keep_new_file(std::FILE* file);
// Renames from to to, replacing the file that has that name; the name never
// stands for a partial file. False when it failed (on Windows, for example,
// when another program holds the old file open).
bool replace_file(const char* from, const char* to, CodePage code_page = kAnsiCodePage);

// A second name for the file at from, made without copying (a hard link, or
// on a file system without links, false). The file at from stays. On
// Windows also false for a file that could not be replaced now, because
// another program holds it open.
bool link_file(const char* from, const char* to, CodePage code_page = kAnsiCodePage);

// Claims a temporary file so that another run's clean-up
// (remove_if_unclaimed) leaves it alone while this process lives; the claim
// ends with the guard or the process, however it ends. On POSIX an advisory
// lock (flock) on a descriptor of its own, which outlives the file's stream;
// on Windows nothing is needed, a file being written there cannot be deleted.
class FileClaim {
 public:
  FileClaim() = default;
  ~FileClaim();
  FileClaim(FileClaim&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileClaim& operator=(FileClaim&& other) noexcept;
  FileClaim(const FileClaim&) = delete;
  FileClaim& operator=(const FileClaim&) = delete;
  // False when path could not be claimed, or no longer names the file that
  // was created under it (another run removed it in between).
  bool claim(const char* path);

 private:
  int fd_ = -1;
};

// Removes path when it is a regular file that no live process claims: what a
// killed run left behind. Whether that worked is not reported.
void remove_if_unclaimed(const char* path, CodePage code_page = kAnsiCodePage);

// This process's number, which tells apart the names of runs side by side.
unsigned process_id();

}  // namespace trov
