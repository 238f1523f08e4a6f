#include "app/in_memory_resampler.h"

#include <new>

#include "platform/wav_reader.h"

namespace plinth {
namespace {

// Appends samples, converted to the buffer's kind; false when out of memory.
bool appendSixteen(void* context, const int16_t* samples, std::size_t count) {
    SampleBuffer& out = *static_cast<SampleBuffer*>(context);
    try {
        if (out.kind == SampleKind::int16) {
            out.int16.insert(out.int16.end(), samples, samples + count);
        } else {
            const std::size_t start = out.float32.size();
            out.float32.resize(start + count);
            for (std::size_t i = 0; i < count; ++i) out.float32[start + i] = floatFromSigned16(samples[i]);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool appendFloats(void* context, const float* samples, std::size_t count) {
    SampleBuffer& out = *static_cast<SampleBuffer*>(context);
    try {
        if (out.kind == SampleKind::float32) {
            out.float32.insert(out.float32.end(), samples, samples + count);
        } else {
            const std::size_t start = out.int16.size();
            out.int16.resize(start + count);
            highQualitySamplesToInt16Dispatched(samples, out.int16.data() + start, count);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// A failed sink here only ever ran out of memory.
StreamError memoryError(StreamError error) {
    return error == StreamError::sinkFailed ? StreamError::outOfMemory : error;
}

// The default filter on 16-bit frames.
StreamError feedSixteen(InMemoryResampler& resampler, const int16_t* items, uint64_t frames, SampleBuffer& out) {
    const SampleSink sink{appendSixteen, &out};
    if (resampler.copyOnly) {
        return appendSixteen(&out, items, frames * static_cast<uint64_t>(resampler.channels)) ? StreamError::none
                                                                                               : StreamError::outOfMemory;
    }
    if (resampler.outputChannels > 1) return memoryError(feedEveryChannelResampler(resampler.every, items, frames, sink));
    return memoryError(feedResampler(resampler.one, items, frames, sink));
}

}  // namespace

StreamError startInMemoryResampler(InMemoryResampler& resampler, int targetRate, int sourceRate, int channels,
                                   ChannelChoice choice, FilterQuality quality) {
    resampler.channels = channels;
    resampler.choice = choice;
    resampler.quality = quality;
    resampler.outputChannels = choice.all ? channels : 1;
    if (quality == FilterQuality::high) {
        return startHighQualityResampler(resampler.high, targetRate, sourceRate, channels, choice);
    }
    // ResampleWav copies a mono input already at the target rate.
    resampler.copyOnly = channels == 1 && targetRate == sourceRate;
    if (resampler.copyOnly) return StreamError::none;
    if (resampler.outputChannels > 1) return startEveryChannelResampler(resampler.every, targetRate, sourceRate, channels);
    return startResampler(resampler.one, targetRate, sourceRate, channels, choice);
}

StreamError feedInMemoryResampler(InMemoryResampler& resampler, const int16_t* items, uint64_t frames,
                                  SampleBuffer& out) {
    if (resampler.quality == FilterQuality::high) {
        return memoryError(feedHighQualityResampler(resampler.high, items, frames, FloatSampleSink{appendFloats, &out}));
    }
    return feedSixteen(resampler, items, frames, out);
}

StreamError feedInMemoryResampler(InMemoryResampler& resampler, const float* items, uint64_t frames,
                                  SampleBuffer& out) {
    if (resampler.quality == FilterQuality::high) {
        return memoryError(feedHighQualityResampler(resampler.high, items, frames, FloatSampleSink{appendFloats, &out}));
    }
    const std::size_t count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(resampler.channels);
    try {
        resampler.sixteen.resize(count);
    } catch (const std::bad_alloc&) {
        return StreamError::outOfMemory;
    }
    for (std::size_t i = 0; i < count; ++i) resampler.sixteen[i] = sampleFromFloat(static_cast<double>(items[i]));
    return feedSixteen(resampler, resampler.sixteen.data(), frames, out);
}

StreamError finishInMemoryResampler(InMemoryResampler& resampler, SampleBuffer& out) {
    if (resampler.quality == FilterQuality::high) {
        return memoryError(finishHighQualityResampler(resampler.high, FloatSampleSink{appendFloats, &out}));
    }
    if (resampler.copyOnly) return StreamError::none;
    const SampleSink sink{appendSixteen, &out};
    if (resampler.outputChannels > 1) return memoryError(finishEveryChannelResampler(resampler.every, sink));
    return memoryError(finishResampler(resampler.one, sink));
}

uint64_t inMemoryOutputFrames(const InMemoryResampler& resampler, uint64_t frames) {
    if (resampler.quality == FilterQuality::high) {
        return resampledLength(frames, resampler.high.filter.upFactor, resampler.high.filter.downFactor);
    }
    if (resampler.copyOnly) return frames;
    const ResamplerPlan& plan =
        resampler.outputChannels > 1 ? resampler.every.filter.plan : resampler.one.plan;
    return resampledLength(frames, plan.upFactor, plan.downFactor);
}

}  // namespace plinth
