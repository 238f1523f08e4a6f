// The high-quality resampler as a stream: its length, its timing (no delay),
// its sound on analytic tones, independence from block sizes and from the
// other channels, its 16-bit input and output rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "resampler/high_quality_resampler.h"
#include "tests/support/kernel_targets.h"

using namespace plinth;

namespace {

FloatSampleSink collect(std::vector<float>& out) {
    return FloatSampleSink{[](void* context, const float* samples, std::size_t count) {
                               auto& to = *static_cast<std::vector<float>*>(context);
                               to.insert(to.end(), samples, samples + count);
                               return true;
                           },
                           &out};
}

// Converts interleaved frames fed in blocks of the given lengths (cycled).
template <typename Sample>
std::vector<float> convert(int to, int from, const std::vector<Sample>& items, int channels = 1,
                           const std::vector<std::size_t>& blocks = {65536}) {
    HighQualityResampler resampler;
    EXPECT_EQ(startHighQualityResampler(resampler, to, from, channels), StreamError::none);
    std::vector<float> out;
    const FloatSampleSink sink = collect(out);
    const std::size_t frames = items.size() / static_cast<std::size_t>(channels);
    std::size_t at = 0;
    for (std::size_t call = 0; at < frames; ++call) {
        const std::size_t n = std::min(blocks[call % blocks.size()], frames - at);
        EXPECT_EQ(feedHighQualityResampler(resampler, items.data() + at * static_cast<std::size_t>(channels), n, sink),
                  StreamError::none);
        at += n;
    }
    EXPECT_EQ(finishHighQualityResampler(resampler, sink), StreamError::none);
    return out;
}

std::vector<float> noise(std::size_t n, uint32_t seed, float amplitude = 0.9f) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-amplitude, amplitude);
    std::vector<float> signal(n);
    for (float& x : signal) x = value(random);
    return signal;
}

std::vector<float> tone(std::size_t n, double frequency, double rate, double amplitude = 0.5) {
    std::vector<float> signal(n);
    for (std::size_t i = 0; i < n; ++i) {
        signal[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequency * static_cast<double>(i) / rate));
    }
    return signal;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

const std::pair<int, int> kPairs[] = {{48000, 44100}, {16000, 44100}, {8000, 44100}, {44100, 48000}, {16000, 8000},
                                      {8000, 96000},  {96000, 8000},  {11025, 8000}, {22050, 44100}, {44100, 44100},
                                      {8191, 8192},   {3, 8192}};

TEST(HighQualityStream, HoldsCeilOfNTimesLOverMFramesForAnyLength) {
    for (const auto& [to, from] : kPairs) {
        for (const std::size_t n : {0u, 1u, 2u, 3u, 17u, 1000u, 4097u, 70001u}) {
            const std::vector<float> out = convert(to, from, noise(n, static_cast<uint32_t>(n)));
            // ceil(n x to / from), worked out in whole numbers.
            const uint64_t product = static_cast<uint64_t>(n) * static_cast<uint64_t>(to);
            const uint64_t expected = product / static_cast<uint64_t>(from) + (product % static_cast<uint64_t>(from) != 0);
            EXPECT_EQ(out.size(), expected) << from << " -> " << to << ", " << n << " frames";
        }
    }
}

TEST(HighQualityStream, AnImpulseComesOutCentredOnItsOwnInstant) {
    // An impulse at frame n0 gives y[k] = h(k M - n0 L): the prototype, centred at
    // the output instant of n0, where it peaks at L x 0.95 / max(L, M), 0.95 for
    // upsampling. No delay: the same tap values either side.
    for (const auto& [to, from, n0] : {std::tuple{48000, 44100, 441}, {16000, 8000, 500}, {44100, 48000, 480}}) {
        std::vector<float> x(2000, 0.0f);
        x[static_cast<std::size_t>(n0)] = 1.0f;
        const std::vector<float> y = convert(to, from, x);
        const std::size_t centre = static_cast<std::size_t>(static_cast<int64_t>(n0) * to / from);
        ASSERT_EQ(static_cast<int64_t>(centre) * from, static_cast<int64_t>(n0) * to);  // an output falls on it
        std::size_t peak = 0;
        for (std::size_t k = 1; k < y.size(); ++k) {
            if (std::fabs(y[k]) > std::fabs(y[peak])) peak = k;
        }
        EXPECT_EQ(peak, centre) << from << " -> " << to;
        EXPECT_FLOAT_EQ(y[centre], static_cast<float>(to < from ? 0.95 * to / from : 0.95)) << from << " -> " << to;
        for (std::size_t d = 1; d < 40; ++d) EXPECT_EQ(y[centre - d], y[centre + d]) << d;
    }
    // Through halving stages too: symmetric about the instant (to rounding, as
    // the mirrored sums add in another order), peaking there at 2 x 3800 / 44100.
    std::vector<float> x(20000, 0.0f);
    x[8820] = 1.0f;  // at 0.2 s: output 1600 at 8000 Hz
    const std::vector<float> y = convert(8000, 44100, x);
    for (std::size_t d = 1; d < 60; ++d) EXPECT_NEAR(y[1600 - d], y[1600 + d], 1e-7) << d;
    EXPECT_NEAR(y[1600], 2.0 * 3800 / 44100, 1e-3);
}

