// Checks the plot and marker number formats against std::to_chars, value by value.
#include "numbers/fixed_point_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numbers/bit_copy.h"
#include "plot_files/conversion.h"

namespace trov {
namespace {

// std::to_chars with a precision converts the exact binary value, ties to
// even, as glibc's printf does, in every standard library (libstdc++, libc++,
// MSVC's), so every build runs the comparison; it spells NaNs in its own ways
// (-nan(ind) in libc++), so those are written here. The program itself uses
// neither: only its own code decides its bytes.
struct Format {
  int width, precision;
  char* (*format)(char*, double);
};
// The three of the files, and two that only the exact path takes, whatever
// the platform (with 128-bit integers the others reach it only from 2^64 on).
constexpr Format kFormats[] = {{7, 3, &format_fixed<7, 3>},
                               {8, 1, &format_fixed<8, 1>},
                               {11, 4, &format_fixed<11, 4>},
                               {12, 9, &format_fixed<12, 9>},
                               {32, 17, &format_fixed<32, 17>}};

void expect_exact_digits(double v) {
  char ours[kMaxFixedChars + 1];
  char theirs[kMaxFixedChars + 1];
  for (const Format& f : kFormats) {
    *f.format(ours, v) = '\0';
    std::string expected;
    if (std::isnan(v)) {
      expected = std::signbit(v) ? "-nan" : "nan";
    } else {
      const auto end = std::to_chars(theirs, theirs + kMaxFixedChars, v, std::chars_format::fixed, f.precision).ptr;
      expected.assign(theirs, end);
    }
    if (expected.size() < static_cast<std::size_t>(f.width)) expected.insert(0, f.width - expected.size(), ' ');
    std::strcpy(theirs, expected.c_str());
    ASSERT_STREQ(ours, theirs) << "bits 0x" << std::hex << bit_copy<std::uint64_t>(v) << std::dec << " as %"
                               << f.width << "." << f.precision << "f";
  }
}

// Rounds of random values; TROV_FORMAT_ROUNDS raises it for a longer search
// (each round is 12 values, times three formats).
long rounds() {
  const char* env = std::getenv("TROV_FORMAT_ROUNDS");
  return env != nullptr ? std::atol(env) : 300000;
}

// A value whose product by 10^p needs 54 bits and lies just above a half
// (an even integer and 1/2 + 2^-34): rounded to double first, the product
// would become the half and round down to the even integer.
double double_rounding_trap(int p) {
  std::uint64_t five = 1;
  for (int i = 0; i < p; ++i) five *= 5;
  for (std::uint64_t m = std::uint64_t{1} << 19;; m += 2) {
    const std::uint64_t x = (m << 34) + (std::uint64_t{1} << 33) + 1;
    if (x % five == 0) return std::ldexp(static_cast<double>(x / five), -(34 + p));
  }
}

TEST(FixedFormat, MatchesToCharsOnSpecialAndBoundaryValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> values = {0.0, -0.0, inf, -inf, nan, -nan, 999.95, 9999999.95, 99999.99995,
                                std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::min(), 3.4028234663852886e38 * 3.4028234663852886e38};
  // Where the double path hands over: scaled values around 2^52 (beyond it
  // the 128-bit path) and 2^64 (beyond it the exact path), and the last value
  // whose low mantissa bits let it multiply exactly.
  for (int p : {1, 3, 4}) {
    for (int power : {52, 64}) {
      const double edge = std::ldexp(1.0, power) / std::pow(10.0, p);
      for (double v = std::nextafter(edge, 0.0), i = 0; i < 8; ++i, v = std::nextafter(v, inf)) values.push_back(v);
    }
  }
  values.insert(values.end(), {
      // Widths reached exactly, and one place more (eight places before the point, the sign included).
      999.999, 999.9995, 99.999, 999999.9, 999999.95, 9999999.9, 99999999.9, 999999.9999, 9999999.99995,
      1e7, 1e8, 9999999.0, 99999999.0, 1234.5,
      // Negative values rounding to zero, at every precision.
      -0.04, -0.0004, -0.00004, -1e-300, -std::numeric_limits<double>::denorm_min(),
      // Exact halves in binary (ties to even) and their neighbours, low bits set.
      0.0625, 0.1875, 2.5, 0.25, 0.75, 1.03125, std::nextafter(0.0625, 1.0), std::nextafter(2.5, 0.0),
      std::nextafter(1.0, 2.0), 0.1, 0.3, 1.0 / 3.0,
      // Low mantissa bits one short of what an exact product needs.
      double_rounding_trap(1), double_rounding_trap(3), double_rounding_trap(4),
  });
  for (double v : values) {
    expect_exact_digits(v);
    expect_exact_digits(-v);
  }
}

TEST(FixedFormat, MatchesToCharsOverAllMagnitudes) {
  std::mt19937_64 random(20261208);
  auto random_float = [&] { return bit_copy<float>(static_cast<std::uint32_t>(random())); };
  auto plain_float = [&] {  // a float of the size profile values have
    return std::ldexp(static_cast<float>(random() % 16777216), static_cast<int>(random() % 48) - 34);
  };
  for (long round = 0; round < rounds(); ++round) {
    const double a = plain_float(), b = plain_float(), c = plain_float();
    const double values[] = {
        // Any bit pattern: every magnitude, subnormals, infinities and NaNs.
        bit_copy<double>(random()),
        // The plot columns as the conversion forms them.
        a * b, (a - c) * b, a * static_cast<double>(kCentidegree), -a, static_cast<double>(random_float()) * random_float(),
        // Exact halves at one, three and four decimals: odd / 2^(p+1).
        static_cast<double>(random() % 2000000 * 2 + 1) / 4, static_cast<double>(random() % 2000000 * 2 + 1) / 16,
        -static_cast<double>(random() % 2000000 * 2 + 1) / 32,
        // Their neighbours, one unit in the last place away.
        std::nextafter(static_cast<double>(random() % 2000000 * 2 + 1) / 16, 0.0),
        std::nextafter(static_cast<double>(random() % 2000000 * 2 + 1) / 4, 1e300),
    };
    for (double v : values) expect_exact_digits(v);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(FixedFormat, MarkerNumbersFillTwoCharacters) {
  char out[8];
  EXPECT_EQ(std::string(out, format_int2(out, 3)), " 3");
  EXPECT_EQ(std::string(out, format_int2(out, 11)), "11");
  EXPECT_EQ(std::string(out, format_int2(out, -7)), "-7");
  EXPECT_EQ(std::string(out, format_int2(out, 123)), "123");
}

}  // namespace
}  // namespace trov
