#pragma once
// Mixed float values to 16-bit samples: each value clamped to -1.0..1.0,
// scaled by 32767 and truncated toward zero.

#include <cstddef>
#include <cstdint>

namespace plinth {

// With the vector code, or the plain loop when PLINTH_SCALAR=1 is set.
void floatsToSamples(const float* values, size_t count, int16_t* samples);
// The plain loop over floatToSample, and the vector code that equals it.
void floatsToSamplesReference(const float* values, size_t count, int16_t* samples);
void floatsToSamplesVectors(const float* values, size_t count, int16_t* samples);
// The vector code with one of the machine's targets (see vectorTargetCount).
void floatsToSamplesWithTarget(int target, const float* values, size_t count, int16_t* samples);

}  // namespace plinth
