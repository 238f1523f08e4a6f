#include "resampler/stream_resampler.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>

#include "resampler/dsp/frame_input.h"
#include "resampler/dsp/lowpass_design.h"
#include "resampler/dsp/polyphase.h"

namespace plinth {
namespace {

// Samples the work buffer holds: the lead-in or overlap and the block behind it.
constexpr int kWorkSamples = 65536;

// Output samples one kernel call may produce. Upsampling takes fewer input
// samples per call so that a call's input, its output and the file's next
// writes stay in the processor's caches (a full block to twice the rate runs
// about a tenth slower), and a large ratio (8000 from 1, say) needs no
// gigabyte of output buffer. The output is the same, since block seams never
// show.
constexpr uint64_t kMaxOutputBlock = 1u << 15;

// Samples the work buffer holds for this plan: a full block, or fewer when a
// full block would produce more than kMaxOutputBlock outputs, but always room for the lead-in or overlap, a block
// behind it and the flush's zeros.
uint64_t leastWorkSamples(const ResamplerPlan& plan) { return 4u * static_cast<uint64_t>(plan.phaseLength) + 64u; }

int workSamplesFor(const ResamplerPlan& plan) {
    const uint64_t bounded = kMaxOutputBlock * static_cast<uint64_t>(plan.downFactor) /
                             static_cast<uint64_t>(plan.upFactor);
    return static_cast<int>(std::min<uint64_t>(kWorkSamples, std::max(bounded, leastWorkSamples(plan))));
}

bool emit(const StreamResampler& filter, StreamPosition& at, const SampleSink& sink, int count) {
    if (count <= 0) return true;
    at.samplesOut += static_cast<uint64_t>(count);
    return sink.write(sink.context, filter.outputBlock.get(), static_cast<std::size_t>(count));
}

// Filters the work buffer, all of it or (with `whole`, while more input
// follows) as much as fills the vector kernel's groups, then keeps what is not
// yet filtered behind the u-sample overlap the next block starts on.
bool filterBlock(const StreamResampler& filter, StreamPosition& at, const SampleSink& sink, bool whole) {
    const ResamplerPlan& plan = filter.plan;
    const int u = plan.phaseLength;
    const int count = whole ? at.filled : polyphaseWholeGroupCount(filter.kernel.get(), at.filled, at.phase);
    const int produced = polyphaseFilterBlockDispatched(at.work.get(), filter.outputBlock.get(), count, &at.phase,
                                                        filter.bank.data(), u, plan.upFactor, plan.downFactor,
                                                        filter.kernel.get());
    const int kept = at.filled - (count - u);
    std::memmove(at.work.get(), at.work.get() + count - u, sizeof(float) * static_cast<std::size_t>(kept));
    at.filled = kept;
    at.blockRan = true;
    return emit(filter, at, sink, produced);
}

// A position at the start of the signal, with a work buffer of the filter's capacity.
bool startPosition(const StreamResampler& filter, StreamPosition& at) {
    at = StreamPosition{};
    at.work.reset(new (std::nothrow) float[static_cast<std::size_t>(filter.workCapacity)]);
    if (!at.work) return false;
    // G zeros: the lead-in in front of frame 0.
    std::fill_n(at.work.get(), filter.plan.leadIn, 0.0f);
    at.filled = filter.plan.leadIn;
    at.phase = filter.plan.startPhase;
    return true;
}

// Designs the filter and its shared buffers, for work buffers of `workSamples`
// (at least what workSamplesFor's least allows), and starts its own position.
StreamError startFilter(StreamResampler& resampler, int targetRate, int sourceRate, int channels, ChannelChoice choice,
                        int workSamples) {
    resampler = StreamResampler{};
    resampler.plan = planResampling(targetRate, sourceRate);
    resampler.channels = channels;
    resampler.choice = choice;
    const ResamplerPlan& plan = resampler.plan;
    try {
        std::vector<float> halfFilter(static_cast<std::size_t>(plan.halfFilterTaps));
        resampler.bank.resize(static_cast<std::size_t>(plan.phaseLength) * static_cast<std::size_t>(plan.upFactor));
        designLowpass(halfFilter.data(), plan.cutoff, plan.halfFilterTaps, static_cast<float>(plan.upFactor));
        buildPolyphaseBank(halfFilter.data(), resampler.bank.data(), plan.halfFilterTaps, plan.upFactor);
        resampler.workCapacity = workSamples;
        resampler.outputCapacity = static_cast<int>(static_cast<uint64_t>(plan.upFactor) *
                                                    static_cast<uint64_t>(workSamples) /
                                                    static_cast<uint64_t>(plan.downFactor)) + 1;
        resampler.outputBlock.reset(new int16_t[static_cast<std::size_t>(resampler.outputCapacity)]);
        // The vector kernel's scratch memory, made once for the whole conversion.
        resampler.kernel = createPolyphaseWorkspace(plan.phaseLength, plan.upFactor, plan.downFactor);
        if (!resampler.kernel || !startPosition(resampler, resampler.position)) throw std::bad_alloc();
    } catch (const std::bad_alloc&) {
        resampler = StreamResampler{};
        return StreamError::outOfMemory;
    }
    return StreamError::none;
}

StreamError feedPosition(const StreamResampler& filter, StreamPosition& at, ChannelChoice choice, const int16_t* items,
                         uint64_t frames, const SampleSink& sink) {
    while (frames > 0) {
        const int capacity = filter.workCapacity;
        if (at.filled == capacity && !filterBlock(filter, at, sink, false)) return StreamError::sinkFailed;
        const uint64_t room = static_cast<uint64_t>(capacity - at.filled);
        const int take = static_cast<int>(frames < room ? frames : room);
        framesToFilterInputDispatched(items, take, filter.channels, choice, at.work.get() + at.filled);
        at.filled += take;
        items += static_cast<std::ptrdiff_t>(take) * filter.channels;
        frames -= static_cast<uint64_t>(take);
    }
    return StreamError::none;
}

StreamError finishPosition(const StreamResampler& filter, StreamPosition& at, const SampleSink& sink) {
    const ResamplerPlan& plan = filter.plan;
    const int up = plan.upFactor;
    const int down = plan.downFactor;
    const int m = plan.halfFilterTaps;
    const int u = plan.phaseLength;
    // Frames still waiting behind the lead-in or the overlap go through one
    // more block call, as long as there are more than u samples in all.
    const int start = at.blockRan ? u : plan.leadIn;
    if (at.filled > start && (at.blockRan || at.filled > u)) {
        if (!filterBlock(filter, at, sink, true)) return StreamError::sinkFailed;
    }

    // The flush writes the output instants still owed after the last block.
    int flushCount = 0;
    if (at.blockRan) {
        const int32_t owed = up * (u + 1) - at.phase - m;
        flushCount = ceilOfFloatQuotient(static_cast<float>(owed), static_cast<float>(down));
    } else if (at.filled > start) {
        // The whole input was too short for a block call.
        const uint32_t owed = static_cast<uint32_t>(at.filled - start) * static_cast<uint32_t>(up);
        flushCount = ceilOfFloatQuotient(static_cast<float>(owed), static_cast<float>(down));
    }
    std::memset(at.work.get() + at.filled, 0, sizeof(float) * static_cast<std::size_t>(u));
    const int computed = polyphaseFilterBlockDispatched(at.work.get(), filter.outputBlock.get(), at.filled + u,
                                                        &at.phase, filter.bank.data(), u, up, down,
                                                        filter.kernel.get());
    // Within the supported ratios the last call always computes every owed sample.
    if (computed < flushCount) flushCount = computed;
    if (!emit(filter, at, sink, flushCount)) return StreamError::sinkFailed;
    at.filled = 0;
    return StreamError::none;
}

}  // namespace

uint64_t resampledLength(uint64_t frames, int upFactor, int downFactor) {
    const uint64_t product = frames * static_cast<uint64_t>(upFactor);
    return (product + static_cast<uint64_t>(downFactor) - 1) / static_cast<uint64_t>(downFactor);
}

ResamplerPlan planResampling(int targetRate, int sourceRate) {
    ResamplerPlan plan{};
    plan.upFactor = targetRate;
    plan.downFactor = sourceRate;
    reduceRatio(plan.upFactor, plan.downFactor);
    // Where the trial division stops short of a term the filter supports (a
    // prime smaller rate dividing the larger), the pair is reduced in full.
    if (plan.upFactor > kMaxRatioTerm || plan.downFactor > kMaxRatioTerm) {
        const int divisor = std::gcd(targetRate, sourceRate);
        plan.upFactor = targetRate / divisor;
        plan.downFactor = sourceRate / divisor;
    }
    plan.cutoff = lowpassCutoff(plan.upFactor, plan.downFactor);
    plan.halfFilterTaps = halfFilterLength(plan.cutoff);
    plan.phaseLength = polyphaseLength(plan.halfFilterTaps, plan.upFactor);
    // The lead-in of G zeros and the starting phase put the first output on frame 0.
    plan.leadIn = ceilOfFloatQuotient(static_cast<float>(plan.halfFilterTaps - plan.upFactor),
                                      static_cast<float>(plan.upFactor));
    plan.startPhase = plan.upFactor * (plan.leadIn + 1) - plan.halfFilterTaps;
    return plan;
}

bool ratioSupported(int targetRate, int sourceRate) {
    const int divisor = std::gcd(targetRate, sourceRate);
    return targetRate / divisor <= kMaxRatioTerm && sourceRate / divisor <= kMaxRatioTerm;
}

ChannelChoice channelChoiceFromMode(int channelMode) {
    ChannelChoice choice;
    choice.mix = channelMode == 2;
    choice.channel = channelMode == 1 ? 1 : 0;
    return choice;
}

StreamError startResampler(StreamResampler& resampler, int targetRate, int sourceRate, int channels, int channelMode) {
    return startResampler(resampler, targetRate, sourceRate, channels, channelChoiceFromMode(channelMode));
}

StreamError startResampler(StreamResampler& resampler, int targetRate, int sourceRate, int channels,
                           ChannelChoice choice) {
    return startFilter(resampler, targetRate, sourceRate, channels, choice,
                       workSamplesFor(planResampling(targetRate, sourceRate)));
}

StreamError feedResampler(StreamResampler& resampler, const int16_t* items, uint64_t frames, const SampleSink& sink) {
    return feedPosition(resampler, resampler.position, resampler.choice, items, frames, sink);
}

StreamError finishResampler(StreamResampler& resampler, const SampleSink& sink) {
    return finishPosition(resampler, resampler.position, sink);
}

namespace {

// Output samples a channel gives per piece of input, at most (about).
constexpr uint64_t kPieceOutputs = 1u << 16;

// Samples every channel's work buffers hold together, and its piece's
// outputs: per channel, a share of it (never below what the filter needs), so
// that many channels take a bounded memory; a few channels keep full blocks.
constexpr uint64_t kEveryChannelSamples = 1u << 22;

// False when out of memory.
bool collectSamples(void* context, const int16_t* samples, std::size_t count) {
    auto& into = *static_cast<std::vector<int16_t>*>(context);
    try {
        into.insert(into.end(), samples, samples + count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Hands on what every channel gave, interleaved: each channel gives as many
// samples as the others, since how many depends on the frames fed alone.
bool emitEveryChannel(EveryChannelResampler& resampler, const SampleSink& sink) {
    const std::size_t channels = resampler.positions.size();
    const std::size_t frames = resampler.collected.size() / channels;
    if (frames == 0) return true;
    resampler.frames.resize(frames * channels);
    const int16_t* output = resampler.collected.data();
    for (std::size_t c = 0; c < channels; ++c, output += frames) {
        for (std::size_t k = 0; k < frames; ++k) resampler.frames[k * channels + c] = output[k];
    }
    resampler.collected.clear();
    return sink.write(sink.context, resampler.frames.data(), resampler.frames.size());
}

}  // namespace

StreamError startEveryChannelResampler(EveryChannelResampler& resampler, int targetRate, int sourceRate, int channels) {
    resampler = EveryChannelResampler{};
    const ResamplerPlan plan = planResampling(targetRate, sourceRate);
    const uint64_t channelCount = static_cast<uint64_t>(channels);
    const uint64_t share = std::max<uint64_t>(1, kEveryChannelSamples / channelCount);
    const uint64_t fullSize = static_cast<uint64_t>(workSamplesFor(plan));
    const int workSamples = static_cast<int>(std::min(fullSize, std::max(share, leastWorkSamples(plan))));
    ChannelChoice first;
    first.channel = 0;
    if (startFilter(resampler.filter, targetRate, sourceRate, channels, first, workSamples) != StreamError::none) {
        return StreamError::outOfMemory;
    }
    try {
        resampler.positions.resize(static_cast<std::size_t>(channels));
        resampler.positions[0] = std::move(resampler.filter.position);
        for (std::size_t c = 1; c < resampler.positions.size(); ++c) {
            if (!startPosition(resampler.filter, resampler.positions[c])) throw std::bad_alloc();
        }
    } catch (const std::bad_alloc&) {
        resampler = EveryChannelResampler{};
        return StreamError::outOfMemory;
    }
    resampler.piece = std::max<uint64_t>(1, std::min(kPieceOutputs, share) * static_cast<uint64_t>(plan.downFactor) /
                                                static_cast<uint64_t>(plan.upFactor));
    return StreamError::none;
}

StreamError feedEveryChannelResampler(EveryChannelResampler& resampler, const int16_t* items, uint64_t frames,
                                      const SampleSink& sink) {
    const std::size_t channels = resampler.positions.size();
    const SampleSink collect{collectSamples, &resampler.collected};
    try {
        while (frames > 0) {
            const uint64_t take = std::min(frames, resampler.piece);
            for (std::size_t c = 0; c < channels; ++c) {
                ChannelChoice choice;
                choice.channel = static_cast<int>(c);
                if (feedPosition(resampler.filter, resampler.positions[c], choice, items, take, collect) !=
                    StreamError::none) {
                    return StreamError::outOfMemory;
                }
            }
            if (!emitEveryChannel(resampler, sink)) return StreamError::sinkFailed;
            items += take * channels;
            frames -= take;
        }
    } catch (const std::bad_alloc&) {
        return StreamError::outOfMemory;
    }
    return StreamError::none;
}

StreamError finishEveryChannelResampler(EveryChannelResampler& resampler, const SampleSink& sink) {
    const SampleSink collect{collectSamples, &resampler.collected};
    try {
        for (StreamPosition& position : resampler.positions) {
            if (finishPosition(resampler.filter, position, collect) != StreamError::none) {
                return StreamError::outOfMemory;
            }
        }
        if (!emitEveryChannel(resampler, sink)) return StreamError::sinkFailed;
    } catch (const std::bad_alloc&) {
        return StreamError::outOfMemory;
    }
    return StreamError::none;
}

}  // namespace plinth
