// The tick processor: timing of lines, per-tick effects, pitch and volume.

#include <gtest/gtest.h>

#include "tests/support/test_modules.h"

using namespace plinth;
using namespace testsupport;

namespace {

float incrementFor(float period) { return 3546894.5f / (8000.0f * period); }

TEST(Pitch, IncrementsArpeggioAndVibrato) {
    ModuleBuilder module;
    module.cell(0, 0, 0, 0, 428, 0, 0x37).cell(0, 0, 1, 0, 856, 0, 0);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    EXPECT_FLOAT_EQ(player.channels[1].increment, 0.51794606f);
    const float arpeggio[4] = {1.0358921f, 1.2318901f, 1.5520845f, 1.0358921f};
    for (int t = 0; t < 4; ++t, processTick(player)) EXPECT_FLOAT_EQ(player.channels[0].increment, arpeggio[t]) << t;
    EXPECT_EQ(player.channels[0].increment, incrementFor(428.0f / 1.189207f));  // tick 4: +3

    // Vibrato at depth 15 with the value +255 (square, phase 0); waveform
    // arguments 4..7 act as 0..3.
    ModChannel& ch = player.channels[1];
    ch.period = 428;
    ch.effect = 4;
    ch.vibratoParam = 0x0F;
    ch.vibratoWaveform = 6;
    updatePitch(player, ch);
    EXPECT_EQ(ch.increment, incrementFor(457.8828125f));
    ch.period = 0;
    updatePitch(player, ch);
    EXPECT_EQ(ch.increment, 0.0f);
}

// A small period left by a portamento towards 0, lowered by vibrato to 0 or
// below, gives no pitch: increment 0, so the channel stays silent and still.
TEST(Pitch, EffectivePeriodAtOrBelowZeroGivesNoIncrement) {
    ModPlayer player{};
    player.sampleRate = 8000;
    ModChannel ch{};
    ch.effect = 6;
    ch.vibratoParam = 0x1F;
    ch.vibratoWaveform = 2;
    ch.lfoStep = 32;  // phase 32: -255, so -29.88 on the period
    for (int period : {1, 29, 30}) {
        ch.period = static_cast<uint16_t>(period);
        ch.increment = 5.0f;
        updatePitch(player, ch);
        EXPECT_EQ(ch.increment, period < 30 ? 0.0f : incrementFor(30.0f - 3825.0f / 128.0f)) << period;
    }
}

TEST(Lfo, Waveforms) {
    const int sine[32] = {0,   25,  50,  74,  98,  120, 142, 162, 180, 197, 212, 224, 236, 244, 250, 254,
                          255, 230, 205, 181, 157, 135, 113, 93,  75,  58,  43,  31,  19,  11,  5,   1};
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(lfoSine(k), sine[k]) << k;
        EXPECT_EQ(lfoSine(k + 32), -sine[k]) << k;
    }
    ModPlayer player{};
    ModChannel ch{};
    ch.effect = 4;
    ch.vibratoWaveform = 1;
    EXPECT_EQ(lfoValue(player, ch, 0), 255);
    EXPECT_EQ(lfoValue(player, ch, 64 + 32), -1);  // phase taken mod 64
    EXPECT_EQ(lfoValue(player, ch, 63), -249);
    ch.vibratoWaveform = 2;
    EXPECT_EQ(lfoValue(player, ch, 31), 255);
    EXPECT_EQ(lfoValue(player, ch, 32), -255);
    ch.effect = 7;  // tremolo reads its own waveform
    ch.tremoloWaveform = 3;
    player.lfoRandom = 0xE4C832A5u;
    EXPECT_EQ(lfoValue(player, ch, 0), -90);
    player.lfoRandom = 0x90E443C0u;
    EXPECT_EQ(lfoValue(player, ch, 5), 193);
}

TEST(Volume, TremoloSlidesAndClamps) {
    ModPlayer player{};
    ModChannel ch{};
    ch.effect = 7;
    ch.tremoloParam = 0x1F;
    ch.tremoloWaveform = 2;
    const struct {
        int volume, lfoStep, real;
    } tremolo[] = {{3, 0, 62}, {10, 0, 64}, {63, 32, 3}, {10, 32, 0}};  // +59 / -60 at depth 15
    for (const auto& t : tremolo) {
        ch.volume = static_cast<uint8_t>(t.volume);
        ch.lfoStep = static_cast<uint8_t>(t.lfoStep);
        updateVolume(player, ch);
        EXPECT_EQ(ch.realVolume, t.real);
        EXPECT_EQ(ch.volume, t.volume);
    }
    const struct {
        int volume, amount, result;
    } slides[] = {{63, 0x20, 64}, {64, 0x20, 64}, {3, 0x05, 0}, {10, 0x23, 12}, {12, 0x00, 12}};
    for (const auto& s : slides) {
        ch.volume = static_cast<uint8_t>(s.volume);
        ch.updateFlags = 0;
        slideVolume(ch, s.amount);
        EXPECT_EQ(ch.volume, s.result) << s.amount;
        EXPECT_EQ(ch.updateFlags, 2);
    }
}

