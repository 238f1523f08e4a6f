#pragma once
// The two filters a resampling can use.
//   standard: ResampleWav's filter and its bytes, 16-bit samples in and out.
//   high:     pass band to 0.45 and stop band (150 dB) from 0.5 of the lower
//             rate, float samples in and out, every channel (high_quality_resampler.h).

namespace plinth {

enum class FilterQuality { standard, high };

}  // namespace plinth
