// The mixer and the render loop: interpolation, loops, pans, tick timing,
// early returns and loop counting.

#include <gtest/gtest.h>

#include <vector>

#include "module_builder.h"

namespace {

constexpr int kExtended = 14;

// A module whose sample 1 holds `data` and is the last thing in the image.
struct MixFixture : ::testing::Test {
    ModuleBuilder module;
    ModPlayer player{};
    std::vector<float> frames;

    ModChannel& prepare(const std::vector<int8_t>& data, int loopStartWords = 0, int loopLengthWords = 0) {
        module.sample(1, static_cast<int>(data.size() / 2), 0, 64, loopStartWords, loopLengthWords).data(data);
        EXPECT_TRUE(initPlayer(player, module.image()));
        ModChannel& ch = player.channels[0];
        ch.sample = 1;
        ch.position = 0.0f;
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

TEST_F(MixFixture, SampleWithoutLoopEndsOneFramePastItsLength) {
    ModChannel& ch = prepare(ramp(1000));
    mix(ch, 1100);
    const float gain = 64.0f / 32768.0f;
    for (int k = 0; k < 1000; ++k) ASSERT_EQ(left(k), static_cast<float>(k % 100 + 1) * gain) << k;
    // Frame 1000 interpolates from the byte after the data, which lies past
    // the end of the image and counts as 0.
    EXPECT_EQ(left(1000), 0.0f);
    for (int k = 1001; k < 1100; ++k) ASSERT_EQ(left(k), 0.0f);
    for (int k = 0; k < 1100; ++k) ASSERT_EQ(right(k), 0.0f);
    EXPECT_EQ(ch.position, -1.0f);
}

TEST_F(MixFixture, BytesAfterTheSampleInsideTheImageAreUsed) {
    ModChannel& ch = prepare(ramp(1000));
    module.sample(2, 2).data({5, 6, 7, 8});  // sample 2 follows in the image
    ASSERT_TRUE(initPlayer(player, module.image()));
    ch = ModChannel{};
    ch.sample = 1;
    ch.increment = 1.0f;
    ch.realVolume = 64;
    ch.position = 1000.0f;
    mix(ch, 1);
    EXPECT_EQ(left(0), 5.0f * (64.0f / 32768.0f));
    EXPECT_EQ(ch.position, -1.0f);
}

TEST_F(MixFixture, LoopWrapsAtItsEnd) {
    // Loop start 200 bytes, length 100 bytes: loop end 300.
    ModChannel& ch = prepare(ramp(1000), 100, 50);
    mix(ch, 301);
    EXPECT_EQ(left(300), static_cast<float>(300 % 100 + 1) * (64.0f / 32768.0f));
    EXPECT_EQ(ch.position, 201.0f);
    mix(ch, 100);
    EXPECT_EQ(left(0), static_cast<float>(201 % 100 + 1) * (64.0f / 32768.0f));
    EXPECT_EQ(ch.position, 201.0f);
}

TEST_F(MixFixture, LoopWithLargeStepLandsOneFrameBeforeTheEnd) {
    // Loop start 202 bytes, length 100 bytes: loop end 302, step 4.
    std::vector<int8_t> data(1000, 0);
    data[296] = 10;
    data[300] = 20;
    ModChannel& ch = prepare(data, 101, 50);
    ch.increment = 4.0f;
    mix(ch, 75);
    EXPECT_EQ(ch.position, 300.0f);
    EXPECT_NE(left(74), 0.0f);  // position 296
    mix(ch, 1);
    EXPECT_EQ(left(0), 20.0f * (64.0f / 32768.0f));
    EXPECT_EQ(ch.position, 204.0f);
}

TEST_F(MixFixture, SecondByteWrapsIntoTheLoop) {
    std::vector<int8_t> data(1000, 0);
    data[202] = 10;
    data[301] = 20;
    data[302] = 100;
    ModChannel& ch = prepare(data, 101, 50);  // loop end 302
    ch.position = 301.5f;
    mix(ch, 1);
    EXPECT_EQ(left(0), (10.0f * 0.5f + 20.0f * 0.5f) * (64.0f / 32768.0f));
}

TEST_F(MixFixture, Pans) {
    ModChannel& ch = prepare(std::vector<int8_t>(100, 64));
    mix(ch, 10);
    EXPECT_GT(left(5), 0.0f);
    EXPECT_EQ(right(5), 0.0f);
    ch.position = 0.0f;
    ch.pan = 255;
    mix(ch, 10);
    EXPECT_EQ(left(5), 0.0f);
    EXPECT_EQ(right(5), 64.0f * (64.0f / 32768.0f));
    ch.position = 0.0f;
    ch.pan = 96;
    mix(ch, 10);
    EXPECT_NEAR(left(5) / right(5), 159.0 / 96.0, 1e-5);
}

TEST_F(MixFixture, SilentChannelsStillMoveOrStayPut) {
    ModChannel& ch = prepare(ramp(1000));
    ch.realVolume = 0;
    mix(ch, 500);
    for (float v : frames) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(ch.position, 500.0f);
    mix(ch, 600);
    EXPECT_EQ(ch.position, -1.0f);

    // No pitch (a sample set before any note): nothing added, no movement.
    ch.realVolume = 64;
    ch.position = 10.0f;
    ch.increment = 0.0f;
    mix(ch, 100);
    for (float v : frames) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(ch.position, 10.0f);
}

TEST_F(MixFixture, SampleOffsetBeyondTheLoopComesDownOneLoopPerCall) {
    ModChannel& ch = prepare(ramp(1000), 100, 50);
    ch.position = 520.0f;
    mix(ch, 10);
    EXPECT_EQ(ch.position, 420.0f);
    for (float v : frames) ASSERT_EQ(v, 0.0f);
}

// Render loop.

std::vector<uint32_t> renderCalls(ModPlayer& player, uint32_t bytes, int calls) {
    std::vector<float> buffer(bytes / 4 + 2);
    std::vector<uint32_t> frames;
    for (int i = 0; i < calls && player.loopCount == 0; ++i) frames.push_back(modRender(&player, buffer.data(), bytes) / 8);
    return frames;
}

TEST(Render, BufferSizesAndTicks) {
    ModuleBuilder module;
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    std::vector<float> buffer(1024);
    EXPECT_EQ(modRender(&player, buffer.data(), 7), 0u);
    EXPECT_EQ(modRender(nullptr, buffer.data(), 4096), 0u);
    EXPECT_EQ(modRender(&player, nullptr, 4096), 0u);
    EXPECT_EQ(modRender(&player, buffer.data(), 4096), 4096u);
    EXPECT_EQ(player.tick, 3);
    EXPECT_EQ(player.tickSamples, 32.0f);
    EXPECT_EQ(modRender(&player, buffer.data(), 4095), 4088u);
}

TEST(Render, TicksFallOnTheirFrames) {
    ModuleBuilder module;
    module.cell(0, 0, 0, 0, 0, 15, 150);  // 133.33333 frames per tick
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    float frame[2];
    int length = 0;
    int total = 0;
    for (int ticks = 0; ticks < 300;) {
        const int16_t before = player.tick;
        ASSERT_EQ(modRender(&player, frame, 8), 8u);
        ++length;
        if (player.tick != before) {
            ASSERT_TRUE(length == 133 || length == 134) << length;
            total += length;
            length = 0;
            ++ticks;
        }
    }
    EXPECT_NEAR(total, 300 * 400 / 3, 1);
}

TEST(Render, EarlyReturnsAtLineZero) {
    // Two orders of two lines each (breaks on line 1).
    ModuleBuilder module(4, 2);
    module.song(2).order(1, 1).cell(0, 1, 0, 0, 0, 13, 0).cell(1, 1, 0, 0, 0, 13, 0);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    // Two lines are 1920 frames: 512, 512, 512, then 384 up to order 1.
    EXPECT_EQ(renderCalls(player, 4096, 4), (std::vector<uint32_t>{512, 512, 512, 384}));
    EXPECT_EQ(player.orderIndex, 1);
    EXPECT_EQ(player.loopCount, 0);
    // Back at order 0, which has been played: a loop.
    EXPECT_EQ(renderCalls(player, 4096, 5), (std::vector<uint32_t>{512, 512, 512, 384}));
    EXPECT_EQ(player.loopCount, 1);
    for (uint8_t b : player.visitedOrders) EXPECT_EQ(b, 0);
}

TEST(Render, OneOrderSongLoopsAfterSixtyFourLines) {
    ModuleBuilder module;
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    uint32_t frames = 0;
    for (uint32_t k : renderCalls(player, 4096, 1000)) frames += k;
    EXPECT_EQ(frames, 61440u);
    EXPECT_EQ(player.loopCount, 1);
    EXPECT_EQ(player.line, 0);
    EXPECT_EQ(player.tick, 0);
}

TEST(Render, WhatCountsAsALoop) {
    // A break into line 10 of an order played before counts nothing there.
    ModuleBuilder breakInto(4, 1);
    breakInto.cell(0, 20, 0, 0, 0, 13, 0x10);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, breakInto.image()));
    renderCalls(player, 4096, 200);
    EXPECT_EQ(player.loopCount, 0);

