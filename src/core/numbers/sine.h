// The sine of an angle in degrees from +, -, * and / alone: the same bits on every machine.
#pragma once

namespace trov {

// sin(degrees * pi / 180), within one unit in the last place. The C
// libraries' sin differ in their last bit (glibc, musl, macOS, MSVC), and a
// written number must not depend on the machine; IEEE 754 rounds +, -, * and
// / the same way everywhere, so this is built from nothing else (with
// floating-point contraction off). NaN for infinities and NaNs.
double sin_degrees(double degrees);

}  // namespace trov
