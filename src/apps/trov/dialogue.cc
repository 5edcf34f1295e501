// trov's console dialogue: the banner, the prompt and the one word typed, and its code page on Windows.
#include "dialogue.h"

#include <algorithm>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>

#include "io/windows_api.h"
#endif

#include "common/fatal.h"
#include "common/utf8.h"
#include "common/version.h"
#include "gsas/file_names.h"
#include "plot_files/convert_experiment.h"

namespace trov {

namespace {

constexpr std::size_t kMaxWordLength = kNameBufferSize - 1;
constexpr const char* kPrompt = "Enter EXPNAM: ";

constexpr std::size_t kBoxWidth = 44;
constexpr std::string_view kBoxEdge = "********************************************";
static_assert(kBoxEdge.size() == kBoxWidth);

// "TROV V" and the version, centred between two asterisks (one blank more on
// the right when the blanks do not split evenly).
std::string title_line() {
  const std::string title = std::string("TROV V") + std::string(kVersion);
  const std::size_t inside = kBoxWidth - 2;
  const std::size_t left = (inside - title.size()) / 2;
  return "*" + std::string(left, ' ') + title + std::string(inside - left - title.size(), ' ') + "*";
}

bool is_white_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
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

}  // namespace

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

void run(std::FILE* in, std::FILE* out) {
  write_banner(out);
  std::fputs(kPrompt, out);
  std::fflush(out);  // the prompt has no line end; show it before waiting
  const std::string word = read_word(in);
  convert_experiment(cut_experiment_name(word), typed_code_page(in, word));
}

}  // namespace trov
