#pragma once
// Streams the samples of an input positioned at byte 44 through the polyphase
// filter into an output positioned at byte 44, then writes the final header.

#include <cstdint>
#include <cstdio>

enum class StreamResult { ok, outOfMemory, readFailed, writeFailed, tooLarge };

// Items per read from the input: 65536 16-bit samples.
constexpr int kInputBlockItems = 65536;

// The largest reduced ratio term the design supports.
constexpr int kMaxRatioTerm = 8192;

// Number of output samples for `frames` input frames: ceil(frames x L / M).
uint64_t resampledLength(uint64_t frames, int upFactor, int downFactor);

// The largest number of 16-bit mono samples whose size still fits the header.
constexpr uint64_t kMaxOutputSamples = (0xFFFFFFFFull - 36) / 2;

// Everything the filter needs for one rate pair.
struct ResamplerPlan {
    int upFactor;            // L, the reduced target term
    int downFactor;          // M, the reduced source term
    float cutoff;
    int halfFilterTaps;      // m
    int phaseLength;         // u
    int leadIn;              // G zeros in front of frame 0
    int startPhase;          // L x (G + 1) - m
    uint32_t outputBlockSize;  // samples one kernel call can produce from a full block
};

// targetRate and sourceRate positive.
ResamplerPlan planResampling(int targetRate, int sourceRate);

// targetRate and sourceRate positive, their reduced terms at most 8192;
// channels 1 or 2. Leaves both streams open.
StreamResult resampleStream(std::FILE* input, std::FILE* output, int channels, int targetRate,
                            int sourceRate, int channelMode);
