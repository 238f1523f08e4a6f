// Frames to filter input: the plain loop against the channel rule worked by
// hand, and the vector code of every target this machine runs against the
// plain loop, bit for bit, with nothing written past the frames asked for.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "resampler/dsp/frame_input.h"
#include "tests/support/kernel_targets.h"

using namespace plinth;

namespace {

ChannelChoice mixed() {
    ChannelChoice choice;
    choice.mix = true;
    return choice;
}

ChannelChoice channel(int index) {
    ChannelChoice choice;
    choice.channel = index;
    return choice;
}

std::vector<float> plain(const std::vector<int16_t>& items, int channels, ChannelChoice choice) {
    std::vector<float> samples(items.size() / static_cast<std::size_t>(channels));
    framesToFilterInput(items.data(), static_cast<int>(samples.size()), channels, choice, samples.data());
    return samples;
}

TEST(FramesToFilterInput, PlainLoopTakesTheChannelOrTheFloorOfTheMean) {
    EXPECT_EQ(plain({-32768, 0, 32767, -1}, 1, mixed()), (std::vector<float>{-32768, 0, 32767, -1}));
    EXPECT_EQ(plain({-32768, 0, 32767, -1}, 1, channel(0)), (std::vector<float>{-32768, 0, 32767, -1}));
    // Means 3.5, -3.5, -0.5, 0.5, -32768, 32767, -0.5, -0.5 rounded toward minus infinity.
    const std::vector<int16_t> pairs = {3, 4, -3, -4, -1, 0, 1, 0, -32768, -32768, 32767, 32767, -32768, 32767, 32767, -32768};
    EXPECT_EQ(plain(pairs, 2, mixed()), (std::vector<float>{3, -4, -1, 0, -32768, 32767, -1, -1}));
    EXPECT_EQ(plain(pairs, 2, channel(0)), (std::vector<float>{3, -3, -1, 1, -32768, 32767, -32768, 32767}));
    EXPECT_EQ(plain(pairs, 2, channel(1)), (std::vector<float>{4, -4, 0, 0, -32768, 32767, 32767, -32768}));
    // Means 4/3, -4/3, -2/3, -32768 and 32767.
    const std::vector<int16_t> triples = {1, 1, 2, -1, -1, -2, 5, -7, 0, -32768, -32768, -32768, 32767, 32767, 32767};
    EXPECT_EQ(plain(triples, 3, mixed()), (std::vector<float>{1, -2, -1, -32768, 32767}));
    EXPECT_EQ(plain(triples, 3, channel(2)), (std::vector<float>{2, -2, 0, -32768, 32767}));
}

TEST(FramesToFilterInput, EveryTargetEqualsThePlainLoop) {
    std::mt19937 random(23);
    std::uniform_int_distribution<int> value(-32768, 32767);
    std::vector<int16_t> items(3 * 1100 + 8);
    for (int16_t& item : items) item = static_cast<int16_t>(value(random));
    // Runs of the extremes, where a sum or a shift would overflow first.
    for (std::size_t i = 100; i < 200; ++i) items[i] = -32768;
    for (std::size_t i = 200; i < 300; ++i) items[i] = 32767;
    for (std::size_t i = 300; i < 400; ++i) items[i] = static_cast<int16_t>(i % 2 ? -32768 : 32767);
    const float sentinel = 12345.5f;
    testsupport::forEachTarget(framesToFilterInputTargets(), [&](const KernelTarget<FramesToFilterInputFunction>& target) {
        for (int channels = 1; channels <= 3; ++channels) {
            std::vector<ChannelChoice> choices = {mixed()};
            for (int c = 0; c < channels; ++c) choices.push_back(channel(c));
            for (const ChannelChoice& choice : choices) {
                for (int offset = 0; offset < 4; ++offset) {
                    for (int frames = 0; frames <= 1000; frames += frames < 70 ? 1 : 311) {
                        const int16_t* from = items.data() + offset;
                        std::vector<float> expected(static_cast<std::size_t>(frames) + 1, sentinel);
                        std::vector<float> got(static_cast<std::size_t>(frames) + 1, sentinel);
                        framesToFilterInput(from, frames, channels, choice, expected.data());
                        target.function(from, frames, channels, choice, got.data());
                        if (std::memcmp(expected.data(), got.data(), got.size() * sizeof(float)) != 0) {
                            std::size_t first = 0;
                            while (std::memcmp(&expected[first], &got[first], sizeof(float)) == 0) ++first;
                            ADD_FAILURE() << channels << " channels, " << (choice.mix ? "mix" : "channel ")
                                          << (choice.mix ? std::string() : std::to_string(choice.channel)) << ", "
                                          << frames << " frames from item " << offset << ": sample " << first
                                          << " is " << got[first] << ", the plain loop's " << expected[first];
                            return;
                        }
                    }
                }
            }
        }
    });
}

}  // namespace
