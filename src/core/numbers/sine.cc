// A sine of degrees: exact reduction to [0, 45] degrees, then minimax polynomials in double-double arguments.
#include "numbers/sine.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace trov {

namespace {

// pi / 180 as the sum of two doubles: the nearest double and what it leaves.
constexpr double kRadianHi = 1.7453292519943295e-02;  // 0x3F91DF46A2529D39
constexpr double kRadianLo = 2.9486522708701687e-19;

// A double split in two halves of 26 bits, whose products are exact (Dekker).
constexpr double kSplitter = 134217729.0;  // 2^27 + 1

// a * b as hi + lo exactly (no fused multiply-add: its library fallback is not
// the same everywhere, and contraction is off).
void exact_product(double a, double b, double& hi, double& lo) {
  hi = a * b;
  const double ac = kSplitter * a;
  const double a_hi = ac - (ac - a);
  const double a_lo = a - a_hi;
  const double bc = kSplitter * b;
  const double b_hi = bc - (bc - b);
  const double b_lo = b - b_hi;
  lo = ((a_hi * b_hi - hi) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo;
}

// Degrees in [0, 45] as radians x + y, |y| below half an ulp of x.
void to_radians(double degrees, double& x, double& y) {
  double hi = 0;
  double lo = 0;
  exact_product(degrees, kRadianHi, hi, lo);
  lo += degrees * kRadianLo;
  x = hi + lo;
  y = lo - (x - hi);
}

// sin(x + y) and cos(x + y) for |x| <= pi/4, |y| tiny: the minimax
// polynomials of Sun's fdlibm (k_sin.c, k_cos.c; freely redistributable),
// whose error is below one ulp on that interval.
double kernel_sin(double x, double y) {
  constexpr double kS1 = -1.66666666666666324348e-01;
  constexpr double kS2 = 8.33333333332248946124e-03;
  constexpr double kS3 = -1.98412698298579493134e-04;
  constexpr double kS4 = 2.75573137070700676789e-06;
  constexpr double kS5 = -2.50507602534068634195e-08;
  constexpr double kS6 = 1.58969099521155010221e-10;
  const double z = x * x;
  const double v = z * x;
  const double r = kS2 + z * (kS3 + z * (kS4 + z * (kS5 + z * kS6)));
  return x - ((z * (0.5 * y - v * r) - y) - v * kS1);
}

double kernel_cos(double x, double y) {
  constexpr double kC1 = 4.16666666666666019037e-02;
  constexpr double kC2 = -1.38888888888741095749e-03;
  constexpr double kC3 = 2.48015872894767294178e-05;
  constexpr double kC4 = -2.75573143513906633035e-07;
  constexpr double kC5 = 2.08757232129817482790e-09;
  constexpr double kC6 = -1.13596475577881948265e-11;
  const double z = x * x;
  const double r = z * (kC1 + z * (kC2 + z * (kC3 + z * (kC4 + z * (kC5 + z * kC6)))));
  if (x < 0.3) return 1.0 - (0.5 * z - (z * r - x * y));
  // 1 - z/2 would lose bits here: qx, near x/4 with its low 32 bits clear
  // (so that 1 - qx is exact), is taken off separately.
  double qx = 0.28125;
  if (x <= 0.78125) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    bits = (bits - (std::uint64_t{2} << 52)) & 0xFFFFFFFF00000000U;
    std::memcpy(&qx, &bits, sizeof qx);
  }
  const double hz = 0.5 * z - qx;
  const double a = 1.0 - qx;
  return a - (hz - (z * r - x * y));
}

}  // namespace

double sin_degrees(double degrees) {
  if (!std::isfinite(degrees)) return std::numeric_limits<double>::quiet_NaN();
  // Reduced in degrees, where every step is exact: fmod's result is exact by
  // definition, and a - 180, 180 - a and 90 - a are exact in the ranges they
  // are taken in (Sterbenz).
  const bool negative = degrees < 0;
  double a = std::fmod(std::fabs(degrees), 360.0);
  bool flip = negative;
  if (a >= 180.0) {
    a -= 180.0;
    flip = !flip;
  }
  if (a > 90.0) a = 180.0 - a;
  double x = 0;
  double y = 0;
  double sine = 0;
  if (a > 45.0) {
    to_radians(90.0 - a, x, y);
    sine = kernel_cos(x, y);
  } else {
    to_radians(a, x, y);
    sine = kernel_sin(x, y);
  }
  return flip ? -sine : sine;
}

}  // namespace trov
