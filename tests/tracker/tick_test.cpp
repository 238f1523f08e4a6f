// The tick processor: timing of lines, per-tick effects, pitch and volume.

#include <gtest/gtest.h>

#include "module_builder.h"

namespace {

constexpr int kExtended = 14;

float incrementFor(float period) { return 3546894.5f / (8000.0f * period); }

ModPlayer started(const ModuleBuilder& module) {
    ModPlayer player;
    EXPECT_TRUE(initPlayer(player, module.image()));
    return player;
}

TEST(Pitch, IncrementFromPeriod) {
    ModuleBuilder module;
    module.cell(0, 0, 0, 0, 428, 0, 0).cell(0, 0, 1, 0, 856, 0, 0).cell(0, 0, 2, 0, 0, 4, 0x8F);
    ModPlayer player = started(module);
    EXPECT_FLOAT_EQ(player.channels[0].increment, 1.0358921f);
    EXPECT_EQ(player.channels[0].increment, incrementFor(428.0f));
    EXPECT_FLOAT_EQ(player.channels[1].increment, 0.51794606f);
    // Period 0 gives 0 whatever the effect.
    ModChannel& silent = player.channels[2];
    updatePitch(player, silent);
    EXPECT_EQ(silent.increment, 0.0f);
    silent.effect = 0;
    silent.param = 0x37;
    updatePitch(player, silent);
    EXPECT_EQ(silent.increment, 0.0f);
}

TEST(Pitch, ArpeggioCyclesThroughThreeNotes) {
    ModuleBuilder module;
    module.cell(0, 0, 0, 0, 428, 0, 0x37);
    ModPlayer player = started(module);
    const float expected[4] = {1.0358921f, 1.2318901f, 1.5520845f, 1.0358921f};
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(player.tick, t);
        EXPECT_FLOAT_EQ(player.channels[0].increment, expected[t]) << t;
        processTick(player);
    }
    player.tick = 1;
    updatePitch(player, player.channels[0]);
    EXPECT_EQ(player.channels[0].increment, incrementFor(428.0f / 1.189207f));
}

TEST(Pitch, VibratoShiftsThePeriod) {
    ModuleBuilder module;
    module.cell(0, 0, 0, 0, 428, 0, 0);
    ModPlayer player = started(module);
    ModChannel& ch = player.channels[0];
    ch.effect = 4;
    ch.vibratoParam = 0x0F;  // speed 0: phase 0
    ch.vibratoWaveform = 2;  // square: +255
    updatePitch(player, ch);
    EXPECT_EQ(ch.increment, incrementFor(457.8828125f));
    ch.vibratoWaveform = 6;  // only the low two bits count
    updatePitch(player, ch);
    EXPECT_EQ(ch.increment, incrementFor(457.8828125f));
}

// A tiny period left by a portamento towards 0, lowered further by vibrato,
// gives no pitch: the increment stays 0 and finite.
TEST(Pitch, EffectivePeriodAtOrBelowZeroGivesNoIncrement) {
    ModuleBuilder module;
    ModPlayer player = started(module);
    ModChannel& ch = player.channels[0];
    ch.effect = 4;
    ch.vibratoParam = 0x1F;
    ch.vibratoWaveform = 2;
    ch.lfoStep = 32;  // phase 32: -255, so -29.88 on the period
    for (int period : {1, 10, 29}) {
        ch.period = static_cast<uint16_t>(period);
        updatePitch(player, ch);
        EXPECT_EQ(ch.increment, 0.0f) << period;
    }
    ch.period = 30;
    updatePitch(player, ch);
    EXPECT_GT(ch.increment, 0.0f);
    EXPECT_EQ(ch.increment, incrementFor(static_cast<float>(-255 * 15) * 0.0078125f + 30.0f));
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
    EXPECT_EQ(lfoValue(player, ch, 32), -1);
    EXPECT_EQ(lfoValue(player, ch, 63), -249);
    EXPECT_EQ(lfoValue(player, ch, 64 + 32), -1);  // phase taken mod 64
    ch.vibratoWaveform = 2;
    EXPECT_EQ(lfoValue(player, ch, 31), 255);
    EXPECT_EQ(lfoValue(player, ch, 32), -255);
    ch.vibratoWaveform = 4;  // sine
    EXPECT_EQ(lfoValue(player, ch, 16), 255);
    // Tremolo reads its own waveform.
    ch.effect = 7;
    ch.tremoloWaveform = 1;
    EXPECT_EQ(lfoValue(player, ch, 0), 255);
    ch.tremoloWaveform = 3;
    player.lfoRandom = 0xE4C832A5u;
    EXPECT_EQ(lfoValue(player, ch, 0), -90);
    player.lfoRandom = 0x90E443C0u;
    EXPECT_EQ(lfoValue(player, ch, 5), 193);
}

