// Fixed-point text: the table of four-digit groups, and the paths for values the inlined one does not take.
#include "numbers/fixed_point_format.h"

#include <cstring>

namespace trov {

namespace {

constexpr std::array<char, 16> kBlanks = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                          ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

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

// Built by the compiler: a constant expression of 10,000 steps, within every
// compiler's limits (MSVC's included).
constinit const std::array<char, kDigitGroupChars> kDigitGroups = []() noexcept {
  std::array<char, kDigitGroupChars> groups{};
  for (std::size_t n = 0; n < 10000; ++n) {
    groups[4 * n] = static_cast<char>('0' + n / 1000);
    groups[4 * n + 1] = static_cast<char>('0' + n / 100 % 10);
    groups[4 * n + 2] = static_cast<char>('0' + n / 10 % 10);
    groups[4 * n + 3] = static_cast<char>('0' + n % 10);
  }
  return groups;
}();

namespace {

// The spelling of infinities and NaNs, from the sign bit alone: C runtimes
// disagree on it (-nan, -nan(ind), -1.#IND), and the sign of a NaN is the
// only part of it a reader can act on.
char* format_non_finite(char* out, std::uint64_t bits, int width) {
  const bool negative = (bits >> 63) != 0;
  const bool nan = (bits & ((std::uint64_t{1} << 52) - 1)) != 0;
  const char* text = nan ? (negative ? "-nan" : "nan") : (negative ? "-inf" : "inf");
  return pad_right_aligned(out, text, std::strlen(text), width);
}

// Path 3: any finite value at any precision, exactly, in 32-bit arithmetic
// only (no 128-bit integers, no library conversion, whose availability and
// spelling vary by platform). A finite double is m * 2^e with an integer
// m < 2^53; the digits are those of m * 10^P * 2^e rounded to an integer,
// ties to even, with the point put in before the last P of them.
class BigUnsigned {
 public:
  explicit BigUnsigned(std::uint64_t value) {
    for (; value != 0; value >>= 32) limbs_[size_++] = static_cast<std::uint32_t>(value);
  }
  bool is_zero() const { return size_ == 0; }
  bool is_odd() const { return size_ > 0 && (limbs_[0] & 1) != 0; }

  void multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < size_; ++i) {
      carry += std::uint64_t{limbs_[i]} * factor;
      limbs_[i] = static_cast<std::uint32_t>(carry);
      carry >>= 32;
    }
    if (carry != 0) limbs_[size_++] = static_cast<std::uint32_t>(carry);
  }
  void add_one() {
    for (std::size_t i = 0; i < size_; ++i) {
      if (++limbs_[i] != 0) return;
    }
    limbs_[size_++] = 1;
  }
  void shift_left(int count) {
    const auto words = static_cast<std::size_t>(count / 32);
    const int bits = count % 32;
    if (size_ == 0) return;
    limbs_[size_ + words] = 0;
    for (std::size_t i = size_; i-- > 0;) {
      const std::uint64_t wide = std::uint64_t{limbs_[i]} << bits;
      limbs_[i + words + 1] |= static_cast<std::uint32_t>(wide >> 32);
      limbs_[i + words] = static_cast<std::uint32_t>(wide);
    }
    for (std::size_t i = 0; i < words; ++i) limbs_[i] = 0;
    size_ += words + 1;
    trim();
  }
  // Bit i (0 is the lowest), and whether any bit below i is set.
  bool bit(int i) const {
    const auto word = static_cast<std::size_t>(i / 32);
    return word < size_ && (limbs_[word] >> (i % 32) & 1) != 0;
  }
  bool any_below(int i) const {
    const auto words = static_cast<std::size_t>(i / 32);
    for (std::size_t w = 0; w < words && w < size_; ++w) {
      if (limbs_[w] != 0) return true;
    }
    return words < size_ && i % 32 != 0 && (limbs_[words] & ((std::uint32_t{1} << (i % 32)) - 1)) != 0;
  }
  void shift_right(int count) {
    const auto words = static_cast<std::size_t>(count / 32);
    const int bits = count % 32;
    if (words >= size_) {
      size_ = 0;
      return;
    }
    for (std::size_t i = 0; i + words < size_; ++i) {
      std::uint64_t wide = limbs_[i + words];
      if (i + words + 1 < size_) wide |= std::uint64_t{limbs_[i + words + 1]} << 32;
      limbs_[i] = static_cast<std::uint32_t>(wide >> bits);
    }
    size_ -= words;
    trim();
  }
  // Divides by divisor and returns the remainder.
  std::uint32_t divide(std::uint32_t divisor) {
    std::uint64_t remainder = 0;
    for (std::size_t i = size_; i-- > 0;) {
      const std::uint64_t wide = remainder << 32 | limbs_[i];
      limbs_[i] = static_cast<std::uint32_t>(wide / divisor);
      remainder = wide % divisor;
    }
    trim();
    return static_cast<std::uint32_t>(remainder);
  }

