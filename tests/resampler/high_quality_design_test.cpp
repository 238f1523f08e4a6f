// The high-quality filter's design: our own sine and Bessel routines against
// known values and an independent library, the coefficients against an
// independent calculation, and each stage's frequency response, measured here
// with a plain DFT, against the promised pass band and stop band.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "resampler/dsp/exact_math.h"
#include "resampler/dsp/high_quality_design.h"

using namespace plinth;

namespace {

// Distance in units in the last place between two doubles of the same sign.
int64_t ulpsApart(double a, double b) {
    int64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x > y ? x - y : y - x;
}

TEST(ExactMath, SineAndCosineOfSimpleFractionsOfPiAreTheKnownValues) {
    EXPECT_EQ(sinPiRatio(0, 7), 0.0);
    EXPECT_EQ(sinPiRatio(7, 7), 0.0);     // whole multiples of pi are exactly zero
    EXPECT_EQ(sinPiRatio(-21, 7), 0.0);
    EXPECT_EQ(sinPiRatio(1000001, 1), 0.0);
    EXPECT_EQ(sinPiRatio(1, 2), 1.0);
    EXPECT_EQ(sinPiRatio(3, 2), -1.0);
    EXPECT_EQ(cosPiRatio(0, 5), 1.0);
    EXPECT_EQ(cosPiRatio(1, 1), -1.0);
    EXPECT_EQ(cosPiRatio(1, 2), 0.0);
    EXPECT_LE(ulpsApart(sinPiRatio(1, 6), 0.5), 1);
    EXPECT_LE(ulpsApart(cosPiRatio(1, 3), 0.5), 1);
    EXPECT_LE(ulpsApart(sinPiRatio(1, 4), std::sqrt(2.0) / 2.0), 1);
    EXPECT_LE(ulpsApart(sinPiRatio(1, 3), std::sqrt(3.0) / 2.0), 1);
    EXPECT_LE(ulpsApart(sinPiRatio(5, 6), 0.5), 1);
    EXPECT_LE(ulpsApart(-sinPiRatio(7, 6), 0.5), 1);
    EXPECT_LE(ulpsApart(sinPiRatio(-1, 6), -0.5), 1);
    // sin(pi/12) = (sqrt 6 - sqrt 2) / 4 = 0.25881904510252074...
    EXPECT_LE(ulpsApart(sinPiRatio(1, 12), 0.25881904510252074), 1);
    // sin(pi/5) = sqrt(10 - 2 sqrt 5) / 4 = 0.58778525229247314...
    EXPECT_LE(ulpsApart(sinPiRatio(1, 5), 0.58778525229247314), 1);
}

TEST(ExactMath, SineIsWithinTwoUlpsOfALongDoubleOneAndPeriodicExactly) {
    // The C library's sine in long double (64-bit mantissa), on angles within a
    // quarter turn of 0 where its own argument is exact enough.
    const long double pi = 3.141592653589793238462643383279502884L;
    std::mt19937_64 random(11);
    int64_t worst = 0;
    int exact = 0, compared = 0;
    for (int n = 0; n < 200000; ++n) {
        const int64_t q = 1 + static_cast<int64_t>(random() % 200000);
        const int64_t p = static_cast<int64_t>(random() % static_cast<uint64_t>(q)) - q / 2;
        if (p == 0) continue;
        const double ours = sinPiRatio(p, q);
        const double reference = static_cast<double>(std::sin(pi * (static_cast<long double>(p) / static_cast<long double>(q))));
        const int64_t apart = ulpsApart(ours, reference);
        worst = std::max(worst, apart);
        exact += apart == 0;
        ++compared;
        // Whole turns added change nothing, not even the last bit; nor does the mirror.
        ASSERT_EQ(sinPiRatio(p + 2 * q * 1000, q), ours);
        ASSERT_EQ(sinPiRatio(q - p, q), ours);
        ASSERT_EQ(sinPiRatio(-p, q), -ours);
    }
    EXPECT_LE(worst, 2);
    EXPECT_GT(exact, compared * 7 / 10);
}

TEST(ExactMath, BesselI0MatchesAnIndependentLibrary) {
    // Values from numpy.i0 (Cephes' Chebyshev expansions, an independent method).
    const struct {
        double x, value;
    } known[] = {
        {0.0, 1.0},
        {0.5, 1.0634833707413234},
        {1.0, 1.2660658777520082},
        {2.0, 2.279585302336067},
        {5.0, 27.239871823604442},
        {10.0, 2815.716628466254},
        {12.2652, 24428.997161182095},
        {20.0, 43558282.559553534},
    };
    for (const auto& k : known) {
        EXPECT_NEAR(besselI0Exact(k.x), k.value, k.value * 4e-16) << k.x;
        EXPECT_EQ(besselI0Exact(-k.x), besselI0Exact(k.x));
    }
}

TEST(HighQualityPlan, StagesForTheCommonPairs) {
    // Upsampling and mild downsampling: one stage.
    for (const auto& [to, from] : {std::pair{48000, 44100}, {44100, 48000}, {16000, 8000}, {96000, 8000}, {22050, 44100}}) {
        const HighQualityFilter filter = planHighQualityFilter(to, from);
        ASSERT_EQ(filter.stages.size(), 1u) << from << " -> " << to;
    }
    // Far downsampling: halving stages first, while the rate stays 2.5 times the output's.
    const HighQualityFilter to16k = planHighQualityFilter(16000, 44100);
    ASSERT_EQ(to16k.stages.size(), 2u);
    EXPECT_EQ(to16k.stages[0].upFactor, 1);
    EXPECT_EQ(to16k.stages[0].downFactor, 2);
    EXPECT_EQ(to16k.stages[1].upFactor, 320);
    EXPECT_EQ(to16k.stages[1].downFactor, 441);
    const HighQualityFilter to8k = planHighQualityFilter(8000, 44100);
    ASSERT_EQ(to8k.stages.size(), 3u);
    EXPECT_EQ(to8k.stages[2].upFactor, 320);
    EXPECT_EQ(to8k.stages[2].downFactor, 441);
    EXPECT_EQ(planHighQualityFilter(8000, 96000).stages.size(), 4u);  // 96 -> 48 -> 24 -> 12 -> 8 kHz
    EXPECT_EQ(planHighQualityFilter(1, 8192).stages.size(), 13u);
    EXPECT_TRUE(planHighQualityFilter(44100, 44100).stages.empty());
    EXPECT_EQ(to8k.upFactor, 80);
    EXPECT_EQ(to8k.downFactor, 441);
    // Every row's window covers the prototype: u = floor(H / L) + ceil(H / L) + 1.
    for (const auto& stage : to8k.stages) {
        EXPECT_EQ(stage.taps, stage.halfWidth / stage.upFactor + (stage.halfWidth + stage.upFactor - 1) / stage.upFactor + 1);
        EXPECT_EQ(stage.tapsBefore, stage.halfWidth / stage.upFactor);
    }
}

TEST(HighQualityDesign, CoefficientsMatchAnIndependentCalculation) {
    // 44100 -> 48000: L = 160, cutoff 0.95 / 160 (twice 0.475 of the lower rate),
    // Kaiser beta 0.1102 (150 - 8.7), H = ceil((150 - 7.95) / (4.57 pi) x 20 x 160) = 15831.
    // Taps computed in Python with math.sin and numpy.i0.
    HighQualityFilter filter;
    ASSERT_TRUE(designHighQualityFilter(48000, 44100, filter));
    ASSERT_EQ(filter.stages.size(), 1u);
    const HighQualityStage& stage = filter.stages[0];
    EXPECT_EQ(stage.halfWidth, 15831);
    EXPECT_NEAR(stage.beta, 15.57126, 1e-12);
    const std::vector<double> prototype = highQualityPrototype(stage);
    const struct {
        int t;
        double value;
    } independent[] = {
        {0, 0.95},
        {1, 0.9499448815780736},
        {80, 0.6345352368399687},
        {159, 0.055957505057994024},
        {160, 0.04975634361283383},
        {161, 0.04361511996276},
        {1000, -0.009641450547374553},
        {5000, -0.003920221453863589},
        {15331, -5.018570340458802e-09},
        {15831, -5.888148618369222e-11},
    };
    for (const auto& tap : independent) {
        const double ours = prototype[static_cast<std::size_t>(tap.t)];
        EXPECT_NEAR(ours, tap.value, std::fabs(tap.value) * 1e-12) << "t = " << tap.t;
        // The bank holds each tap rounded once to single precision, in its row:
        // distance t = (a - i) L + row.
        const int row = tap.t % 160;
        const int i = stage.tapsBefore - tap.t / 160;
        EXPECT_EQ(stage.bank[static_cast<std::size_t>(row) * static_cast<std::size_t>(stage.taps) + static_cast<std::size_t>(i)],
                  static_cast<float>(ours));
        // and its mirror image at -t.
        const int mirrorRow = (160 - tap.t % 160) % 160;
        const int mirrorI = stage.tapsBefore + (tap.t + mirrorRow) / 160;
        EXPECT_EQ(stage.bank[static_cast<std::size_t>(mirrorRow) * static_cast<std::size_t>(stage.taps) +
                             static_cast<std::size_t>(mirrorI)],
                  static_cast<float>(ours));
    }
    // Half-band stages: every even distance but 0 is exactly zero.
    HighQualityFilter down;
    ASSERT_TRUE(designHighQualityFilter(8000, 44100, down));
    for (std::size_t s = 0; s + 1 < down.stages.size(); ++s) {
        const HighQualityStage& half = down.stages[s];
        ASSERT_EQ(half.upFactor, 1);
        for (int i = 0; i < half.taps; ++i) {
            const int distance = std::abs(half.tapsBefore - i);
            if (distance != 0 && distance % 2 == 0) {
                EXPECT_EQ(half.bank[static_cast<std::size_t>(i)], 0.0f);
            }
            if (distance % 2 == 1) {
                EXPECT_NE(half.bank[static_cast<std::size_t>(i)], 0.0f);
            }
        }
        EXPECT_EQ(half.bank[static_cast<std::size_t>(half.tapsBefore)], 0.5f);
        // Only the centre and the odd distances are summed: from the first up
        // to the centre, then from the last back to just after it.
        std::vector<int> expected;
        for (int i = 0; i <= half.tapsBefore; ++i) {
            if (i == half.tapsBefore || (half.tapsBefore - i) % 2 == 1) expected.push_back(i);
        }
        EXPECT_EQ(half.leftTaps, static_cast<int>(expected.size()));
        for (int i = half.taps - 1; i > half.tapsBefore; --i) {
            if ((i - half.tapsBefore) % 2 == 1) expected.push_back(i);
        }
        EXPECT_EQ(half.sumOrder, expected);
    }
    // In the last stage every tap is nonzero in some row, and the centre ends the left chain.
    const HighQualityStage& last = down.stages.back();
    ASSERT_EQ(static_cast<int>(last.sumOrder.size()), last.taps);
    EXPECT_EQ(last.leftTaps, last.tapsBefore + 1);
    EXPECT_EQ(last.sumOrder[static_cast<std::size_t>(last.leftTaps) - 1], last.tapsBefore);
    EXPECT_EQ(last.sumOrder.back(), last.tapsBefore + 1);
    EXPECT_EQ(last.sumOrder[static_cast<std::size_t>(last.leftTaps)], last.taps - 1);
}

TEST(HighQualityDesign, BanksAreTheSameOnEveryCallAndEveryRowIsSymmetricToItsMirror) {
    HighQualityFilter a, b;
    ASSERT_TRUE(designHighQualityFilter(44100, 48000, a));
    ASSERT_TRUE(designHighQualityFilter(44100, 48000, b));
    ASSERT_EQ(a.stages[0].bank, b.stages[0].bank);
    // Row rho, tap i (distance (a - i) L + rho) equals row L - rho at the mirrored distance.
    const HighQualityStage& stage = a.stages[0];
    const int up = stage.upFactor, u = stage.taps;
    double rowSum0 = 0.0;
    for (int i = 0; i < u; ++i) rowSum0 += stage.bank[static_cast<std::size_t>(i)];
    EXPECT_NEAR(rowSum0, 1.0, 1e-5);  // each row passes DC with gain 1
    for (int row = 1; row < up; ++row) {
        for (int i = 0; i < u; ++i) {
            const int64_t t = static_cast<int64_t>(stage.tapsBefore - i) * up + row;
            const int64_t mirrored = -t;
            const int64_t mirrorRow = ((mirrored % up) + up) % up;
            const int64_t mirrorI = stage.tapsBefore - (mirrored - mirrorRow) / up;
            if (mirrorI < 0 || mirrorI >= u) continue;
            ASSERT_EQ(stage.bank[static_cast<std::size_t>(row * u + i)],
                      stage.bank[static_cast<std::size_t>(mirrorRow * u + mirrorI)]);
        }
    }
}

// The response of a stage's rounded prototype (read back from its bank) at f
// cycles per step of its interpolated grid, by a direct cosine sum in long double.
std::vector<long double> prototypeFromBank(const HighQualityStage& stage) {
    std::vector<long double> taps(static_cast<std::size_t>(stage.halfWidth) + 1, 0.0L);
    for (int row = 0; row < stage.upFactor; ++row) {
        for (int i = 0; i < stage.taps; ++i) {
            const int64_t t = static_cast<int64_t>(stage.tapsBefore - i) * stage.upFactor + row;
            if (t >= 0 && t <= stage.halfWidth) {
                taps[static_cast<std::size_t>(t)] = stage.bank[static_cast<std::size_t>(row * stage.taps + i)];
            }
        }
    }
    return taps;
}

long double responseAt(const std::vector<long double>& taps, int up, double f) {
    long double sum = taps[0];
    for (std::size_t t = 1; t < taps.size(); ++t) {
        // The angle reduced to one turn before the cosine, for accuracy at large t.
        const double turns = f * static_cast<double>(t);
        sum += 2.0L * taps[t] * std::cos(2.0 * M_PI * (turns - std::floor(turns)));
    }
    return sum / static_cast<long double>(up);
}

struct Band {
    double passWorst = 0;  // largest |H - 1| in the pass band
    double stopWorst = 0;  // largest |H| in the stop band
};

// Measures a stage at rate `inputRate` on a grid of frequencies (Hz).
Band measure(const HighQualityStage& stage, double inputRate, double passEdge, double stopEdge) {
    const std::vector<long double> taps = prototypeFromBank(stage);
    const double grid = inputRate * stage.upFactor;
    Band band;
    for (int k = 0; k <= 120; ++k) {
        const double f = passEdge * k / 120.0;
        band.passWorst = std::max(band.passWorst, static_cast<double>(std::fabs(responseAt(taps, stage.upFactor, f / grid) - 1.0L)));
    }
    // Densely just past the stop edge (the highest side lobes), then across the band.
    const double width = stopEdge - passEdge;
    for (int k = 0; k <= 160; ++k) {
        const double f = stopEdge + width * 2.0 * k / 160.0;
        if (f > grid / 2) break;
        band.stopWorst = std::max(band.stopWorst, static_cast<double>(std::fabs(responseAt(taps, stage.upFactor, f / grid))));
    }
    for (int k = 0; k <= 150; ++k) {
        const double f = stopEdge + (grid / 2 - stopEdge) * k / 150.0;
        band.stopWorst = std::max(band.stopWorst, static_cast<double>(std::fabs(responseAt(taps, stage.upFactor, f / grid))));
    }
    return band;
}

TEST(HighQualityDesign, EveryStageIsFlatInItsPassBandAndDeepInItsStopBand) {
    // Flat to 0.45 and 150 dB down from 0.5 of the lower rate in the last stage;
    // each halving stage flat to the output's Nyquist frequency and down where an
    // alias would fold onto it.
    const std::pair<int, int> pairs[] = {{48000, 44100}, {16000, 44100}, {8000, 44100}, {44100, 48000},
                                         {16000, 8000},  {11025, 8000},  {8000, 48000}, {22050, 44100},
                                         {7, 11}};
    for (const auto& [to, from] : pairs) {
        HighQualityFilter filter;
        ASSERT_TRUE(designHighQualityFilter(to, from, filter));
        const double lower = std::min(to, from);
        double rate = from;
        for (std::size_t s = 0; s < filter.stages.size(); ++s) {
            const HighQualityStage& stage = filter.stages[s];
            const bool last = s + 1 == filter.stages.size();
            const double passEdge = last ? 0.45 * lower : 0.5 * to;
            const double stopEdge = last ? 0.5 * lower : rate / 2 - 0.5 * to;
            const Band band = measure(stage, rate, passEdge, stopEdge);
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to) + ", stage " + std::to_string(s));
            // Kaiser's formulas promise 150 dB; their windows come within 6 dB of it.
            EXPECT_LT(band.passWorst, 6.4e-8);  // twice 10^(-150 / 20): -144 dB
            EXPECT_LT(band.stopWorst, 6.4e-8);
            rate = rate * stage.upFactor / stage.downFactor;
        }
    }
}

}  // namespace
