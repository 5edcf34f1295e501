// The shortest decimal that reads back to the same double or float, laid out as std::to_chars lays it out.
#pragma once

#include <cstddef>

namespace trov {

// Room that format_shortest needs: the longest text, "-1.2345678901234567e-308",
// has 24 characters, but digits are copied in fixed-size pieces that may
// reach a few places past the text's end.
inline constexpr std::size_t kMaxShortestChars = 40;

// Writes the shortest decimal that reads back to value (finite) and returns
// its end: the same characters as std::to_chars(first, last, value) without a
// format, on every platform and standard library (Debian's emscripten has no
// floating-point to_chars). Fixed notation where it is no longer than
// scientific ("0.001", "123456"), else scientific with a signed exponent of
// at least two digits ("1e-05", "1.5e+22"); "0" and "-0" for zeros. The
// digits come from Dragonbox (Debian's libfmt-dev, used as headers only).
char* format_shortest(char* out, double value);
char* format_shortest(char* out, float value);

// The same shortest digits as a number: |value| = significand * 10^exponent,
// the significand without trailing zeros (0 for a zero). value is finite.
struct ShortestDecimal {
  bool negative = false;
  unsigned long long significand = 0;
  int exponent = 0;
};
ShortestDecimal shortest_decimal(double value);

}  // namespace trov
