// Dialogue, naming and the histogram loop: opens every file, and closes them in a fixed order.
#include "driver/driver.h"

#include <algorithm>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>

#include "common/windows_api.h"
#endif

#include "common/fatal.h"
#include "common/file_handle.h"
#include "common/input_file.h"
#include "common/output_file.h"
#include "conversion/conversion.h"
#include "experiment/experiment.h"

namespace trov {

namespace {

constexpr std::size_t kMaxWordLength = kNameBufferSize - 1;
constexpr const char* kPrompt = "Enter EXPNAM: ";

#ifndef TROV_VERSION
#error "TROV_VERSION, the project version, comes from CMakeLists.txt"
#endif

constexpr std::size_t kBoxWidth = 44;
constexpr std::string_view kBoxEdge = "********************************************";
static_assert(kBoxEdge.size() == kBoxWidth);

// "TROV V" and the version, centred between two asterisks (one blank more on
// the right when the blanks do not split evenly).
std::string title_line() {
  const std::string title = std::string("TROV V") + TROV_VERSION;
  const std::size_t inside = kBoxWidth - 2;
  const std::size_t left = (inside - title.size()) / 2;
  return "*" + std::string(left, ' ') + title + std::string(inside - left - title.size(), ' ') + "*";
}

bool is_white_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool ends_folder_part(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

void write_banner(std::FILE* out) {
  const std::array<std::string, 14> lines = {
      "",
      std::string(kBoxEdge),
      title_line(),
      "*" + std::string(kBoxWidth - 2, ' ') + "*",
      std::string(kBoxEdge),
      "",
      "Given EXPNAM.EXP and the EXPNAM.P## files",
      "(one for each histogram). TROV extracts",
      "the observed, calculated and difference",
      "plots for each histogram in the experiment",
      "in ascii format suitable for reading into",
      "plotting programs such as Origin.",
      "",
      "",
  };
  for (const std::string& line : lines) {
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
  }
}

// Reads one word as scanf's "%s" would: leading white space skipped, the word
// ending before the next white space (left unread). Refuses a missing word,
// one longer than kMaxWordLength and one holding a NUL byte: a name cut short
// could open another experiment.
std::string read_word(std::FILE* in) {
  int c = std::getc(in);
  while (is_white_space(c)) c = std::getc(in);
  // On a console the input ends without a line feed after the prompt, so the
  // message starts a line of its own.
  if (c == EOF) throw Fatal("\nNo experiment name was typed");
  std::string word;
  while (c != EOF && !is_white_space(c)) {
    if (c == '\0') throw Fatal("The experiment name must not contain a NUL byte");
    if (word.size() == kMaxWordLength) {
      throw Fatal("The experiment name is too long: at most " + std::to_string(kMaxWordLength) +
                  " characters can be typed");
    }
    word.push_back(static_cast<char>(c));
    c = std::getc(in);
  }
  if (c != EOF) std::ungetc(c, in);
  return word;
}

OutputFile open_output(const NameBuffer& path, CodePage code_page) {
  FilePtr file = open_file(path.data(), "w", code_page);
  if (!file) throw Fatal(std::string("Error opening ") + path.data());
  return OutputFile(std::move(file), path.data());
}

void convert_powder_histogram(std::string_view expnam, CodePage code_page, int h, const HistogramType& type) {
  // Names are built afresh for each histogram, so an upper-cased profile name
  // never carries over to the next one, and outputs keep the typed case.
  NameBuffer profile_name = histogram_file_name(expnam, 'p', h);
  InputFile profile = open_with_uppercase_retry(profile_name, "rb", code_page);
  OutputFile plot = open_output(histogram_file_name(expnam, 'a', h), code_page);
  OutputFile markers = open_output(histogram_file_name(expnam, 'b', h), code_page);
  try {
    convert_histogram(profile, plot, markers, type);
    plot.close();
    markers.close();
  } catch (const Fatal&) {
    // A file cut short by a full disk would read as complete: when writing
    // fails, neither file of this histogram is left behind. (After a read
    // error the lines converted so far stay, as the message says which file
    // was short.)
    if (plot.failed() || markers.failed()) {
      plot.discard();
      markers.discard();
      remove_file(plot.name().c_str(), code_page);
      remove_file(markers.name().c_str(), code_page);
    }
    throw;
  }
  profile.close();
}

void convert_experiment(std::string_view expnam, CodePage code_page) {
  NameBuffer experiment_name = file_name(expnam, ".exp");
  // Read as bytes on every platform, so that CR LF line ends reach the record
  // reader unchanged and every platform builds the same table.
  InputFile experiment = open_with_uppercase_retry(experiment_name, "rb", code_page);
  const HistogramTable table = scan_histogram_types(experiment);
  for (int h = 1; h <= table.count; ++h) {
    const HistogramType& type = table.entries[static_cast<std::size_t>(h - 1)];
    if (type.is_powder()) convert_powder_histogram(expnam, code_page, h, type);
  }
  experiment.close();
}

}  // namespace

// GSAS on Windows writes upper-case names, so experiments copied to a
// case-sensitive file system are still found when typed in lower case, in
// whatever folder they lie.
InputFile open_with_uppercase_retry(NameBuffer& path, const char* mode, CodePage code_page) {
  if (FilePtr file = open_file(path.data(), mode, code_page)) return InputFile(std::move(file), path.data());
  const NameBuffer typed = path;
  std::size_t file_part = 0;
  for (std::size_t i = 0; i < path.size() && path[i] != '\0'; ++i) {
    if (ends_folder_part(path[i])) file_part = i + 1;
    if (path[i] >= 'a' && path[i] <= 'z') path[i] = static_cast<char>(path[i] - 'a' + 'A');
  }
  if (FilePtr file = open_file(path.data(), mode, code_page)) return InputFile(std::move(file), path.data());
  if (file_part > 0) {
    NameBuffer folders_as_typed = typed;
    std::copy(path.begin() + static_cast<std::ptrdiff_t>(file_part), path.end(),
              folders_as_typed.begin() + static_cast<std::ptrdiff_t>(file_part));
    if (FilePtr file = open_file(folders_as_typed.data(), mode, code_page)) {
      path = folders_as_typed;
      return InputFile(std::move(file), path.data());
    }
  }
  throw Fatal(std::string("Error opening ") + path.data());
}

bool is_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || (length == 2 && lead < 0xC2) || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

CodePage typed_code_page(std::FILE* in, std::string_view word) {
#ifdef _WIN32
  // Typed at a console: the console's input code page (850 on a western
  // European Windows, not the ANSI 1252). Piped from a file or a program:
  // UTF-8 when the bytes are valid UTF-8 (what Python, PowerShell 7 and
  // editors write today), else the ANSI code page of older tools.
  if (_isatty(_fileno(in)) != 0) return GetConsoleCP();
  return is_utf8(word) ? kUtf8CodePage : kAnsiCodePage;
#else
  (void)in;
  (void)word;
  return kAnsiCodePage;
#endif
}

std::string_view cut_experiment_name(std::string_view word) {
  std::size_t component = 0;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (ends_folder_part(word[i])) component = i + 1;
  }
  std::size_t dot = word.find('.', component);
  return dot == std::string_view::npos ? word : word.substr(0, dot);
}

NameBuffer file_name(std::string_view expnam, std::string_view suffix) {
  // Refused rather than cut: a cut name could open a different experiment.
  if (expnam.size() > kMaxExpnamLength) {
    throw Fatal("The experiment name is too long: EXPNAM may have at most " +
                std::to_string(kMaxExpnamLength) + " characters");
  }
  NameBuffer name{};
  std::memcpy(name.data(), expnam.data(), expnam.size());
  std::memcpy(name.data() + expnam.size(), suffix.data(), std::min(suffix.size(), kSuffixLength));
  return name;
}

NameBuffer histogram_file_name(std::string_view expnam, char letter, int h) {
  // The table holds at most 99 histograms, so h always has two digits.
  const std::array<char, kSuffixLength> suffix = {'.', letter, static_cast<char>('0' + h / 10 % 10),
                                                  static_cast<char>('0' + h % 10)};
  return file_name(expnam, std::string_view(suffix.data(), suffix.size()));
}

void run(std::FILE* in, std::FILE* out) {
  write_banner(out);
  std::fputs(kPrompt, out);
  std::fflush(out);  // the prompt has no line end; show it before waiting
  const std::string word = read_word(in);
  convert_experiment(cut_experiment_name(word), typed_code_page(in, word));
}

}  // namespace trov
