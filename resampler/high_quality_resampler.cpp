#include "resampler/high_quality_resampler.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

namespace plinth {
namespace {

// Input frames per round aimed at: bounded further where the ratio upsamples
// far, so that one round's output stays near a million frames.
constexpr int64_t kRoundFrames = 8192;
constexpr int64_t kRoundOutputs = int64_t{1} << 20;

// Floats every channel's stage buffers hold together, at most, unless even
// rounds of kLeastRoundFrames need more: beyond a few channels the rounds
// shrink (and no stage waits for whole groups), so that many channels take a
// bounded memory.
constexpr int64_t kEveryChannelFloats = int64_t{1} << 24;
constexpr int64_t kLeastRoundFrames = 64;
// Floats of interleaved output handed to the sink at a time (at least a frame).
constexpr int64_t kInterleavedFloats = int64_t{1} << 16;

// The largest output index whose window lies inside input indices below `end`.
int64_t lastComputable(const HighQualityStage& stage, int64_t end) {
    // windowStart(k) + u <= end  <=>  floor(k M / L) <= end + a - u  <=>  k M < (end + a - u + 1) L.
    const int64_t limit = (end + stage.tapsBefore - stage.taps + 1) * stage.upFactor;
    return floorDivide64(limit - 1, stage.downFactor);
}

// Input samples a stage may hold at once: one round's new samples, and those
// kept for outputs still waiting for a whole group.
int64_t pendingBound(const HighQualityStage& stage, int64_t group) {
    return (group + 2) * stage.downFactor / stage.upFactor + stage.taps + 2;
}

// The largest magnitude taken: far beyond any real signal, small enough that no
// sum can overflow to infinity (whose differences give NaN, whose bits are not
// the same on every machine).
constexpr float kLargestSample = 65536.0f;

template <typename Sample>
float toFloat(Sample value);
template <>
float toFloat<float>(float value) {
    if (!(value == value)) return 0.0f;  // NaN
    return value > kLargestSample ? kLargestSample : (value < -kLargestSample ? -kLargestSample : value);
}
template <>
float toFloat<int16_t>(int16_t value) {
    return static_cast<float>(value) * (1.0f / 32768.0f);
}

// The mix of a frame: its samples as taken, summed in channel order, divided by their count.
template <typename Sample>
float mixOf(const Sample* frame, std::ptrdiff_t width, float divisor) {
    float sum = toFloat(frame[0]);
    for (std::ptrdiff_t i = 1; i < width; ++i) sum = sum + toFloat(frame[i]);
    return sum / divisor;
}

// Output channel c of `count` frames, to[k * step] for frame k.
template <typename Sample>
void takeChannel(const HighQualityResampler& resampler, const Sample* frames, int64_t count, int c, float* to,
                 std::ptrdiff_t step) {
    const std::ptrdiff_t width = resampler.inputChannels;
    if (resampler.choice.mix && !resampler.choice.all && width > 1) {
        if constexpr (std::is_same_v<Sample, int16_t>) {
            if (width == 2) {
                // The same: a / 2^15 + b / 2^15 is exact, and so is halving it.
                for (int64_t k = 0; k < count; ++k) {
                    to[k * step] = static_cast<float>(frames[2 * k] + frames[2 * k + 1]) * (1.0f / 65536.0f);
                }
                return;
            }
        }
        const float divisor = static_cast<float>(width);
        for (int64_t k = 0; k < count; ++k) to[k * step] = mixOf(frames + k * width, width, divisor);
        return;
    }
    const std::ptrdiff_t source = width == 1 ? 0 : resampler.choice.all ? c : resampler.choice.channel;
    const Sample* from = frames + source;
    for (int64_t k = 0; k < count; ++k) to[k * step] = toFloat(from[k * width]);
}

bool emit(HighQualityResampler& resampler, const FloatSampleSink& sink, int64_t frames) {
    if (frames <= 0) return true;
    const int channels = resampler.channels;
    resampler.framesOut += static_cast<uint64_t>(frames);
    if (channels == 1) return sink.write(sink.context, resampler.lastOutput[0].data(), static_cast<std::size_t>(frames));
    float* to = resampler.frames.data();
    const int64_t chunk = static_cast<int64_t>(resampler.frames.size()) / channels;
    for (int64_t done = 0; done < frames; done += chunk) {
        const int64_t count = std::min(chunk, frames - done);
        for (int c = 0; c < channels; ++c) {
            const float* from = resampler.lastOutput[static_cast<std::size_t>(c)].data() + done;
            for (int64_t k = 0; k < count; ++k) to[k * channels + c] = from[k];
        }
        if (!sink.write(sink.context, to, static_cast<std::size_t>(count) * static_cast<std::size_t>(channels))) {
            return false;
        }
    }
    return true;
}

// Runs stage s on what it holds: outputs up to `last` (all of them when
// flushing, else whole groups only), handed on to the next stage or to the
// sink, then drops the input no later output reads.
bool runStage(HighQualityResampler& resampler, std::size_t s, int64_t last, bool flushing,
              const FloatSampleSink& sink) {
    HighQualityStageStream& stream = resampler.stages[s];
    const HighQualityStage& stage = resampler.filter.stages[s];
    const int64_t count = last - stream.nextOutput + 1;
    if (count <= 0) return true;
    const bool isLast = s + 1 == resampler.stages.size();
    // The last stage hands its outputs on as many at a time as its buffers hold.
    const int64_t most = isLast ? static_cast<int64_t>(resampler.lastOutput[0].size()) : count;
    for (int64_t done = 0; done < count;) {
        const int64_t asked = std::min(most, count - done);
        int64_t computed = 0;
        for (int c = 0; c < resampler.channels; ++c) {
            const std::size_t channel = static_cast<std::size_t>(c);
            float* output;
            if (isLast) {
                output = resampler.lastOutput[channel].data();
            } else {
                HighQualityStageStream& next = resampler.stages[s + 1];
                output = next.input[channel].data() + next.filled;
            }
            computed = filterHighQualityStageDispatched(stream.kernel.get(), stream.input[channel].data(),
                                                        stream.inputStart, stream.filled, stream.nextOutput, asked,
                                                        output, !flushing && resampler.wholeGroups);
        }
        if (computed == 0) break;
        stream.nextOutput += computed;
        done += computed;
        if (isLast) {
            if (!emit(resampler, sink, computed)) return false;
        } else {
            resampler.stages[s + 1].filled += computed;
        }
        if (computed < asked) break;
    }
    // Keep from the next output's window on.
    const int64_t keepFrom = windowStart(stage, stream.nextOutput);
    const int64_t drop = std::min(keepFrom - stream.inputStart, stream.filled);
    if (drop > 0) {
        for (std::vector<float>& input : stream.input) {
            std::memmove(input.data(), input.data() + drop, sizeof(float) * static_cast<std::size_t>(stream.filled - drop));
        }
        stream.filled -= drop;
        stream.inputStart += drop;
    }
    return true;
}

// Every stage in turn computes what its input allows, and (with `limits`) no
// output past its limit.
bool runStages(HighQualityResampler& resampler, const FloatSampleSink& sink, const int64_t* limits = nullptr) {
    for (std::size_t s = 0; s < resampler.stages.size(); ++s) {
        const HighQualityStageStream& stream = resampler.stages[s];
        int64_t last = lastComputable(resampler.filter.stages[s], stream.inputStart + stream.filled);
        if (limits != nullptr) last = std::min(last, limits[s]);
        if (!runStage(resampler, s, last, false, sink)) return false;
    }
    return true;
}

// Puts `count` zeros into every channel of the first stage, behind what it holds.
void putZeros(HighQualityResampler& resampler, int64_t count) {
    HighQualityStageStream& first = resampler.stages[0];
    for (std::vector<float>& input : first.input) {
        std::fill_n(input.begin() + first.filled, static_cast<std::ptrdiff_t>(count), 0.0f);
    }
    first.filled += count;
}

template <typename Sample>
StreamError feed(HighQualityResampler& resampler, const Sample* samples, uint64_t frames, const FloatSampleSink& sink) {
    const int channels = resampler.channels;
    const std::ptrdiff_t width = resampler.inputChannels;
    if (resampler.stages.empty()) {
        // Equal rates: the samples pass unchanged.
        while (frames > 0) {
            const int64_t take =
                static_cast<int64_t>(std::min<uint64_t>(frames, static_cast<uint64_t>(resampler.framesPerRound)));
            for (int c = 0; c < channels; ++c) takeChannel(resampler, samples, take, c, resampler.frames.data() + c, channels);
            resampler.framesIn += static_cast<uint64_t>(take);
            resampler.framesOut += static_cast<uint64_t>(take);
            const std::size_t items = static_cast<std::size_t>(take) * static_cast<std::size_t>(channels);
            if (!sink.write(sink.context, resampler.frames.data(), items)) return StreamError::sinkFailed;
            samples += take * width;
            frames -= static_cast<uint64_t>(take);
        }
        return StreamError::none;
    }
    HighQualityStageStream& first = resampler.stages[0];
    while (frames > 0) {
        // A round takes the lead-in's zeros first, then the frames.
        const int64_t zeros = std::min(resampler.leadInOwed, resampler.framesPerRound);
        putZeros(resampler, zeros);
        resampler.leadInOwed -= zeros;
        const int64_t room = resampler.framesPerRound - zeros;
        const int64_t take = static_cast<int64_t>(std::min<uint64_t>(frames, static_cast<uint64_t>(room)));
        for (int c = 0; c < channels; ++c) {
            takeChannel(resampler, samples, take, c, first.input[static_cast<std::size_t>(c)].data() + first.filled, 1);
        }
        first.filled += take;
        resampler.framesIn += static_cast<uint64_t>(take);
        samples += take * width;
        frames -= static_cast<uint64_t>(take);
        if (!runStages(resampler, sink)) return StreamError::sinkFailed;
    }
    return StreamError::none;
}

// What one channel holds for rounds of `roundFrames`: each stage's input (a
// round's arrivals, and what waits for a group or for the windows' tails), and
// the last stage's output of a round.
struct ChannelBuffers {
    std::vector<int64_t> inputs;  // per stage
    int64_t lastOutput = 0;
    int64_t floats = 0;  // all of them
};

ChannelBuffers channelBuffers(const HighQualityResampler& resampler, int64_t roundFrames, bool wholeGroups,
                              int64_t outputChunk) {
    ChannelBuffers buffers;
    int64_t arriving = roundFrames;
    for (std::size_t s = 0; s < resampler.stages.size(); ++s) {
        const HighQualityStageStream& stream = resampler.stages[s];
        const HighQualityStage& stage = resampler.filter.stages[s];
        const int64_t group = wholeGroups ? highQualityGroupOutputs(stream.kernel.get()) : 1;
        const int64_t capacity = arriving + pendingBound(stage, group);
        buffers.inputs.push_back(capacity);
        buffers.floats += capacity;
        arriving = capacity * stage.upFactor / stage.downFactor + 1;
    }
    // Many channels hand the last stage's outputs on some at a time.
    buffers.lastOutput = wholeGroups ? arriving : std::min(arriving, outputChunk);
    buffers.floats += buffers.lastOutput;
    return buffers;
}

}  // namespace

StreamError startHighQualityResampler(HighQualityResampler& resampler, int targetRate, int sourceRate, int channels) {
    ChannelChoice every;
    every.all = true;
    return startHighQualityResampler(resampler, targetRate, sourceRate, channels, every);
}

StreamError startHighQualityResampler(HighQualityResampler& resampler, int targetRate, int sourceRate, int channels,
                                      ChannelChoice choice) {
    resampler = HighQualityResampler{};
    resampler.inputChannels = channels;
    resampler.choice = choice;
    resampler.channels = choice.all ? channels : 1;
    channels = resampler.channels;
    try {
        if (!designHighQualityFilter(targetRate, sourceRate, resampler.filter)) throw std::bad_alloc();
        const HighQualityFilter& filter = resampler.filter;
        const std::size_t stageCount = filter.stages.size();
        const std::size_t channelCount = static_cast<std::size_t>(channels);
        if (stageCount == 0) {
            resampler.framesPerRound =
                std::clamp<int64_t>(kEveryChannelFloats / static_cast<int64_t>(channelCount), 1, kRoundFrames);
            resampler.frames.resize(static_cast<std::size_t>(resampler.framesPerRound) * channelCount);
            return StreamError::none;
        }
        resampler.stages.resize(stageCount);
        // Where each stage starts: the last at output 0, each earlier one at the
        // first sample its successor's first window reads (before 0: the filter
        // tails of the signal's start). The first stage's input before frame 0
        // is the lead-in of zeros.
        int64_t first = 0;
        for (std::size_t s = stageCount; s-- > 0;) {
            resampler.stages[s].nextOutput = first;
            first = windowStart(filter.stages[s], first);
            resampler.stages[s].inputStart = first;
        }
        for (std::size_t s = 0; s < stageCount; ++s) {
            resampler.stages[s].kernel = createHighQualityKernel(filter.stages[s]);
            if (!resampler.stages[s].kernel) throw std::bad_alloc();
        }
        resampler.framesPerRound = std::clamp<int64_t>(
            kRoundOutputs * filter.downFactor / filter.upFactor, filter.stages[0].taps + 2, kRoundFrames);
        const int64_t channelCount64 = static_cast<int64_t>(channelCount);
        ChannelBuffers buffers = channelBuffers(resampler, resampler.framesPerRound, true, 0);
        if (buffers.floats * channelCount64 > kEveryChannelFloats) {
            resampler.wholeGroups = false;
            const int64_t outputChunk = std::max(kLeastRoundFrames, kEveryChannelFloats / 4 / channelCount64);
            buffers = channelBuffers(resampler, resampler.framesPerRound, false, outputChunk);
            while (buffers.floats * channelCount64 > kEveryChannelFloats &&
                   resampler.framesPerRound > kLeastRoundFrames) {
                resampler.framesPerRound = std::max(kLeastRoundFrames, resampler.framesPerRound / 2);
                buffers = channelBuffers(resampler, resampler.framesPerRound, false, outputChunk);
            }
        }
        // Buffers, each made once: what a stage may hold, and the most it can hand on per round.
        for (std::size_t s = 0; s < stageCount; ++s) {
            resampler.stages[s].input.assign(channelCount,
                                             std::vector<float>(static_cast<std::size_t>(buffers.inputs[s]), 0.0f));
        }
        resampler.lastOutput.assign(channelCount, std::vector<float>(static_cast<std::size_t>(buffers.lastOutput)));
        if (channels > 1) {
            const int64_t chunk = std::clamp<int64_t>(kInterleavedFloats / channelCount64, 1, buffers.lastOutput);
            resampler.frames.resize(static_cast<std::size_t>(chunk) * channelCount);
        }
    } catch (const std::bad_alloc&) {
        resampler = HighQualityResampler{};
        return StreamError::outOfMemory;
    }
    // The lead-in: the zeros before frame 0, taken with the first rounds.
    resampler.leadInOwed = -resampler.stages[0].inputStart;
    return StreamError::none;
}

StreamError feedHighQualityResampler(HighQualityResampler& resampler, const float* samples, uint64_t frames,
                                     const FloatSampleSink& sink) {
    return feed(resampler, samples, frames, sink);
}

StreamError feedHighQualityResampler(HighQualityResampler& resampler, const int16_t* samples, uint64_t frames,
                                     const FloatSampleSink& sink) {
    return feed(resampler, samples, frames, sink);
}

StreamError finishHighQualityResampler(HighQualityResampler& resampler, const FloatSampleSink& sink) {
    if (resampler.finished) return StreamError::none;
    resampler.finished = true;
    const std::size_t stageCount = resampler.stages.size();
    if (stageCount == 0) return StreamError::none;
    const HighQualityFilter& filter = resampler.filter;
    const uint64_t total = resampledLength(resampler.framesIn, filter.upFactor, filter.downFactor);
    if (total == 0) return StreamError::none;
    // The last output owed, and back from it the last sample each stage must produce.
    std::vector<int64_t> last(stageCount);
    int64_t needed = static_cast<int64_t>(total) - 1;
    for (std::size_t s = stageCount; s-- > 0;) {
        last[s] = needed;
        needed = windowStart(filter.stages[s], needed) + filter.stages[s].taps - 1;
    }
    // Zeros after the signal, as far as the first stage's last window reads,
    // a round at a time (frames fed have taken the whole lead-in).
    HighQualityStageStream& first = resampler.stages[0];
    for (int64_t end = first.inputStart + first.filled; end <= needed;) {
        const int64_t zeros = std::min(needed + 1 - end, resampler.framesPerRound);
        putZeros(resampler, zeros);
        end += zeros;
        if (!runStages(resampler, sink, last.data())) return StreamError::sinkFailed;
    }
    for (std::size_t s = 0; s < stageCount; ++s) {
        if (!runStage(resampler, s, last[s], true, sink)) return StreamError::sinkFailed;
    }
    return StreamError::none;
}

int64_t highQualityResamplerTarget(const HighQualityResampler& resampler) {
    if (resampler.stages.empty()) return kReferenceTarget;
    return highQualityKernelTarget(resampler.stages.back().kernel.get());
}

int16_t highQualitySampleToInt16(float sample) {
    float scaled = sample * 32768.0f;
    scaled = scaled == scaled ? scaled : 0.0f;  // NaN
    scaled = scaled < -32768.0f ? -32768.0f : scaled;
    scaled = scaled > 32767.0f ? 32767.0f : scaled;
    // The integer part and the fraction are both exact.
    const int whole = static_cast<int>(scaled);
    const float fraction = scaled - static_cast<float>(whole);
    const int up = fraction >= 0.5f ? 1 : 0;
    const int down = fraction <= -0.5f ? 1 : 0;
    return static_cast<int16_t>(whole + up - down);
}

void highQualitySamplesToInt16(const float* samples, int16_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out[i] = highQualitySampleToInt16(samples[i]);
}

}  // namespace plinth
