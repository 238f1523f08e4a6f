// The vector mixer and the vector block conversion against the plain code
// they replace, bit for bit, on every instruction set the machine has: random
// channel states mixed one stretch at a time, whole songs with every effect
// at ordinary and odd rates, and the float to 16-bit conversion.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/kernel_targets.h"
#include "tests/support/test_modules.h"
#include "tracker/mod_mix.h"
#include "tracker/pcm_block.h"

using namespace plinth;
using namespace testsupport;

namespace {

// Index of the first value whose bits differ, or -1.
template <class T>
long firstDifference(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0) return static_cast<long>(i);
    }
    return -1;
}

// Mixes `count` frames from the player's state with the plain mixer and with
// every vector target; the frames (over garbage: the stretch is zeroed
// before mixing) and every channel's position after must have the same bits.
void expectEveryTargetMixesAsThePlainMixer(const ModPlayer& player, int channels, int count) {
    ModPlayer plainPlayer = player;
    std::vector<float> plain(static_cast<size_t>(count) * 2, 123.0f);
    mixStretch(plainPlayer, plain.data(), count);
    std::vector<float> plainPositions;
    for (int c = 0; c < channels; ++c) plainPositions.push_back(plainPlayer.channels[c].position);

    forEachTarget(mixStretchTargets(), [&](const KernelTarget<MixStretchFunction>& target) {
        ModPlayer vectorPlayer = player;
        std::vector<float> vector(static_cast<size_t>(count) * 2, 123.0f);
        target.function(vectorPlayer, vector.data(), count);
        std::vector<float> vectorPositions;
        for (int c = 0; c < channels; ++c) vectorPositions.push_back(vectorPlayer.channels[c].position);
        EXPECT_EQ(firstDifference(plain, vector), -1);
        EXPECT_EQ(firstDifference(plainPositions, vectorPositions), -1);
    });
}

// The image in a heap block of exactly its size, so that the sanitizers
// catch any read past its end.
struct ExactImage {
    explicit ExactImage(const std::vector<uint8_t>& image)
        : bytes(new uint8_t[image.size()]), size(static_cast<int32_t>(image.size())) {
        std::memcpy(bytes.get(), image.data(), image.size());
    }
    bool init(ModPlayer& player, int rate = 8000) const { return modInit(player, bytes.get(), size, rate); }
    std::unique_ptr<uint8_t[]> bytes;
    int32_t size;
};

// A module of `channels` channels and four samples of random bytes, each
// wordsOf() words long and looped over loopOf() of them (1: no loop) from a
// random start; the image ends `cut` bytes before the last sample's end.
template <class Words, class Loop>
ModuleBuilder loopedSamplesModule(TestRandom& random, int channels, Words wordsOf, Loop loopOf, int cut = 0) {
    ModuleBuilder module(channels, 1, numberedTag(channels).c_str());
    std::vector<int8_t> data;
    for (int n = 1; n <= 4; ++n) {
        const int words = wordsOf();
        const int loop = std::min(loopOf(), words);
        module.sample(n, words, 0, kMaxVolume, random.below(words - loop + 1), loop);
        for (int i = 0; i < kBytesPerWord * words; ++i) data.push_back(static_cast<int8_t>(random.next() >> 24));
    }
    data.resize(data.size() - static_cast<size_t>(cut));
    module.data(data);
    return module;
}

// Renders up to `frames` frames with the given mixer and buffer size.
std::vector<float> render(const std::vector<uint8_t>& image, int rate, uint32_t bufferBytes, size_t frames,
                          ModMixer mixer) {
    const ExactImage exact(image);
    ModPlayer player;
    EXPECT_TRUE(exact.init(player, rate));
    std::vector<float> out;
    std::vector<float> buffer(bufferBytes / 4 + 1);
    while (out.size() < frames * 2 && player.loopCount == 0) {
        const uint32_t bytes = modRenderWith(player, buffer.data(), bufferBytes, mixer);
        out.insert(out.end(), buffer.begin(), buffer.begin() + bytes / 4);
    }
    return out;
}