    // A loop back to line 0 (E60 on line 0) arrives at a marked order.
    ModuleBuilder loopBack;
    loopBack.cell(0, 0, 0, 0, 0, kExtended, 0x60).cell(0, 1, 0, 0, 0, kExtended, 0x61);
    ASSERT_TRUE(initPlayer(player, loopBack.image()));
    EXPECT_EQ(renderCalls(player, 4096, 10), (std::vector<uint32_t>{512, 512, 512, 384}));
    EXPECT_EQ(player.loopCount, 1);

    // A pattern delay on line 0 returns at each repeat without a loop.
    ModuleBuilder delay;
    delay.cell(0, 0, 0, 0, 0, kExtended, 0xE2);
    ASSERT_TRUE(initPlayer(player, delay.image()));
    EXPECT_EQ(renderCalls(player, 8192, 3), (std::vector<uint32_t>{960, 960, 1024}));
    EXPECT_EQ(player.loopCount, 0);

    // A position jump to an order played before counts at its line 0.
    ModuleBuilder jump(4, 2);
    jump.song(2).order(1, 1).cell(1, 0, 0, 0, 0, 11, 0);
    ASSERT_TRUE(initPlayer(player, jump.image()));
    uint32_t frames = 0;
    for (uint32_t k : renderCalls(player, 8192, 100)) frames += k;
    EXPECT_EQ(player.loopCount, 1);
    EXPECT_EQ(frames, 65u * 960u);
}

}  // namespace
