#pragma once
// Rate ratio reduction and the Kaiser-windowed (beta 10) sinc low-pass filter,
// produced as its half: entry 0 is the centre tap, entry i the tap at distance i.

namespace plinth {

// Reduces (target, source) in place to L:M. Trial divisors run from 2 to half
// the smaller value, so a prime that divides the larger one is not removed.
void reduceRatio(int& upFactor, int& downFactor);

// Cutoff as a fraction of the interpolated rate: 0.5 / max(L, M), in single precision.
float lowpassCutoff(int upFactor, int downFactor);

// Number of half-filter taps for a cutoff: 7.5 / cutoff truncated, at most 8192.
int halfFilterLength(float cutoff);

// Writes m taps with pass-band gain `gain`. 0 (nothing written) when m <= 0 or
// the cutoff is not in (0, 0.5].
int designLowpass(float* halfFilter, float cutoff, int m, float gain);

// Modified Bessel function of the first kind, order zero, by its power series.
float besselI0(float x);

}  // namespace plinth
