#include "command_line.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>

#ifdef _WIN32
#include "io/windows_api.h"
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

int reported_main(const char* program, const char* what, int (*work)(const std::vector<std::string>& words),
                  int argc, char** argv) {
  try {
    const int status = work(command_words(argc, argv));
    finish_standard_output();
    return status;
  } catch (const UsageError& error) {
    std::fprintf(stderr, "%s: %s (%s --help tells how to use it)\n", program, one_line(error.message).c_str(), program);
    return 2;
  } catch (const Fatal& error) {
    std::fprintf(stderr, "%s: %s\n", program, one_line(error.what()).c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: not enough memory; no file was changed\n", program);
  } catch (const std::filesystem::filesystem_error& error) {
    std::fprintf(stderr, "%s: Error with the folder or file %s; no file was changed\n", program,
                 one_line(error.path1().string()).c_str());
  } catch (const std::exception&) {
    // A library's own words would mean nothing to the user; every file is as it was.
    std::fprintf(stderr, "%s: an unexpected error ended the %s; no file was changed\n", program, what);
  }
  return 1;
}

}  // namespace trov
