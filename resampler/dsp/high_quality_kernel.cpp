#include "resampler/dsp/high_quality_kernel.h"

#include <cstddef>

namespace plinth {

void filterHighQualityStage(const HighQualityStage& stage, const float* input, int64_t inputStart, int64_t first,
                            int64_t count, float* output) {
    const int64_t up = stage.upFactor;
    const int64_t down = stage.downFactor;
    const int u = stage.taps;
    const int* order = stage.sumOrder.data();
    const std::size_t leftTaps = static_cast<std::size_t>(stage.leftTaps);
    const std::size_t summed = stage.sumOrder.size();
    for (int64_t n = 0; n < count; ++n) {
        const int64_t k = first + n;
        const int64_t position = k * down;
        const int64_t q = floorDivide64(position, up);
        const int64_t row = position - q * up;
        const float* taps = stage.bank.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(u);
        const float* window = input + (q - stage.tapsBefore - inputStart);
        float left = 0.0f;
        for (std::size_t j = 0; j < leftTaps; ++j) left = taps[order[j]] * window[order[j]] + left;
        float right = 0.0f;
        for (std::size_t j = leftTaps; j < summed; ++j) right = taps[order[j]] * window[order[j]] + right;
        output[n] = left + right;
    }
}

}  // namespace plinth
