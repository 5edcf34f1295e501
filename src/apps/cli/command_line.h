// What trov-export and trov-series share on the command line: their words in the right code page, one-line messages, standard output's end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "io/file_handle.h"

namespace trov {

// The code page of command_words' bytes. Windows hands a program its words
// in the ANSI code page, which cannot spell every name; they are taken as
// UTF-16 instead, in WTF-8, so that any name works. Elsewhere: bytes, as the
// system holds them.
#ifdef _WIN32
inline constexpr CodePage kWordsCodePage = kUtf8CodePage;
#else
inline constexpr CodePage kWordsCodePage = kAnsiCodePage;
#endif
std::vector<std::string> command_words(int argc, char** argv);

// A message as one line of text whatever the names in it hold: a control
// character (a line feed in a file name, say) is shown as \n, \t or \xNN.
std::string one_line(std::string_view message);

// What the program printed reached its reader: a full disk or a closed pipe
// behind standard output is a failure like any other write (throws Fatal).
void finish_standard_output();

// A mistake on the command line: status 2.
struct UsageError {
  std::string message;
};

// Runs a program's work (which returns its status) and says every failure in
// one line on standard error, "PROGRAM: ...": status 2 for a UsageError, 1
// for the rest. what names the work in the words for a failure no message
// of ours explains ("an unexpected error ended the export").
int reported_main(const char* program, const char* what, int (*work)(const std::vector<std::string>& words),
                  int argc, char** argv);

}  // namespace trov
