// Shortest round-trip decimals against std::to_chars: the same characters for every kind of double and float.
#include "numbers/shortest_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace trov {
namespace {

template <typename T>
std::string ours(T value) {
  char out[kMaxShortestChars];
  return std::string(out, format_shortest(out, value));
}

template <typename T>
std::string oracle(T value) {
  char out[64];
  return std::string(out, std::to_chars(out, out + sizeof out, value).ptr);
}

TEST(ShortestFormat, WritesWhatToCharsWritesForEveryKindOfValue) {
  const double tricky[] = {0.0, -0.0, 1.0, -1.0, 0.1, 0.0001, 1e-05, 0.001, 123456.0, 1e15, 1e16, 1e21, 1e22,
                           1.5e22, 123456789012345680.0, 9.999999776482582, 10.024999775923789, 5e-324,
                           std::numeric_limits<double>::min(), std::numeric_limits<double>::max(), 2.5e-8, 1e100,
                           1.7976931348623157e308, 0.3, 2.0 / 3.0, 100.0, 1234.5, 0.5};
  for (double v : tricky) EXPECT_EQ(ours(v), oracle(v)) << oracle(v);
  // Every count of shortest digits with the point before, inside and after
  // them and in every notation: the digits are copied in fixed-size pieces
  // whose offsets depend on both.
  const std::string digits = "12345678901234567";
  for (std::size_t n = 1; n <= digits.size(); ++n) {
    for (int exponent = -26; exponent <= 26; ++exponent) {
      const double v = std::strtod((digits.substr(0, n) + "e" + std::to_string(exponent)).c_str(), nullptr);
      EXPECT_EQ(ours(v), oracle(v)) << oracle(v);
      EXPECT_EQ(ours(-v), oracle(-v)) << oracle(-v);
    }
  }
  for (float v : {0.0f, 1e-45f, 3.4028235e38f, 0.01f, 16777216.0f, 1e10f, 1.1754944e-38f}) {
    EXPECT_EQ(ours(v), oracle(v)) << oracle(v);
  }
  const char* env = std::getenv("TROV_FORMAT_ROUNDS");
  const long rounds = env != nullptr ? std::atol(env) : 300000;
  std::mt19937_64 random(8122026);
  std::uniform_real_distribution<double> counts(0.0, 1e5);
  for (long i = 0; i < rounds; ++i) {
    // Any bit pattern (every exponent), and values as the files have them:
    // products of floats, stored centidegrees / 100.
    const std::uint64_t bits = random();
    double any = 0;
    std::memcpy(&any, &bits, sizeof any);
    float single = 0;
    const auto half = static_cast<std::uint32_t>(bits >> 32);
    std::memcpy(&single, &half, sizeof single);
    const auto product = static_cast<double>(static_cast<float>(counts(random))) * static_cast<float>(1e-3 * counts(random));
    const double degrees = static_cast<double>(static_cast<float>(counts(random))) / 100.0;
    for (double v : {any, product, degrees}) {
      if (std::isfinite(v)) {
        ASSERT_EQ(ours(v), oracle(v));
      }
    }
    if (std::isfinite(single)) {
      ASSERT_EQ(ours(single), oracle(single));
    }
  }
}

}  // namespace
}  // namespace trov
