// Shortest round-trip decimals: Dragonbox's digits and exponent, then to_chars' choice of notation.
#include "numbers/shortest_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <fmt/format.h>

// fmt::detail::dragonbox is fmt's internal interface, not its public one: a
// new major version may rename it or change what it returns. Another version
// is taken only once the ShortestFormat tests pass with it and this range is
// widened, so that it cannot change the bytes trov-export writes unseen.
#if FMT_VERSION < 90000 || FMT_VERSION >= 100000
#error "shortest_format.cc uses fmt 9's internal Dragonbox (fmt::detail::dragonbox); check this fmt with the ShortestFormat tests, then widen the FMT_VERSION range here"
#endif

namespace trov {

namespace {

// "00" to "99".
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

constexpr std::array<std::uint64_t, 20> kPowersOfTen = {1U,
                                                         10U,
                                                         100U,
                                                         1000U,
                                                         10000U,
                                                         100000U,
                                                         1000000U,
                                                         10000000U,
                                                         100000000U,
                                                         1000000000U,
                                                         10000000000U,
                                                         100000000000U,
                                                         1000000000000U,
                                                         10000000000000U,
                                                         100000000000000U,
                                                         1000000000000000U,
                                                         10000000000000000U,
                                                         100000000000000000U,
                                                         1000000000000000000U,
                                                         10000000000000000000U};

// How many decimal digits n has (1 for 0): about log10 from its bit length,
// then one comparison.
int digit_count(std::uint64_t n) {
  const int guess = (static_cast<int>(std::bit_width(n)) * 1233) >> 12;
  return std::max(1, guess + (n >= kPowersOfTen[static_cast<std::size_t>(guess)] ? 1 : 0));
}

// Writes the eight decimal digits of n < 10^8 at out: four independent
// pairs from 32-bit arithmetic, so the steps do not wait on one another.
void eight_digits(std::uint32_t n, char* out) {
  const std::uint32_t high = n / 10000;
  const std::uint32_t low = n % 10000;
  std::memcpy(out, kDigitPairs.data() + static_cast<std::size_t>(high / 100) * 2, 2);
  std::memcpy(out + 2, kDigitPairs.data() + static_cast<std::size_t>(high % 100) * 2, 2);
  std::memcpy(out + 4, kDigitPairs.data() + static_cast<std::size_t>(low / 100) * 2, 2);
  std::memcpy(out + 6, kDigitPairs.data() + static_cast<std::size_t>(low % 100) * 2, 2);
}

// Writes the count lowest decimal digits of n at out, zeros first where n
// has fewer: eight at a time from the right, then two at a time, straight
// into the output.
void write_digits(std::uint64_t n, int count, char* out) {
  char* p = out + count;
  while (p - out >= 8) {
    p -= 8;
    eight_digits(static_cast<std::uint32_t>(n % 100000000), p);
    n /= 100000000;
  }
  while (p - out >= 2) {
    p -= 2;
    std::memcpy(p, kDigitPairs.data() + static_cast<std::size_t>(n % 100) * 2, 2);
    n /= 100;
  }
  if (p > out) *--p = static_cast<char>('0' + n % 10);
}

// The exact decimal digits of an integer-valued double below 2^74 (10^22 at
// most is ever asked for); returns their end.
char* exact_integer(char* out, double value) {
  int binary_exponent = 0;
  const double fraction = std::frexp(value, &binary_exponent);  // exact: value = fraction * 2^e
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  const int shift = binary_exponent - 53;
  if (shift <= 0) {
    const std::uint64_t n = mantissa >> -shift;
    const int count = digit_count(n);
    write_digits(n, count, out);
    return out + count;
  }
  // mantissa * 2^shift in 32-bit limbs, most significant first, then divided
  // by 10^9 again and again for its decimal groups.
  std::array<std::uint64_t, 3> limbs = {0, mantissa >> 32, mantissa & 0xFFFFFFFFU};
  for (int i = 0; i < shift; ++i) {
    std::uint64_t carry = 0;
    for (auto it = limbs.rbegin(); it != limbs.rend(); ++it) {
      const std::uint64_t doubled = (*it << 1) | carry;
      carry = doubled >> 32;
      *it = doubled & 0xFFFFFFFFU;
    }
  }
  std::array<std::uint32_t, 3> groups{};  // of nine digits, least significant first
  int count = 0;
  while (limbs[0] != 0 || limbs[1] != 0 || limbs[2] != 0) {
    std::uint64_t remainder = 0;
    for (std::uint64_t& limb : limbs) {
      const std::uint64_t current = (remainder << 32) | limb;
      limb = current / 1000000000U;
      remainder = current % 1000000000U;
    }
    groups[static_cast<std::size_t>(count++)] = static_cast<std::uint32_t>(remainder);
  }
  const std::uint32_t top = groups[static_cast<std::size_t>(count - 1)];
  const int top_digits = digit_count(top);
  write_digits(top, top_digits, out);
  out += top_digits;
  for (int i = count - 2; i >= 0; --i) {
    write_digits(groups[static_cast<std::size_t>(i)], 9, out);
    out += 9;
  }
  return out;
}

// The 17 decimal digits of n < 10^17, zeros first where it has fewer, at
// out: one digit and two groups of eight that do not wait on one another.
// Every significand is written this way, whatever its length, so that the
// layout below copies fixed-size pieces out of it instead of looping over
// digits with a branch whose outcome changes from one number to the next.
constexpr int kSignificandDigits = 17;
void seventeen_digits(std::uint64_t n, char* out) {
  const std::uint64_t high = n / 100000000;
  out[0] = static_cast<char>('0' + high / 100000000);
  eight_digits(static_cast<std::uint32_t>(high % 100000000), out + 1);
  eight_digits(static_cast<std::uint32_t>(n % 100000000), out + 9);
}

// significand * 10^exponent (0 < significand < 10^17) in the shorter of
// fixed and scientific notation, fixed on a tie, as the C++ standard asks of
// to_chars. value is the number itself, for the one case that needs its
// exact digits. Digits are copied in fixed-size pieces: past the returned
// end it leaves others, within kMaxShortestChars of out.
char* lay_out(char* out, bool negative, std::uint64_t significand, int exponent, double value) {
  while (significand % 10 == 0) {  // Dragonbox leaves none; cheap to be sure
    significand /= 10;
    ++exponent;
  }
  const int n = digit_count(significand);
  const int e = exponent + n - 1;  // of the scientific form d.ddd e
  const int magnitude = e < 0 ? -e : e;
  const int scientific = n + (n > 1 ? 1 : 0) + 2 + (magnitude >= 100 ? 3 : 2);
  const int fixed = e >= 0 ? (e >= n - 1 ? e + 1 : n + 1) : n + 1 - e;
  if (negative) *out++ = '-';
  if (fixed <= scientific && e > n - 1) {
    // An integer with more places than shortest digits: of the strings of
    // that length that read back, to_chars takes the nearest, which is the
    // value's own digits (474442760192, not 474442760000).
    return exact_integer(out, std::fabs(value));
  }
  // The digits and room after them for the fixed-size copies, which read up
  // to 17 characters from any of the n.
  std::array<char, std::size_t{2} * kSignificandDigits> all{};
  seventeen_digits(significand, all.data());
  const char* digits = all.data() + (kSignificandDigits - n);  // the n digits
  if (fixed <= scientific) {
    if (e >= 0) {  // an integer, or a point inside the digits: the fraction moved one on
      std::memcpy(out, digits, kSignificandDigits);
      if (e == n - 1) return out + n;
      out[e + 1] = '.';
      std::memcpy(out + e + 2, digits + e + 1, kSignificandDigits - 1);
      return out + n + 1;
    }
    // 0.000ddd: at most four zeros after the point, or scientific is shorter
    constexpr std::array<char, 6> kZeros = {'0', '.', '0', '0', '0', '0'};
    std::memcpy(out, kZeros.data(), kZeros.size());
    std::memcpy(out + 1 - e, digits, kSignificandDigits);
    return out + 1 - e + n;
  }
  out[0] = digits[0];
  out[1] = '.';
  std::memcpy(out + 2, digits + 1, kSignificandDigits - 1);
  out += n > 1 ? n + 1 : 1;
  *out++ = 'e';
  *out++ = e < 0 ? '-' : '+';
  if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
  std::memcpy(out, kDigitPairs.data() + static_cast<std::size_t>(magnitude % 100) * 2, 2);
  return out + 2;
}

template <typename T>
char* format(char* out, T value) {
  const bool negative = std::signbit(value);
  if (value == 0) {
    if (negative) *out++ = '-';
    *out++ = '0';
    return out;
  }
  const auto decimal = fmt::detail::dragonbox::to_decimal(std::fabs(value));
  return lay_out(out, negative, decimal.significand, decimal.exponent, static_cast<double>(value));
}

}  // namespace

char* format_shortest(char* out, double value) { return format(out, value); }

char* format_shortest(char* out, float value) { return format(out, value); }

ShortestDecimal shortest_decimal(double value) {
  ShortestDecimal out;
  out.negative = std::signbit(value);
  if (value == 0) return out;
  const auto decimal = fmt::detail::dragonbox::to_decimal(std::fabs(value));
  out.significand = decimal.significand;
  out.exponent = decimal.exponent;
  while (out.significand % 10 == 0) {
    out.significand /= 10;
    ++out.exponent;
  }
  return out;
}

}  // namespace trov