TEST(HighQualityStream, TonesComeOutAsTheIdealResampledToneWithNoDelay) {
    // The output of sin(2 pi f n / Fin) is sin(2 pi f k / Fout), in phase, for
    // tones in the pass band; above the lower rate's half, nothing but what the
    // stop band lets through.
    for (const auto& [to, from] : {std::pair{48000, 44100}, {16000, 44100}, {8000, 44100}, {44100, 48000}, {16000, 8000}}) {
        const double lower = std::min(to, from);
        const std::size_t n = static_cast<std::size_t>(from);  // one second
        for (const double fraction : {0.01, 0.2, 0.45}) {
            const double f = fraction * lower;
            const std::vector<float> y = convert(to, from, tone(n, f, from));
            double error = 0, power = 0;
            for (std::size_t k = y.size() / 4; k < 3 * y.size() / 4; ++k) {
                const double ideal = 0.5 * std::sin(2.0 * M_PI * f * static_cast<double>(k) / to);
                error += (y[k] - ideal) * (y[k] - ideal);
                power += ideal * ideal;
            }
            EXPECT_GT(10 * std::log10(power / error), 110.0) << from << " -> " << to << " at " << f << " Hz";
        }
        if (to < from) {
            // A tone between the output's Nyquist frequency and the input's aliases below -110 dBFS.
            const double f = (0.5 * to + 0.5 * from) / 2;
            const std::vector<float> y = convert(to, from, tone(n, f, from, 1.0));
            double power = 0;
            for (std::size_t k = y.size() / 4; k < 3 * y.size() / 4; ++k) power += y[k] * y[k];
            const double rms = std::sqrt(power / static_cast<double>(y.size() / 2));
            EXPECT_LT(20 * std::log10(rms * std::sqrt(2.0)), -110.0) << from << " -> " << to;
        }
    }
}

TEST(HighQualityStream, TheSameBitsWhateverTheBlockSizes) {
    for (const auto& [to, from] : kPairs) {
        const std::vector<float> x = noise(static_cast<std::size_t>(from) / 2 + 12345, 7);
        const std::vector<float> whole = convert(to, from, x, 1, {1u << 30});
        std::mt19937 random(static_cast<uint32_t>(to + from));
        std::vector<std::size_t> blocks;
        for (int i = 0; i < 40; ++i) blocks.push_back(1 + random() % (i % 3 == 0 ? 5 : 40000));
        EXPECT_TRUE(sameBits(convert(to, from, x, 1, blocks), whole)) << from << " -> " << to;
        EXPECT_TRUE(sameBits(convert(to, from, x, 1, {1}), whole) || x.size() > 30000) << from << " -> " << to;
    }
    // Single frames, on a shorter signal.
    const std::vector<float> x = noise(9000, 3);
    EXPECT_TRUE(sameBits(convert(8000, 44100, x, 1, {1}), convert(8000, 44100, x)));
    EXPECT_TRUE(sameBits(convert(44100, 8000, x, 1, {1}), convert(44100, 8000, x)));
}

