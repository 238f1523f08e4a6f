#pragma once
// The resampler's one path from samples to samples. Frames go in, in blocks
// of any size; the output samples come out through a sink, exactly the ones a
// whole-file conversion writes, whatever the block sizes: the filter keeps a
// u-sample overlap and its phase across blocks, so seams never show.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/conversion_control.h"
#include "resampler/dsp/polyphase.h"

namespace plinth {

// Items per read from a file: 65536 16-bit samples.
constexpr int kInputBlockItems = 65536;

// The largest reduced ratio term the design supports.
constexpr int kMaxRatioTerm = 8192;

// Number of output samples for `frames` input frames: ceil(frames x L / M).
uint64_t resampledLength(uint64_t frames, int upFactor, int downFactor);

// Everything the filter needs for one rate pair.
struct ResamplerPlan {
    int upFactor;        // L, the reduced target term
    int downFactor;      // M, the reduced source term
    float cutoff;
    int halfFilterTaps;  // m
    int phaseLength;     // u
    int leadIn;          // G zeros in front of frame 0
    int startPhase;      // L x (G + 1) - m
};

// targetRate and sourceRate positive.
ResamplerPlan planResampling(int targetRate, int sourceRate);

// True when the rate pair reduces to terms the filter supports.
bool ratioSupported(int targetRate, int sourceRate);

enum class StreamError { none, outOfMemory, sinkFailed };

// ResampleWav's channelMode: 1 the second channel, 2 the mix, anything else the first.
ChannelChoice channelChoiceFromMode(int channelMode);

// Where one channel's conversion stands: the samples held and the phase.
struct StreamPosition {
    // Lead-in or overlap, then the frames not yet filtered; only what is filled
    // is ever read (the buffer is not cleared: a page never touched costs nothing).
    std::unique_ptr<float[]> work;
    int filled = 0;         // samples in work
    int phase = 0;
    bool blockRan = false;  // a kernel call has filtered a block
    uint64_t samplesOut = 0;
};

// One conversion's filter and buffers, and where it stands.
struct StreamResampler {
    ResamplerPlan plan{};
    int channels = 1;
    ChannelChoice choice{};
    std::vector<float> bank;
    int workCapacity = 0;  // samples of a position's work buffer
    std::unique_ptr<int16_t[]> outputBlock;
    int outputCapacity = 0;
    PolyphaseWorkspacePtr kernel;  // the vector kernel's layout for this ratio
    StreamPosition position;
};

// Designs the filter for the pair (both positive, ratioSupported) and readies
// the buffers. channels is 1 or more; the choice names a channel below it (a
// single channel is taken whatever the choice).
StreamError startResampler(StreamResampler& resampler, int targetRate, int sourceRate, int channels,
                           ChannelChoice choice);
// The same with ResampleWav's channelMode.
StreamError startResampler(StreamResampler& resampler, int targetRate, int sourceRate, int channels, int channelMode);

// Takes `frames` interleaved frames.
StreamError feedResampler(StreamResampler& resampler, const int16_t* items, uint64_t frames, const SampleSink& sink);

// Flushes the end of the signal: the output then holds ceil(N x L / M)
// samples for the N frames fed.
StreamError finishResampler(StreamResampler& resampler, const SampleSink& sink);

// Every channel of the frames kept, each with a position of its own on one
// shared filter, so that output channel c is exactly the conversion of channel
// c chosen alone; the sink receives the channels' samples interleaved, whole
// frames. What is held per channel shrinks as the channels grow, so that many
// channels take a bounded memory.
struct EveryChannelResampler {
    StreamResampler filter;                // its bank, kernel scratch and output block serve every channel
    std::vector<StreamPosition> positions;  // per channel
    std::vector<int16_t> collected;         // what one piece of input gave, channel after channel
    std::vector<int16_t> frames;            // the same, interleaved
    uint64_t piece = 0;                     // input frames fed to every channel at a time
};

// As startResampler, for frames of `channels` (1 or more) channels.
StreamError startEveryChannelResampler(EveryChannelResampler& resampler, int targetRate, int sourceRate, int channels);
StreamError feedEveryChannelResampler(EveryChannelResampler& resampler, const int16_t* items, uint64_t frames,
                                      const SampleSink& sink);
StreamError finishEveryChannelResampler(EveryChannelResampler& resampler, const SampleSink& sink);

}  // namespace plinth
