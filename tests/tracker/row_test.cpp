// The line processor: song position, cell decoding, notes and line effects.

#include <gtest/gtest.h>

#include "module_builder.h"

namespace {

constexpr int kExtended = 14;

// A 4-channel module; the tests put their cells on line 1 and read that line
// with one direct call after modInit.
struct RowFixture : ::testing::Test {
    ModuleBuilder module{4, 2};
    ModPlayer player{};
    void start() { ASSERT_TRUE(initPlayer(player, module.image())); }
    void readLine1() {
        start();
        processRow(player);
    }
};

TEST(PeriodIndex, ExactLookupOnly) {
    EXPECT_EQ(periodIndex(856), 0);
    EXPECT_EQ(periodIndex(808), 1);
    EXPECT_EQ(periodIndex(428), 12);
    EXPECT_EQ(periodIndex(226), 23);
    EXPECT_EQ(periodIndex(113), 35);
    EXPECT_EQ(periodIndex(429), 0);
    EXPECT_EQ(periodIndex(100), 0);
    EXPECT_EQ(periodIndex(0), 0);
}

TEST(FinetuneTable, SlideLimitsFromFirstAndLastColumns) {
    const int lower[16] = {113, 113, 112, 111, 110, 109, 109, 108, 120, 119, 118, 118, 117, 116, 115, 114};
    const int upper[16] = {856, 850, 844, 838, 832, 826, 820, 814, 907, 900, 894, 887, 881, 875, 868, 862};
    for (int f = 0; f < 16; ++f) {
        EXPECT_EQ(113 + finetuneDeltaTable[f][35], lower[f]) << f;
        EXPECT_EQ(856 + finetuneDeltaTable[f][0], upper[f]) << f;
    }
    // Spot checks inside the rows.
    EXPECT_EQ(finetuneDeltaTable[8][12], 25);
    EXPECT_EQ(finetuneDeltaTable[7][26], -9);
    EXPECT_EQ(finetuneDeltaTable[12][34], 3);
    EXPECT_EQ(finetuneDeltaTable[15][25], 1);
}

TEST_F(RowFixture, PositionAdvanceAndOrderMarking) {
    module.song(2, 1).order(0, 0).order(1, 1);
    start();
    EXPECT_EQ(player.visitedOrders[0], 0);  // reading line 0 marks nothing
    processRow(player);
    EXPECT_EQ(player.visitedOrders[0], 1);
    EXPECT_EQ(player.line, 1);
    while (!(player.orderIndex == 1 && player.line == 63)) processRow(player);
    processRow(player);  // past the last order: continue at the restart position
    EXPECT_EQ(player.orderIndex, 1);
    EXPECT_EQ(player.line, 0);
    EXPECT_EQ(player.visitedOrders[0], 3);
}

TEST(RowPosition, LastOfOneHundredTwentyEightOrdersWrapsToRestart) {
    ModuleBuilder module;
    module.song(128, 5);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    player.orderIndex = 127;
    player.line = 63;
    processRow(player);
    EXPECT_EQ(player.orderIndex, 5);
    EXPECT_EQ(player.line, 0);
    player.orderIndex = 127;
    player.line = 0;
    processRow(player);
    EXPECT_EQ(player.visitedOrders[15], 0x80);
}

TEST_F(RowFixture, NoteTakesTheFinetuneOfTheSampleOnItsLine) {
    module.sample(3, 0, 0x18, 50).cell(0, 1, 0, 3, 428, 0, 0);
    readLine1();
    const ModChannel& ch = player.channels[0];
    EXPECT_EQ(ch.sample, 3);
    EXPECT_EQ(ch.finetune, 8);
    EXPECT_EQ(ch.volume, 50);
    EXPECT_EQ(ch.period, 453);
    EXPECT_EQ(ch.position, 0.0f);
    EXPECT_EQ(ch.lfoStep, 0);
    EXPECT_EQ(ch.updateFlags, 3);
}

TEST_F(RowFixture, SampleNumbersAndVolumes) {
    module.sample(1, 0, 0, 200).cell(0, 0, 0, 1, 0, 0, 0).cell(0, 1, 0, 40, 0, 0, 0);
    module.cell(0, 0, 1, 1, 0, 12, 0x50).cell(0, 0, 2, 1, 100, 0, 0);
    start();
    EXPECT_EQ(player.channels[0].volume, 64);  // header volume above 64
    EXPECT_EQ(player.channels[1].volume, 64);  // set volume clamped
    EXPECT_EQ(player.channels[2].period, 100);  // not a base period, finetune 0
    processRow(player);
    EXPECT_EQ(player.channels[0].sample, 0);  // out-of-range number silences
    EXPECT_EQ(player.channels[0].volume, 64);
}

TEST_F(RowFixture, PeriodOffTheTableTakesColumnZero) {
    module.sample(1, 0, 8).cell(0, 1, 0, 1, 100, 0, 0);
    readLine1();
    EXPECT_EQ(player.channels[0].period, 151);
}

TEST_F(RowFixture, PortamentoNotesOnlySetTheTarget) {
    module.cell(0, 0, 0, 0, 428, 0, 0).cell(0, 0, 1, 0, 428, 3, 0x20);
    module.cell(0, 1, 0, 0, 214, 3, 0).cell(0, 1, 1, 0, 214, 5, 0x40);
    start();
    player.channels[0].portaSpeed = 9;
    player.channels[0].position = 77.0f;
    player.channels[0].lfoStep = 5;
    processRow(player);
    const ModChannel& a = player.channels[0];
    EXPECT_EQ(a.period, 428);
    EXPECT_EQ(a.position, 77.0f);
    EXPECT_EQ(a.lfoStep, 5);
    EXPECT_EQ(a.targetPeriod, 214);
    EXPECT_EQ(a.portaSpeed, 9);  // parameter 0 keeps the speed
    EXPECT_EQ(player.channels[1].portaSpeed, 0x20);  // effect 5 never sets it
    EXPECT_EQ(player.channels[1].targetPeriod, 214);
    EXPECT_EQ(player.channels[1].updateFlags & 1, 0);
}

TEST_F(RowFixture, NoteDelayHoldsTheNoteBack) {
    module.sample(2, 0, 3, 30).cell(0, 1, 0, 2, 428, kExtended, 0xD2);
    readLine1();
    const ModChannel& ch = player.channels[0];
    EXPECT_EQ(ch.delayedPeriod, 428 + finetuneDeltaTable[3][12]);
    EXPECT_EQ(ch.period, 0);
    EXPECT_EQ(ch.sample, 2);
    EXPECT_EQ(ch.finetune, 3);
    EXPECT_EQ(ch.volume, 30);
    EXPECT_EQ(ch.updateFlags, 0);
}

TEST_F(RowFixture, SampleOffset) {
    module.cell(0, 0, 0, 0, 428, 9, 0x10).cell(0, 1, 0, 0, 428, 9, 0);  // remembered parameter
    module.cell(0, 1, 1, 0, 0, 9, 0x20);                                 // neither note nor sample
    module.cell(0, 1, 2, 40, 0, 9, 0x02);                                // an out-of-range sample counts
    start();
    EXPECT_EQ(player.channels[0].position, 4096.0f);
    player.channels[0].position = 3.0f;
    player.channels[1].position = 5.0f;
    processRow(player);
    EXPECT_EQ(player.channels[0].position, 4096.0f);
    EXPECT_EQ(player.channels[1].position, 5.0f);
    EXPECT_EQ(player.channels[1].offsetParam, 0);
    EXPECT_EQ(player.channels[2].position, 512.0f);
}

TEST_F(RowFixture, ParameterMemories) {
    module.cell(0, 1, 0, 0, 0, 4, 0x50).cell(0, 2, 0, 0, 0, 4, 0x07);
    module.cell(0, 1, 1, 0, 0, 7, 0x0A).cell(0, 2, 1, 0, 0, 7, 0x30);
    module.cell(0, 1, 2, 0, 0, kExtended, 0x13).cell(0, 2, 2, 0, 0, kExtended, 0x10);
    module.cell(0, 1, 3, 0, 0, kExtended, 0xA4).cell(0, 2, 3, 0, 0, kExtended, 0xB6);
    start();
    player.channels[0].vibratoParam = 0x34;
    processRow(player);
    EXPECT_EQ(player.channels[0].vibratoParam, 0x54);
    processRow(player);
    EXPECT_EQ(player.channels[0].vibratoParam, 0x57);
    EXPECT_EQ(player.channels[1].tremoloParam, 0x3A);
    EXPECT_EQ(player.channels[2].fineSlideUpParam, 3);  // 0 keeps the last value
    EXPECT_EQ(player.channels[2].effect, 0xE1);
    EXPECT_EQ(player.channels[2].param, 0);
    EXPECT_EQ(player.channels[3].fineVolUpParam, 4);
    EXPECT_EQ(player.channels[3].fineVolDownParam, 6);
}

TEST_F(RowFixture, PansFinetuneWaveformsAndDelay) {
    module.cell(0, 1, 0, 0, 0, 8, 0xC8).cell(0, 1, 1, 0, 0, kExtended, 0x8F);
    module.cell(0, 1, 2, 0, 0, kExtended, 0x5B).cell(0, 1, 3, 0, 0, kExtended, 0xE3);
    readLine1();
    EXPECT_EQ(player.channels[0].pan, 0xC8);
    EXPECT_EQ(player.channels[1].pan, 240);
    EXPECT_EQ(player.channels[2].finetune, 11);
    EXPECT_EQ(player.channels[2].updateFlags & 1, 1);
    EXPECT_EQ(player.patternDelay, 3);
}

TEST_F(RowFixture, SpeedAndTempo) {
    const struct {
        int param;
        float samplesPerTick;
    } tempos[] = {{32, 625.0f}, {125, 160.0f}, {150, 133.33333f}, {255, 78.431374f}};
    for (const auto& t : tempos) {
        module.cell(0, 1, 0, 0, 0, 15, t.param);
        readLine1();
        EXPECT_FLOAT_EQ(player.samplesPerTick, t.samplesPerTick) << t.param;
        EXPECT_EQ(player.samplesPerTick, 8000.0f / (static_cast<float>(t.param) * 0.4f));
        EXPECT_EQ(player.ticksPerLine, 6);
    }
    module.cell(0, 1, 0, 0, 0, 15, 0x1F);
    readLine1();
    EXPECT_EQ(player.ticksPerLine, 31);
    module.cell(0, 1, 0, 0, 0, 15, 0);
    readLine1();
    EXPECT_EQ(player.ticksPerLine, 6);
    EXPECT_EQ(player.samplesPerTick, 160.0f);
}

TEST_F(RowFixture, BreaksAndJumps) {
    module.song(10).cell(0, 1, 0, 0, 0, 13, 0x10);
    readLine1();
    EXPECT_EQ(player.orderIndex, 1);
    processRow(player);
    EXPECT_EQ(player.line, 10);

    for (int param : {0x64, 0x00}) {
        module.cell(0, 1, 0, 0, 0, 13, param);
        readLine1();
        processRow(player);
        EXPECT_EQ(player.line, 0);
        EXPECT_EQ(player.orderIndex, 1);
    }
    module.cell(0, 1, 0, 0, 0, 13, 0x1F);  // digits taken as they stand: 25
    readLine1();
    processRow(player);
    EXPECT_EQ(player.line, 25);

    module.cell(0, 1, 0, 0, 0, 11, 0x7F);  // beyond the song: order 0
    readLine1();
    EXPECT_EQ(player.line, -1);
    processRow(player);
    EXPECT_EQ(player.orderIndex, 0);
    EXPECT_EQ(player.line, 0);
}

TEST_F(RowFixture, PrecedenceOnOneLine) {
    module.song(10);
    // Jump and break: order after the jump target, at the break line.
    module.cell(0, 1, 0, 0, 0, 11, 4).cell(0, 1, 1, 0, 0, 13, 0x05);
    readLine1();
    processRow(player);
    EXPECT_EQ(player.orderIndex, 5);
    EXPECT_EQ(player.line, 5);
    // Two jumps: the higher channel counts.
    module.cell(0, 1, 0, 0, 0, 11, 4).cell(0, 1, 1, 0, 0, 11, 7);
    readLine1();
    processRow(player);
    EXPECT_EQ(player.orderIndex, 7);
    EXPECT_EQ(player.line, 0);
    // A jump to the last order with a break wraps to the restart position.
    module.song(10, 2).cell(0, 1, 0, 0, 0, 11, 9).cell(0, 1, 1, 0, 0, 13, 0x03);
    readLine1();
    processRow(player);
    EXPECT_EQ(player.orderIndex, 2);
    EXPECT_EQ(player.line, 3);
}

TEST(RowLoop, PatternLoopPlaysItsLinesAgain) {
    ModuleBuilder module;
    module.cell(0, 4, 0, 0, 0, kExtended, 0x60).cell(0, 7, 0, 0, 0, kExtended, 0x62);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    // Lines 4..7 three times, then 8.
    const std::vector<int> expected = {1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7, 4, 5, 6, 7, 8};
    std::vector<int> read;
    for (int i = 0; i < 16; ++i) {
        const int before = player.line;
        processRow(player);
        read.push_back(before + 1);  // a loop jump shows only at the next call
    }
    EXPECT_EQ(read, expected);

    // A loop end before any loop start returns to line 1 (loopLine 0).
    ModuleBuilder noStart;
    noStart.cell(0, 3, 0, 0, 0, kExtended, 0x61);
    ASSERT_TRUE(initPlayer(player, noStart.image()));
    for (int i = 0; i < 3; ++i) processRow(player);
    EXPECT_EQ(player.line, 0);
    processRow(player);
    EXPECT_EQ(player.line, 1);
}

TEST(RowLoop, LoopAndBreakOnOneLine) {
    ModuleBuilder module;
    module.song(2).cell(0, 2, 0, 0, 0, kExtended, 0x60).cell(0, 5, 0, 0, 0, kExtended, 0x61);
    module.cell(0, 5, 1, 0, 0, 13, 0x20);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    for (int i = 0; i < 5; ++i) processRow(player);
    EXPECT_EQ(player.orderIndex, 1);
    processRow(player);
    EXPECT_EQ(player.line, 20);
}

// A position jump earlier on the same line leaves `line` at -1; a loop start
// there starts the loop at line 0, and no line outside 0..63 is ever read.
TEST(RowLoop, LoopStartAfterAJumpStaysInsideThePattern) {
    ModuleBuilder module(2, 1, "2CHN");
    module.song(1).cell(0, 2, 0, 0, 0, 11, 0).cell(0, 2, 1, 0, 0, kExtended, 0x60);
    module.cell(0, 5, 1, 0, 0, kExtended, 0x61).cell(0, 5, 0, 0, 0, kExtended, 0x60);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    for (int i = 0; i < 2000; ++i) {
        processRow(player);
        ASSERT_GE(player.line, -1);
        ASSERT_LE(player.line, 63);
        for (int c = 0; c < 2; ++c) ASSERT_GE(player.channels[c].loopLine, -1);
    }
    EXPECT_EQ(player.channels[1].loopLine, -1);
}

}  // namespace
