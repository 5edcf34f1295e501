#include "command_line.h"

#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include "common/windows_api.h"
#include <shellapi.h>
#endif

#include "common/fatal.h"

namespace trov {

#ifdef _WIN32
std::vector<std::string> command_words(int /*argc*/, char** /*argv*/) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> words;
  for (int i = 0; wide != nullptr && i < count; ++i) {
    words.push_back(path_text(std::filesystem::path(wide[i]), kWordsCodePage));
  }
  if (wide != nullptr) LocalFree(wide);
  return words;
}
#else
std::vector<std::string> command_words(int argc, char** argv) { return {argv, argv + argc}; }
#endif

std::string one_line(std::string_view message) {
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string out;
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return out;
}

void finish_standard_output() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) throw Fatal("Error writing standard output");
}

}  // namespace trov
