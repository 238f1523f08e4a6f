// The streaming resampler, end to end through files: lengths, no delay, the
// channel rule and block seams across the 65536-item reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "resampler/dsp/lowpass_design.h"
#include "resampler/dsp/polyphase.h"
#include "resampler/resample_entry.h"
#include "resampler/stream_resampler.h"
#include "tests/support/collect_samples.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

using namespace plinth;
using namespace testsupport;

namespace {

TEST(ResamplerPlan, MatchesTheWorkedValues) {
    const struct {
        int target, source, up, down, m, u, leadIn, phase;
    } worked[] = {
        {16000, 8000, 2, 1, 30, 30, 14, 0},      {8000, 16000, 1, 2, 30, 59, 29, 0},
        {8000, 44100, 80, 441, 6614, 166, 82, 26}, {16000, 44100, 160, 441, 6614, 83, 41, 106},
        {48000, 44100, 160, 147, 2399, 30, 14, 1}, {44100, 48000, 147, 160, 2399, 33, 16, 100},
        {11025, 8000, 441, 320, 6614, 30, 14, 1},  {22050, 22050, 1, 1, 15, 29, 14, 0},
    };
    for (const auto& w : worked) {
        const ResamplerPlan plan = planResampling(w.target, w.source);
        SCOPED_TRACE(std::to_string(w.target) + " from " + std::to_string(w.source));
        EXPECT_EQ(plan.upFactor, w.up);
        EXPECT_EQ(plan.downFactor, w.down);
        EXPECT_EQ(plan.halfFilterTaps, w.m);
        EXPECT_EQ(plan.phaseLength, w.u);
        EXPECT_EQ(plan.leadIn, w.leadIn);
        EXPECT_EQ(plan.startPhase, w.phase);
    }
}

class Resample : public ::testing::Test {
protected:
    TempDir dir;

    // Converts the items and returns the output file's bytes.
    std::vector<unsigned char> convert(const WavFormat& format, const std::vector<int16_t>& items, int targetRate,
                                       int channelMode = 0) {
        writeBytes(dir.file("in.wav"), wavBytes(format, items));
        EXPECT_EQ(resampleWavWide(wide(dir.file("in.wav")).c_str(), wide(dir.file("out.wav")).c_str(), targetRate,
                                  channelMode),
                  1);
        return readBytes(dir.file("out.wav"));
    }

