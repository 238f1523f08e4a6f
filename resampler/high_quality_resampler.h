#pragma once
// The high-quality filter's one path from samples to samples, for any number of
// channels: interleaved float frames go in (full scale +-1.0), in blocks of any
// size, and interleaved float frames come out through a sink, the filter's own
// sums. The output has no delay against the input and holds exactly
// ceil(N x L / M) frames for N frames in; every output sample is the same
// whatever the block sizes, whatever the instruction set, on every machine; and
// channel c of a conversion of C channels equals, bit for bit, the conversion
// of channel c alone.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "resampler/dsp/high_quality_design.h"
#include "resampler/dsp/high_quality_kernel.h"
#include "resampler/stream_resampler.h"

namespace plinth {

// Receives interleaved float frames: `count` samples (frames x channels); false
// stops the conversion as a failed write.
struct FloatSampleSink {
    bool (*write)(void* context, const float* samples, std::size_t count) = nullptr;
    void* context = nullptr;
};

// One stage's place in the stream, with its input held per channel; the
// channels run one after another through the stage's one kernel.
struct HighQualityStageStream {
    std::vector<std::vector<float>> input;  // per channel: samples from inputStart on
    HighQualityKernelPtr kernel;
    int64_t inputStart = 0;                    // absolute index of input[c][0]
    int64_t filled = 0;                        // samples held, the same in every channel
    int64_t nextOutput = 0;                    // absolute index of the next output
};

struct HighQualityResampler {
    HighQualityFilter filter;
    int inputChannels = 1;       // of the frames fed
    ChannelChoice choice{};      // what they become
    int channels = 1;            // of the frames put out: every input channel, or one
    int64_t framesPerRound = 0;  // input frames taken into the first stage at a time
    // Whether a stage leaves outputs short of a whole kernel group for the next
    // round: so when few channels are kept; many channels hold less and compute
    // whatever their input allows (the same samples either way).
    bool wholeGroups = true;
    int64_t leadInOwed = 0;      // zeros before frame 0 not yet put into the first stage
    std::vector<HighQualityStageStream> stages;
    std::vector<std::vector<float>> lastOutput;  // per channel: the last stage's outputs of one round
    std::vector<float> frames;                   // the same, interleaved for the sink, some frames at a time
    uint64_t framesIn = 0;
    uint64_t framesOut = 0;
    bool finished = false;
};

// Designs the filter for the pair (positive rates, ratioSupported) and readies
// the buffers for frames of `channels` (1 or more) channels, of which the
// choice keeps one (a single channel is taken whatever the choice), their mix
// (their sum in channel order, in single precision, divided by their count),
// or all of them. The first form keeps all of them.
StreamError startHighQualityResampler(HighQualityResampler& resampler, int targetRate, int sourceRate, int channels);
StreamError startHighQualityResampler(HighQualityResampler& resampler, int targetRate, int sourceRate, int channels,
                                      ChannelChoice choice);

// Takes `frames` interleaved frames of float samples. A sample beyond +-65536
// (96 dB over full scale), infinities included, is taken as +-65536, and NaN as
// 0 (before any mix): every sum then stays finite, and so the same on every
// machine. Equal rates pass the samples (so taken) unchanged.
StreamError feedHighQualityResampler(HighQualityResampler& resampler, const float* samples, uint64_t frames,
                                     const FloatSampleSink& sink);

// The same from 16-bit samples, each taken as x / 32768 (exact).
StreamError feedHighQualityResampler(HighQualityResampler& resampler, const int16_t* samples, uint64_t frames,
                                     const FloatSampleSink& sink);

// Flushes the end of the signal: the output then holds ceil(N x L / M) frames
// for the N frames fed. Call once; nothing may be fed after it.
StreamError finishHighQualityResampler(HighQualityResampler& resampler, const FloatSampleSink& sink);

// The target the resampler's stages run (kReferenceTarget with PLINTH_SCALAR=1,
// or when the rates are equal and samples pass unchanged).
int64_t highQualityResamplerTarget(const HighQualityResampler& resampler);

// 16-bit samples from the filter's float samples: y x 32768, NaN taken as 0,
// clamped to -32768 .. 32767, rounded to the nearest integer with halves away
// from zero.
int16_t highQualitySampleToInt16(float sample);
// The same for many samples: the reference, one at a time, and the form every
// caller uses, on the machine's best instruction set (the reference with
// PLINTH_SCALAR=1); the table of its targets.
void highQualitySamplesToInt16(const float* samples, int16_t* out, std::size_t count);
void highQualitySamplesToInt16Dispatched(const float* samples, int16_t* out, std::size_t count);
using HighQualityToInt16Function = void (*)(const float*, int16_t*, std::size_t);
const KernelTargets<HighQualityToInt16Function>& highQualitySamplesToInt16Targets();

}  // namespace plinth
