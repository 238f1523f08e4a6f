#pragma once
// Frames held in memory resampled as a file is, for a front end that converts
// arrays (the Python package): either filter, one channel, the mix or every
// channel, 16-bit or float samples in and out. Channel c of every channel kept
// is exactly the conversion of channel c chosen alone.
//
// Samples in, by filter:
//   standard  16-bit as they are; floats made 16-bit by the WAV reader's rule
//             (x times 32768, rounded to nearest with ties away from zero,
//             clamped, NaN as 0)
//   high      16-bit as x / 32768; floats as they are
// Samples out, by the kind asked for:
//   int16     the standard filter's samples; the high filter's rounded to
//             nearest (highQualitySampleToInt16)
//   float32   the standard filter's 16-bit samples divided by 32768; the high
//             filter's own sums

#include <cstdint>
#include <vector>

#include "platform/conversion_control.h"
#include "resampler/filter_quality.h"
#include "resampler/high_quality_resampler.h"
#include "resampler/stream_resampler.h"

namespace plinth {

enum class SampleKind { int16, float32 };

// Interleaved samples of one kind, appended to as a conversion goes.
struct SampleBuffer {
    SampleKind kind = SampleKind::int16;
    std::vector<int16_t> int16;
    std::vector<float> float32;

    std::size_t size() const { return kind == SampleKind::int16 ? int16.size() : float32.size(); }
};

struct InMemoryResampler {
    int channels = 1;            // of the frames fed
    ChannelChoice choice{};
    FilterQuality quality = FilterQuality::standard;
    int outputChannels = 1;      // every channel kept, or one
    bool copyOnly = false;       // the default filter on one channel at equal rates: the samples pass as they are
    StreamResampler one;         // the default filter, one channel or the mix
    EveryChannelResampler every; // the default filter, every channel of several
    HighQualityResampler high;
    std::vector<int16_t> sixteen;  // floats made 16-bit for the default filter
};

// For positive rates that ratioSupported takes and frames of `channels` (1 or
// more) channels; the choice names a channel below it.
StreamError startInMemoryResampler(InMemoryResampler& resampler, int targetRate, int sourceRate, int channels,
                                   ChannelChoice choice, FilterQuality quality);

// Appends to `out` (of the kind it holds) the frames that `frames` frames complete.
StreamError feedInMemoryResampler(InMemoryResampler& resampler, const int16_t* items, uint64_t frames,
                                  SampleBuffer& out);
StreamError feedInMemoryResampler(InMemoryResampler& resampler, const float* items, uint64_t frames,
                                  SampleBuffer& out);

// Appends the frames still owed at the end of the signal.
StreamError finishInMemoryResampler(InMemoryResampler& resampler, SampleBuffer& out);

// Output frames for `frames` frames in.
uint64_t inMemoryOutputFrames(const InMemoryResampler& resampler, uint64_t frames);

}  // namespace plinth