    std::vector<int16_t> convertMono(int sourceRate, const std::vector<int16_t>& samples, int targetRate) {
        WavFormat format;
        format.sampleRate = static_cast<uint32_t>(sourceRate);
        return samplesOf(convert(format, samples, targetRate));
    }
};

std::vector<int16_t> impulse(std::size_t frames, std::size_t at, int16_t value) {
    std::vector<int16_t> samples(frames, 0);
    samples[at] = value;
    return samples;
}

uint64_t expectedLength(uint64_t frames, uint64_t target, uint64_t source) {
    return (frames * target + source - 1) / source;
}

TEST_F(Resample, OutputLengthIsTheCeilingOfTheDuration) {
    const struct {
        int target, source, channels;
        std::size_t frames;
    } cases[] = {
        {16000, 8000, 1, 300},   {16000, 8000, 1, 16},    {16000, 8000, 1, 17},    {16000, 8000, 1, 1},
        {8000, 16000, 1, 300},   {8000, 16000, 1, 1},     {8000, 16000, 1, 2},     {16000, 44100, 1, 900},
        {8000, 44100, 2, 1000},  {48000, 44100, 1, 65522}, {48000, 44100, 1, 65523}, {48000, 44100, 2, 32754},
        {48000, 44100, 2, 32755}, {44100, 48000, 1, 140000}, {11025, 8000, 2, 70000}, {22050, 22050, 2, 5},
        {8000, 16000, 1, 65507}, {8000, 16000, 1, 65508},
    };
    for (const auto& c : cases) {
        WavFormat format;
        format.channels = static_cast<uint16_t>(c.channels);
        format.sampleRate = static_cast<uint32_t>(c.source);
        const std::vector<unsigned char> out =
            convert(format, std::vector<int16_t>(c.frames * static_cast<std::size_t>(c.channels), 100), c.target);
        const uint64_t length = expectedLength(c.frames, static_cast<uint64_t>(c.target), static_cast<uint64_t>(c.source));
        EXPECT_EQ(out.size(), 44 + 2 * length) << c.target << " from " << c.source << ", " << c.frames << " frames";
        EXPECT_EQ(le32At(out, 40), 2 * length);
        EXPECT_EQ(le32At(out, 4), 2 * length + 36);
    }
}

TEST_F(Resample, EmptyInputGivesAHeaderOnly) {
    WavFormat format;
    format.sampleRate = 44100;
    const std::vector<unsigned char> out = convert(format, {}, 16000);
    ASSERT_EQ(out.size(), 44u);
    EXPECT_EQ(le32At(out, 4), 36u);
    EXPECT_EQ(le32At(out, 40), 0u);
    EXPECT_EQ(le32At(out, 24), 16000u);
}

TEST_F(Resample, HeaderNamesTheRequestedRateAndOneChannel) {
    WavFormat format;
    format.channels = 2;
    const std::vector<unsigned char> out = convert(format, std::vector<int16_t>(600, 1), 16000);
    const std::vector<unsigned char> expectedStart = {'R', 'I', 'F', 'F'};
    EXPECT_TRUE(std::equal(expectedStart.begin(), expectedStart.end(), out.begin()));
    EXPECT_EQ(std::string(out.begin() + 8, out.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32At(out, 16), 16u);
    EXPECT_EQ(out[20] | (out[21] << 8), 1);  // PCM
    EXPECT_EQ(out[22] | (out[23] << 8), 1);  // mono
    EXPECT_EQ(le32At(out, 24), 16000u);      // not the reduced 2
    EXPECT_EQ(le32At(out, 28), 32000u);
    EXPECT_EQ(out[32] | (out[33] << 8), 2);
    EXPECT_EQ(out[34] | (out[35] << 8), 16);
    EXPECT_EQ(std::string(out.begin() + 36, out.begin() + 40), "data");
}

// The centre tap of the filter is 2 x cutoff x L: 1.0 when doubling, 0.5 when halving.
TEST_F(Resample, OutputStartsWithoutDelay) {
    const std::vector<int16_t> doubled = convertMono(8000, impulse(300, 10, 10000), 16000);
    ASSERT_EQ(doubled.size(), 600u);
    EXPECT_EQ(doubled[20], 10000);
    EXPECT_EQ(doubled[19], doubled[21]);
    EXPECT_GT(doubled[19], 5000);
    EXPECT_EQ(doubled[18], 0);
    EXPECT_EQ(doubled[22], 0);

    const std::vector<int16_t> halved = convertMono(16000, impulse(300, 20, 10000), 8000);
    ASSERT_EQ(halved.size(), 150u);
    EXPECT_EQ(halved[10], 5000);

    // 160:147 puts frame 147 of the input on output sample 160.
    const std::vector<int16_t> up = convertMono(44100, impulse(2000, 147, 10000), 48000);
    const ResamplerPlan plan = planResampling(48000, 44100);
    std::vector<float> h(static_cast<std::size_t>(plan.halfFilterTaps));
    designLowpass(h.data(), plan.cutoff, plan.halfFilterTaps, 160.0f);
    EXPECT_EQ(up[160], static_cast<int16_t>(static_cast<int>(h[0] * 10000.0f)));
    EXPECT_GT(up[160], up[159]);
    EXPECT_GT(up[160], up[161]);
}

TEST_F(Resample, FirstFrameOfAShortInputIsNotDelayed) {
    const std::vector<int16_t> out = convertMono(8000, impulse(16, 0, 20000), 16000);
    ASSERT_EQ(out.size(), 32u);
    EXPECT_EQ(out[0], 20000);
}

TEST_F(Resample, StereoBecomesTheChosenChannel) {
    // At equal rates the centre tap is exactly 1, so an isolated frame comes out as it went in.
    WavFormat format;
    format.channels = 2;
    format.sampleRate = 22050;
    const struct {
        int16_t left, right;
        int mode;
        int16_t expected;
    } cases[] = {{100, -300, 1, -300}, {100, -300, 2, -100}, {100, -300, 0, 100},
                 {100, -300, 3, 100},  {100, -300, -1, 100}, {-3, 0, 2, -2}};
    for (const auto& c : cases) {
        std::vector<int16_t> items(200, 0);
        items[20] = c.left;
        items[21] = c.right;
        const std::vector<int16_t> out = samplesOf(convert(format, items, 22050, c.mode));
        ASSERT_EQ(out.size(), 100u);
        EXPECT_EQ(out[10], c.expected) << "mode " << c.mode;
    }
    // The same rule holds for inputs short enough to be handled by the flush alone.
    std::vector<int16_t> items(8, 0);
    items[0] = 100;
    items[1] = -300;
    EXPECT_EQ(samplesOf(convert(format, items, 22050, 2))[0], -100);
}

TEST_F(Resample, HalfAStereoFrameAtTheEndIsDropped) {
    WavFormat format;
    format.channels = 2;
    format.sampleRate = 8000;
    std::vector<int16_t> items(601, 0);
    items[600] = 30000;
    const std::vector<int16_t> out = samplesOf(convert(format, items, 16000));
    ASSERT_EQ(out.size(), 600u);
    for (int16_t sample : out) EXPECT_EQ(sample, 0);
}

// One kernel call over lead-in, every frame and u zeros: no reads, no seams, no flush.
std::vector<int16_t> referenceResample(const std::vector<float>& frames, int targetRate, int sourceRate) {
    const ResamplerPlan plan = planResampling(targetRate, sourceRate);
    std::vector<float> h(static_cast<std::size_t>(plan.halfFilterTaps));
    designLowpass(h.data(), plan.cutoff, plan.halfFilterTaps, static_cast<float>(plan.upFactor));
    std::vector<float> bank(static_cast<std::size_t>(plan.phaseLength * plan.upFactor));
    buildPolyphaseBank(h.data(), bank.data(), plan.halfFilterTaps, plan.upFactor);
    std::vector<float> work(static_cast<std::size_t>(plan.leadIn), 0.0f);
    work.insert(work.end(), frames.begin(), frames.end());
    work.insert(work.end(), static_cast<std::size_t>(plan.phaseLength), 0.0f);
    std::vector<int16_t> out(work.size() * static_cast<std::size_t>(plan.upFactor) /
                                 static_cast<std::size_t>(plan.downFactor) + 2);
    int phase = plan.startPhase;
    const int produced = polyphaseFilterBlock(work.data(), out.data(), static_cast<int>(work.size()), &phase,
                                              bank.data(), plan.phaseLength, plan.upFactor, plan.downFactor);
    const std::size_t length = expectedLength(frames.size(), static_cast<uint64_t>(targetRate),
                                              static_cast<uint64_t>(sourceRate));
    EXPECT_GE(static_cast<std::size_t>(produced), length);
    out.resize(length);
    return out;
}

TEST_F(Resample, BlockReadsChangeNothing) {
    std::mt19937 random(5);
    const std::pair<int, int> rates[] = {{16000, 44100}, {48000, 44100}, {8000, 16000}, {44100, 8000}};
    for (const auto& [target, source] : rates) {
        for (int channels : {1, 2}) {
            const std::size_t frames = 150000;
            std::vector<int16_t> items(frames * static_cast<std::size_t>(channels));
            for (int16_t& item : items) item = static_cast<int16_t>(static_cast<int>(random() % 40001) - 20000);
            std::vector<float> mono(frames);
            for (std::size_t k = 0; k < frames; ++k) {
                mono[k] = channels == 1 ? items[k] : static_cast<float>((items[2 * k] + items[2 * k + 1]) >> 1);
            }
            WavFormat format;
            format.channels = static_cast<uint16_t>(channels);
            format.sampleRate = static_cast<uint32_t>(source);
            const std::vector<int16_t> streamed = samplesOf(convert(format, items, target, 2));
            EXPECT_EQ(streamed, referenceResample(mono, target, source))
                << target << " from " << source << ", " << channels << " channels";
        }
    }
}

// Signals of several work blocks, each block filtered as far as whole vector
// groups reach and the rest kept for the next: every channel rule of the
// common pairs gives one reference call's samples over the whole signal.
TEST(StreamResampler, LongStreamsGiveOneReferenceCallsSamplesForEveryChannelRule) {
    std::mt19937 random(29);
    const std::pair<int, int> rates[] = {{48000, 44100}, {16000, 44100}, {8000, 44100},
                                         {44100, 48000}, {16000, 8000},  {11025, 8000}};
    for (const auto& [target, source] : rates) {
        const std::size_t frames = 4 * 65536 + 977;
        std::vector<int16_t> items(2 * frames);
        for (int16_t& item : items) item = static_cast<int16_t>(static_cast<int>(random() % 65536) - 32768);
        for (const int channelMode : {0, 1, 2}) {
            std::vector<float> mono(frames);
            for (std::size_t k = 0; k < frames; ++k) {
                const int first = items[2 * k];
                const int second = items[2 * k + 1];
                mono[k] = static_cast<float>(channelMode == 2 ? (first + second) >> 1 : channelMode == 1 ? second : first);
            }
            StreamResampler resampler;
            ASSERT_EQ(startResampler(resampler, target, source, 2, channelMode), StreamError::none);
            std::vector<int16_t> streamed;
            const SampleSink sink = collectInto(streamed);
            // Reads of 32768 frames, as a stereo file is read.
            for (std::size_t at = 0; at < frames; at += 32768) {
                ASSERT_EQ(feedResampler(resampler, items.data() + 2 * at, std::min<std::size_t>(32768, frames - at), sink),
                          StreamError::none);
            }
            ASSERT_EQ(finishResampler(resampler, sink), StreamError::none);
            EXPECT_EQ(streamed, referenceResample(mono, target, source))
                << target << " from " << source << ", channel mode " << channelMode;
        }
    }
}

// The in-memory path gives the file entry's samples whatever blocks the
// frames arrive in, from single frames to several reads at once.
TEST_F(Resample, FramesFedInAnyBlockSizesGiveTheFilesSamples) {
    std::mt19937 random(11);
    const std::pair<int, int> rates[] = {{16000, 44100}, {48000, 44100}, {8000, 16000}, {16000, 8000}, {22050, 22050}};
    for (const auto& [target, source] : rates) {
        for (int channels : {1, 2}) {
            if (target == source && channels == 1) continue;  // the entry copies such a file
            for (std::size_t frames : {std::size_t{0}, std::size_t{5}, std::size_t{40}, std::size_t{200000}}) {
                std::vector<int16_t> items(frames * static_cast<std::size_t>(channels));
                for (int16_t& item : items) item = static_cast<int16_t>(static_cast<int>(random() % 65536) - 32768);
                WavFormat format;
                format.channels = static_cast<uint16_t>(channels);
                format.sampleRate = static_cast<uint32_t>(source);
                const std::vector<int16_t> expected = samplesOf(convert(format, items, target, 2));

                StreamResampler resampler;
                ASSERT_EQ(startResampler(resampler, target, source, channels, 2), StreamError::none);
                std::vector<int16_t> streamed;
                const SampleSink sink = collectInto(streamed);
                std::size_t at = 0;
                while (at < frames) {
                    const std::size_t limit = random() % 3 == 0 ? 150000 : 3000;
                    const std::size_t take = std::min<std::size_t>(frames - at, 1 + random() % limit);
                    ASSERT_EQ(feedResampler(resampler, items.data() + at * static_cast<std::size_t>(channels), take, sink),
                              StreamError::none);
                    at += take;
                }
                ASSERT_EQ(finishResampler(resampler, sink), StreamError::none);
                EXPECT_EQ(streamed, expected) << target << " from " << source << ", " << channels << " channels, "
                                              << frames << " frames";
            }
        }
    }
}

// A far-upsampling ratio (8000 from 1 frame per second) filters in smaller
// blocks, so that one call's output stays bounded, and gives the same samples
// as one call over the whole signal.
TEST(StreamResampler, FarUpsamplingKeepsItsBuffersBoundedAndItsSamples) {
    std::mt19937 random(17);
    for (const auto& [target, source] : {std::pair<int, int>{8000, 1}, {8192, 3}, {96000, 8000}}) {
        std::vector<int16_t> items(700);
        for (int16_t& item : items) item = static_cast<int16_t>(static_cast<int>(random() % 60001) - 30000);
        StreamResampler resampler;
        ASSERT_EQ(startResampler(resampler, target, source, 1, 0), StreamError::none);
        EXPECT_LE(resampler.outputCapacity, (1 << 20) + 1 + 65536);
        std::vector<int16_t> streamed;
        const SampleSink sink = collectInto(streamed);
        ASSERT_EQ(feedResampler(resampler, items.data(), items.size(), sink), StreamError::none);
        ASSERT_EQ(finishResampler(resampler, sink), StreamError::none);
        const std::vector<float> mono(items.begin(), items.end());
        EXPECT_EQ(streamed, referenceResample(mono, target, source)) << target << " from " << source;
    }
}

TEST_F(Resample, EveryPairingOfCommonRatesConverts) {
    const int rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000};
    for (int source : rates) {
        for (int target : rates) {
            const ResamplerPlan plan = planResampling(target, source);
            EXPECT_LE(std::max(plan.upFactor, plan.downFactor), 1280);
            WavFormat format;
            format.channels = 2;
            format.sampleRate = static_cast<uint32_t>(source);
            const std::vector<unsigned char> out = convert(format, std::vector<int16_t>(2 * 1000, 7), target);
            EXPECT_EQ(out.size(), 44 + 2 * expectedLength(1000, static_cast<uint64_t>(target), static_cast<uint64_t>(source)))
                << target << " from " << source;
        }
    }
}

// Every channel kept: channel c of the interleaved output is what a
// StreamResampler choosing channel c gives, whatever the blocks fed.
TEST(EveryChannelResampler, EachChannelIsThatChannelChosenAlone) {
    const int channels = 3;
    const std::size_t frames = 70001;
    std::vector<int16_t> items(frames * channels);
    for (std::size_t i = 0; i < items.size(); ++i) items[i] = static_cast<int16_t>((i * 2654435761u) >> 16);
    for (const auto& [to, from] : {std::pair{16000, 44100}, {48000, 8000}, {22050, 22050}, {8000, 1}}) {
        const std::size_t used = from == 1 ? 3 : frames;  // far upsampling: a few frames
        std::vector<int16_t> together;
        EveryChannelResampler every;
        ASSERT_EQ(startEveryChannelResampler(every, to, from, channels), StreamError::none);
        const SampleSink sink{[](void* context, const int16_t* samples, std::size_t count) {
                                  auto& into = *static_cast<std::vector<int16_t>*>(context);
                                  EXPECT_EQ(count % 3, 0u);
                                  into.insert(into.end(), samples, samples + count);
                                  return true;
                              },
                              &together};
        for (std::size_t at = 0; at < used; at += 30000) {
            ASSERT_EQ(feedEveryChannelResampler(every, items.data() + at * channels, std::min<std::size_t>(30000, used - at), sink),
                      StreamError::none);
        }
        ASSERT_EQ(finishEveryChannelResampler(every, sink), StreamError::none);
        ASSERT_EQ(together.size(), channels * resampledLength(used, to, from)) << from << " -> " << to;
        for (int c = 0; c < channels; ++c) {
            StreamResampler one;
            ChannelChoice choice;
            choice.channel = c;
            ASSERT_EQ(startResampler(one, to, from, channels, choice), StreamError::none);
            std::vector<int16_t> alone;
            const SampleSink collect{[](void* context, const int16_t* samples, std::size_t count) {
                                         auto& into = *static_cast<std::vector<int16_t>*>(context);
                                         into.insert(into.end(), samples, samples + count);
                                         return true;
                                     },
                                     &alone};
            feedResampler(one, items.data(), used, collect);
            finishResampler(one, collect);
            ASSERT_EQ(alone.size() * channels, together.size());
            for (std::size_t k = 0; k < alone.size(); ++k) {
                ASSERT_EQ(together[k * channels + static_cast<std::size_t>(c)], alone[k]) << c << " at " << k;
            }
        }
    }
}

TEST(EveryChannelResampler, ManyChannelsHoldShortBuffersAndEachIsStillThatChannelAlone) {
    // Enough channels that each holds far less than a full block, fed in
    // uneven reads: the blocks and pieces shrink, the samples do not change.
    const int channels = 3000;
    const std::size_t frames = 2500;
    const std::size_t width = static_cast<std::size_t>(channels);
    std::vector<int16_t> items(frames * width);
    std::mt19937 random(41);
    for (int16_t& item : items) item = static_cast<int16_t>(static_cast<int>(random() % 65536) - 32768);
    for (const auto& [to, from] : {std::pair{96000, 44100}, {8000, 44100}, {44100, 8000}}) {
        EveryChannelResampler every;
        ASSERT_EQ(startEveryChannelResampler(every, to, from, channels), StreamError::none);
        ASSERT_LT(every.filter.workCapacity, 4096);
        std::vector<int16_t> together;
        const SampleSink sink = collectInto(together);
        for (std::size_t at = 0, call = 0; at < frames; ++call) {
            const std::size_t n = std::min<std::size_t>(call % 2 == 0 ? 333 : 1, frames - at);
            ASSERT_EQ(feedEveryChannelResampler(every, items.data() + at * width, n, sink), StreamError::none);
            at += n;
        }
        ASSERT_EQ(finishEveryChannelResampler(every, sink), StreamError::none);
        ASSERT_EQ(together.size(), width * resampledLength(frames, to, from)) << from << " -> " << to;
        for (const int c : {0, 1, 1500, channels - 1}) {
            StreamResampler one;
            ChannelChoice choice;
            choice.channel = c;
            ASSERT_EQ(startResampler(one, to, from, channels, choice), StreamError::none);
            std::vector<int16_t> alone;
            const SampleSink collect = collectInto(alone);
            ASSERT_EQ(feedResampler(one, items.data(), frames, collect), StreamError::none);
            ASSERT_EQ(finishResampler(one, collect), StreamError::none);
            ASSERT_EQ(alone.size() * width, together.size());
            for (std::size_t k = 0; k < alone.size(); ++k) {
                ASSERT_EQ(together[k * width + static_cast<std::size_t>(c)], alone[k]) << c << " at " << k;
            }
        }
    }
}

}  // namespace
