// FILE* owned by std::unique_ptr, and fopen that refuses folders and takes names in a stated code page.
#pragma once

#include <cstdio>
#include <memory>

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

}  // namespace trov
