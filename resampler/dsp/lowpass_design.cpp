#include "resampler/dsp/lowpass_design.h"

#include <cmath>
#include <numeric>

namespace plinth {
namespace {
// Two units in the last place below the double nearest to pi; the taps are
// defined with this value.
constexpr double kFilterPi = 0x1.921fb54442d16p+1;
constexpr int kMaxHalfFilterLength = 8192;


bool isPrime(int n) {
    if (n < 2) return false;
    for (int d = 2; d <= n / d; ++d) {
        if (n % d == 0) return false;
    }
    return true;
}

}  // namespace

// Trial division by 2, 3, ... below half the smaller value removes every
// common prime factor in full, except the smaller value itself when it is a
// prime dividing the larger one. The same result is reached here through the
// greatest common divisor, in time that does not grow with the rates.
void reduceRatio(int& upFactor, int& downFactor) {
    if (upFactor == 0 || downFactor == 0) return;
    if (upFactor == downFactor) {
        upFactor = 1;
        downFactor = 1;
        return;
    }
    // A negative value leaves no divisor to try.
    if (upFactor < 0 || downFactor < 0) return;
    const int smaller = upFactor < downFactor ? upFactor : downFactor;
    const int divisor = std::gcd(upFactor, downFactor);
    if (divisor == smaller && isPrime(smaller)) return;
    upFactor /= divisor;
    downFactor /= divisor;
}

float lowpassCutoff(int upFactor, int downFactor) {
    const int larger = upFactor > downFactor ? upFactor : downFactor;
    return 0.5f / static_cast<float>(larger);
}

int halfFilterLength(float cutoff) {
    const unsigned taps = static_cast<unsigned>(7.5 / static_cast<double>(cutoff));
    return taps > kMaxHalfFilterLength ? kMaxHalfFilterLength : static_cast<int>(taps);
}

float besselI0(float x) {
    const float halfX = x * 0.5f;
    float term = 1.0f;
    float sum = 1.0f;
    int k = 1;
    do {
        const float q = halfX / static_cast<float>(k);
        k = k + 1;
        term = (q * q) * term;
        sum = term + sum;
    } while (!(static_cast<double>(term) < static_cast<double>(sum) * 1e-21));
    return sum;
}

int designLowpass(float* halfFilter, float cutoff, int m, float gain) {
    if (m <= 0 || !(cutoff > 0.0f) || !(static_cast<double>(cutoff) <= 0.5)) return 0;

    halfFilter[0] = (cutoff * gain) * 2.0f;
    for (int i = 1; i < m; ++i) {
        const float x = static_cast<float>(static_cast<double>(i) * kFilterPi);
        const float s = static_cast<float>(
            std::sin((static_cast<double>(x) * static_cast<double>(cutoff)) * 2.0));
        halfFilter[i] = s / x;
    }
    if (m < 2) return 1;

    const float inverseI0 = 1.0f / besselI0(10.0f);
    const float step = 1.0f / static_cast<float>(m - 1);
    for (int i = 1; i < m; ++i) {
        const float t = static_cast<float>(i) * step;
        float v = 1.0f - t * t;
        if (v < 0.0f) v = 0.0f;
        const float a = static_cast<float>(std::sqrt(static_cast<double>(v)) * 10.0);
        halfFilter[i] = ((besselI0(a) * inverseI0) * gain) * halfFilter[i];
    }
    return 1;
}

}  // namespace plinth
