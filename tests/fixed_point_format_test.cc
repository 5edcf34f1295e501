// Checks the plot and marker number formats against the C library's printf, value by value.
#include "common/fixed_point_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "conversion/conversion.h"

namespace trov {
namespace {

#ifdef __GLIBC__
// glibc's printf converts the exact binary value, ties to even, and is the
// oracle here; other C runtimes round differently, which is why the program
// does not use them.
struct Format {
  int width, precision;
  char* (*format)(char*, double);
};
constexpr Format kFormats[] = {{7, 3, &format_fixed<7, 3>}, {8, 1, &format_fixed<8, 1>}, {11, 4, &format_fixed<11, 4>}};

void expect_printf_digits(double v) {
  char ours[kMaxFixedChars + 1];
  char theirs[kMaxFixedChars + 1];
  for (const Format& f : kFormats) {
    *f.format(ours, v) = '\0';
    std::snprintf(theirs, sizeof theirs, "%*.*f", f.width, f.precision, v);
    ASSERT_STREQ(ours, theirs) << "bits 0x" << std::hex << std::bit_cast<std::uint64_t>(v) << std::dec << " as %"
                               << f.width << "." << f.precision << "f";
  }
}

// Rounds of random values; TROV_FORMAT_ROUNDS raises it for a longer search
// (each round is 12 values, times three formats).
long rounds() {
  const char* env = std::getenv("TROV_FORMAT_ROUNDS");
  return env != nullptr ? std::atol(env) : 300000;
}

TEST(FixedFormat, MatchesPrintfOnSpecialAndBoundaryValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> values = {0.0, -0.0, inf, -inf, nan, -nan, 999.95, 9999999.95, 99999.99995,
                                std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::min(), 3.4028234663852886e38 * 3.4028234663852886e38};
  // Where the exact integer path ends: scaled values around 2^64.
  for (int p : {1, 3, 4}) {
    const double edge = std::ldexp(1.0, 64) / std::pow(10.0, p);
    for (double v = std::nextafter(edge, 0.0), i = 0; i < 8; ++i, v = std::nextafter(v, inf)) values.push_back(v);
  }
  for (double v : values) {
    expect_printf_digits(v);
    expect_printf_digits(-v);
  }
}

TEST(FixedFormat, MatchesPrintfOverAllMagnitudes) {
  std::mt19937_64 random(20261208);
  auto random_float = [&] { return std::bit_cast<float>(static_cast<std::uint32_t>(random())); };
  auto plain_float = [&] {  // a float of the size profile values have
    return std::ldexp(static_cast<float>(random() % 16777216), static_cast<int>(random() % 48) - 34);
  };
  for (long round = 0; round < rounds(); ++round) {
    const double a = plain_float(), b = plain_float(), c = plain_float();
    const double values[] = {
        // Any bit pattern: every magnitude, subnormals, infinities and NaNs.
        std::bit_cast<double>(random()),
        // The plot columns as the conversion forms them.
        a * b, (a - c) * b, a * static_cast<double>(kCentidegree), -a, static_cast<double>(random_float()) * random_float(),
        // Exact halves at one, three and four decimals: odd / 2^(p+1).
        static_cast<double>(random() % 2000000 * 2 + 1) / 4, static_cast<double>(random() % 2000000 * 2 + 1) / 16,
        -static_cast<double>(random() % 2000000 * 2 + 1) / 32,
        // Their neighbours, one unit in the last place away.
        std::nextafter(static_cast<double>(random() % 2000000 * 2 + 1) / 16, 0.0),
        std::nextafter(static_cast<double>(random() % 2000000 * 2 + 1) / 4, 1e300),
    };
    for (double v : values) expect_printf_digits(v);
    if (::testing::Test::HasFatalFailure()) return;
  }
}
#endif

TEST(FixedFormat, MarkerNumbersFillTwoCharacters) {
  char out[8];
  EXPECT_EQ(std::string(out, format_int2(out, 3)), " 3");
  EXPECT_EQ(std::string(out, format_int2(out, 11)), "11");
}

}  // namespace
}  // namespace trov
