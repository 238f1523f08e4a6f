// The mixer and render loop: resamples each active channel by linear
// interpolation into stereo float frames, in stretches that end at the next
// tick boundary, and counts the song's loops.

#include "tracker/mod_mix.h"

namespace plinth {

namespace {

constexpr float kVolumeScale = 0x1p-15f;        // 1/32768
constexpr float kPanScale = 0x1.010102p-8f;     // 1/255 in single precision
constexpr int kNoLoopEnd = 0xFFFFFF;

// Produces up to `frames` frames at `out`, or only advances time when `out` is
// null. Returns the number of frames.
uint32_t renderFrames(ModPlayer& player, float* out, uint32_t frames, ModMixer mixer) {
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
            if (mixer == ModMixer::Vector) {
                mixStretchDispatched(player, out, static_cast<int>(count));
            } else {
                mixStretch(player, out, static_cast<int>(count));
            }
            out += count * 2;
        }
        done += count;
        left -= count;

        player.tickSamples = player.tickSamples + static_cast<float>(count);
        if (player.tickSamples >= player.samplesPerTick) {
            player.tickSamples = player.tickSamples - player.samplesPerTick;
            // Measuring needs only the timing, which the channels never steer.
            if (out != nullptr) {
                processTick(player);
            } else {
                advanceTick(player);
            }
            bool early = false;
            if (player.line == 0 && player.tick == 0) {
                // Arriving at line 0 of an order played before counts a loop;
                // a pattern-loop jump back to line 1 is no such arrival.
                if (orderVisited(player, player.orderIndex) && player.lineFromLoopJump == 0) {
                    forgetVisitedOrders(player);
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

ChannelMix channelMix(const ModPlayer& player, const ModChannel& channel) {
    const ModSample& sample = player.samples[channel.sample - 1];
    const uint8_t* header = sampleHeader(player.source, channel.sample);
    ChannelMix mix;
    mix.data = sample.data;
    mix.readable = static_cast<uint32_t>(player.source + player.sourceSize - reinterpret_cast<const uint8_t*>(sample.data));
    mix.loopLength = kBytesPerWord * readWord(header + kSampleLoopLengthField);
    mix.loopEnd = mix.loopLength > kSilentWords * kBytesPerWord
                      ? mix.loopLength + kBytesPerWord * readWord(header + kSampleLoopStartField)
                      : kNoLoopEnd;
    mix.sampleLength = static_cast<int>(sample.length);
    mix.endOfPlay = static_cast<float>(modMin(mix.loopEnd, mix.sampleLength) + 1);
    const float volumeFactor = static_cast<float>(channel.realVolume) * kVolumeScale;
    const float panFactor = static_cast<float>(channel.pan) * kPanScale;
    mix.leftGain = (1.0f - panFactor) * volumeFactor;
    mix.rightGain = panFactor * volumeFactor;
    return mix;
}

bool channelSounds(const ModPlayer& player, const ModChannel& channel) {
    return channel.muted == 0 && channel.sample != 0 && player.samples[channel.sample - 1].data != nullptr &&
           channel.position >= 0.0f;
}

// The plain mixer, one frame after another: the reference the vector mixer
// must equal bit for bit.
void mixChannel(ModPlayer& player, ModChannel& channel, float* frames, int count) {
    // Without a pitch the channel adds nothing and stays where it is.
    if (!(channel.increment > 0.0f)) return;
    const ChannelMix mix = channelMix(player, channel);

    int left = count;
    float* out = frames;
    for (;;) {
        const int passCount = passFrames(mix, channel.position, channel.increment, left);
        for (int k = 0; k < passCount; ++k) {
            const float p = channel.position;
            const int i = static_cast<int>(p);
            const float f = p - static_cast<float>(i);
            int j = i + 1;
            if (j >= mix.loopEnd) j -= mix.loopLength;
            float a;
            float b;
            // j lies between 0 and i + 1, so one test covers both reads.
            if (static_cast<uint32_t>(i) + 1u < mix.readable) {
                a = static_cast<float>(mix.data[j]);
                b = static_cast<float>(mix.data[i]);
            } else {
                a = sampleByte(mix.data, mix.readable, j);
                b = sampleByte(mix.data, mix.readable, i);
            }
            const float v = a * f + b * (1.0f - f);
            channel.position = p + channel.increment;
            out[0] += v * mix.leftGain;
            out[1] += v * mix.rightGain;
            out += 2;
        }
        if (!endOfPass(mix, channel.position)) return;
        left -= passCount;
        if (passCount <= 0) return;
    }
}

void mixStretch(ModPlayer& player, float* out, int count) {
    for (int k = 0; k < count * 2; ++k) out[k] = 0.0f;
    for (int c = 0; c < player.channelCount; ++c) {
        ModChannel& channel = player.channels[c];
        if (channelSounds(player, channel)) mixChannel(player, channel, out, count);
    }
}

uint32_t modRender(ModPlayer& player, float* buffer, uint32_t bytes) {
    return modRenderWith(player, buffer, bytes, modDefaultMixer());
}

uint32_t modRenderWith(ModPlayer& player, float* buffer, uint32_t bytes, ModMixer mixer) {
    if (buffer == nullptr || bytes < 8) return 0;
    return 8u * renderFrames(player, buffer, bytes / 8, mixer);
}

uint32_t modAdvance(ModPlayer& player, uint32_t frames) {
    if (frames == 0) return 0;
    return renderFrames(player, nullptr, frames, ModMixer::Reference);
}

int modLoopCount(const ModPlayer& player) { return player.loopCount; }

}  // namespace plinth
