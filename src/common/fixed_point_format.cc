// Fixed-point text beyond the exact integer path (std::to_chars), and "%2d".
#include "common/fixed_point_format.h"

#include <charconv>

namespace trov {

namespace {

char* pad_right_aligned(char* out, const char* text, std::size_t length, int width) {
  std::size_t field = width > 0 ? static_cast<std::size_t>(width) : 0;
  if (length < field) {
    std::memset(out, ' ', field - length);
    out += field - length;
  }
  std::memcpy(out, text, length);
  return out + length;
}

}  // namespace

namespace fixed_point_detail {

// to_chars writes the digits of the exact binary value, correctly rounded
// (ties to even), and spells non-finite values the way glibc's printf does;
// unlike printf it does not depend on the C runtime, so Windows builds write
// the same digits as Linux ones.
char* format_with_to_chars(char* out, double value, int width, int precision) {
  // Uninitialised: to_chars fills what is used.
  std::array<char, kMaxFixedChars> text;  // NOLINT(cppcoreguidelines-pro-type-member-init)
  auto result = std::to_chars(text.begin(), text.end(), value, std::chars_format::fixed, precision);
  return pad_right_aligned(out, text.data(), static_cast<std::size_t>(result.ptr - text.data()), width);
}

}  // namespace fixed_point_detail

char* format_int2(char* out, int value) {
  std::array<char, 16> text{};
  auto result = std::to_chars(text.begin(), text.end(), value);
  return pad_right_aligned(out, text.data(), static_cast<std::size_t>(result.ptr - text.data()), 2);
}

}  // namespace trov
