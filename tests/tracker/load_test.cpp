// Identification of the two module layouts and loading of the song.

#include <gtest/gtest.h>

#include "module_builder.h"

namespace {

int identify(const std::vector<uint8_t>& image, ModPlayer& player) {
    player = ModPlayer{};
    return modIdentify(&player, image.data(), static_cast<int32_t>(image.size()));
}

TEST(ModIdentify, TagsGiveTheirChannelCounts) {
    const struct {
        const char* tag;
        int channels;
    } cases[] = {{"M.K.", 4}, {"M!K!", 4}, {"FLT4", 4}, {"4CHN", 4}, {"OKTA", 8}, {"OCTA", 8}, {"CD81", 8},
                 {"FA08", 8}, {"1CHN", 1}, {"6CHN", 6}, {"9CHN", 9}, {"10CH", 10}, {"23CH", 23}, {"32CH", 32}};
    for (const auto& c : cases) {
        ModPlayer player;
        ModuleBuilder module(c.channels, 1, c.tag);
        module.song(7, 2);
        ASSERT_EQ(identify(module.image(), player), 1) << c.tag;
        EXPECT_EQ(player.channelCount, c.channels) << c.tag;
        EXPECT_EQ(player.sampleCount, 31);
        EXPECT_EQ(player.songLength, 7);
        EXPECT_EQ(player.restartPosition, 2);
        EXPECT_EQ(player.orderTable, module.image().data() + 952);
        EXPECT_EQ(player.patternData, module.image().data() + 1084);
    }
}

TEST(ModIdentify, TagNeedsTheWholeHeaderAndExactCase) {
    ModPlayer player;
    // Exactly 1084 bytes: the tag is compared.
    std::vector<uint8_t> image(1084, 0);
    std::memcpy(&image[1080], "6CHN", 4);
    ASSERT_EQ(identify(image, player), 1);
    EXPECT_EQ(player.channelCount, 6);
    // One byte less goes to the 15-sample test, which an all-zero text passes.
    image.resize(1083);
    ASSERT_EQ(identify(image, player), 1);
    EXPECT_EQ(player.sampleCount, 15);
    EXPECT_EQ(player.channelCount, 4);
    EXPECT_EQ(player.orderTable, image.data() + 472);
    EXPECT_EQ(player.patternData, image.data() + 600);

    // A lower-case tag is no tag: printable text makes it a 15-sample module,
    // anything else fails.
    ModuleBuilder lower(4, 1, "m.k.");
    lower.at(470) = 9;
    ASSERT_EQ(identify(lower.image(), player), 1);
    EXPECT_EQ(player.sampleCount, 15);
    EXPECT_EQ(player.songLength, 9);
    lower.at(5) = 0xFF;
    EXPECT_EQ(identify(lower.image(), player), 0);
}

TEST(ModIdentify, FifteenSampleTextTest) {
    ModPlayer player;
    std::vector<uint8_t> image(600, ' ');
    EXPECT_EQ(identify(image, player), 1);
    for (uint8_t bad : {0x7F, 0x1F, 0xFF, 0x80}) {
        std::vector<uint8_t> title = image;
        title[19] = bad;
        EXPECT_EQ(identify(title, player), 0) << int(bad);
        std::vector<uint8_t> name = image;
        name[20 + 14 * 30 + 21] = bad;  // last name byte of sample 15
        EXPECT_EQ(identify(name, player), 0) << int(bad);
    }
    // Bytes outside the names (length, finetune, volume...) are not judged.
    std::vector<uint8_t> fields = image;
    fields[20 + 22] = 0xFF;
    fields[20 + 14 * 30 + 25] = 0xFF;
    EXPECT_EQ(identify(fields, player), 1);
    EXPECT_EQ(identify(std::vector<uint8_t>(599, ' '), player), 0);
}

TEST(ModInit, SizeChecks) {
    ModPlayer player;
    ModuleBuilder module;  // M.K., one pattern: 2108 bytes
    std::vector<uint8_t> image = module.image();
    ASSERT_EQ(image.size(), 2108u);
    EXPECT_TRUE(initPlayer(player, image));
    image.pop_back();
    EXPECT_FALSE(initPlayer(player, image));

    // 6 and 32 channels: patterns of 1536 and 8192 bytes.
    ModuleBuilder six(6, 1, "6CHN");
    EXPECT_EQ(six.image().size(), 1084u + 1536u);
    EXPECT_TRUE(initPlayer(player, six.image()));
    std::vector<uint8_t> shortSix = six.image();
    shortSix.pop_back();
    EXPECT_FALSE(initPlayer(player, shortSix));
    ModuleBuilder wide(32, 1, "32CH");
    EXPECT_TRUE(initPlayer(player, wide.image()));
    EXPECT_EQ(player.channelCount, 32);

    // A played order whose pattern lies outside the image fails even when
    // the pattern count stops before it.
    ModuleBuilder far;
    far.order(0, 200);
    EXPECT_FALSE(initPlayer(player, far.image()));

    EXPECT_EQ(modInit(nullptr, image.data(), 2108, 8000), 0);
    EXPECT_EQ(modInit(&player, nullptr, 2108, 8000), 0);
    EXPECT_EQ(modInit(&player, module.image().data(), 0, 8000), 0);
    EXPECT_EQ(modInit(&player, module.image().data(), 2108, 0), 0);
}

TEST(ModInit, SongLengthAndRestart) {
    ModPlayer player;
    EXPECT_FALSE(initPlayer(player, ModuleBuilder().song(0).image()));
    EXPECT_FALSE(initPlayer(player, ModuleBuilder().song(129).image()));
    ASSERT_TRUE(initPlayer(player, ModuleBuilder().song(128).image()));
    ASSERT_TRUE(initPlayer(player, ModuleBuilder().song(10, 127).image()));
    EXPECT_EQ(player.restartPosition, 0);
    ASSERT_TRUE(initPlayer(player, ModuleBuilder().song(10, 3).image()));
    EXPECT_EQ(player.restartPosition, 3);
}

TEST(ModInit, PatternCountWalksTheOrderList) {
    ModPlayer player;
    ModuleBuilder stopAt200(4, 6);
    stopAt200.song(3).order(0, 0).order(1, 1).order(2, 2).order(3, 200).order(4, 5);
    ASSERT_TRUE(initPlayer(player, stopAt200.image()));
    EXPECT_EQ(player.patternCount, 3);

    ModuleBuilder first128(4, 1);
    first128.order(0, 128).order(1, 5);
    // Order 0 plays pattern 128, which is not in the image.
    EXPECT_FALSE(initPlayer(player, first128.image()));
    first128.song(1).order(0, 0).order(1, 128).order(2, 5);
    ASSERT_TRUE(initPlayer(player, first128.image()));
    EXPECT_EQ(player.patternCount, 1);

    // An unplayed entry still counts: ten patterns must be present.
    ModuleBuilder unplayed(4, 10);
    unplayed.song(2).order(0, 0).order(1, 1).order(5, 9);
    ASSERT_TRUE(initPlayer(player, unplayed.image()));
    EXPECT_EQ(player.patternCount, 10);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(player.samples[0].data), unplayed.image().data() + 1084 + 10 * 1024);
    ModuleBuilder nine(4, 9);
    nine.song(2).order(0, 0).order(1, 1).order(5, 9);
    EXPECT_FALSE(initPlayer(player, nine.image()));
}

