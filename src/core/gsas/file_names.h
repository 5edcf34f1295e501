// The names of an experiment's files, and the three tries that find an input file whatever the case it was typed in.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "io/file_handle.h"
#include "io/input_file.h"

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

// Whether an input may be anything that opens (trov's rule, kept as it always
// was) or only a regular file: a program that must end refuses pipes and
// devices, which may block or never end.
enum class Opening { kAnyFile, kRegularFileOnly };

// How a file that none of the tries found is named: trov's way, the
// whole name upper-cased; or with the folders as the user gave them and the
// file name upper-cased, saying so where the folders were tried upper-cased too.
enum class MissingName { kUpperCase, kFoldersAsGiven };

// Opens the input file path names, trying it as typed and then upper-cased
// as docs/formats.md describes under "File names"; path is changed in place
// to the name that opened the file. When every try fails it
// throws Fatal("Error opening NAME"), NAME as missing_name says. With
// kRegularFileOnly (mode "rb") a try that finds a pipe or a device throws
// Fatal("Error reading NAME: not a regular file (a pipe or a device)").
InputFile open_with_uppercase_retry(NameBuffer& path, const char* mode, CodePage code_page = kAnsiCodePage,
                                    Opening opening = Opening::kAnyFile,
                                    MissingName missing_name = MissingName::kUpperCase);

// EXPNAM followed by a suffix of at most kSuffixLength characters. An EXPNAM
// longer than kMaxExpnamLength throws Fatal: it is never cut.
NameBuffer file_name(std::string_view expnam, std::string_view suffix);

// EXPNAM.p01, EXPNAM.a12, ...: the letter and h (at most 99) in two digits.
NameBuffer histogram_file_name(std::string_view expnam, char letter, int h);

// trov-export's files, named after base (EXPNAM without its folders):
// base_HH.csv with the points of histogram h, base_HH_ticks.csv with its
// ticks, and the summary base.json.
std::string export_points_name(std::string_view base, int h);
std::string export_ticks_name(std::string_view base, int h);
std::string export_summary_name(std::string_view base);
std::string export_cif_name(std::string_view base);  // base.cif, the powder CIF

}  // namespace trov
