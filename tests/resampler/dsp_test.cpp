// Ratio reduction, filter design, the polyphase bank and the kernel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "resampler/dsp/lowpass_design.h"
#include "resampler/dsp/polyphase.h"

using namespace plinth;

namespace {

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::pair<int, int> reduced(int up, int down) {
    reduceRatio(up, down);
    return {up, down};
}

TEST(ReduceRatio, RemovesCommonFactorsBelowHalfTheSmallerValue) {
    EXPECT_EQ(reduced(8000, 44100), std::make_pair(80, 441));
    EXPECT_EQ(reduced(44100, 8000), std::make_pair(441, 80));
    EXPECT_EQ(reduced(22050, 44100), std::make_pair(1, 2));
    EXPECT_EQ(reduced(48000, 44100), std::make_pair(160, 147));
    EXPECT_EQ(reduced(16000, 8000), std::make_pair(2, 1));
    EXPECT_EQ(reduced(44100, 44100), std::make_pair(1, 1));
    EXPECT_EQ(reduced(4, 8), std::make_pair(1, 2));
    EXPECT_EQ(reduced(6, 12), std::make_pair(1, 2));
}

TEST(ReduceRatio, LeavesPairsWhoseSmallerValueIsAPrimeDividingTheOther) {
    EXPECT_EQ(reduced(2, 4), std::make_pair(2, 4));
    EXPECT_EQ(reduced(3, 9), std::make_pair(3, 9));
    EXPECT_EQ(reduced(14, 7), std::make_pair(14, 7));
    EXPECT_EQ(reduced(1, 5), std::make_pair(1, 5));
    EXPECT_EQ(reduced(0, 5), std::make_pair(0, 5));
    EXPECT_EQ(reduced(7, 0), std::make_pair(7, 0));
}

// The reduction as literal trial division, for comparison.
std::pair<int, int> reducedByTrialDivision(int up, int down) {
    if (up == 0 || down == 0) return {up, down};
    if (up == down) return {1, 1};
    const int smaller = up < down ? up : down;
    const int limit = smaller / 2 + 1;
    for (int divisor = 2; divisor < limit; ++divisor) {
        while (up % divisor == 0 && down % divisor == 0) {
            up /= divisor;
            down /= divisor;
        }
    }
    return {up, down};
}

TEST(ReduceRatio, AgreesWithTrialDivisionAndTakesNoTimeForHugeRates) {
    std::mt19937 random(3);
    for (int round = 0; round < 20000; ++round) {
        const int scale = 1 + static_cast<int>(random() % 4000);
        const int up = scale * (1 + static_cast<int>(random() % 97)) * (round % 3 == 0 ? 1 : 11);
        const int down = scale * (1 + static_cast<int>(random() % 89));
        ASSERT_EQ(reduced(up, down), reducedByTrialDivision(up, down)) << up << ":" << down;
    }
    for (int prime : {2, 3, 7, 1009, 8191, 65537}) {
        EXPECT_EQ(reduced(prime, prime * 10), reducedByTrialDivision(prime, prime * 10));
        EXPECT_EQ(reduced(prime * 6, prime), reducedByTrialDivision(prime * 6, prime));
    }
    EXPECT_EQ(reduced(-4, 8), std::make_pair(-4, 8));
    // Trial division up to a billion would take seconds; these answer at once.
    EXPECT_EQ(reduced(2000000000, 1999999998), std::make_pair(1000000000, 999999999));
    EXPECT_EQ(reduced(2147483578, 1073741789), std::make_pair(2147483578, 1073741789));  // a prime and its double
}

TEST(FilterLength, IsFifteenTimesTheLargerTermUnlessTheCutoffRoundsUp) {
    const std::pair<int, int> expected[] = {{1, 15},     {2, 30},     {3, 44},     {4, 60},
                                            {5, 74},     {25, 375},   {160, 2399}, {441, 6614},
                                            {546, 8189}, {547, 8192}, {8192, 8192}};
    for (const auto& [larger, taps] : expected) {
        EXPECT_EQ(halfFilterLength(lowpassCutoff(1, larger)), taps) << "max " << larger;
        EXPECT_EQ(halfFilterLength(lowpassCutoff(larger, 1)), taps) << "max " << larger;
    }
    EXPECT_FLOAT_EQ(lowpassCutoff(80, 441), 0.0011337869f);
}

TEST(BesselI0, MatchesKnownSinglePrecisionValues) {
    EXPECT_EQ(besselI0(0.0f), 1.0f);
    EXPECT_EQ(bitsOf(besselI0(1.0f)), 0x3FA20E73u);
    EXPECT_EQ(bitsOf(besselI0(5.0f)), 0x41D9EB43u);
    EXPECT_EQ(bitsOf(besselI0(10.0f)), 0x452FFB75u);
    for (float x = 0.0f; x <= 10.0f; x += 0.25f) {
        EXPECT_NEAR(besselI0(x), std::cyl_bessel_i(0.0, static_cast<double>(x)),
                    1e-6 * std::cyl_bessel_i(0.0, static_cast<double>(x)));
    }
}

TEST(DesignLowpass, HalfBandTapsMatchTheirWorkedValues) {
    std::vector<float> h(30);
    ASSERT_EQ(designLowpass(h.data(), 0.25f, 30, 1.0f), 1);
    EXPECT_EQ(h[0], 0.5f);
    EXPECT_NEAR(h[1], 0.3165193, 5e-8);
    EXPECT_NEAR(h[3], -0.1008392, 5e-8);
    EXPECT_NEAR(h[5], 0.0552347, 5e-8);
    EXPECT_NEAR(h[29], 3.898193e-06, 5e-13);
    for (std::size_t i = 2; i < 30; i += 2) {
        EXPECT_LT(std::fabs(h[i]), 1e-6) << i;  // the rounded phase keeps them off exact zero
    }
}

TEST(DesignLowpass, FollowsTheKaiserWindowedSinc) {
    const double i0Of10 = std::cyl_bessel_i(0.0, 10.0);
    const struct {
        int up, down;
    } pairs[] = {{2, 1}, {1, 2}, {160, 147}, {80, 441}, {3, 4}};
    for (const auto& pair : pairs) {
        const float cutoff = lowpassCutoff(pair.up, pair.down);
        const int m = halfFilterLength(cutoff);
        const double gain = pair.up;
        std::vector<float> h(static_cast<std::size_t>(m));
        ASSERT_EQ(designLowpass(h.data(), cutoff, m, static_cast<float>(gain)), 1);
        double sum = h[0];
        for (int i = 1; i < m; ++i) {
            const double r = static_cast<double>(i) / (m - 1);
            const double ideal = gain * std::sin(2 * M_PI * cutoff * i) / (M_PI * i);
            const double window = std::cyl_bessel_i(0.0, 10.0 * std::sqrt(1.0 - r * r)) / i0Of10;
            EXPECT_NEAR(h[static_cast<std::size_t>(i)], ideal * window, 2e-6 * gain * 2 * cutoff)
                << pair.up << ":" << pair.down << " tap " << i;
            sum += 2.0 * h[static_cast<std::size_t>(i)];
        }
        EXPECT_NEAR(sum, gain, 1e-3 * gain) << pair.up << ":" << pair.down;
    }
}

TEST(DesignLowpass, FullFilterOf160To147SumsToItsGain) {
    std::vector<float> h(2399);
    designLowpass(h.data(), lowpassCutoff(160, 147), 2399, 160.0f);
    double sum = h[0];
    for (int i = 1; i < 2399; ++i) sum += 2.0 * h[static_cast<std::size_t>(i)];
    EXPECT_NEAR(sum, 160.0004, 1e-4);
}

TEST(DesignLowpass, RefusesBadRequestsWithoutWriting) {
    const float sentinel = 42.0f;
    const struct {
        float cutoff;
        int m;
    } refused[] = {{0.25f, 0}, {0.25f, -3}, {0.0f, 10}, {-0.1f, 10}, {0.50001f, 10}, {NAN, 10}};
    for (const auto& request : refused) {
        std::vector<float> h(10, sentinel);
        EXPECT_EQ(designLowpass(h.data(), request.cutoff, request.m, 1.0f), 0);
        for (float tap : h) EXPECT_EQ(tap, sentinel);
    }
    std::vector<float> h(3, sentinel);
    EXPECT_EQ(designLowpass(h.data(), 0.5f, 1, 3.0f), 1);
    EXPECT_EQ(h[0], 3.0f);
    EXPECT_EQ(h[1], sentinel);
}

// Entry j of row p stands for the full filter at m - L + p - j x L.
float fullFilterTap(const std::vector<float>& h, int n) {
    const int index = n < 0 ? -n : n;
    return index < static_cast<int>(h.size()) ? h[static_cast<std::size_t>(index)] : 0.0f;
}

std::vector<float> distinctTaps(int m) {
    std::vector<float> h(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) h[static_cast<std::size_t>(i)] = static_cast<float>(i + 1);
    return h;
}

TEST(PolyphaseBank, RowsWalkTheFilterInStepsOfL) {
    for (int m : {1, 2, 8, 15, 30, 44, 101}) {
        for (int up = 1; up <= 2 * m - 1 && up <= 40; ++up) {
            const std::vector<float> h = distinctTaps(m);
            const int u = polyphaseLength(m, up);
            EXPECT_EQ(u, (2 * m - 1 + up - 1) / up);
            std::vector<float> bank(static_cast<std::size_t>(u * up), -1.0f);
            ASSERT_EQ(buildPolyphaseBank(h.data(), bank.data(), m, up), 1);
            for (int p = 0; p < up; ++p) {
                for (int j = 0; j < u; ++j) {
                    ASSERT_EQ(bank[static_cast<std::size_t>(p * u + j)], fullFilterTap(h, m - up + p - j * up))
                        << "m " << m << " L " << up << " row " << p << " entry " << j;
                }
            }
        }
    }
}

TEST(PolyphaseBank, WorkedLayouts) {
    const std::vector<float> h = distinctTaps(8);  // h[i] = i + 1
    std::vector<float> bank(15);
    ASSERT_EQ(buildPolyphaseBank(h.data(), bank.data(), 8, 5), 1);
    const std::vector<float> expected = {4, 3, 8, 5, 2, 7, 6, 1, 6, 7, 2, 5, 8, 3, 4};
    EXPECT_EQ(bank, expected);

    const std::vector<float> h30 = distinctTaps(30);
    std::vector<float> bank30(60);
    ASSERT_EQ(buildPolyphaseBank(h30.data(), bank30.data(), 30, 2), 1);
    EXPECT_EQ(bank30[0], 29.0f);   // h[28]
    EXPECT_EQ(bank30[14], 1.0f);   // h[0], the centre
    EXPECT_EQ(bank30[28], 29.0f);  // h[28] again
    EXPECT_EQ(bank30[29], 0.0f);   // the pad
    EXPECT_EQ(bank30[30], 30.0f);  // h[29]
    EXPECT_EQ(bank30[44], 2.0f);   // h[1]
    EXPECT_EQ(bank30[45], 2.0f);
    EXPECT_EQ(bank30[59], 30.0f);
}

TEST(PolyphaseBank, RefusesEmptyFiltersAndRatios) {
    const std::vector<float> h = distinctTaps(4);
    std::vector<float> bank(8, -1.0f);
    EXPECT_EQ(buildPolyphaseBank(h.data(), bank.data(), 0, 1), 0);
    EXPECT_EQ(buildPolyphaseBank(h.data(), bank.data(), 4, 0), 0);
    for (float entry : bank) EXPECT_EQ(entry, -1.0f);
}

TEST(PolyphaseLength, EqualsTheExactCeilingUpToTheTapLimit) {
    for (int m = 1; m <= 8192; m += 7) {
        for (int up : {1, 2, 3, 80, 147, 160, 441, 1280, 8192}) {
            ASSERT_EQ(polyphaseLength(m, up), (2 * m - 1 + up - 1) / up) << m << " " << up;
        }
    }
}

// Worked by hand. 33554440 / 3 = 11184813.33...: in single precision (spacing
// 1 at that size) the quotient rounds to 11184813, whose ceiling is itself; a
// quotient taken in double would give 11184814.
TEST(RatioSizes, CeilTheSinglePrecisionQuotient) {
    const struct {
        float numerator, denominator;
        int expected;
    } cases[] = {
        {59.0f, 2.0f, 30},                // u for 16000 from 8000: (2 x 30 - 1) / 2
        {6534.0f, 80.0f, 82},             // the lead-in for 8000 from 44100: (6614 - 80) / 80
        {1.0f, 3.0f, 1},
        {6.0f, 3.0f, 2},                  // a whole quotient is its own ceiling
        {0.0f, 7.0f, 0},
        {-5.0f, 2.0f, -2},                // toward plus infinity
        {33554440.0f, 3.0f, 11184813},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ceilOfFloatQuotient(c.numerator, c.denominator), c.expected) << c.numerator << " / " << c.denominator;
    }
}