 private:
  void trim() {
    while (size_ > 0 && limbs_[size_ - 1] == 0) --size_;
  }
  // m * 10^17 * 2^971 < 2^1081: 34 words, one more while shifting.
  static constexpr std::size_t kMaxLimbs = 36;
  std::array<std::uint32_t, kMaxLimbs> limbs_{};
  std::size_t size_ = 0;
};

char* format_exact(char* out, double value, int width, int precision) {
  constexpr int kExponentBias = 1075;  // 1023, and 52 to make the mantissa an integer
  const auto bits = bit_copy<std::uint64_t>(value);
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);
  if (biased == 0x7FF) return format_non_finite(out, bits, width);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  BigUnsigned n(biased == 0 ? fraction : fraction | std::uint64_t{1} << 52);
  const int exponent = biased == 0 ? 1 - kExponentBias : biased - kExponentBias;
  for (int i = 0; i < precision; ++i) n.multiply(10);
  if (exponent >= 0) {
    n.shift_left(exponent);
  } else {
    const bool above_half = n.bit(-exponent - 1);
    const bool sticky = n.any_below(-exponent - 1);
    n.shift_right(-exponent);
    if (above_half && (sticky || n.is_odd())) n.add_one();
  }
  // The digits, last first, at least one before the point.
  std::array<char, kMaxFixedChars> text;  // NOLINT(cppcoreguidelines-pro-type-member-init): filled from the end
  char* const end = text.data() + text.size();
  char* begin = end;
  int written = 0;
  while (!n.is_zero() || written <= precision) {
    if (written == precision && precision > 0) *--begin = '.';
    *--begin = static_cast<char>('0' + n.divide(10));
    ++written;
  }
  if ((bits >> 63) != 0) *--begin = '-';
  return pad_right_aligned(out, begin, static_cast<std::size_t>(end - begin), width);
}

// decimal_digits of a number of up to 20 digits.
inline int decimal_digits_wide(std::uint64_t n) {
  int digits = 1;
  for (; n >= 10000; n /= 10000) digits += 4;
  return digits + static_cast<int>(n >= 10) + static_cast<int>(n >= 100) + static_cast<int>(n >= 1000);
}

// Writes count digits of n (zero-padded) so that they end at end.
inline void write_digits_backwards(char* end, std::uint64_t n, int count) {
  for (; count >= 4; count -= 4) {
    std::memcpy(end -= 4, kDigitGroups.data() + 4 * (n % 10000), 4);
    n /= 10000;
  }
  for (; count > 0; --count) {
    *--end = static_cast<char>('0' + n % 10);
    n /= 10;
  }
}

// Writes scaled / 10^kPrecision, right-aligned in width, straight into out.
// The precision is a template argument so that every division is by a
// constant (a multiplication), not a hardware divide.
template <int kPrecision>
inline char* write_scaled(char* out, std::uint64_t scaled, bool negative, int width) {
  constexpr std::uint64_t kUnit = kPowersOf10[kPrecision];
  constexpr int kFractionLength = kPrecision > 0 ? kPrecision + 1 : 0;  // the point and the decimals
  const std::uint64_t integer = scaled / kUnit;
  const int integer_digits = decimal_digits_wide(integer);
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

#ifdef __SIZEOF_INT128__
__extension__ using Uint128 = unsigned __int128;

// The magnitude times 10^kPrecision, rounded to the nearest integer, ties to
// even, computed exactly: a finite double is m * 2^e with an integer
// m < 2^53, so m * 10^kPrecision fits in 128 bits and the rounding is a shift
// with the remainder compared to one half. Returns false when the value is
// not finite or the result does not fit in 64 bits (magnitudes from about
// 1.8e19 / 10^kPrecision on): the caller then takes the exact path.
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
#endif


template <int kPrecision>
char* format_scaled(char* out, double value, int width) {
#ifdef __SIZEOF_INT128__
  const auto bits = bit_copy<std::uint64_t>(value);
  std::uint64_t scaled = 0;
  if (scaled_integer<kPrecision>(bits, scaled)) return write_scaled<kPrecision>(out, scaled, (bits >> 63) != 0, width);
#endif
  return format_exact(out, value, width, kPrecision);
}

}  // namespace

char* format_rare(char* out, double value, int width, int precision) {
  switch (precision) {
    case 0: return format_scaled<0>(out, value, width);
    case 1: return format_scaled<1>(out, value, width);
    case 2: return format_scaled<2>(out, value, width);
    case 3: return format_scaled<3>(out, value, width);
    case 4: return format_scaled<4>(out, value, width);
    case 5: return format_scaled<5>(out, value, width);
    case 6: return format_scaled<6>(out, value, width);
    case 7: return format_scaled<7>(out, value, width);
    case 8: return format_scaled<8>(out, value, width);
    default: return format_exact(out, value, width, precision);
  }
}

}  // namespace fixed_point_detail

char* format_int2(char* out, int value) {
  std::array<char, 16> text{};
  char* const end = text.data() + text.size();
  char* begin = end;
  // The magnitude as unsigned, so that INT_MIN has one too.
  auto magnitude = static_cast<unsigned>(value);
  if (value < 0) magnitude = 0u - magnitude;
  do {
    *--begin = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--begin = '-';
  return pad_right_aligned(out, begin, static_cast<std::size_t>(end - begin), 2);
}

}  // namespace trov