TEST(Slides, PeriodLimitsFollowTheFinetune) {
    const struct {
        int finetune, period, delta, result;
    } cases[] = {{0, 200, -255, 113}, {0, 800, 255, 856}, {8, 800, 255, 907}, {7, 120, -50, 108}, {0, 428, -8, 420}};
    for (const auto& c : cases) {
        ModChannel ch{};
        ch.finetune = static_cast<uint8_t>(c.finetune);
        ch.period = static_cast<uint16_t>(c.period);
        slidePeriod(ch, c.delta);
        EXPECT_EQ(ch.period, c.result);
        EXPECT_EQ(ch.updateFlags, 1);
    }
}

TEST(TickEffects, RunningAndFirstTickEffects) {
    ModuleBuilder module(8, 1, "8CHN");
    module.sample(1, 0, 0, 40);
    module.cell(0, 0, 0, 1, 0, 10, 0x23).cell(0, 0, 1, 0, 428, 1, 4).cell(0, 0, 2, 0, 428, 2, 4);
    module.cell(0, 0, 3, 0, 428, kExtended, 0x13).cell(0, 0, 4, 0, 428, kExtended, 0x24);
    module.cell(0, 0, 5, 1, 0, kExtended, 0xA5).cell(0, 0, 6, 1, 0, kExtended, 0xB7);
    module.cell(0, 0, 7, 0, 428, 0, 0).cell(0, 1, 7, 0, 400, 3, 8);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    for (int t = 0; t < 6; ++t, processTick(player)) {
        EXPECT_EQ(player.channels[0].volume, 40 + 2 * t);
        EXPECT_EQ(player.channels[0].realVolume, 40 + 2 * t);
        EXPECT_EQ(player.channels[1].period, 428 - 4 * t);
        EXPECT_EQ(player.channels[1].increment, incrementFor(static_cast<float>(428 - 4 * t)));
        EXPECT_EQ(player.channels[2].period, 428 + 4 * t);
        EXPECT_EQ(player.channels[3].period, 425);  // fine slides on tick 0 only
        EXPECT_EQ(player.channels[4].period, 432);
        EXPECT_EQ(player.channels[5].volume, 45);
        EXPECT_EQ(player.channels[6].volume, 33);
    }
    // Line 1: tone portamento from 428 towards 400 at speed 8.
    for (int expected : {428, 420, 412, 404, 400, 400}) {
        EXPECT_EQ(player.channels[7].period, expected);
        processTick(player);
    }
}

TEST(TickEffects, RetriggerCutAndDelay) {
    ModuleBuilder module(7, 1, "7CHN");
    module.sample(1, 0, 0, 50);
    module.cell(0, 0, 0, 1, 428, kExtended, 0x93).cell(0, 0, 1, 1, 428, kExtended, 0xC0);
    module.cell(0, 0, 2, 1, 428, kExtended, 0xC6).cell(0, 0, 3, 1, 428, kExtended, 0xD2);
    module.cell(0, 0, 4, 0, 428, kExtended, 0xD0).cell(0, 0, 5, 1, 428, kExtended, 0xD9);
    module.cell(0, 0, 6, 1, 428, kExtended, 0x90);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    EXPECT_EQ(player.channels[1].realVolume, 0);  // cut on tick 0
    for (int t = 1; t < 6; ++t) {
        player.channels[0].position = player.channels[6].position = 50.0f;
        processTick(player);
        EXPECT_EQ(player.channels[0].position, t == 3 ? 0.0f : 50.0f) << t;
        EXPECT_EQ(player.channels[6].position, 0.0f);  // E90: every tick
        EXPECT_EQ(player.channels[3].period, t >= 2 ? 428 : 0) << t;
    }
    EXPECT_EQ(player.channels[3].realVolume, 50);
    EXPECT_EQ(player.channels[2].volume, 50);  // tick 6 never comes
    EXPECT_EQ(player.channels[4].period, 0);   // no sample: never starts
    EXPECT_EQ(player.channels[5].period, 0);
}

TEST(TickTiming, SpeedAndPatternDelay) {
    ModuleBuilder module;
    module.sample(1, 0, 0, 10).effect(0, 3, 15, 3);
    module.cell(0, 0, 0, 1, 0, kExtended, 0xA1).effect(0, 1, kExtended, 0xE2).cell(0, 0, 2, 1, 428, kExtended, 0xD1);
    ModPlayer player;
    ASSERT_TRUE(initPlayer(player, module.image()));
    // Speed 3 from line 0 on; the line is played three times in all, with
    // its first-tick and delayed-note effects each time.
    for (int repeat = 0; repeat < 3; ++repeat) {
        EXPECT_EQ(player.lineReads, 1u);
        EXPECT_EQ(player.tick, 0);
        EXPECT_EQ(player.channels[0].volume, 11 + repeat);
        player.channels[2].position = 7.0f;
        processTick(player);
        EXPECT_EQ(player.channels[2].position, 0.0f);
        processTick(player);
        processTick(player);
    }
    EXPECT_EQ(player.lineReads, 2u);
    EXPECT_EQ(player.line, 1);
}

}  // namespace
