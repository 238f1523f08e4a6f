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
    int maxDurationSeconds = 3600;  // a longer song fails; 0 for no limit
};

}  // namespace plinth