TEST(Lfo, GeneratorStepsOncePerChannelPerTick) {
    ModuleBuilder module(3, 1, "3CHN");
    ModPlayer player = started(module);
    uint32_t expected = 0x0BADC0DEu;
    for (int i = 0; i < 3 * 5; ++i) expected = expected * 1664525u + 1013904223u;
    for (int t = 0; t < 4; ++t) processTick(player);
    EXPECT_EQ(player.lfoRandom, expected);
}

TEST(Tremolo, ChangesOnlyTheMixedVolume) {
    ModuleBuilder module;
    ModPlayer player = started(module);
    ModChannel& ch = player.channels[0];
    ch.effect = 7;
    ch.tremoloParam = 0x1F;
    ch.tremoloWaveform = 2;
    ch.volume = 10;
    ch.lfoStep = 0;  // +255 at depth 15 adds 59
    updateVolume(player, ch);
    EXPECT_EQ(ch.realVolume, 64);
    ch.volume = 3;
    updateVolume(player, ch);
    EXPECT_EQ(ch.realVolume, 62);
    ch.volume = 10;
    ch.lfoStep = 32;  // -255 at depth 15 subtracts 60
    updateVolume(player, ch);
    EXPECT_EQ(ch.realVolume, 0);
    EXPECT_EQ(ch.volume, 10);
    ch.volume = 63;
    updateVolume(player, ch);
    EXPECT_EQ(ch.realVolume, 3);
}

TEST(Slides, PeriodLimitsFollowTheFinetune) {
    ModChannel ch{};
    ch.period = 200;
    slidePeriod(ch, -255);
    EXPECT_EQ(ch.period, 113);
    EXPECT_EQ(ch.updateFlags, 1);
    ch.period = 800;
    slidePeriod(ch, 255);
    EXPECT_EQ(ch.period, 856);
    ch.finetune = 8;
    ch.period = 800;
    slidePeriod(ch, 255);
    EXPECT_EQ(ch.period, 907);
    ch.finetune = 7;
    ch.period = 120;
    slidePeriod(ch, -50);
    EXPECT_EQ(ch.period, 108);
}

TEST(Slides, VolumeSlideNibbles) {
    ModChannel ch{};
    ch.volume = 63;
    slideVolume(ch, 0x20);
    EXPECT_EQ(ch.volume, 64);
    slideVolume(ch, 0x20);
    EXPECT_EQ(ch.volume, 64);
    ch.volume = 3;
    slideVolume(ch, 0x05);
    EXPECT_EQ(ch.volume, 0);
    ch.volume = 10;
    slideVolume(ch, 0x23);  // high nibble wins, low ignored
    EXPECT_EQ(ch.volume, 12);
    ch.updateFlags = 0;
    slideVolume(ch, 0x00);
    EXPECT_EQ(ch.volume, 12);
    EXPECT_EQ(ch.updateFlags, 2);
    EXPECT_EQ(clampVolume(-1), 0);
    EXPECT_EQ(clampVolume(65), 64);
}

TEST(TickEffects, RunningSlidesSkipTickZero) {
    ModuleBuilder module;
    module.sample(1, 0, 0, 40);
    module.cell(0, 0, 0, 1, 428, 10, 0x23).cell(0, 0, 1, 1, 428, 10, 0x05);
    module.cell(0, 0, 2, 0, 428, 1, 4).cell(0, 0, 3, 0, 428, 2, 4);
    ModPlayer player = started(module);
    EXPECT_EQ(player.channels[0].volume, 40);
    for (int t = 1; t < 6; ++t) {
        processTick(player);
        EXPECT_EQ(player.channels[0].volume, 40 + 2 * t);
        EXPECT_EQ(player.channels[0].realVolume, 40 + 2 * t);
        EXPECT_EQ(player.channels[1].volume, 40 - 5 * t);
        EXPECT_EQ(player.channels[2].period, 428 - 4 * t);
        EXPECT_EQ(player.channels[3].period, 428 + 4 * t);
        EXPECT_EQ(player.channels[2].increment, incrementFor(static_cast<float>(428 - 4 * t)));
    }
}

TEST(TickEffects, TonePortamentoLandsOnItsTarget) {
    ModuleBuilder module;
    module.cell(0, 0, 0, 0, 428, 0, 0).cell(0, 1, 0, 0, 400, 3, 8);
    module.cell(0, 0, 1, 0, 40, 0, 0).cell(0, 1, 1, 0, 0, 3, 16);  // target never given: 0
    ModPlayer player = started(module);
    for (int t = 0; t < 6; ++t) processTick(player);
    ASSERT_EQ(player.line, 1);
    const int expected[5] = {420, 412, 404, 400, 400};
    for (int v : expected) {
        processTick(player);
        EXPECT_EQ(player.channels[0].period, v);
    }
    EXPECT_EQ(player.channels[1].period, 0);
    EXPECT_EQ(player.channels[1].increment, 0.0f);
}

