#include "resampler/dsp/high_quality_design.h"

#include <cmath>
#include <new>
#include <numeric>

#include "resampler/dsp/exact_math.h"

namespace plinth {
namespace {

// The stop band's attenuation the window is designed for, in dB, and from it
// (Kaiser's formulas) the window's parameter and the half-width per unit of
// transition: H = kHalfWidthPerTransition / transition, the transition in
// cycles per step of the interpolated grid. 150 dB puts the pass band's
// ripple (3e-8) and the stop band below the noise of single-precision sums,
// so that float outputs keep about 24 bits of the signal; 16-bit ones would
// need no more than 100.
constexpr double kAttenuation = 150.0;
constexpr double kBeta = 0.1102 * (kAttenuation - 8.7);
constexpr double kHalfWidthPerTransition = (kAttenuation - 7.95) / (2.0 * 2.285 * 2.0 * kExactPi);

// The pass band ends at 0.45 and the stop band starts at 0.5 of the lower
// rate: the cutoff is 0.475 of it and the transition 0.05 of it.
constexpr int64_t kCutoffTwentieths = 19;  // twice the cutoff, in twentieths of the lower rate

// A halving stage is put first while the input rate is at least 2.5 times the
// output rate: then it costs less than it saves in the stage after it.
bool worthHalving(int64_t up, int64_t down) { return 2 * down >= 5 * up; }

int halfWidthFor(double transition) { return static_cast<int>(std::ceil(kHalfWidthPerTransition / transition)); }

void finishShape(HighQualityStage& stage) {
    const int up = stage.upFactor;
    stage.tapsBefore = stage.halfWidth / up;
    const int after = (stage.halfWidth + up - 1) / up;
    stage.taps = stage.tapsBefore + after + 1;
    stage.beta = kBeta;
}

}  // namespace

HighQualityFilter planHighQualityFilter(int targetRate, int sourceRate) {
    HighQualityFilter filter;
    const int divisor = std::gcd(targetRate, sourceRate);
    filter.upFactor = targetRate / divisor;
    filter.downFactor = sourceRate / divisor;
    if (filter.upFactor == filter.downFactor) return filter;

    int64_t up = filter.upFactor;
    const int64_t down = filter.downFactor;
    // Halving stages: a half-band filter whose pass band reaches the output's
    // Nyquist frequency and whose stop band starts where an alias would fold
    // onto it. Its transition, in cycles per input sample, is 1/2 - up/down.
    while (worthHalving(up, down)) {
        HighQualityStage half;
        half.upFactor = 1;
        half.downFactor = 2;
        half.cutoffNumerator = 1;
        half.cutoffDenominator = 2;
        const double transition = static_cast<double>(down - 2 * up) / static_cast<double>(2 * down);
        half.halfWidth = halfWidthFor(transition);
        // Every even distance but 0 is a zero of the half-band sinc: end on an odd one.
        if (half.halfWidth % 2 == 0) ++half.halfWidth;
        finishShape(half);
        filter.stages.push_back(half);
        up *= 2;
    }
    HighQualityStage last;
    const int64_t g = std::gcd(up, down);
    last.upFactor = static_cast<int>(up / g);
    last.downFactor = static_cast<int>(down / g);
    const int64_t larger = std::max(last.upFactor, last.downFactor);
    last.cutoffNumerator = kCutoffTwentieths;
    last.cutoffDenominator = 20 * larger;
    last.halfWidth = halfWidthFor(1.0 / static_cast<double>(20 * larger));
    finishShape(last);
    filter.stages.push_back(last);
    return filter;
}

std::vector<double> highQualityPrototype(const HighQualityStage& stage) {
    const int h = stage.halfWidth;
    std::vector<double> taps(static_cast<std::size_t>(h) + 1);
    const double gain = static_cast<double>(stage.upFactor);
    const double inverseI0Beta = 1.0 / besselI0Exact(stage.beta);
    taps[0] = gain * (static_cast<double>(stage.cutoffNumerator) / static_cast<double>(stage.cutoffDenominator));
    for (int t = 1; t <= h; ++t) {
        const double sinc = sinPiRatio(stage.cutoffNumerator * t, stage.cutoffDenominator) / (kExactPi * t);
        const double r = static_cast<double>(t) / static_cast<double>(h);
        const double window = besselI0Exact(stage.beta * std::sqrt(1.0 - r * r)) * inverseI0Beta;
        taps[static_cast<std::size_t>(t)] = (gain * sinc) * window;
    }
    return taps;
}

bool designHighQualityFilter(int targetRate, int sourceRate, HighQualityFilter& filter) {
    filter = planHighQualityFilter(targetRate, sourceRate);
    try {
        for (HighQualityStage& stage : filter.stages) {
            const std::vector<double> half = highQualityPrototype(stage);
            const int up = stage.upFactor;
            const int u = stage.taps;
            stage.bank.assign(static_cast<std::size_t>(up) * static_cast<std::size_t>(u), 0.0f);
            for (int row = 0; row < up; ++row) {
                for (int i = 0; i < u; ++i) {
                    const int64_t t = static_cast<int64_t>(stage.tapsBefore - i) * up + row;
                    const int64_t distance = t < 0 ? -t : t;
                    if (distance <= stage.halfWidth) {
                        stage.bank[static_cast<std::size_t>(row) * static_cast<std::size_t>(u) +
                                   static_cast<std::size_t>(i)] = static_cast<float>(half[static_cast<std::size_t>(distance)]);
                    }
                }
            }
            const auto zeroInEveryRow = [&](int i) {
                for (int row = 0; row < up; ++row) {
                    if (stage.bank[static_cast<std::size_t>(row) * static_cast<std::size_t>(u) + static_cast<std::size_t>(i)] != 0.0f) {
                        return false;
                    }
                }
                return true;
            };
            stage.sumOrder.clear();
            for (int i = 0; i <= stage.tapsBefore; ++i) {
                if (!zeroInEveryRow(i)) stage.sumOrder.push_back(i);
            }
            stage.leftTaps = static_cast<int>(stage.sumOrder.size());
            for (int i = u - 1; i > stage.tapsBefore; --i) {
                if (!zeroInEveryRow(i)) stage.sumOrder.push_back(i);
            }
        }
    } catch (const std::bad_alloc&) {
        filter = HighQualityFilter{};
        return false;
    }
    return true;
}

}  // namespace plinth
