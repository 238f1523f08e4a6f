#pragma once
// Mixed float values to 16-bit samples: each value clamped to -1.0..1.0,
// scaled by 32767 and truncated toward zero.

#include <cstddef>
#include <cstdint>

#include "platform/kernel_dispatch.h"

namespace plinth {

// The plain loop over floatToSample.
void floatsToSamples(const float* values, size_t count, int16_t* samples);
// The vector code on the chosen target, equal to it bit for bit; the plain
// loop with PLINTH_SCALAR=1.
void floatsToSamplesDispatched(const float* values, size_t count, int16_t* samples);

// The vector code's targets compiled in and run here, best first.
using FloatsToSamplesFunction = void (*)(const float* values, size_t count, int16_t* samples);
const KernelTargets<FloatsToSamplesFunction>& floatsToSamplesTargets();

}  // namespace plinth
