// The line processor: song position, cell decoding, notes and line effects.

#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/test_modules.h"

using namespace plinth;
using namespace testsupport;

namespace {

// The tests put their cells on line 1 of a 4-channel module and read that
// line with one direct call after modInit has read line 0.
struct Line : ::testing::Test {
    ModuleBuilder module{4, 2};
    ModPlayer player{};
    void readLine1() {
        ASSERT_TRUE(initPlayer(player, module.image()));
        processLine(player);
    }
    // The next line read after the current one.
    int nextLineRead() {
        processLine(player);
        return player.line;
    }
};

TEST_F(Line, AdvanceMarksOrdersAndWrapsToRestart) {
    module.song(2, 1).order(1, 1);
    ASSERT_TRUE(initPlayer(player, module.image()));
    EXPECT_EQ(player.visitedOrders[0], 0);  // reading line 0 marks nothing
    EXPECT_EQ(nextLineRead(), 1);
    EXPECT_EQ(player.visitedOrders[0], 1);
    player.orderIndex = 1;
    player.line = 63;
    EXPECT_EQ(nextLineRead(), 0);
    EXPECT_EQ(player.orderIndex, 1);

    ModuleBuilder long128;
    ASSERT_TRUE(initPlayer(player, long128.song(128, 5).image()));
    player.orderIndex = 127;
    player.line = 0;
    processLine(player);
    EXPECT_EQ(player.visitedOrders[15], 0x80);
    player.line = 63;
    processLine(player);
    EXPECT_EQ(player.orderIndex, 5);
}

TEST_F(Line, NotesTakeTheFinetuneOfTheirLine) {
    module.sample(3, 0, 0x18, 50).sample(4, 0, 8, 200);
    module.cell(0, 1, 0, 3, 428, 0, 0).cell(0, 1, 1, 4, 100, 0, 0).cell(0, 1, 2, 40, 0, 0, 0);
    ASSERT_TRUE(initPlayer(player, module.image()));
    player.channels[2].sample = 4;
    player.channels[2].volume = 33;
    processLine(player);
    const ModChannel* ch = player.channels;
    EXPECT_EQ(std::make_tuple(ch[0].finetune, ch[0].volume, ch[0].period, ch[0].updateFlags),
              std::make_tuple(8, 50, 453, 3));
    EXPECT_EQ(ch[0].position, 0.0f);
    EXPECT_EQ(std::make_tuple(ch[1].period, ch[1].volume), std::make_tuple(151, 64));  // off the table: column 0
    EXPECT_EQ(std::make_tuple(ch[2].sample, ch[2].volume), std::make_tuple(0, 33));    // out of range: silent
}

TEST_F(Line, PortamentoAndDelayedNotesDoNotStart) {
    module.sample(2, 0, 3, 30);
    module.cell(0, 1, 0, 0, 214, 3, 0).cell(0, 1, 1, 0, 214, 5, 0x40).cell(0, 1, 2, 2, 428, kExtended, 0xD2);
    ASSERT_TRUE(initPlayer(player, module.image()));
    player.channels[0] = ModChannel{};
    player.channels[0].period = 428;
    player.channels[0].portaSpeed = 9;
    player.channels[0].position = 77.0f;
    player.channels[0].lfoStep = 5;
    processLine(player);
    // 3 with parameter 0 keeps the speed; 5 never sets it.
    const ModChannel* ch = player.channels;
    EXPECT_EQ(std::make_tuple(ch[0].period, ch[0].lfoStep, ch[0].targetPeriod, ch[0].portaSpeed),
              std::make_tuple(428, 5, 214, 9));
    EXPECT_EQ(ch[0].position, 77.0f);
    EXPECT_EQ(std::make_tuple(ch[1].portaSpeed, ch[1].targetPeriod), std::make_tuple(0, 214));
    EXPECT_EQ(std::make_tuple(ch[2].delayedPeriod, ch[2].period, ch[2].sample, ch[2].volume, ch[2].updateFlags),
              std::make_tuple(428 + finetuneDeltaTable[3][12], 0, 2, 30, 0));
}

TEST_F(Line, SampleOffsetAndParameterMemories) {
    module.cell(0, 0, 0, 0, 428, 9, 0x10).cell(0, 1, 0, 0, 428, 9, 0).cell(0, 1, 1, 0, 0, 9, 0x20);
    module.cell(0, 1, 2, 40, 0, 9, 0x02).cell(0, 1, 3, 0, 0, 4, 0x50).cell(0, 2, 3, 0, 0, 4, 0x07);
    ASSERT_TRUE(initPlayer(player, module.image()));
    EXPECT_EQ(player.channels[0].position, 4096.0f);
    player.channels[1].position = 5.0f;
    player.channels[3].vibratoParam = 0x34;
    processLine(player);
    EXPECT_EQ(player.channels[0].position, 4096.0f);  // parameter 0: the last one
    EXPECT_EQ(player.channels[1].position, 5.0f);     // neither note nor sample
    EXPECT_EQ(player.channels[2].position, 512.0f);   // an out-of-range sample counts
    EXPECT_EQ(player.channels[3].vibratoParam, 0x54);
    processLine(player);
    EXPECT_EQ(player.channels[3].vibratoParam, 0x57);
}

TEST_F(Line, SpeedAndTempo) {
    const struct {
        int param;
        float samplesPerTick;
    } tempos[] = {{32, 625.0f}, {125, 160.0f}, {150, 133.33333f}, {255, 78.431374f}};
    for (const auto& t : tempos) {
        module.effect(1, 0, 15, t.param);
        readLine1();
        EXPECT_FLOAT_EQ(player.samplesPerTick, t.samplesPerTick) << t.param;
        EXPECT_EQ(player.ticksPerLine, 6);
    }
    module.effect(1, 0, 15, 0x1F);
    readLine1();
    EXPECT_EQ(player.ticksPerLine, 31);
    module.effect(1, 0, 15, 0);
    readLine1();
    EXPECT_EQ(player.ticksPerLine, 6);
}

TEST_F(Line, BreaksJumpsAndTheirPrecedence) {
    module.song(10, 2);
    const struct {
        int digit0, param0, digit1, param1, order, line;
    } cases[] = {
        {13, 0x10, 0, 0, 1, 10},    {13, 0x64, 0, 0, 1, 0},     {13, 0x00, 0, 0, 1, 0},
        {13, 0x1F, 0, 0, 1, 25},    {11, 0x7F, 0, 0, 0, 0},     {11, 4, 13, 0x05, 5, 5},
        {11, 4, 11, 7, 7, 0},       {11, 9, 13, 0x03, 2, 3},    {13, 0x05, 11, 4, 5, 5},
    };
    for (const auto& c : cases) {
        module.effect(1, 0, c.digit0, c.param0).effect(1, 1, c.digit1, c.param1);
        readLine1();
        EXPECT_EQ(nextLineRead(), c.line) << c.digit0 << "/" << c.param0 << " " << c.digit1 << "/" << c.param1;
        EXPECT_EQ(player.orderIndex, c.order);
    }
}

TEST(LineLoop, PatternLoops) {
    ModuleBuilder module;
    module.effect(4, 0, kExtended, 0x60).effect(7, 0, kExtended, 0x62).effect(9, 1, kExtended, 0x61);
    module.effect(21, 2, kExtended, 0x61).effect(21, 3, 13, 0x30);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    std::vector<int> read;
    for (int i = 0; i < 22; ++i) {
        const int before = player.line;
        processLine(player);
        read.push_back(before + 1);  // a loop jump shows at the next call
    }
    // Lines 4..7 three times; E61 without a start returns to line 1 once.
    const std::vector<int> expected = {1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4, 5};
    EXPECT_EQ(read, expected);
    // A loop and a break on one line: the break decides.
    player.line = 20;
    processLine(player);
    EXPECT_EQ(player.line, 29);
}

// A position jump earlier on the same line leaves `line` at -1; a loop start
// there starts the loop at line 0, so no line outside 0..63 is ever read.
TEST(LineLoop, LoopStartAfterAJumpStaysInsideThePattern) {
    ModuleBuilder module(2, 1, "2CHN");
    module.effect(2, 0, 11, 0).effect(2, 1, kExtended, 0x60);
    module.effect(5, 1, kExtended, 0x61).effect(5, 0, kExtended, 0x60);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    for (int i = 0; i < 2000; ++i) {
        processLine(player);
        ASSERT_GE(player.line, -1);
        ASSERT_LE(player.line, 63);
    }
    EXPECT_EQ(player.channels[1].loopLine, -1);
}

}  // namespace
