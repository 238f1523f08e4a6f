#pragma once
// The few transcendental values the high-quality filter's design needs, computed
// with + - x / and sqrt alone, in double precision and in a fixed order, so that
// they come out the same on every machine and with every C library (whose sin,
// exp and Bessel functions differ in their last bits between systems and
// releases).

#include <cstdint>

namespace plinth {

// The double nearest to pi.
constexpr double kExactPi = 0x1.921fb54442d18p+1;

// sin(pi x p / q) for 0 < q < 2^51 and |p| < 2^61. The angle is reduced exactly in
// integers to the first octant, so large multiples of pi lose nothing, and
// whole multiples of pi give exactly 0. Within 2 ulps of the true value (mostly
// within 1), far below the single-precision rounding of the coefficients.
double sinPiRatio(int64_t p, int64_t q);

// cos(pi x p / q), under the same conditions.
double cosPiRatio(int64_t p, int64_t q);

// The modified Bessel function of the first kind and order zero, I0(x), by its
// power series summed in order until the terms no longer change the sum; for
// |x| up to about 100 (the window parameters are far smaller).
double besselI0Exact(double x);

}  // namespace plinth
