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
