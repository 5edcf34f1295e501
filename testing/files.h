// Test-side file helpers: whole files in and out, and the line ends a text-mode stream stores.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "testing/gsas_writer.h"

namespace trov::testing {

// Text as a text-mode stream stores it: a line feed becomes CR LF on Windows
// and stays as it is elsewhere.
inline std::string with_crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

inline std::string native(std::string_view text) {
#ifdef _WIN32
  return with_crlf(text);
#else
  return std::string(text);
#endif
}

inline void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace trov::testing
