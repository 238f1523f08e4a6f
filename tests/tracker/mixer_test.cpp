// The mixer and the render loop: interpolation, loops, pans, tick timing,
// early returns and loop counting.

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_modules.h"

using namespace plinth;
using namespace testsupport;

namespace {

constexpr float kFullVolume = 64.0f / 32768.0f;

// Sample 1 holds `data` and ends the image, unless more is appended later.
struct Mix : ::testing::Test {
    ModuleBuilder module;
    ModPlayer player{};
    std::vector<float> frames;

    ModChannel& prepare(const std::vector<int8_t>& data, int loopStartWords = 0, int loopWords = 0) {
        module.sample(1, static_cast<int>(data.size() / 2), 0, 64, loopStartWords, loopWords).data(data);
        EXPECT_TRUE(initPlayer(player, module.image()));
        ModChannel& ch = player.channels[0];
        ch.sample = 1;
        ch.increment = 1.0f;
        ch.realVolume = 64;
        ch.pan = 0;
        return ch;
    }
    void mix(ModChannel& ch, int count) {
        frames.assign(static_cast<size_t>(count) * 2, 0.0f);
        mixChannel(player, ch, frames.data(), count);
    }
    float left(int frame) const { return frames[static_cast<size_t>(frame) * 2]; }
    float right(int frame) const { return frames[static_cast<size_t>(frame) * 2 + 1]; }
};

std::vector<int8_t> ramp(int length) {
    std::vector<int8_t> data(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) data[static_cast<size_t>(i)] = static_cast<int8_t>(i % 100 + 1);
    return data;
}

TEST_F(Mix, SampleWithoutLoopEndsAtTheEndOfTheImage) {
    ModChannel& ch = prepare(ramp(1000));
    mix(ch, 1100);
    for (int k = 0; k < 1000; ++k) ASSERT_EQ(left(k), static_cast<float>(k % 100 + 1) * kFullVolume) << k;
    // Frame 1000 reads the byte after the data: past the end of the image,
    // it counts as 0. Then the sample has ended.
    for (int k = 1000; k < 1100; ++k) ASSERT_EQ(left(k), 0.0f) << k;
    for (int k = 0; k < 1100; ++k) ASSERT_EQ(right(k), 0.0f);
    EXPECT_EQ(ch.position, -1.0f);

    // Inside the image the next sample's first byte is used.
    module.sample(2, 2).data({5, 6, 7, 8});
    ASSERT_TRUE(initPlayer(player, module.image()));
    ch = ModChannel{};
    ch.sample = 1;
    ch.increment = 1.0f;
    ch.realVolume = 64;
    ch.position = 1000.0f;
    mix(ch, 1);
    EXPECT_EQ(left(0), 5.0f * kFullVolume);
}

TEST_F(Mix, LoopsWrap) {
    std::vector<int8_t> data = ramp(1000);
    data[202] = 10;
    data[301] = 20;
    data[302] = 100;
    ModChannel& ch = prepare(data, 100, 50);  // loop 200..300
    mix(ch, 301);
    EXPECT_EQ(ch.position, 201.0f);
    mix(ch, 100);
    EXPECT_EQ(left(0), static_cast<float>(201 % 100 + 1) * kFullVolume);
    EXPECT_EQ(ch.position, 201.0f);

    // Loop 202..302 with step 4: 75 frames up to 296, one at 300, then 204.
    module = ModuleBuilder();
    ModChannel& wide = prepare(data, 101, 50);
    wide.increment = 4.0f;
    mix(wide, 75);
    EXPECT_EQ(wide.position, 300.0f);
    mix(wide, 1);
    EXPECT_EQ(wide.position, 204.0f);
    // The second byte of the last position wraps to the loop start.
    wide.position = 301.5f;
    mix(wide, 1);
    EXPECT_EQ(left(0), (10.0f * 0.5f + 20.0f * 0.5f) * kFullVolume);
    // A position far past the loop comes down one loop length per call.
    wide.position = 520.0f;
    mix(wide, 10);
    EXPECT_EQ(wide.position, 420.0f);
    for (float v : frames) ASSERT_EQ(v, 0.0f);
}

TEST_F(Mix, PansVolumeAndNoPitch) {
    ModChannel& ch = prepare(std::vector<int8_t>(100, 64));
    mix(ch, 10);
    EXPECT_EQ(left(5), 64.0f * kFullVolume);
    EXPECT_EQ(right(5), 0.0f);
    ch.position = 0.0f;
    ch.pan = 255;
    mix(ch, 10);
    EXPECT_EQ(left(5), 0.0f);
    EXPECT_EQ(right(5), 64.0f * kFullVolume);
    ch.position = 0.0f;
    ch.pan = 96;
    mix(ch, 10);
    EXPECT_NEAR(left(5) / right(5), 159.0 / 96.0, 1e-5);

    // Volume 0: zeros, but the position moves and the sample can end.
    ch.position = 0.0f;
    ch.realVolume = 0;
    mix(ch, 60);
    for (float v : frames) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(ch.position, 60.0f);
    mix(ch, 60);
    EXPECT_EQ(ch.position, -1.0f);

    // No pitch (a sample set before any note): nothing added, no movement.
    ch.realVolume = 64;
    ch.position = 10.0f;
    ch.increment = 0.0f;
    mix(ch, 100);
    for (float v : frames) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(ch.position, 10.0f);
}

std::vector<uint32_t> renderCalls(ModPlayer& player, uint32_t bytes, int calls) {
    std::vector<float> buffer(bytes / 4 + 2);
    std::vector<uint32_t> frames;
    for (int i = 0; i < calls && player.loopCount == 0; ++i) frames.push_back(modRender(player, buffer.data(), bytes) / 8);
    return frames;
}

uint32_t total(const std::vector<uint32_t>& calls) {
    uint32_t sum = 0;
    for (uint32_t k : calls) sum += k;
    return sum;
}

TEST(Render, BufferSizesAndTickTiming) {
    ModuleBuilder module;
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    std::vector<float> buffer(1024);
    EXPECT_EQ(modRender(player, buffer.data(), 7), 0u);
    EXPECT_EQ(modRender(player, nullptr, 4096), 0u);
    EXPECT_EQ(modRender(player, buffer.data(), 4096), 4096u);  // ticks after 160, 320, 480
    EXPECT_EQ(player.tick, 3);
    EXPECT_EQ(player.tickSamples, 32.0f);
    EXPECT_EQ(modRender(player, buffer.data(), 4095), 4088u);

    // At 133.33333 frames per tick, ticks last 133 or 134 frames.
    ModuleBuilder tempo;
    ASSERT_TRUE(initPlayer(player, tempo.effect(0, 0, 15, 150).image()));
    int length = 0;
    int sum = 0;
    for (int ticks = 0; ticks < 300;) {
        const int16_t before = player.tick;
        ASSERT_EQ(modRender(player, buffer.data(), 8), 8u);
        ++length;
        if (player.tick != before) {
            ASSERT_TRUE(length == 133 || length == 134) << length;
            sum += length;
            length = 0;
            ++ticks;
        }
    }
    EXPECT_NEAR(sum, 40000, 1);
}

TEST(Render, EarlyReturnsAndLoops) {
    // Two orders of two lines each: a call returns early at each order's
    // line 0 and the second arrival at order 0 counts a loop.
    ModuleBuilder two(4, 2);
    two.song(2).order(1, 1).cell(0, 1, 0, 0, 0, 13, 0).cell(1, 1, 0, 0, 0, 13, 0);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, two.image()));
    EXPECT_EQ(renderCalls(player, 4096, 4), (std::vector<uint32_t>{512, 512, 512, 384}));
    EXPECT_EQ(player.loopCount, 0);
    EXPECT_EQ(renderCalls(player, 4096, 5), (std::vector<uint32_t>{512, 512, 512, 384}));
    EXPECT_EQ(player.loopCount, 1);
    for (uint8_t bits : player.visitedOrders) EXPECT_EQ(bits, 0);

    ModuleBuilder one;  // 64 lines, then order 0 again
    ASSERT_TRUE(initPlayer(player, one.image()));
    EXPECT_EQ(total(renderCalls(player, 4096, 1000)), 61440u);
    EXPECT_EQ(player.loopCount, 1);

    ModuleBuilder loopBack;  // E60 on line 0 returns to a marked order
    ASSERT_TRUE(initPlayer(player, loopBack.effect(0, 0, kExtended, 0x60).effect(1, 0, kExtended, 0x61).image()));
    EXPECT_EQ(total(renderCalls(player, 4096, 100)), 1920u);
    EXPECT_EQ(player.loopCount, 1);

    ModuleBuilder delay;  // each repeat of line 0 returns, but counts nothing
    ASSERT_TRUE(initPlayer(player, delay.effect(0, 0, kExtended, 0xE2).image()));
    EXPECT_EQ(renderCalls(player, 8192, 3), (std::vector<uint32_t>{960, 960, 1024}));
    EXPECT_EQ(player.loopCount, 0);

    ModuleBuilder breakInto;  // into line 10 of a played order: no loop
    ASSERT_TRUE(initPlayer(player, breakInto.effect(20, 0, 13, 0x10).image()));
    renderCalls(player, 4096, 200);
    EXPECT_EQ(player.loopCount, 0);

    ModuleBuilder jump(4, 2);  // a jump counts when the played order's line 0 starts
    ASSERT_TRUE(initPlayer(player, jump.song(2).order(1, 1).cell(1, 0, 0, 0, 0, 11, 0).image()));
    EXPECT_EQ(total(renderCalls(player, 8192, 100)), 65u * 960u);
    EXPECT_EQ(player.loopCount, 1);
}

}  // namespace