TEST(HighQualityStream, EveryChannelIsWhatItGivesAlone) {
    for (const auto& [to, from] : {std::pair{48000, 44100}, {8000, 44100}, {16000, 8000}, {44100, 44100}}) {
        for (const int channels : {2, 3, 8}) {
            const std::size_t frames = 30011;
            std::vector<std::vector<float>> alone(static_cast<std::size_t>(channels));
            std::vector<float> interleaved(frames * static_cast<std::size_t>(channels));
            for (int c = 0; c < channels; ++c) {
                alone[static_cast<std::size_t>(c)] = noise(frames, static_cast<uint32_t>(100 + c), 0.2f * static_cast<float>(c + 1));
                for (std::size_t k = 0; k < frames; ++k) {
                    interleaved[k * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = alone[static_cast<std::size_t>(c)][k];
                }
            }
            const std::vector<float> together = convert(to, from, interleaved, channels, {4096, 777});
            for (int c = 0; c < channels; ++c) {
                const std::vector<float> single = convert(to, from, alone[static_cast<std::size_t>(c)]);
                std::vector<float> picked(together.size() / static_cast<std::size_t>(channels));
                for (std::size_t k = 0; k < picked.size(); ++k) {
                    picked[k] = together[k * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
                }
                EXPECT_TRUE(sameBits(picked, single)) << from << " -> " << to << ", channel " << c << " of " << channels;
            }
        }
    }
}

TEST(HighQualityStream, ManyChannelsRunInShortRoundsAndEachIsStillWhatItGivesAlone) {
    // Enough channels that the rounds shrink and no stage waits for whole
    // groups; rates whose lead-in spans many rounds (a long chain of halvings)
    // and whose outputs come out some at a time (a far upsampling).
    const int channels = 1500;
    const std::size_t width = static_cast<std::size_t>(channels);
    for (const auto& [to, from] : {std::pair{96000, 44100}, {8000, 384000}, {384000, 8000}, {8000, 44100}}) {
        HighQualityResampler probe;
        ASSERT_EQ(startHighQualityResampler(probe, to, from, channels), StreamError::none);
        ASSERT_FALSE(probe.wholeGroups) << from << " -> " << to;
        // Three rounds; the far upsampling's outputs of a few frames already fill many chunks.
        const std::size_t frames = to == 384000 ? 101 : 2 * static_cast<std::size_t>(probe.framesPerRound) + 17;
        const std::vector<float> interleaved = noise(frames * width, static_cast<uint32_t>(to + from));
        const std::vector<float> together = convert(to, from, interleaved, channels, {333, 1, 64});
        ASSERT_EQ(together.size(), width * resampledLength(frames, to, from)) << from << " -> " << to;
        for (const int c : {0, 1, 700, channels - 1}) {
            std::vector<float> alone(frames);
            for (std::size_t k = 0; k < frames; ++k) alone[k] = interleaved[k * width + static_cast<std::size_t>(c)];
            const std::vector<float> single = convert(to, from, alone);
            std::vector<float> picked(together.size() / width);
            for (std::size_t k = 0; k < picked.size(); ++k) picked[k] = together[k * width + static_cast<std::size_t>(c)];
            EXPECT_TRUE(sameBits(picked, single)) << from << " -> " << to << ", channel " << c;
        }
    }
}

// The same frames converted with a channel choice.
template <typename Sample>
std::vector<float> convertChosen(int to, int from, const std::vector<Sample>& items, int channels, ChannelChoice choice) {
    HighQualityResampler resampler;
    EXPECT_EQ(startHighQualityResampler(resampler, to, from, channels, choice), StreamError::none);
    std::vector<float> out;
    const FloatSampleSink sink = collect(out);
    const std::size_t frames = items.size() / static_cast<std::size_t>(channels);
    for (std::size_t at = 0; at < frames; at += 5000) {
        feedHighQualityResampler(resampler, items.data() + at * static_cast<std::size_t>(channels),
                                 std::min<std::size_t>(5000, frames - at), sink);
    }
    finishHighQualityResampler(resampler, sink);
    return out;
}

TEST(HighQualityStream, OneChannelOrTheMixIsThatSignalConvertedAlone) {
    const std::size_t frames = 20011;
    for (const int channels : {2, 3, 5}) {
        const std::vector<float> items = noise(frames * static_cast<std::size_t>(channels), 40 + static_cast<uint32_t>(channels));
        // The mix: the samples summed in channel order in single precision, then divided by their count.
        std::vector<float> mix(frames);
        for (std::size_t k = 0; k < frames; ++k) {
            float sum = items[k * static_cast<std::size_t>(channels)];
            for (int c = 1; c < channels; ++c) sum = sum + items[k * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
            mix[k] = sum / static_cast<float>(channels);
        }
        for (const auto& [to, from] : {std::pair{44100, 48000}, {8000, 44100}, {32000, 32000}}) {
            ChannelChoice choice;
            choice.mix = true;
            EXPECT_TRUE(sameBits(convertChosen(to, from, items, channels, choice), convert(to, from, mix)))
                << channels << " mixed, " << from << " -> " << to;
            choice = ChannelChoice{};
            choice.channel = channels - 1;
            std::vector<float> last(frames);
            for (std::size_t k = 0; k < frames; ++k) last[k] = items[(k + 1) * static_cast<std::size_t>(channels) - 1];
            EXPECT_TRUE(sameBits(convertChosen(to, from, items, channels, choice), convert(to, from, last)))
                << "channel " << channels << ", " << from << " -> " << to;
        }
    }
    // Of 16-bit stereo the mix is the exact mean, (a + b) / 65536: no floor, no rounding.
    std::vector<int16_t> stereo = {-32768, -32768, 32767, 32767, 1, 0, -1, 0, 3, -4, 32767, -32768};
    std::vector<float> means;
    for (std::size_t k = 0; k < stereo.size(); k += 2) {
        means.push_back(static_cast<float>(std::ldexp(stereo[k] + stereo[k + 1], -16)));
    }
    ChannelChoice mixed;
    mixed.mix = true;
    EXPECT_TRUE(sameBits(convertChosen(16000, 16000, stereo, 2, mixed), means));
    stereo.resize(20000 * 2, 0);
    for (std::size_t i = 12; i < stereo.size(); ++i) stereo[i] = static_cast<int16_t>((i * 7919) % 65536 - 32768);
    std::vector<float> stereoMeans(20000);
    for (std::size_t k = 0; k < 20000; ++k) {
        stereoMeans[k] = static_cast<float>(std::ldexp(stereo[2 * k] + stereo[2 * k + 1], -16));
    }
    EXPECT_TRUE(sameBits(convertChosen(48000, 44100, stereo, 2, mixed), convert(48000, 44100, stereoMeans)));
}

TEST(HighQualityStream, SixteenBitSamplesEnterAsTheirValueOver32768) {
    std::mt19937 random(5);
    std::vector<int16_t> items(40000);
    for (int16_t& item : items) item = static_cast<int16_t>(static_cast<int>(random() % 65536) - 32768);
    items[10] = -32768;
    items[11] = 32767;
    std::vector<float> floats(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) floats[i] = static_cast<float>(std::ldexp(static_cast<double>(items[i]), -15));
    for (const auto& [to, from] : {std::pair{16000, 44100}, {44100, 44100}}) {
        EXPECT_TRUE(sameBits(convert(to, from, items, 2, {999}), convert(to, from, floats, 2))) << from << " -> " << to;
    }
    EXPECT_EQ(convert(22050, 22050, items, 2)[10], -1.0f);
}

TEST(HighQualityStream, NonFiniteAndHugeSamplesAreTakenAsZeroOrTheLargestMagnitude) {
    std::vector<float> wild = noise(30000, 4);
    std::vector<float> tame = wild;
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        std::size_t at;
        float value, taken;
    } cases[] = {{100, std::numeric_limits<float>::quiet_NaN(), 0.0f},
                 {5000, inf, 65536.0f},
                 {5001, -inf, -65536.0f},
                 {12000, 3e38f, 65536.0f},
                 {12001, -1e20f, -65536.0f},
                 {20000, 65536.0f, 65536.0f},
                 {20001, -60000.0f, -60000.0f}};
    for (const auto& c : cases) {
        wild[c.at] = c.value;
        tame[c.at] = c.taken;
    }
    for (const auto& [to, from] : {std::pair{48000, 44100}, {8000, 44100}, {16000, 8000}, {44100, 44100}}) {
        const std::vector<float> out = convert(to, from, wild);
        EXPECT_TRUE(sameBits(out, convert(to, from, tame))) << from << " -> " << to;
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return std::isfinite(v); }));
    }
}