TEST(PolyphaseKernel, ClampsAndTruncatesTowardZero) {
    const float unit = 1.0f;
    const float input[] = {40000.0f, -40000.0f, 12.9f, -12.9f, 32767.5f, -32767.9f, 0.0f};
    int16_t output[6] = {};
    int phase = 0;
    ASSERT_EQ(polyphaseFilterBlock(input, output, 7, &phase, &unit, 1, 1, 1), 6);
    const int16_t expected[] = {32767, -32767, 12, -12, 32767, -32767};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(output[i], expected[i]) << i;
}

TEST(PolyphaseKernel, ShortBlocksWriteNothingAndKeepThePhase) {
    const std::vector<float> bank(4 * 3, 1.0f);
    const std::vector<float> input(4, 1.0f);
    int16_t output[4];
    for (int pending : {0, 2, 5, 9}) {
        int phase = pending;
        EXPECT_EQ(polyphaseFilterBlock(input.data(), output, 4, &phase, bank.data(), 4, 3, 2), 0);
        EXPECT_EQ(phase, pending);
    }
}

TEST(PolyphaseKernel, WritesTheClosedFormCountAndLeavesTheClosedFormPhase) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 500; ++trial) {
        const int up = 1 + static_cast<int>(random() % 12);
        const int down = 1 + static_cast<int>(random() % 12);
        const int u = 1 + static_cast<int>(random() % 6);
        const int count = u + 1 + static_cast<int>(random() % 40);
        const int p0 = static_cast<int>(random() % static_cast<unsigned>(up));
        const std::vector<float> bank(static_cast<std::size_t>(up * u), 0.5f);
        const std::vector<float> input(static_cast<std::size_t>(count), 2.0f);
        std::vector<int16_t> output(static_cast<std::size_t>(count * up + 1));
        int phase = p0;
        const int written = polyphaseFilterBlock(input.data(), output.data(), count, &phase, bank.data(), u, up, down);
        const int span = (count - u) * up;
        const int expected = span > p0 ? (span - p0 + down - 1) / down : 0;
        ASSERT_EQ(written, expected) << up << ":" << down << " u " << u << " count " << count << " p0 " << p0;
        EXPECT_EQ(phase, p0 + expected * down - span);
        for (int i = 0; i < written; ++i) EXPECT_EQ(output[static_cast<std::size_t>(i)], u);
    }
}

