// The console dialogue, file naming, and the loop over an experiment's histograms.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string_view>

#include "common/file_handle.h"

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
