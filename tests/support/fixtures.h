// Builds experiment and profile file bytes in code: little-endian words, 80-column records.
#pragma once

#include <bit>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace trov::fixtures {

// Appends little-endian words whatever the host's byte order.
class ByteWriter {
 public:
  void u32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<char>(v >> shift & 0xFF));
  }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
  void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }
  std::string& bytes() { return bytes_; }

 private:
  std::string bytes_;
};

struct Point {
  std::int32_t flags = 0;
  float position = 0, observed = 0, calculated = 0, scale = 1, auxiliary = 0;
};

// Profile file bytes: the points, 14 to a 512-byte block, the last block
// filled up with zero points (calculated 0, so never converted). The words
// the converter skips hold a recognisable junk pattern.
inline std::string profile_bytes(const std::vector<Point>& points) {
  ByteWriter w;
  std::size_t blocks = (points.size() + 13) / 14;
  for (std::size_t i = 0; i < blocks * 14; ++i) {
    Point p = i < points.size() ? points[i] : Point{0, 0, 0, 0, 0, 0};
    w.i32(p.flags);
    for (float v : {p.position, p.observed, p.calculated, p.scale, p.auxiliary}) w.f32(v);
    for (int unused = 0; unused < 3; ++unused) w.u32(0xDEADBEEF);
    if (i % 14 == 13) {
      w.u32(0x5A5A5A5A);
      w.u32(0xA5A5A5A5);
    }
  }
  return w.bytes();
}

// One 80-column record: text padded with blanks (or cut) to 80 characters.
inline std::string record(std::string_view text) {
  std::string r(text.substr(0, 80));
  r.resize(80, ' ');
  return r;
}

// An HTYP record numbered n holding up to twelve 4-character types.
inline std::string htyp_record(int n, std::initializer_list<std::string_view> types) {
  std::string r = record(" EXPR  HTYP" + std::to_string(n));
  std::size_t column = 14;
  for (std::string_view type : types) {
    r.replace(column, type.size(), type);
    column += 5;
  }
  return r;
}

// Lines joined with a line end after each (after none when eol is empty).
inline std::string lines(std::initializer_list<std::string_view> lines, std::string_view eol) {
  std::string out;
  for (std::string_view line : lines) out.append(line).append(eol);
  return out;
}

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

inline void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace trov::fixtures
