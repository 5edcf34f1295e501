// printf-style "%W.Pf" and "%2d" text for the plot and marker files, the same bytes on every platform.
#pragma once

#include <cstddef>

namespace trov {

// Room format_fixed may need: a double has at most 309 integer digits, plus a
// sign, a point, up to kMaxFixedPrecision decimals and padding to a width of
// at most kMaxFixedWidth.
inline constexpr int kMaxFixedPrecision = 17;
inline constexpr int kMaxFixedWidth = 32;
inline constexpr std::size_t kMaxFixedChars = 309 + 2 + kMaxFixedPrecision + kMaxFixedWidth;

// Writes value as printf's "%<width>.<precision>f" does with glibc: the exact
// binary value rounded to nearest, ties to even; a negative value keeps its
// sign even when it rounds to zero (-0.0); infinities and NaNs as inf, -inf,
// nan and -nan; right-aligned, blank-padded to width, never cut. Writes no
// NUL; returns the end of what it wrote. out must hold kMaxFixedChars.
char* format_fixed(char* out, double value, int width, int precision);

// Writes value as "%2d": right-aligned in two characters, wider if it needs.
char* format_int2(char* out, int value);

}  // namespace trov
