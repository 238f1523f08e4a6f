#pragma once
// The half filter laid out as L rows (phases) of u taps, and the kernel that
// turns a block of input samples into clamped 16-bit output samples. The phase
// accumulator and the u-sample overlap belong to the caller and carry the
// position across blocks, so block seams never show in the output.

#include <cstdint>

namespace plinth {

// u = ceil((2m - 1) / L): the single-precision quotient, ceiled in double.
int polyphaseLength(int m, int upFactor);

// Fills upFactor x u entries; 0 (nothing written) when m < 1 or upFactor < 1.
int buildPolyphaseBank(const float* halfFilter, float* bank, int m, int upFactor);

// Filters input[0 .. count-1]; returns the number of samples written to output.
int polyphaseFilterBlock(const float* input, int16_t* output, int count, int* phase,
                         const float* bank, int phaseLength, int upFactor, int downFactor);

}  // namespace plinth