TEST(VectorMixer, RendersSongsAsThePlainMixer) {
    TestRandom random{2024};
    const int channelCounts[] = {1, 2, 3, 4, 5, 8, 13, 32};
    const int rates[] = {8000, 44100, 11111, 1000, 384000};
    // The buffer of the converter, an odd one, and one that holds several
    // vector blocks in a stretch.
    const uint32_t buffers[] = {4096, 8 * 37 + 5, 8 * 20000};
    for (int channels : channelCounts) {
        for (int rate : rates) {
            const ModuleBuilder module = composeRandomModule(random, channels);
            const uint32_t buffer = random.pick(buffers);
            const size_t frames = rate > 100000 ? 120000 : 40000;
            SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate) + " Hz, buffer " +
                         std::to_string(buffer));
            const std::vector<float> plain = render(module.image(), rate, buffer, frames, ModMixer::Reference);
            ASSERT_GT(plain.size(), 0u);

            // Whole songs with the machine's best target; every target is
            // checked stretch by stretch below.
            const std::vector<float> vector = render(module.image(), rate, buffer, frames, ModMixer::Vector);
            EXPECT_EQ(firstDifference(plain, vector), -1);
        }
    }
}

// One stretch of random channels: positions inside, at and beyond the loop
// and sample ends, pitches from none to far more than a sample per frame.
TEST(VectorMixer, MixesRandomChannelStatesAsThePlainMixer) {
    TestRandom random{7};
    const float increments[] = {0.0f, 1e-6f, 0.01f, 0.1875f, 0.5f, 0.999f, 1.0f, 1.0360279f, 2.5f,
                                3.99f, 4.0f, 4.67f, 15.0f, 17.25f, 300.0f, 65536.5f, 4.5e8f};
    const int counts[] = {1, 2, 3, 15, 16, 17, 63, 160, 511, 512, 513, 882, 1500};
    for (int round = 0; round < 300; ++round) {
        const int channels = 1 + random.below(32);
        ModuleBuilder module(channels, 1, numberedTag(channels).c_str());
        addRandomSamples(module, random);
        const ExactImage exact(module.image());
        ModPlayer player;
        ASSERT_TRUE(exact.init(player));
        for (int c = 0; c < channels; ++c) {
            ModChannel& ch = player.channels[c];
            ch.sample = static_cast<uint8_t>(random.below(32));
            const int length = ch.sample == 0 ? 0 : static_cast<int>(player.samples[ch.sample - 1].length);
            const float nearEnd = static_cast<float>(length) - 4.0f * random.unit();
            const float positions[] = {0.0f, static_cast<float>(length) * random.unit(), nearEnd,
                                       static_cast<float>(length), static_cast<float>(length) + 1.0f,
                                       static_cast<float>(length) * 2.0f + 3.0f, 140000.0f, -1.0f};
            ch.position = random.pick(positions);
            ch.increment = random.pick(increments) * (random.below(4) == 0 ? 1.0f + random.unit() : 1.0f);
            ch.realVolume = static_cast<uint8_t>(random.below(65));
            ch.pan = static_cast<uint8_t>(random.below(256));
        }
        const int count = random.pick(counts);
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(count) + " frames");

        expectEveryTargetMixesAsThePlainMixer(player, channels, count);
    }
}

// Channels on short loops end a pass every frame or few, in every lane of
// each group at once or one after another, so that the positions are
// stepped to pass ends all through a stretch, right at and around the frames
// where the mixer's parts of a stretch meet, and at its end.
TEST(VectorMixer, MixesPassesEndingEveryFewFramesAsThePlainMixer) {
    TestRandom random{31};
    const int loopWords[] = {1, 2, 3, 8};  // 2, 4, 6 and 16 bytes
    const float increments[] = {0.75f, 1.0f, 1.3f, 2.0f, 3.7f, 5.5f, 7.0f};
    const int counts[] = {1, 5, 127, 128, 129, 255, 256, 257, 260, 383, 511, 512, 513, 777};
    for (int round = 0; round < 120; ++round) {
        const int channels = 1 + random.below(12);
        const ModuleBuilder module = loopedSamplesModule(
            random, channels, [] { return 16; }, [&] { return random.pick(loopWords); });
        const ExactImage exact(module.image());
        ModPlayer player;
        ASSERT_TRUE(exact.init(player));
        // Every lane alike in some rounds, so that passes end in all at once.
        const bool alike = random.below(3) == 0;
        const float sharedIncrement = random.pick(increments);
        for (int c = 0; c < channels; ++c) {
            ModChannel& ch = player.channels[c];
            ch.sample = static_cast<uint8_t>(alike ? 1 : 1 + random.below(4));
            ch.position = alike ? 0.0f : 32.0f * random.unit();
            ch.increment = alike ? sharedIncrement : random.pick(increments) * (1.0f + random.unit());
            ch.realVolume = static_cast<uint8_t>(1 + random.below(kMaxVolume));
            ch.pan = static_cast<uint8_t>(random.below(256));
        }
        const int count = random.pick(counts);
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(count) + " frames");

        expectEveryTargetMixesAsThePlainMixer(player, channels, count);
    }
}

