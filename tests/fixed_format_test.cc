// Checks the plot and marker number formats against the C library's printf, value by value.
#include "conversion/fixed_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace trov {
namespace {

std::string fixed(double v, int width, int precision) {
  char out[kMaxFixedChars];
  return std::string(out, format_fixed(out, v, width, precision));
}

std::string printf_fixed(double v, int width, int precision) {
  std::vector<char> out(kMaxFixedChars + 1);
  std::snprintf(out.data(), out.size(), "%*.*f", width, precision, v);
  return out.data();
}

TEST(FixedFormat, SpecialValuesAreRightAligned) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double value;
    int width, precision;
    const char* text;
  } cases[] = {
      {12.345, 7, 3, " 12.345"}, {1234.5, 7, 3, "1234.500"}, {-50, 8, 1, "   -50.0"},
      {-0.04, 8, 1, "    -0.0"}, {-0.0, 8, 1, "    -0.0"}, {0.25, 8, 1, "     0.2"},
      {0.75, 8, 1, "     0.8"},  {-0.25, 8, 1, "    -0.2"}, {999.95, 7, 1, " 1000.0"},
      {inf, 7, 3, "    inf"},    {-inf, 8, 1, "    -inf"}, {nan, 11, 4, "        nan"},
      {-nan, 11, 4, "       -nan"},
  };
  for (const Case& c : cases) EXPECT_EQ(fixed(c.value, c.width, c.precision), c.text) << c.value;
}

TEST(FixedFormat, MarkerNumbersFillTwoCharacters) {
  char out[8];
  EXPECT_EQ(std::string(out, format_int2(out, 3)), " 3");
  EXPECT_EQ(std::string(out, format_int2(out, 11)), "11");
  EXPECT_EQ(std::string(out, format_int2(out, 123)), "123");
}

#ifdef __GLIBC__
// glibc's printf converts the exact binary value, ties to even, and is the
// oracle here; other C runtimes round differently, which is why the program
// does not use them.
TEST(FixedFormat, MatchesPrintfOverAllMagnitudes) {
  const struct {
    int width, precision;
  } formats[] = {{7, 3}, {8, 1}, {11, 4}};
  std::vector<double> values = {0.0, -0.0, 999.95, 9999999.95, -9999999.95, 0.05, 0.0005, 0.00005,
                                std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                                3.4028234663852886e38 * 3.4028234663852886e38};
  std::mt19937_64 random(20261208);
  for (int i = 0; i < 100000; ++i) {
    // Any bit pattern: every magnitude, subnormals, infinities and NaNs.
    values.push_back(std::bit_cast<double>(random()));
    // Products of floats, as the plot columns are formed.
    float a = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    float b = std::ldexp(static_cast<float>(random() % 2000000), -static_cast<int>(random() % 30));
    values.push_back(static_cast<double>(a) * static_cast<double>(b));
    // Exact halves and their neighbours at each precision.
    double half = (static_cast<double>(random() % 2000000) + 0.5) / 2.0;
    values.push_back(half);
    values.push_back(-std::nextafter(half, 0.0));
    values.push_back(std::ldexp(static_cast<double>(random() % 100000) * 2 + 1, -5));
  }
  for (double v : values) {
    for (const auto& f : formats) {
      ASSERT_EQ(fixed(v, f.width, f.precision), printf_fixed(v, f.width, f.precision))
          << "bits " << std::bit_cast<std::uint64_t>(v) << " as %" << f.width << "." << f.precision << "f";
    }
  }
}
#endif

}  // namespace
}  // namespace trov
