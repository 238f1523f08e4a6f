#pragma once
// The high-quality filter: one or more polyphase FIR stages whose composition
// changes the rate by L / M with no delay. Each stage is a Kaiser-windowed sinc
// designed, in double precision with our own sin and Bessel routines, for the
// same coefficients on every machine, and rounded once to single precision.
//
// The response: flat to 0.45 x the lower of the two rates, at least kAttenuation
// dB down from 0.5 x that rate. A large downsampling ratio starts with halving stages
// (wide transitions, short filters), so that the sharp last stage runs at a
// rate less than 2.5 times the output rate.

#include <cstdint>
#include <vector>

namespace plinth {

// One stage: output k (at rate F x L / M) is
//   y[k] = sum over i of bank[row][i] x x[q - tapsBefore + i],
// where k M = q L + row: input n stands at n L and output k at k M on the
// interpolated grid, and bank[row][i] is the prototype filter at distance
// (tapsBefore - i) L + row from the output. Rows shorter than `taps` are padded
// with zeros. The sum is two chains, each in its fixed order, then their sum:
// the left one from the first tap up to the centre (i <= tapsBefore), the
// right one from the last tap back to just after the centre. Each chain adds
// its largest products last, so that few roundings happen at the magnitude of
// the output. The sums leave out the taps that are zero in every row (every
// other one in a half-band stage): a zero product added to a chain that
// started at +0, which is never -0, changes none of its bits.
struct HighQualityStage {
    int upFactor = 1;    // L
    int downFactor = 1;  // M
    int halfWidth = 0;   // H: the prototype's taps run from -H to H on the interpolated grid
    int taps = 0;        // u, per row
    int tapsBefore = 0;  // a = floor(H / L)
    double beta = 0.0;   // the Kaiser window's parameter
    // The cutoff: the prototype is L sin(pi t c) / (pi t) with c = cutoffNumerator / cutoffDenominator.
    int64_t cutoffNumerator = 0;
    int64_t cutoffDenominator = 1;
    std::vector<float> bank;        // L rows of u taps
    std::vector<int> sumOrder;      // the taps i not zero in every row, the left chain's then the right one's
    int leftTaps = 0;               // of sumOrder, those of the left chain
};

struct HighQualityFilter {
    int upFactor = 1;    // the whole ratio, reduced
    int downFactor = 1;
    std::vector<HighQualityStage> stages;  // none when the rates are equal
};

// The stage shapes for a rate pair (positive rates whose reduced terms are at
// most 8192): everything but the banks.
HighQualityFilter planHighQualityFilter(int targetRate, int sourceRate);

// The shapes with their banks; false when the memory cannot be had.
bool designHighQualityFilter(int targetRate, int sourceRate, HighQualityFilter& filter);

// The prototype's taps at distances 0 .. H from the centre, in double before
// the rounding to single precision (for the bank and for tests).
std::vector<double> highQualityPrototype(const HighQualityStage& stage);

}  // namespace plinth
