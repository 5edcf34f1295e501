// printf's "%W.Pf" and "%2d" without the C runtime: exact, and the same bytes on every platform.
#pragma once

#include <array>
#include <bit>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "numbers/bit_copy.h"

namespace trov {

// Room format_fixed may need: a double has at most 309 integer digits, plus a
// sign, a point, up to kMaxFixedPrecision decimals and padding to a width of
// at most kMaxFixedWidth.
inline constexpr int kMaxFixedPrecision = 17;
inline constexpr int kMaxFixedWidth = 32;
inline constexpr std::size_t kMaxFixedChars = 309 + 2 + kMaxFixedPrecision + kMaxFixedWidth;

// Writes value as printf("%<kWidth>.<kPrecision>f") does with glibc: the
// exact binary value rounded to nearest, ties to even; a negative value keeps
// its sign even when it rounds to zero (-0.0); infinities and NaNs as inf,
// -inf, nan and -nan, by the sign bit alone; right-aligned, blank-padded to
// kWidth, never cut. The same bytes on every platform: no C runtime or
// library conversion is used. Writes no NUL; returns the end of what it
// wrote. out must hold kMaxFixedChars.
template <int kWidth, int kPrecision>
char* format_fixed(char* out, double value);

// Writes value as "%2d": right-aligned in two characters, wider if it needs.
char* format_int2(char* out, int value);

// ---------------------------------------------------------------------------
// Implementation of format_fixed, here because it is inlined six times a plot
// line; nothing below is for callers. A value goes the first of three ways
// that can take it:
//   1. its magnitude times 10^P is exact in double and below 2^52: rounded to
//      an integer by the floating-point unit, digits from a table of groups
//      put together in registers (up to eight places before the point);
//   2. (with 128-bit integers) times 10^P is below 2^64: rounded exactly in
//      128-bit integer arithmetic;
//   3. exact arithmetic on 32-bit words, for the rest (huge values, and
//      everything path 2 takes where there are no 128-bit integers);
//      infinities and NaNs are spelled from their sign bit.
// All three give the digits of the exact binary value, ties to even.

namespace fixed_point_detail {

// Six fields a line are only fast when the common case is inlined in full,
// and the rare cases are kept out of the way.
#if defined(__GNUC__) || defined(__clang__)
#define TROV_FIXED_INLINE [[gnu::always_inline]] inline
#define TROV_FIXED_RARE [[gnu::noinline, gnu::cold]]
#elif defined(_MSC_VER)
#define TROV_FIXED_INLINE __forceinline
#define TROV_FIXED_RARE __declspec(noinline)
#else
#define TROV_FIXED_INLINE inline
#define TROV_FIXED_RARE
#endif

// Path 1 needs doubles evaluated as doubles, and no fused multiply-add or
// reassociation; the build states the latter (TROV_FP_CONTRACT_OFF, set with
// -ffp-contract=off or MSVC's /fp:precise). It also lays text out in words as
// a little-endian machine stores them. Without all that, path 1 is left out.
#if FLT_EVAL_METHOD == 0 && defined(TROV_FP_CONTRACT_OFF) && !defined(__FAST_MATH__) && !defined(_M_FP_FAST)
inline constexpr bool kFastPath = std::endian::native == std::endian::little;
#else
inline constexpr bool kFastPath = false;
#endif

inline constexpr std::array<std::uint64_t, 17> kPowersOf10 = {
    1,           10,           100,           1000,           10000,           100000,
    1000000,     10000000,     100000000,     1000000000,     10000000000,     100000000000,
    1000000000000, 10000000000000, 100000000000000, 1000000000000000, 10000000000000000};

// "0000" to "9999", four characters each, built at compile time.
inline constexpr std::size_t kDigitGroupChars = std::size_t{4} * 10000;
extern const std::array<char, kDigitGroupChars> kDigitGroups;

// Path 1. A finite double is m * 2^e with an integer m < 2^53; when the low
// bits of m that 5^P needs are zero, m * 5^P still fits in 53 bits, so the
// product by 10^P is exact (or so small that it rounds to 0 anyway). Adding
// 2^52 then rounds it to an integer, ties to even, as the floating-point unit
// rounds every sum.
template <int kPrecision>
inline bool scaled_in_double(std::uint64_t bits, double magnitude, std::uint64_t& scaled) {
  static_assert(kPrecision >= 1 && kPrecision <= 4);
  constexpr std::array<int, 5> kBitsOfPowerOf5 = {0, 3, 5, 7, 10};  // 1, 5, 25, 125, 625
  constexpr std::uint64_t kLowBits = (std::uint64_t{1} << kBitsOfPowerOf5[kPrecision]) - 1;
  constexpr double kTwoTo52 = 4503599627370496.0;
  if ((bits & kLowBits) != 0) return false;
  const double product = magnitude * static_cast<double>(kPowersOf10[kPrecision]);
  if (!(product < kTwoTo52)) return false;  // also infinities and NaNs
  // product + 2^52 lies in [2^52, 2^53), where the double's mantissa bits are
  // the rounded integer itself.
  scaled = bit_copy<std::uint64_t>(product + kTwoTo52) - bit_copy<std::uint64_t>(kTwoTo52);
  return true;
}

// Four characters of the table as a word: the first character in the lowest byte.
inline std::uint32_t group_word(std::uint64_t n) {
  std::uint32_t word = 0;
  std::memcpy(&word, kDigitGroups.data() + 4 * n, 4);
  return word;
}

// How write_short finishes a field, by its sign and its number of leading
// zero places (0 to 7; 8 - zeros digits before the point): what to subtract
// from the eight integer places to turn those zeros into blanks and the last
// of them into '-' for a negative value, and the width of the field.
struct FieldShape {
  std::uint64_t subtract;
  int width;
  int drop;  // bits of leading blanks to shift out of the natural 8 + 1 + P places
};

template <int kWidth, int kPrecision>
constexpr std::array<FieldShape, 16> field_shapes() {
  std::array<FieldShape, 16> shapes{};
  for (std::size_t negative = 0; negative < 2; ++negative) {
    for (std::size_t zeros = 0; zeros < 8; ++zeros) {
      std::uint64_t subtract = 0;
      for (std::size_t place = 0; place < zeros; ++place) {
        const std::uint64_t to = negative != 0 && place == zeros - 1 ? std::uint64_t{'-'} : std::uint64_t{' '};
        subtract |= (std::uint64_t{'0'} - to) << (8 * place);
      }
      const int length = static_cast<int>(negative) + 8 - static_cast<int>(zeros) + kPrecision + 1;
      const int width = length > kWidth ? length : kWidth;
      shapes[8 * negative + zeros] = {subtract, width, 8 * (8 + 1 + kPrecision - width)};
    }
  }
  return shapes;
}

// Writes scaled / 10^P right-aligned in kWidth when it has at most eight
// places before the point, its sign included. The text is put together in
// two 64-bit words, as it lies in memory on a little-endian machine: the
// eight integer places (leading zeros turned into blanks, the sign before the
// first digit), then the point and the decimals; the blanks the field does
// not need are shifted out, and 16 bytes are stored (what follows the field
// is overwritten by the next one). No branch depends on the digits. kFits:
// the text is known to fit kWidth, so the field's width is a constant.
template <int kWidth, int kPrecision, bool kFits>
TROV_FIXED_INLINE char* write_short(char* out, std::uint64_t scaled, bool negative) {
  constexpr std::uint64_t kUnit = kPowersOf10[kPrecision];
  constexpr int kNatural = 8 + 1 + kPrecision;
  constexpr std::uint64_t kZeros = 0x3030303030303030;  // "00000000"
  static_assert(kWidth <= kNatural && kNatural <= 16);
  const std::uint64_t integer = scaled / kUnit;
  const std::uint64_t fraction = scaled - integer * kUnit;
  std::uint64_t whole = 0;
  if constexpr (kFits && kWidth - kPrecision - 1 <= 4) {
    whole = 0x30303030 | std::uint64_t{group_word(integer)} << 32;  // the integer is below 10^4
  } else {
    whole = group_word(integer / 10000) | std::uint64_t{group_word(integer % 10000)} << 32;
  }
  // Leading '0' bytes, the last place excepted: the first bytes of the word.
  const auto zeros = static_cast<std::size_t>(std::countr_zero((whole ^ kZeros) | std::uint64_t{0xFF} << 56)) >> 3;
  static constexpr std::array<FieldShape, 16> kShapes = field_shapes<kWidth, kPrecision>();
  FieldShape shape = kShapes[std::size_t{8} * negative + zeros];
  if constexpr (kFits) {
    shape.width = kWidth;
    shape.drop = 8 * (kNatural - kWidth);
  }
  whole -= shape.subtract;
  const std::uint64_t decimals = '.' | std::uint64_t{group_word(fraction) >> (8 * (4 - kPrecision))} << 8;
#ifdef __SIZEOF_INT128__
  __extension__ using Uint128 = unsigned __int128;
  const Uint128 text = (Uint128{decimals} << 64 | whole) >> shape.drop;
  const auto low = static_cast<std::uint64_t>(text);
  const auto high = static_cast<std::uint64_t>(text >> 64);
#else
  const std::uint64_t low = (whole >> shape.drop) | ((decimals << (63 - shape.drop)) << 1);  // drop < 64
  const std::uint64_t high = decimals >> shape.drop;
#endif
  std::memcpy(out, &low, 8);
  std::memcpy(out + 8, &high, 8);
  return out + shape.width;
}

// Paths 2 and 3, out of line, so that the common case stays small enough to
// inline: any width and precision, and any value.
TROV_FIXED_RARE char* format_rare(char* out, double value, int width, int precision);

}  // namespace fixed_point_detail

template <int kWidth, int kPrecision>
TROV_FIXED_INLINE char* format_fixed(char* out, double value) {
  static_assert(kWidth <= kMaxFixedWidth && kPrecision >= 0 && kPrecision <= kMaxFixedPrecision);
  namespace detail = fixed_point_detail;
  if constexpr (detail::kFastPath && kPrecision >= 1 && kPrecision <= 4 && kWidth <= 8 + 1 + kPrecision) {
    const auto bits = bit_copy<std::uint64_t>(value);
    // The sign is written whenever the sign bit is set, so -0.04 gives -0.0
    // as printf does.
    const bool negative = (bits >> 63) != 0;
    const double magnitude = bit_copy<double>(bits & ~(std::uint64_t{1} << 63));
    std::uint64_t scaled = 0;
    if (detail::scaled_in_double<kPrecision>(bits, magnitude, scaled)) {
      // Almost every value fits its width: the field's end is then known
      // before its digits are, and the next field need not wait for them.
      constexpr std::uint64_t kFitsPositive = detail::kPowersOf10[kWidth - 1];
      constexpr std::uint64_t kFitsNegative = detail::kPowersOf10[kWidth - 2];
      if (scaled < (negative ? kFitsNegative : kFitsPositive)) {
        return detail::write_short<kWidth, kPrecision, true>(out, scaled, negative);
      }
      const int sign = static_cast<int>(negative);
      if (scaled < detail::kPowersOf10[8 + kPrecision - sign]) {  // eight places, the sign included
        return detail::write_short<kWidth, kPrecision, false>(out, scaled, negative);
      }
    }
  }
  return detail::format_rare(out, value, kWidth, kPrecision);
}

}  // namespace trov

#undef TROV_FIXED_INLINE
#undef TROV_FIXED_RARE