TEST(HighQualityStream, EqualRatesPassTheSamplesUnchanged) {
    const std::vector<float> x = noise(50000, 9, 3.0f);  // beyond full scale too
    EXPECT_TRUE(sameBits(convert(48000, 48000, x, 2, {333}), x));
    HighQualityResampler resampler;
    ASSERT_EQ(startHighQualityResampler(resampler, 48000, 48000, 2), StreamError::none);
    EXPECT_TRUE(resampler.stages.empty());
    EXPECT_EQ(highQualityResamplerTarget(resampler), kReferenceTarget);
}

TEST(HighQualityStream, AFailingSinkStopsTheConversion) {
    HighQualityResampler resampler;
    ASSERT_EQ(startHighQualityResampler(resampler, 48000, 44100, 1), StreamError::none);
    const FloatSampleSink refuse{[](void*, const float*, std::size_t) { return false; }, nullptr};
    const std::vector<float> x = noise(200000, 1);
    EXPECT_EQ(feedHighQualityResampler(resampler, x.data(), x.size(), refuse), StreamError::sinkFailed);
    HighQualityResampler late;
    ASSERT_EQ(startHighQualityResampler(late, 48000, 44100, 1), StreamError::none);
    std::vector<float> out;
    EXPECT_EQ(feedHighQualityResampler(late, x.data(), 1000, collect(out)), StreamError::none);
    EXPECT_EQ(finishHighQualityResampler(late, refuse), StreamError::sinkFailed);
}

