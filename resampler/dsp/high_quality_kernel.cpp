#include "resampler/dsp/high_quality_kernel.h"

#include <cstddef>

namespace plinth {

void filterHighQualityStage(const HighQualityStage& stage, const float* input, int64_t inputStart, int64_t first,
                            int64_t count, float* output) {
    const int64_t up = stage.upFactor;
    const int64_t down = stage.downFactor;
    const int u = stage.taps;
    const int* active = stage.activeTaps.data();
    const std::size_t activeCount = stage.activeTaps.size();
    for (int64_t n = 0; n < count; ++n) {
        const int64_t k = first + n;
        const int64_t position = k * down;
        const int64_t q = floorDivide64(position, up);
        const int64_t row = position - q * up;
        const float* taps = stage.bank.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(u);
        const float* window = input + (q - stage.tapsBefore - inputStart);
        float acc = 0.0f;
        for (std::size_t a = 0; a < activeCount; ++a) acc = taps[active[a]] * window[active[a]] + acc;
        output[n] = acc;
    }
}

}  // namespace plinth
