#pragma once
// Interleaved 16-bit frames turned into the filter's input, one float per
// frame: a single channel as it is; of several, the chosen one or the floor of
// their mean (their integer sum divided by their count, rounded toward minus
// infinity).

#include <cstdint>

#include "platform/conversion_control.h"
#include "platform/kernel_dispatch.h"

namespace plinth {

// The plain loop. channels is 1 or more; the choice names a channel below it
// (a single channel is taken whatever the choice).
void framesToFilterInput(const int16_t* items, int frames, int channels, ChannelChoice choice, float* samples);

// The vector code on the chosen target for one or two channels (the plain loop
// for more), equal to it bit for bit; the plain loop with PLINTH_SCALAR=1.
void framesToFilterInputDispatched(const int16_t* items, int frames, int channels, ChannelChoice choice,
                                   float* samples);

// The vector code's targets compiled in and run here, best first.
using FramesToFilterInputFunction = void (*)(const int16_t* items, int frames, int channels, ChannelChoice choice,
                                             float* samples);
const KernelTargets<FramesToFilterInputFunction>& framesToFilterInputTargets();

}  // namespace plinth
