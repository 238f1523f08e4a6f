#pragma once
// What a front end asks of one file's conversion: the same record whether the
// request comes from the command line, the Python package or a cluster task.

#include "platform/conversion_control.h"
#include "platform/wav_header.h"
#include "resampler/filter_quality.h"

namespace plinth {

enum class ConversionKind { resample, module };

// Accepted rates of a request; outside them the front ends refuse it.
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 384000;

// MODWAV's own rate: a module's rate when none is asked for, and the rate
// module durations are described at.
constexpr int kModuleRate = 8000;

struct ConversionRequest {
    ConversionKind kind = ConversionKind::resample;
    int rate = 0;                   // 0: none asked for (a module then plays at kModuleRate)
    ChannelChoice channel{};        // what a file of several channels becomes
    FilterQuality quality = FilterQuality::standard;           // the resampling filter
    WavSampleFormat format = WavSampleFormat::signed16;       // a resampling's samples: signed16 or float32
    bool verbose = false;           // tell how a file off the canonical layout was read
    int maxDurationSeconds = 3600;  // a longer render fails; 0 for no limit
    int loops = 1;                  // a song played until it has looped this many times
    uint32_t fadeMilliseconds = 0;  // then faded out over this long as it goes on
    bool loopPoints = false;        // the loop marked in the output by smpl and cue chunks
};

// The longest fade a request may ask for.
constexpr uint32_t kMaxFadeMilliseconds = 3600000;

}  // namespace plinth
