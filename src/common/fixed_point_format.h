// printf's "%W.Pf" and "%2d" without the C runtime: exact, and the same bytes on every platform.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace trov {

// Room format_fixed may need: a double has at most 309 integer digits, plus a
// sign, a point, up to kMaxFixedPrecision decimals and padding to a width of
// at most kMaxFixedWidth.
inline constexpr int kMaxFixedPrecision = 17;
inline constexpr int kMaxFixedWidth = 32;
inline constexpr std::size_t kMaxFixedChars = 309 + 2 + kMaxFixedPrecision + kMaxFixedWidth;

// Writes value as glibc's printf("%<kWidth>.<kPrecision>f") does: the exact
// binary value rounded to nearest, ties to even; a negative value keeps its
// sign even when it rounds to zero (-0.0); infinities and NaNs as inf, -inf,
// nan and -nan; right-aligned, blank-padded to kWidth, never cut. Writes no
// NUL; returns the end of what it wrote. out must hold kMaxFixedChars.
template <int kWidth, int kPrecision>
char* format_fixed(char* out, double value);

// Writes value as "%2d": right-aligned in two characters, wider if it needs.
char* format_int2(char* out, int value);

// ---------------------------------------------------------------------------
// Implementation of format_fixed, here because it is inlined six times a plot
// line; nothing below is for callers.

namespace fixed_point_detail {

// Everything outside the fast path: std::to_chars.
char* format_with_to_chars(char* out, double value, int width, int precision);

#ifdef __SIZEOF_INT128__
__extension__ using Uint128 = unsigned __int128;

inline constexpr std::array<std::uint64_t, 9> kPowersOf10 = {1,      10,      100,      1000,     10000,
                                                              100000, 1000000, 10000000, 100000000};

inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

inline constexpr std::array<char, 16> kBlanks = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                                 ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

// The magnitude times 10^kPrecision, rounded to the nearest integer, ties to
// even, computed exactly: a finite double is m * 2^e with an integer
// m < 2^53, so m * 10^kPrecision fits in 128 bits and the rounding is a shift
// with the remainder compared to one half. Returns false when the value is
// not finite or the result does not fit in 64 bits (magnitudes from about
// 1.8e19 / 10^kPrecision on): the caller then falls back to to_chars.
template <int kPrecision>
inline bool scaled_integer(std::uint64_t bits, std::uint64_t& scaled) {
  constexpr int kExponentBias = 1075;  // 1023, and 52 to make the mantissa an integer
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0x7FF) return false;
  const std::uint64_t mantissa = biased == 0 ? fraction : fraction | std::uint64_t{1} << 52;
  const int exponent = biased == 0 ? 1 - kExponentBias : biased - kExponentBias;
  const Uint128 n = static_cast<Uint128>(mantissa) * kPowersOf10[kPrecision];
  if (exponent >= 0) {
    if (exponent >= 64 || (n >> (64 - exponent)) != 0) return false;
    scaled = static_cast<std::uint64_t>(n << exponent);
    return true;
  }
  const int shift = -exponent;
  if (shift >= 128) {  // n < 2^80, far below one half of 2^shift
    scaled = 0;
    return true;
  }
  Uint128 quotient = n >> shift;
  const Uint128 remainder = n - (quotient << shift);
  const Uint128 half = Uint128{1} << (shift - 1);
  if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
  if ((quotient >> 64) != 0) return false;
  scaled = static_cast<std::uint64_t>(quotient);
  return true;
}

inline int decimal_digits(std::uint64_t n) {
  int digits = 1;
  for (; n >= 10000; n /= 10000) digits += 4;
  return digits + static_cast<int>(n >= 10) + static_cast<int>(n >= 100) + static_cast<int>(n >= 1000);
}

// Writes count digits of n (zero-padded) so that they end at end.
inline void write_digits_backwards(char* end, std::uint64_t n, int count) {
  for (; count >= 2; count -= 2) {
    const std::size_t pair = static_cast<std::size_t>(n % 100) * 2;
    n /= 100;
    *--end = kDigitPairs[pair + 1];
    *--end = kDigitPairs[pair];
  }
  if (count == 1) *--end = static_cast<char>('0' + n % 10);
}

// Writes scaled / 10^kPrecision, right-aligned in width, straight into out.
// The precision is a template argument so that every division is by a
// constant (a multiplication), not a hardware divide.
template <int kPrecision>
inline char* write_scaled(char* out, std::uint64_t scaled, bool negative, int width) {
  constexpr std::uint64_t kUnit = kPowersOf10[kPrecision];
  constexpr int kFractionLength = kPrecision > 0 ? kPrecision + 1 : 0;  // the point and the decimals
  const std::uint64_t integer = scaled / kUnit;
  const int integer_digits = decimal_digits(integer);
  const int length = static_cast<int>(negative) + integer_digits + kFractionLength;
  if (width > length) {
    const auto pad = static_cast<std::size_t>(width - length);
    if (pad <= kBlanks.size()) {
      std::memcpy(out, kBlanks.data(), kBlanks.size());  // out has room; the excess is overwritten
    } else {
      std::memset(out, ' ', pad);
    }
    out += pad;
  }
  char* const end = out + length;
  if constexpr (kPrecision > 0) {
    write_digits_backwards(end, scaled - integer * kUnit, kPrecision);
    end[-kFractionLength] = '.';
  }
  write_digits_backwards(end - kFractionLength, integer, integer_digits);
  if (negative) *out = '-';
  return end;
}
#endif

}  // namespace fixed_point_detail

template <int kWidth, int kPrecision>
inline char* format_fixed(char* out, double value) {
  static_assert(kWidth <= kMaxFixedWidth && kPrecision >= 0 && kPrecision <= kMaxFixedPrecision);
#ifdef __SIZEOF_INT128__
  if constexpr (kPrecision <= 8) {
    namespace detail = fixed_point_detail;
    const auto bits = std::bit_cast<std::uint64_t>(value);
    std::uint64_t scaled = 0;
    // The sign is written whenever the sign bit is set, so -0.04 gives -0.0
    // as printf does.
    if (detail::scaled_integer<kPrecision>(bits, scaled)) {
      return detail::write_scaled<kPrecision>(out, scaled, (bits >> 63) != 0, kWidth);
    }
  }
#endif
  return fixed_point_detail::format_with_to_chars(out, value, kWidth, kPrecision);
}

}  // namespace trov
