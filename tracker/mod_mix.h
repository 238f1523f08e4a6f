#pragma once
// What the plain mixer and the vector mixer share: the values a mixChannel
// call derives from the channel's sample, the length of each pass and the
// check that wraps or ends the sample after it. Both mixers go through these,
// so their passes and positions agree by construction.

#include <cstdint>

#include "platform/kernel_dispatch.h"
#include "tracker/mod_player.h"

namespace plinth {

struct ChannelMix {
    const int8_t* data;
    uint32_t readable;  // bytes from data to the end of the module image
    int loopLength;
    int loopEnd;  // past any position when the sample has no loop
    int sampleLength;
    float endOfPlay;
    float leftGain;
    float rightGain;
};

ChannelMix channelMix(const ModPlayer& player, const ModChannel& channel);

// Whether the render loop mixes this channel at all.
bool channelSounds(const ModPlayer& player, const ModChannel& channel);

// Frames of the next pass from `position`, with `left` frames left in the
// call. 0 ends the call after one more endOfPass.
inline int passFrames(const ChannelMix& mix, float position, float increment, int left) {
    // With no frames left the count is 0 whatever the quotient.
    if (left <= 0) return 0;
    // Frames whose positions stay below the end of play. The quotient is
    // compared before its conversion, which therefore never overflows.
    const float q = (mix.endOfPlay - position) / increment;
    int frames;
    if (!(q < static_cast<float>(left))) {
        frames = left;
    } else if (q < 1.0f) {
        frames = 0;
    } else {
        frames = static_cast<int>(q);
    }
    if (frames == 0 && position < mix.endOfPlay) frames = 1;
    return modMin(frames, left);
}

// After a pass: wraps a looped position back by the loop length, or marks an
// ended sample with -1. Returns false once the sample has ended.
inline bool endOfPass(const ChannelMix& mix, float& position) {
    if (position >= static_cast<float>(mix.loopEnd)) {
        position = position - static_cast<float>(mix.loopLength);
    } else if (position >= static_cast<float>(mix.sampleLength)) {
        position = -1.0f;
        return false;
    }
    return true;
}

// Bytes past the end of the module image are never read; they count as 0.
inline float sampleByte(const int8_t* data, uint32_t readable, int index) {
    return static_cast<uint32_t>(index) < readable ? static_cast<float>(data[index]) : 0.0f;
}

// One stretch of the render loop: zeroes `count` stereo frames at `out` and
// adds every sounding channel into them, in channel order. mixStretch is the
// plain loop over mixChannel; mixStretchDispatched runs the vector mixer
// (mod_mix_simd.cpp) on the chosen target, the same frames and positions to
// the bit, or mixStretch with PLINTH_SCALAR=1.
void mixStretch(ModPlayer& player, float* out, int count);
void mixStretchDispatched(ModPlayer& player, float* out, int count);

// The vector mixer's targets compiled in and run here, best first.
using MixStretchFunction = void (*)(ModPlayer& player, float* out, int count);
const KernelTargets<MixStretchFunction>& mixStretchTargets();

}  // namespace plinth
