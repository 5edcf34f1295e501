// The console dialogue, file naming, and the loop over an experiment's histograms.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string_view>

#include "common/file_handle.h"
#include "common/input_file.h"

namespace trov {

// The typed word and every file name fit a 1024-character buffer with its NUL;
// each file name is EXPNAM plus a 4-character suffix (".exp", ".p01", ...).
inline constexpr std::size_t kNameBufferSize = 1024;
inline constexpr std::size_t kSuffixLength = 4;
inline constexpr std::size_t kMaxExpnamLength = kNameBufferSize - 1 - kSuffixLength;
using NameBuffer = std::array<char, kNameBufferSize>;

// EXPNAM: the word cut at the first '.' of its last path component, so that
// "garnet.exp" and "old.runs/garnet.exp" name the experiment garnet in the
// folder typed. On Windows '\' and a drive's ':' also end a folder part.
std::string_view cut_experiment_name(std::string_view word);

// Opens the input file path names as typed; on failure upper-cases the whole
// buffer in place (a to z only, folders included) and tries once more; on a
// second failure tries the folders as typed with only the file name
// upper-cased (path then holds that name). When all three fail it throws
// Fatal("Error opening NAME") with the whole name upper-cased.
InputFile open_with_uppercase_retry(NameBuffer& path, const char* mode, CodePage code_page = kAnsiCodePage);

// Whether text is well-formed UTF-8 (ASCII included).
bool is_utf8(std::string_view text);

// The code page of the word read from in: on Windows the console's input
// code page when in is a console, else UTF-8 when the word is valid UTF-8,
// else the ANSI code page. Elsewhere names are bytes and this is unused.
CodePage typed_code_page(std::FILE* in, std::string_view word);

// EXPNAM followed by a suffix of at most kSuffixLength characters. An EXPNAM
// longer than kMaxExpnamLength throws Fatal: it is never cut.
NameBuffer file_name(std::string_view expnam, std::string_view suffix);

// EXPNAM.p01, EXPNAM.a12, ...: the letter and h (at most 99) in two digits.
NameBuffer histogram_file_name(std::string_view expnam, char letter, int h);

// The whole program: banner, prompt, one word read from in, and every powder
// histogram of that experiment converted. Throws Fatal for every condition
// that ends it early; the files of histograms converted before are complete.
void run(std::FILE* in, std::FILE* out);

}  // namespace trov