TEST(ModInit, SampleTableFollowsThePatterns) {
    ModPlayer player;
    ModuleBuilder module;
    module.sample(1, 0).sample(2, 1).sample(3, 2).sample(4, 1000).sample(5, 10);
    module.fill(4 + 100, 0);  // sample 3 whole, then 100 bytes of sample 4
    ASSERT_TRUE(initPlayer(player, module.image()));
    const uint8_t* base = module.image().data() + 2108;
    const uint8_t* end = module.image().data() + module.image().size();
    EXPECT_EQ(player.samples[0].length, 0u);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(player.samples[0].data), base);
    EXPECT_EQ(player.samples[1].length, 0u);
    EXPECT_EQ(player.samples[2].length, 4u);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(player.samples[3].data), base + 4);
    EXPECT_EQ(player.samples[3].length, 100u);
    for (int j = 4; j < 31; ++j) {
        EXPECT_EQ(player.samples[j].length, 0u);
        EXPECT_EQ(reinterpret_cast<const uint8_t*>(player.samples[j].data), end);
    }

    ModuleBuilder old(4, 1, "", true);
    old.sample(1, 2).fill(4, 1);
    ASSERT_TRUE(initPlayer(player, old.image()));
    EXPECT_EQ(player.sampleCount, 15);
    EXPECT_EQ(player.samples[0].length, 4u);
    for (int j = 15; j < 31; ++j) {
        EXPECT_EQ(player.samples[j].data, nullptr);
        EXPECT_EQ(player.samples[j].length, 0u);
    }
}

TEST(ModInit, StartingState) {
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, ModuleBuilder(2, 1, "2CHN").image()));
    EXPECT_EQ(player.tick, 0);
    EXPECT_EQ(player.line, 0);
    EXPECT_EQ(player.orderIndex, 0);
    EXPECT_EQ(player.loopCount, 0);
    EXPECT_EQ(player.ticksPerLine, 6);
    EXPECT_EQ(player.samplesPerTick, 160.0f);
    EXPECT_EQ(player.tickSamples, 0.0f);
    // The first tick steps the generator once per channel.
    EXPECT_EQ(player.lfoRandom, 0x90E443C0u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(player.visitedOrders[i], 0);

    ASSERT_TRUE(initPlayer(player, ModuleBuilder(8, 1, "8CHN").image()));
    const int pans[8] = {96, 160, 160, 96, 96, 160, 160, 96};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(player.channels[i].pan, pans[i]) << i;
    ASSERT_TRUE(initPlayer(player, ModuleBuilder(1, 1, "1CHN").image()));
    EXPECT_EQ(player.channels[0].pan, 96);
}

}  // namespace