// Samples and loops about as long as the widest byte windows (128 bytes),
// the last sample running to or past the end of the image, and pitches
// around the steps at which a vector of frames still fits one window: the
// frames read near the image's end and across short loops' wraps.
TEST(VectorMixer, MixesAroundTheEdgesOfWideWindowsAsThePlainMixer) {
    TestRandom random{53};
    const int sampleWords[] = {40, 63, 64, 65, 100};
    const int loopWords[] = {1, 31, 32, 33, 62, 63, 64, 65};  // 1: no loop
    const float increments[] = {0.4f, 0.9f, 4.0f, 8.2f, 8.3f, 8.4f, 8.6f, 9.5f};
    const int counts[] = {1, 16, 17, 100, 160, 256, 300, 513};
    for (int round = 0; round < 150; ++round) {
        const int channels = 1 + random.below(12);
        // Often cut short: the last sample then ends where the image does.
        const int cut = random.below(2) == 0 ? random.below(150) : 0;
        const ModuleBuilder module = loopedSamplesModule(
            random, channels, [&] { return random.pick(sampleWords); }, [&] { return random.pick(loopWords); }, cut);
        const ExactImage exact(module.image());
        ModPlayer player;
        ASSERT_TRUE(exact.init(player));
        for (int c = 0; c < channels; ++c) {
            ModChannel& ch = player.channels[c];
            ch.sample = static_cast<uint8_t>(1 + random.below(4));
            const auto length = static_cast<float>(player.samples[ch.sample - 1].length);
            const float positions[] = {0.0f, length * random.unit(), length - 130.0f * random.unit(),
                                       length - 4.0f * random.unit()};
            ch.position = std::max(0.0f, random.pick(positions));
            ch.increment = random.pick(increments) * (1.0f + 0.01f * random.unit());
            ch.realVolume = static_cast<uint8_t>(1 + random.below(kMaxVolume));
            ch.pan = static_cast<uint8_t>(random.below(256));
        }
        const int count = random.pick(counts);
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(count) + " frames");

        expectEveryTargetMixesAsThePlainMixer(player, channels, count);
    }
}

// Run twice by ctest: as it comes, and with PLINTH_SCALAR=1 set.
TEST(MixerSwitch, PlinthScalarSelectsTheReference) {
    const char* value = std::getenv("PLINTH_SCALAR");
    const bool forced = value != nullptr && std::string(value) == "1";
    EXPECT_EQ(modDefaultMixer(), forced ? ModMixer::Reference : ModMixer::Vector);
    EXPECT_EQ(floatsToSamplesTargets().chosen() == nullptr, forced);
}

TEST(VectorConversion, ConvertsAsThePlainLoop) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> values = {1.5f, -1.5f, 0.99999f, -0.5f, 1.0f, -1.0f, 0.0f, -0.0f, 0x1.000002p0f,
                                 -0x1.000002p0f, 0x1.fffffep-1f, -0x1.fffffep-1f, 1e-40f, -1e-40f, 3e38f,
                                 -3e38f, inf, -inf, 1.0f / 32767.0f, -1.0f / 32767.0f};
    // Worked values: clamped, scaled and truncated toward zero.
    std::vector<int16_t> samples(values.size());
    floatsToSamples(values.data(), 4, samples.data());
    EXPECT_EQ(samples[0], 32767);
    EXPECT_EQ(samples[1], -32767);
    EXPECT_EQ(samples[2], 32766);
    EXPECT_EQ(samples[3], -16383);

    TestRandom random{99};
    for (int i = 0; i < 2000; ++i) {
        const float scale = i % 3 == 0 ? 2.0f : 1.0f;
        values.push_back((random.unit() * 2.0f - 1.0f) * scale);
        // Values on and next to the steps of the 16-bit scale.
        const float step = static_cast<float>(random.below(65535) - 32767) / 32767.0f;
        values.push_back(std::nextafter(step, random.below(2) == 0 ? 2.0f : -2.0f));
    }
    // Every length up to a few vectors, so that each tail is met.
    for (size_t count : {size_t{0}, size_t{1}, size_t{7}, size_t{15}, size_t{16}, size_t{17}, size_t{33}, values.size()}) {
        std::vector<int16_t> plain(count, 0x2AAA);
        floatsToSamples(values.data(), count, plain.data());
        forEachTarget(floatsToSamplesTargets(), [&](const KernelTarget<FloatsToSamplesFunction>& target) {
            std::vector<int16_t> vector(count, 0x5555);
            target.function(values.data(), count, vector.data());
            EXPECT_EQ(firstDifference(plain, vector), -1) << count;
        });
    }
}

}  // namespace
