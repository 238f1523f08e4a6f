#include "resampler/dsp/polyphase.h"

#include <cmath>
#include <cstddef>

namespace plinth {

int ceilOfFloatQuotient(float numerator, float denominator) {
    return static_cast<int>(std::ceil(static_cast<double>(numerator / denominator)));
}

int polyphaseLength(int m, int upFactor) {
    return ceilOfFloatQuotient(static_cast<float>(2 * m - 1), static_cast<float>(upFactor));
}

int buildPolyphaseBank(const float* halfFilter, float* bank, int m, int upFactor) {
    if (m < 1 || upFactor < 1) return 0;
    const int u = polyphaseLength(m, upFactor);
    int appended = 0;
    for (int i = m - upFactor; i < m; ++i) {
        int d = i;
        // Right half of the filter, walking down to the centre...
        for (; d >= 0; d -= upFactor) bank[appended++] = halfFilter[d];
        // ...then the mirrored taps of the left half.
        for (int e = -d; e < m; e += upFactor) bank[appended++] = halfFilter[e];
        if (appended % u != 0) bank[appended++] = 0.0f;
    }
    return 1;
}

namespace {

// An accumulated output as a sample: clamped to -32767..32767, never -32768,
// then truncated toward zero.
inline int16_t filterOutputToSample(float acc) {
    if (static_cast<double>(acc) > 32767.0) {
        acc = 32767.0f;
    } else if (static_cast<double>(acc) < -32767.0) {
        acc = -32767.0f;
    }
    return static_cast<int16_t>(static_cast<int>(acc));
}

}  // namespace

int polyphaseFilterBlock(const float* input, int16_t* output, int count, int* phase,
                         const float* bank, int phaseLength, int upFactor, int downFactor) {
    const int end = count - phaseLength;
    int q = 0;
    int written = 0;
    // An advance left pending by the previous block.
    while (*phase >= upFactor) {
        if (q >= end) return 0;
        *phase -= upFactor;
        ++q;
    }
    if (q >= end) return 0;
    for (;;) {
        const float* row = bank + static_cast<std::ptrdiff_t>(*phase) * phaseLength;
        const float* window = input + q;
        float acc = 0.0f;
        for (int j = 0; j < phaseLength; ++j) acc = row[j] * window[j] + acc;
        output[written++] = filterOutputToSample(acc);

        *phase += downFactor;
        while (*phase >= upFactor) {
            if (q >= end) return written;
            ++q;
            *phase -= upFactor;
        }
        if (q >= end) return written;
    }
}

}  // namespace plinth