TEST(TickEffects, FineSlidesOnlyOnTickZero) {
    ModuleBuilder module;
    module.sample(1, 0, 0, 20);
    module.cell(0, 0, 0, 1, 428, kExtended, 0x13).cell(0, 0, 1, 1, 428, kExtended, 0x24);
    module.cell(0, 0, 2, 1, 0, kExtended, 0xA5).cell(0, 0, 3, 1, 0, kExtended, 0xB7);
    ModPlayer player = started(module);
    for (int t = 0; t < 5; ++t) {
        EXPECT_EQ(player.channels[0].period, 425);
        EXPECT_EQ(player.channels[1].period, 432);
        EXPECT_EQ(player.channels[2].volume, 25);
        EXPECT_EQ(player.channels[3].volume, 13);
        processTick(player);
    }
}

TEST(TickEffects, RetriggerCutAndDelay) {
    ModuleBuilder module(6, 1, "6CHN");
    module.sample(1, 0, 0, 50);
    module.cell(0, 0, 0, 1, 428, kExtended, 0x93).cell(0, 0, 1, 1, 428, kExtended, 0xC0);
    module.cell(0, 0, 2, 1, 428, kExtended, 0xC6).cell(0, 0, 3, 1, 428, kExtended, 0xD2);
    module.cell(0, 0, 4, 0, 428, kExtended, 0xD0).cell(0, 0, 5, 1, 428, kExtended, 0xD9);
    ModPlayer player = started(module);
    EXPECT_EQ(player.channels[1].volume, 0);  // cut on tick 0
    EXPECT_EQ(player.channels[1].realVolume, 0);
    EXPECT_EQ(player.channels[4].period, 0);  // no sample: never starts
    EXPECT_EQ(player.channels[3].period, 0);
    for (int t = 1; t < 6; ++t) {
        player.channels[0].position = 50.0f;
        player.channels[3].position = 50.0f;
        processTick(player);
        EXPECT_EQ(player.channels[0].position, t % 3 == 0 ? 0.0f : 50.0f) << t;
        if (t == 2) {
            EXPECT_EQ(player.channels[3].period, 428);
            EXPECT_EQ(player.channels[3].position, 0.0f);
            EXPECT_EQ(player.channels[3].realVolume, 50);
            EXPECT_EQ(player.channels[3].increment, incrementFor(428.0f));
        }
    }
    EXPECT_EQ(player.channels[2].volume, 50);  // cut at tick 6 never comes
    EXPECT_EQ(player.channels[5].period, 0);
    EXPECT_EQ(player.channels[4].period, 0);
}

TEST(TickEffects, RetriggerWithZeroRestartsEveryTick) {
    ModuleBuilder module;
    module.cell(0, 0, 0, 0, 428, kExtended, 0x90);
    ModPlayer player = started(module);
    for (int t = 1; t < 6; ++t) {
        player.channels[0].position = 9.0f;
        player.channels[0].lfoStep = 9;
        processTick(player);
        EXPECT_EQ(player.channels[0].position, 0.0f);
        EXPECT_EQ(player.channels[0].lfoStep, 0);
    }
}

TEST(TickTiming, SpeedTakesEffectOnItsOwnLine) {
    ModuleBuilder module;
    module.cell(0, 0, 0, 0, 0, 15, 3);
    ModPlayer player = started(module);
    for (int t = 1; t < 3; ++t) processTick(player);
    EXPECT_EQ(player.line, 0);
    processTick(player);
    EXPECT_EQ(player.line, 1);
    EXPECT_EQ(player.tick, 0);
}

TEST(TickTiming, PatternDelayRepeatsTheLine) {
    ModuleBuilder module;
    module.sample(1, 0, 0, 10);
    module.cell(0, 0, 0, 1, 0, kExtended, 0xA1).cell(0, 0, 1, 0, 0, kExtended, 0xE2);
    module.cell(0, 0, 2, 1, 428, kExtended, 0xD1);
    ModPlayer player = started(module);
    EXPECT_EQ(player.lineReads, 1u);
    EXPECT_EQ(player.channels[0].volume, 11);
    auto ticks = [&player](int n) {
        for (int i = 0; i < n; ++i) processTick(player);
    };
    ticks(1);
    EXPECT_EQ(player.channels[2].position, 0.0f);  // the delayed note starts on tick 1
    for (int repeat = 1; repeat <= 2; ++repeat) {
        player.channels[2].position = 7.0f;
        ticks(5);
        EXPECT_EQ(player.lineReads, 1u);
        EXPECT_EQ(player.line, 0);
        EXPECT_EQ(player.tick, 0);
        EXPECT_EQ(player.channels[0].volume, 11 + repeat);  // first-tick effect again
        EXPECT_EQ(player.channels[2].position, 7.0f);
        ticks(1);
        EXPECT_EQ(player.channels[2].position, 0.0f);
    }
    ticks(5);
    EXPECT_EQ(player.lineReads, 2u);
    EXPECT_EQ(player.line, 1);
    EXPECT_EQ(player.channels[0].volume, 13);
}

}  // namespace
