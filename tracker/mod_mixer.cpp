// The mixer and render loop: resamples each active channel by linear
// interpolation into stereo float frames, in stretches that end at the next
// tick boundary, and counts the song's loops.

#include "mod_player.h"

namespace plinth {

namespace {

constexpr float kVolumeScale = 0x1p-15f;        // 1/32768
constexpr float kPanScale = 0x1.010102p-8f;     // 1/255 in single precision
constexpr int kNoLoopEnd = 0xFFFFFF;

int bigEndianWord(const uint8_t* p) { return (p[0] << 8) | p[1]; }

// Bytes past the end of the module image are never read; they count as 0.
float sampleByte(const int8_t* data, uint32_t readable, int index) {
    return static_cast<uint32_t>(index) < readable ? static_cast<float>(data[index]) : 0.0f;
}

bool orderVisited(const ModPlayer& player) {
    return (player.visitedOrders[player.orderIndex >> 3] & (1u << (player.orderIndex & 7))) != 0;
}

// Produces up to `frames` frames at `out`, or only advances time when `out` is
// null. Returns the number of frames.
uint32_t renderFrames(ModPlayer& player, float* out, uint32_t frames) {
    uint32_t left = frames;
    uint32_t done = 0;
    for (;;) {
        // Frames up to the next tick boundary, at least one. The lower bound
        // also covers a tick shorter than one frame, where the carried excess
        // can exceed a whole tick.
        int n = static_cast<int>(player.samplesPerTick - player.tickSamples);
        if (n < 1) n = 1;
        const uint32_t count = static_cast<uint32_t>(n) < left ? static_cast<uint32_t>(n) : left;

        if (out != nullptr) {
            for (uint32_t k = 0; k < count * 2; ++k) out[k] = 0.0f;
            for (int c = 0; c < player.channelCount; ++c) {
                ModChannel& ch = player.channels[c];
                if (ch.sample != 0 && player.samples[ch.sample - 1].data != nullptr && ch.position >= 0.0f) {
                    mixChannel(player, ch, out, static_cast<int>(count));
                }
            }
            out += count * 2;
        }
        done += count;
        left -= count;

        player.tickSamples = player.tickSamples + static_cast<float>(count);
        if (player.tickSamples >= player.samplesPerTick) {
            player.tickSamples = player.tickSamples - player.samplesPerTick;
            processTick(player);
            bool early = false;
            if (player.line == 0 && player.tick == 0) {
                // Arriving at line 0 of an order played before counts a loop;
                // a pattern-loop jump back to line 1 is no such arrival.
                if (orderVisited(player) && player.lineFromLoopJump == 0) {
                    modZero(player.visitedOrders, sizeof player.visitedOrders);
                    ++player.loopCount;
                }
                early = true;
            }
            // A song that never loops ends after one pass through its cycle
            // of lines: the caller marks the line read at which to stop.
            if (player.stopAtRead != 0 && player.stopped == 0 && player.lineReads > player.stopAtRead) {
                player.stopped = 1;
                early = true;
            }
            if (early) return done;
        }
        if (left == 0) return done;
    }
}

}  // namespace

void mixChannel(ModPlayer& player, ModChannel& channel, float* frames, int count) {
    // Without a pitch the channel adds nothing and stays where it is.
    if (!(channel.increment > 0.0f)) return;

    const ModSample& sample = player.samples[channel.sample - 1];
    const uint8_t* header = player.source + 20 + (channel.sample - 1) * 30;
    const int loopLength = 2 * bigEndianWord(header + 28);
    const int loopEnd = loopLength > 2 ? loopLength + 2 * bigEndianWord(header + 26) : kNoLoopEnd;
    const int sampleLength = static_cast<int>(sample.length);
    const float endOfPlay = static_cast<float>(modMin(loopEnd, sampleLength) + 1);
    const float volumeFactor = static_cast<float>(channel.realVolume) * kVolumeScale;
    const float panFactor = static_cast<float>(channel.pan) * kPanScale;
    const float leftGain = (1.0f - panFactor) * volumeFactor;
    const float rightGain = panFactor * volumeFactor;

    const int8_t* data = sample.data;
    const uint8_t* imageEnd = player.source + player.sourceSize;
    const uint32_t readable = static_cast<uint32_t>(imageEnd - reinterpret_cast<const uint8_t*>(data));

    int left = count;
    float* out = frames;
    for (;;) {
        // Frames whose positions stay below the end of play. The quotient is
        // compared before its conversion, which therefore never overflows.
        const float q = (endOfPlay - channel.position) / channel.increment;
        int passCount;
        if (!(q < static_cast<float>(left))) {
            passCount = left;
        } else if (q < 1.0f) {
            passCount = 0;
        } else {
            passCount = static_cast<int>(q);
        }
        if (passCount == 0 && channel.position < endOfPlay) passCount = 1;
        passCount = modMin(passCount, left);

        for (int k = 0; k < passCount; ++k) {
            const float p = channel.position;
            const int i = static_cast<int>(p);
            const float f = p - static_cast<float>(i);
            int j = i + 1;
            if (j >= loopEnd) j -= loopLength;
            float a;
            float b;
            // j lies between 0 and i + 1, so one test covers both reads.
            if (static_cast<uint32_t>(i) + 1u < readable) {
                a = static_cast<float>(data[j]);
                b = static_cast<float>(data[i]);
            } else {
                a = sampleByte(data, readable, j);
                b = sampleByte(data, readable, i);
            }
            const float v = a * f + b * (1.0f - f);
            channel.position = p + channel.increment;
            out[0] += v * leftGain;
            out[1] += v * rightGain;
            out += 2;
        }

        if (channel.position >= static_cast<float>(loopEnd)) {
            channel.position = channel.position - static_cast<float>(loopLength);
        } else if (channel.position >= static_cast<float>(sampleLength)) {
            channel.position = -1.0f;
            return;
        }
        left -= passCount;
        if (passCount <= 0) return;
    }
}

uint32_t modRender(ModPlayer* player, float* buffer, uint32_t bytes) {
    if (player == nullptr || buffer == nullptr || bytes < 8) return 0;
    return 8u * renderFrames(*player, buffer, bytes / 8);
}

uint32_t modAdvance(ModPlayer* player, uint32_t frames) {
    if (player == nullptr || frames == 0) return 0;
    return renderFrames(*player, nullptr, frames);
}

int modLoopCount(const ModPlayer* player) { return player == nullptr ? 0 : player->loopCount; }

}  // namespace plinth
