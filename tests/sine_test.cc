// The sine of degrees against a long double oracle: within one ulp everywhere, exact where the angle is.
#include "numbers/sine.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>

namespace trov {
namespace {

// sin(degrees * pi / 180) in long double: at least 11 bits more than double
// where the platform's long double has them (x86's 80 bits, the quad
// precision of ARM64 and s390x). The angle is first brought to [-90, 90]
// exactly, since sinl near a multiple of pi would magnify the rounding of the
// product with pi.
long double oracle(double degrees) {
  long double r = std::fmod(static_cast<long double>(degrees), 360.0L);
  if (r > 180) r -= 360;
  if (r < -180) r += 360;
  if (r > 90) r = 180 - r;
  if (r < -90) r = -180 - r;
  const long double radians = r * (std::numbers::pi_v<long double> / 180);
  return std::sin(radians);
}

double ulp(long double value) {
  const double v = std::fabs(static_cast<double>(value));
  return std::nextafter(v, std::numeric_limits<double>::infinity()) - v;
}

TEST(SineOfDegrees, ExactAnglesGiveExactValuesAndTheRestIsWithinOneUlp) {
  struct Case {
    double degrees, sine;
  } exact[] = {{0, 0},     {30, 0.5},   {90, 1},     {150, 0.5},  {-30, -0.5}, {270, -1},
               {390, 0.5}, {-450, -1},  {720, 0},    {1e-300, 1e-300 * (std::numbers::pi / 180)}};
  for (const Case& c : exact) EXPECT_EQ(sin_degrees(c.degrees), c.sine) << c.degrees;
  EXPECT_TRUE(std::isnan(sin_degrees(std::numeric_limits<double>::infinity())));
  EXPECT_TRUE(std::isnan(sin_degrees(std::numeric_limits<double>::quiet_NaN())));

  if (LDBL_MANT_DIG < 64) GTEST_SKIP() << "long double has no more bits than double here: no oracle";
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> powder(0.0, 90.0);  // theta of 2-theta 0..180
  std::uniform_real_distribution<double> any(-1e6, 1e6);
  std::uniform_real_distribution<double> exponent(-300, 300);
  for (int i = 0; i < 200000; ++i) {
    const double degrees = i % 4 == 0 ? any(random) : i % 4 == 1 ? std::pow(10.0, exponent(random)) : powder(random);
    const long double expected = oracle(degrees);
    ASSERT_LE(std::fabs(static_cast<long double>(sin_degrees(degrees)) - expected), ulp(expected)) << degrees;
  }
}

}  // namespace
}  // namespace trov