TEST(HighQualityOutput, SixteenBitRoundsHalvesAwayFromZeroAndClamps) {
    const float lsb = 1.0f / 32768.0f;
    const struct {
        float in;
        int16_t out;
    } cases[] = {
        {0.0f, 0},
        {-0.0f, 0},
        {0.5f * lsb, 1},
        {-0.5f * lsb, -1},
        {1.5f * lsb, 2},
        {-1.5f * lsb, -2},
        {2.5f * lsb, 3},
        {-2.5f * lsb, -3},
        {std::nextafter(0.5f, 0.0f) * lsb, 0},
        {std::nextafter(-0.5f, 0.0f) * lsb, 0},
        {std::nextafter(2.5f, 0.0f) * lsb, 2},
        {1000.25f * lsb, 1000},
        {1000.75f * lsb, 1001},
        {-1000.75f * lsb, -1001},
        {0.5f, 16384},
        {-0.5f, -16384},
        {32766.5f * lsb, 32767},
        {32767.0f * lsb, 32767},
        {32767.5f * lsb, 32767},
        {1.0f, 32767},
        {-1.0f, -32768},
        {-32767.5f * lsb, -32768},
        {-1.5f, -32768},
        {1e30f, 32767},
        {std::numeric_limits<float>::infinity(), 32767},
        {-std::numeric_limits<float>::infinity(), -32768},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {std::numeric_limits<float>::denorm_min(), 0},
    };
    std::vector<float> in;
    std::vector<int16_t> expected;
    for (const auto& c : cases) {
        EXPECT_EQ(highQualitySampleToInt16(c.in), c.out) << c.in * 32768.0f;
        in.push_back(c.in);
        expected.push_back(c.out);
    }
    // The reference and every vector target, on the cases then on many values.
    std::vector<int16_t> out(in.size());
    highQualitySamplesToInt16(in.data(), out.data(), in.size());
    EXPECT_EQ(out, expected);
    testsupport::forEachTarget(highQualitySamplesToInt16Targets(),
                               [&](const KernelTarget<HighQualityToInt16Function>& target) {
                                   std::vector<int16_t> vectors(in.size());
                                   target.function(in.data(), vectors.data(), in.size());
                                   EXPECT_EQ(vectors, expected);
                               });
    std::mt19937 random(12);
    std::vector<float> many(100003);
    for (float& v : many) {
        const uint32_t bits = static_cast<uint32_t>(random());
        std::memcpy(&v, &bits, sizeof v);  // any float at all, NaN and infinities included
        if (random() % 2) v = static_cast<float>(static_cast<int>(random() % 140000) - 70000) * 0.5f / 32768.0f;
    }
    std::vector<int16_t> scalar(many.size());
    for (std::size_t i = 0; i < many.size(); ++i) scalar[i] = highQualitySampleToInt16(many[i]);
    testsupport::forEachTarget(highQualitySamplesToInt16Targets(),
                               [&](const KernelTarget<HighQualityToInt16Function>& target) {
                                   std::vector<int16_t> vectors(many.size());
                                   target.function(many.data(), vectors.data(), many.size());
                                   EXPECT_EQ(vectors, scalar);
                               });
    // Every 16-bit value comes back as itself.
    for (int v = -32768; v <= 32767; ++v) {
        ASSERT_EQ(highQualitySampleToInt16(static_cast<float>(v) * lsb), v);
    }
}

}  // namespace
