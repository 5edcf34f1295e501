// The console dialogue, file naming and opening, and the loop over an experiment's histograms.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/stream.h"

namespace trov {

// The typed word and every file name fit a 1024-character buffer with its NUL;
// each file name is EXPNAM plus a 4-character suffix (".exp", ".p01", ...).
inline constexpr std::size_t kNameBufferSize = 1024;
inline constexpr std::size_t kMaxWordLength = kNameBufferSize - 1;
inline constexpr std::size_t kSuffixLength = 4;
inline constexpr std::size_t kMaxExpnamLength = kMaxWordLength - kSuffixLength;
using NameBuffer = std::array<char, kNameBufferSize>;

inline constexpr const char* kPrompt = "Enter EXPNAM: ";

// Banner and explanation, written before the prompt.
void write_banner(std::FILE* out);

// Reads one word as scanf's "%s" would: leading white space skipped, the word
// ending before the next white space (left unread). Refuses, with Fatal, a
// missing word (input ended first), one longer than kMaxWordLength and one
// holding a NUL byte: a name cut short could open another experiment.
std::string read_word(std::FILE* in);

// EXPNAM: the word cut at the first '.' of its last path component, so that
// "garnet.exp" and "old.runs/garnet.exp" name the experiment garnet in the
// folder typed. On Windows '\' and a drive's ':' also end a folder part.
std::string_view cut_experiment_name(std::string_view word);

// EXPNAM followed by a suffix of at most kSuffixLength characters. An EXPNAM
// longer than kMaxExpnamLength throws Fatal: it is never cut.
NameBuffer file_name(std::string_view expnam, std::string_view suffix);

// EXPNAM.p01, EXPNAM.a12, ...: the letter and h (at most 99) in two digits.
NameBuffer histogram_file_name(std::string_view expnam, char letter, int h);

// Opens path; on failure upper-cases the whole buffer in place (a to z only)
// and tries once more. GSAS on Windows writes upper-case names, so experiments
// copied to a case-sensitive file system are still found when typed in lower
// case. A second failure throws "Error opening NAME" with the upper-cased name.
Stream open_with_uppercase_retry(NameBuffer& path, const char* mode);

// Converts every powder histogram of the experiment EXPNAM.
void convert_experiment(std::string_view expnam);

// The whole program: banner, prompt, name, conversion. Throws Fatal.
void run(std::FILE* in, std::FILE* out);

}  // namespace trov
