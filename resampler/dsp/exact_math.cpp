#include "resampler/dsp/exact_math.h"

namespace plinth {
namespace {

// 1/k!, each the double nearest to it (k! itself is exact in double up to 18!).
constexpr double kInverseFactorial[] = {
    1.0,
    1.0,
    1.0 / 2.0,
    1.0 / 6.0,
    1.0 / 24.0,
    1.0 / 120.0,
    1.0 / 720.0,
    1.0 / 5040.0,
    1.0 / 40320.0,
    1.0 / 362880.0,
    1.0 / 3628800.0,
    1.0 / 39916800.0,
    1.0 / 479001600.0,
    1.0 / 6227020800.0,
    1.0 / 87178291200.0,
    1.0 / 1307674368000.0,
    1.0 / 20922789888000.0,
    1.0 / 355687428096000.0,
    1.0 / 6402373705728000.0,
};

// Taylor series on [0, pi/4], by Horner's rule in x^2 from the highest term
// down; the first term left out is below 1e-19 of the result.
//   sin x = x (1 - x^2/3! + x^4/5! - ... + x^16/17!)
//   cos x = 1 - x^2/2! + x^4/4! - ... - x^18/18!
double sinFirstOctant(double x) {
    const double x2 = x * x;
    double sum = 0.0;
    for (int k = 17; k >= 3; k -= 2) {
        const double coefficient = (k % 4 == 1) ? kInverseFactorial[k] : -kInverseFactorial[k];
        sum = coefficient + x2 * sum;
    }
    return x + x * (x2 * sum);
}

double cosFirstOctant(double x) {
    const double x2 = x * x;
    double sum = 0.0;
    for (int k = 18; k >= 2; k -= 2) {
        const double coefficient = (k % 4 == 0) ? kInverseFactorial[k] : -kInverseFactorial[k];
        sum = coefficient + x2 * sum;
    }
    return 1.0 + x2 * sum;
}

// pi x s / q for 0 <= s <= q.
double angle(int64_t s, int64_t q) { return kExactPi * (static_cast<double>(s) / static_cast<double>(q)); }

// sin(pi s / q) for 0 <= s <= q / 2: the sine below pi / 4, else the cosine of
// the complement, pi (q - 2 s) / (2 q).
double sinUpToQuarterTurn(int64_t s, int64_t q) {
    if (4 * s <= q) return sinFirstOctant(angle(s, q));
    return cosFirstOctant(angle(q - 2 * s, 2 * q));
}

}  // namespace

double sinPiRatio(int64_t p, int64_t q) {
    // sin has period 2 in p / q: bring p into [0, 2q).
    int64_t s = p % (2 * q);
    if (s < 0) s += 2 * q;
    bool negative = false;
    if (s >= q) {  // sin(pi + a) = -sin(a)
        s -= q;
        negative = true;
    }
    if (2 * s > q) s = q - s;  // sin(pi - a) = sin(a)
    const double value = s == 0 ? 0.0 : sinUpToQuarterTurn(s, q);
    return negative ? -value : value;
}

double cosPiRatio(int64_t p, int64_t q) {
    // cos(pi p / q) = sin(pi (2p + q) / (2q)).
    return sinPiRatio(2 * p + q, 2 * q);
}

double besselI0Exact(double x) {
    const double quarterSquare = (x * 0.5) * (x * 0.5);
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 500; ++k) {
        term = term * (quarterSquare / (static_cast<double>(k) * static_cast<double>(k)));
        const double next = sum + term;
        if (next == sum) break;
        sum = next;
    }
    return sum;
}

}  // namespace plinth