TEST(PolyphaseKernel, HalvingCarriesAPendingAdvanceIntoTheNextBlock) {
    const float unit = 1.0f;
    const float first[] = {10.0f, 11.0f};
    int16_t output[2];
    int phase = 0;
    ASSERT_EQ(polyphaseFilterBlock(first, output, 2, &phase, &unit, 1, 1, 2), 1);
    EXPECT_EQ(output[0], 10);
    EXPECT_EQ(phase, 1);
    const float next[] = {11.0f, 12.0f, 13.0f};  // the overlap, then new samples
    ASSERT_EQ(polyphaseFilterBlock(next, output, 3, &phase, &unit, 1, 1, 2), 1);
    EXPECT_EQ(output[0], 12);
}

// Splitting a stream into blocks of any size above u, with a u-sample overlap,
// gives the same samples and the same final phase as one block.
TEST(PolyphaseKernel, BlockSeamsAreInvisible) {
    std::mt19937 random(11);
    const std::pair<int, int> ratios[] = {{2, 1}, {1, 2}, {160, 147}, {147, 160}, {80, 441}, {3, 2}};
    for (const auto& [up, down] : ratios) {
        const float cutoff = lowpassCutoff(up, down);
        const int m = halfFilterLength(cutoff);
        const int u = polyphaseLength(m, up);
        std::vector<float> h(static_cast<std::size_t>(m));
        designLowpass(h.data(), cutoff, m, static_cast<float>(up));
        std::vector<float> bank(static_cast<std::size_t>(u * up));
        buildPolyphaseBank(h.data(), bank.data(), m, up);

        std::vector<float> signal(6000);
        for (float& x : signal) x = static_cast<float>(static_cast<int>(random() % 20001) - 10000);
        std::vector<int16_t> whole(signal.size() * static_cast<std::size_t>(up) / static_cast<std::size_t>(down) + 2);
        int wholePhase = 3 % up;
        whole.resize(static_cast<std::size_t>(polyphaseFilterBlock(signal.data(), whole.data(),
                                                                   static_cast<int>(signal.size()), &wholePhase,
                                                                   bank.data(), u, up, down)));

        std::vector<int16_t> pieces;
        int phase = 3 % up;
        std::size_t start = 0;  // the block starts with the overlap at signal[start]
        while (start + static_cast<std::size_t>(u) < signal.size()) {
            std::size_t length = static_cast<std::size_t>(u) + 1 + random() % 700;
            if (start + length > signal.size()) length = signal.size() - start;
            std::vector<int16_t> out(length * static_cast<std::size_t>(up) / static_cast<std::size_t>(down) + 2);
            const int written = polyphaseFilterBlock(signal.data() + start, out.data(), static_cast<int>(length),
                                                     &phase, bank.data(), u, up, down);
            pieces.insert(pieces.end(), out.begin(), out.begin() + written);
            start += length - static_cast<std::size_t>(u);
        }
        EXPECT_EQ(pieces, whole) << up << ":" << down;
        EXPECT_EQ(phase, wholePhase) << up << ":" << down;
    }
}

}  // namespace
