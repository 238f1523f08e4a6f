#pragma once
// A loop in a WAV file: the sampler chunk ("smpl") with one forward loop, in
// whole frames, and a cue chunk ("cue ") naming the loop's first frame for
// readers that look for cue points. Both go after the samples, so the
// canonical 44-byte header still leads the file.

#include <cstddef>
#include <cstdint>

namespace plinth {

// The sampler chunk's body: nine 32-bit fields, then 24 bytes a loop.
constexpr uint32_t kSamplerFieldsBytes = 36;
constexpr uint32_t kSamplerLoopBytes = 24;
// The cue chunk's body: the count of cue points, then 24 bytes a point.
constexpr uint32_t kCueCountBytes = 4;
constexpr uint32_t kCuePointBytes = 24;

// Loop types of the sampler chunk.
constexpr uint32_t kForwardLoop = 0;

// Bytes the two chunks, headers included, add after the samples.
constexpr uint32_t kLoopChunksBytes = 8 + kSamplerFieldsBytes + kSamplerLoopBytes + 8 + kCueCountBytes + kCuePointBytes;

struct SamplerLoop {
    uint32_t start = 0;  // the first frame of the loop
    uint32_t end = 0;    // its last frame, which is played too
    uint32_t type = kForwardLoop;
};

// The sampler chunk with `loop` (forward, played for ever) and the cue chunk
// naming its start, kLoopChunksBytes at `bytes`. The sample period is
// 10^9 / frameRate nanoseconds, rounded to nearest.
void encodeLoopChunks(const SamplerLoop& loop, uint32_t frameRate, uint8_t* bytes);

// The first loop of a sampler chunk's body of `size` bytes; false when it
// declares none or is too short to hold one.
bool decodeSamplerLoop(const uint8_t* body, std::size_t size, SamplerLoop& loop);

}  // namespace plinth
