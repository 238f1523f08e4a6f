// Identification of the two module layouts and loading of the song.

#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/test_modules.h"

using namespace plinth;
using namespace testsupport;

namespace {

bool identify(const std::vector<uint8_t>& image, ModPlayer& player) {
    player = ModPlayer{};
    return modIdentify(player, image.data(), static_cast<int32_t>(image.size()));
}

TEST(ModIdentify, TagsAndTheFifteenSampleTest) {
    const struct {
        const char* tag;
        int channels;
    } tags[] = {{"M.K.", 4}, {"FLT4", 4}, {"OKTA", 8}, {"FA08", 8}, {"1CHN", 1}, {"10CH", 10}, {"32CH", 32}};
    ModPlayer player;
    for (const auto& t : tags) {
        ModuleBuilder module(t.channels, 1, t.tag);
        module.song(7, 2);
        ASSERT_TRUE(identify(module.image(), player)) << t.tag;
        EXPECT_EQ(player.channelCount, t.channels) << t.tag;
        EXPECT_EQ(player.sampleCount + player.songLength + player.restartPosition, 31 + 7 + 2);
        EXPECT_EQ(player.patternData, module.image().data() + 1084);
    }
    // The tag is compared in an image of exactly 1084 bytes; with one byte
    // less the image goes to the 15-sample test, which zero text passes.
    std::vector<uint8_t> image = ModuleBuilder(6, 0, "6CHN").image();
    ASSERT_EQ(image.size(), 1084u);
    ASSERT_TRUE(identify(image, player));
    EXPECT_EQ(player.channelCount, 6);
    image.resize(1083);
    ASSERT_TRUE(identify(image, player));
    EXPECT_EQ(player.sampleCount, 15);
    EXPECT_EQ(player.channelCount, 4);
    EXPECT_EQ(player.orderTable, image.data() + 472);
    EXPECT_EQ(player.patternData, image.data() + 600);

    // A lower-case tag is no tag: printable text reads as the old layout.
    ModuleBuilder lower(4, 1, "m.k.");
    lower.at(470) = 9;
    ASSERT_TRUE(identify(lower.image(), player));
    EXPECT_EQ(player.songLength, 9);
    EXPECT_EQ(player.sampleCount, 15);

    const std::vector<uint8_t> text(600, ' ');
    EXPECT_FALSE(identify(std::vector<uint8_t>(599, ' '), player));
    for (uint8_t bad : {uint8_t{0x7F}, uint8_t{0x1F}, uint8_t{0xFF}}) {
        for (size_t at : {size_t{0}, size_t{19}, size_t{20 + 14 * 30 + 21}}) {  // title, last name byte
            std::vector<uint8_t> image2 = text;
            image2[at] = bad;
            EXPECT_FALSE(identify(image2, player)) << int(bad) << " at " << at;
        }
    }
    std::vector<uint8_t> fields = text;  // bytes outside the names are not judged
    fields[20 + 22] = 0xFF;
    fields[20 + 15 * 30] = 0xFF;
    EXPECT_TRUE(identify(fields, player));
}

TEST(ModInit, SizeAndSongChecks) {
    ModPlayer player;
    ModuleBuilder module;
    std::vector<uint8_t> image = module.image();
    ASSERT_EQ(image.size(), 2108u);
    EXPECT_TRUE(initPlayer(player, image));
    image.pop_back();
    EXPECT_FALSE(initPlayer(player, image));

    ModuleBuilder six(6, 1, "6CHN");
    std::vector<uint8_t> shortSix = six.image();
    EXPECT_EQ(shortSix.size(), 1084u + 1536u);
    shortSix.pop_back();
    EXPECT_FALSE(initPlayer(player, shortSix));
    ModuleBuilder wide(32, 1, "32CH");
    EXPECT_TRUE(initPlayer(player, wide.image()));
    EXPECT_EQ(wide.image().size(), 1084u + 8192u);

    // Order 0 plays pattern 200: outside the image, though the pattern count
    // stops before it.
    EXPECT_FALSE(initPlayer(player, ModuleBuilder().order(0, 200).image()));
    EXPECT_FALSE(initPlayer(player, ModuleBuilder().song(0).image()));
    EXPECT_FALSE(initPlayer(player, ModuleBuilder().song(129).image()));
    EXPECT_TRUE(initPlayer(player, ModuleBuilder().song(10, 127).image()));
    EXPECT_EQ(player.restartPosition, 0);
    EXPECT_TRUE(initPlayer(player, ModuleBuilder().song(10, 3).image()));
    EXPECT_EQ(player.restartPosition, 3);
    EXPECT_FALSE(modInit(player, module.image().data(), 2108, 0));
    EXPECT_FALSE(modInit(player, nullptr, 2108, 8000));
}

TEST(ModInit, PatternCountAndSampleTable) {
    ModPlayer player;
    ModuleBuilder stop(4, 3);
    stop.song(3).order(1, 1).order(2, 2).order(3, 200).order(4, 5);
    ASSERT_TRUE(initPlayer(player, stop.image()));
    EXPECT_EQ(player.patternCount, 3);
    ASSERT_TRUE(initPlayer(player, ModuleBuilder().order(1, 128).order(2, 5).image()));
    EXPECT_EQ(player.patternCount, 1);

    // An unplayed entry 9 counts: ten patterns must be in the file, and the
    // samples follow pattern 9.
    ModuleBuilder unplayed(4, 10);
    unplayed.song(2).order(1, 1).order(5, 9);
    unplayed.sample(1, 0).sample(2, 1).sample(3, 2).sample(4, 1000).sample(5, 10).data(std::vector<int8_t>(104, 0));
    ASSERT_TRUE(initPlayer(player, unplayed.image()));
    EXPECT_EQ(player.patternCount, 10);
    const uint8_t* samples = unplayed.image().data() + 1084 + 10 * 1024;
    const uint8_t* end = unplayed.image().data() + unplayed.image().size();
    const uint32_t lengths[5] = {0, 0, 4, 100, 0};  // the file ends 100 bytes into sample 4
    const uint8_t* starts[5] = {samples, samples, samples, samples + 4, end};
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(player.samples[j].length, lengths[j]) << j;
        EXPECT_EQ(reinterpret_cast<const uint8_t*>(player.samples[j].data), starts[j]) << j;
    }
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(player.samples[30].data), end);
    ModuleBuilder nine(4, 9);
    EXPECT_FALSE(initPlayer(player, nine.song(2).order(1, 1).order(5, 9).image()));

    ModuleBuilder old = ModuleBuilder::oldLayout();
    ASSERT_TRUE(initPlayer(player, old.sample(1, 2).data({1, 2, 3, 4}).image()));
    EXPECT_EQ(player.samples[0].length, 4u);
    for (int j = 15; j < 31; ++j) EXPECT_EQ(player.samples[j].data, nullptr);
}

TEST(ModInit, StartingState) {
    ModPlayer player;
    ModuleBuilder two(2, 1, "2CHN");
    ASSERT_TRUE(initPlayer(player, two.image()));
    EXPECT_EQ(std::make_tuple(player.tick, player.line, player.orderIndex, player.loopCount, player.ticksPerLine),
              std::make_tuple(0, 0, 0, 0, 6));
    EXPECT_EQ(player.samplesPerTick, 160.0f);
    EXPECT_EQ(player.lfoRandom, 0x90E443C0u);  // the first tick stepped it once per channel
    for (uint8_t bits : player.visitedOrders) EXPECT_EQ(bits, 0);

    ModuleBuilder eight(8, 1, "8CHN");
    ASSERT_TRUE(initPlayer(player, eight.image()));
    const int pans[8] = {96, 160, 160, 96, 96, 160, 160, 96};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(player.channels[i].pan, pans[i]) << i;
}

}  // namespace
