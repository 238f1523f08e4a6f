// Renders of several loops with a fade, where the loop of a render lies, and
// channels rendered alone: each checked against values known by how the
// module was built, or against the player driven through its own render calls.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/collect_samples.h"
#include "tests/support/test_modules.h"
#include "tracker/module_render.h"

using namespace plinth;
using namespace testsupport;

namespace {

// The rates whose ticks last a whole or half number of frames, so that a
// six-tick line lasts exactly 6 x rate / 50 frames (11025: ticks of 221 and
// 220 frames in turn).
constexpr int kRates[] = {8000, 11025, 22050, 44100, 48000};

uint64_t lineFrames(int rate) { return static_cast<uint64_t>(rate) * 6 / 50; }

struct Rendered {
    ModuleError error = ModuleError::none;
    Song song;
    std::vector<int16_t> samples;
};

Rendered render(const ModuleBuilder& module, int rate, const SongPlan& plan = SongPlan{},
                const SongLimits& limits = SongLimits{}) {
    Rendered out;
    const std::vector<uint8_t>& image = module.image();
    out.error = prepareSong(out.song, image.data(), static_cast<int32_t>(image.size()), rate, limits, plan);
    if (out.error != ModuleError::none) return out;
    Song playing = out.song;
    out.error = renderSong(playing, collectInto(out.samples));
    return out;
}

SongPlan loopsPlan(int loops, uint64_t fadeFrames = 0) {
    SongPlan plan;
    plan.loops = loops;
    plan.fadeFrames = fadeFrames;
    return plan;
}

// A short unlooped sample: at any note it ends within one line, so a line
// that starts a note sounds the same whenever it is played.
std::vector<int8_t> shortSample() {
    std::vector<int8_t> data(400);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<int8_t>((i * 29) % 200 - 100);
    return data;
}

// An intro (order 0, pattern 0), then a body of orders 1 and 2 (patterns 1
// and 2); line 63 of pattern 2 jumps back to order 1. Every line starts a note
// of the short sample on channel 0, a different one on each line of a
// pattern. The loop starts where order 1 is first played: after 64 lines.
ModuleBuilder introAndBody() {
    ModuleBuilder module(4, 3);
    module.song(3).order(0, 0).order(1, 1).order(2, 2);
    module.sample(1, 200, 0, 64, 0, kSilentWords).data(shortSample());
    for (int pattern = 0; pattern < 3; ++pattern) {
        for (int line = 0; line < kLinesPerPattern; ++line) {
            module.cell(pattern, line, 0, 1, kNotePeriods[(line * 5 + pattern * 7) % kNoteCount], 0, 0);
        }
    }
    module.cell(2, 63, 1, 0, 0, kEffectPositionJump, 1);
    return module;
}

// A song that never arrives at line 0 again: line 63 of its one pattern
// breaks into line 10 of the next order, so its lines are order 0's lines
// 0-63, order 1's 10-63, order 0's 10-63, ... The position before line 10 of
// order 0 comes back after 108 lines: the cycle starts with line 10 (read
// 10) and ends where read 118 starts.
ModuleBuilder breaksIntoLineTen() {
    ModuleBuilder module(4, 1);
    module.song(2).order(0, 0).order(1, 0);
    module.sample(1, 200, 0, 64, 0, kSilentWords).data(shortSample());
    for (int line = 0; line < kLinesPerPattern; line += 3) module.cell(0, line, 2, 1, kNotePeriods[line % 36], 0, 0);
    module.cell(0, 63, 0, 0, 0, kEffectPatternBreak, 0x10);
    return module;
}

// A song that loops once and never again. Line 0 of order 0 sets channel 0's
// pattern-loop start to line 0; the song then repeats from order 1, whose
// line 5 loops back once to that start: to line 0 of order 1 (read 70), an
// arrival at a played order, the one loop. Line 10 moves the loop start to
// line 10 and line 63 breaks into line 10 of order 1 again, for ever. After
// the loop, the position first recurs before line 11 (read 81, then read 135).
ModuleBuilder loopsOnce() {
    ModuleBuilder module(4, 2);
    module.song(2, 1).order(0, 0).order(1, 1);
    module.sample(1, 200, 0, 64, 0, kSilentWords).data(shortSample());
    module.cell(0, 0, 0, 0, 0, kEffectPatternLoop, 0);
    module.cell(1, 5, 0, 0, 0, kEffectPatternLoop, 1);
    module.cell(1, 10, 0, 0, 0, kEffectPatternLoop, 0);
    module.cell(1, 63, 1, 0, 0, kEffectPatternBreak, 0x10);
    for (int line = 0; line < kLinesPerPattern; line += 2) module.cell(1, line, 2, 1, kNotePeriods[line % 36], 0, 0);
    return module;
}

void expectLoop(const Rendered& r, uint64_t startLine, uint64_t endLine, int rate) {
    ASSERT_EQ(r.error, ModuleError::none) << rate;
    EXPECT_TRUE(r.song.loopFound) << rate;
    EXPECT_EQ(r.song.loopStart, startLine * lineFrames(rate)) << rate;
    EXPECT_EQ(r.song.loopsEnd, endLine * lineFrames(rate)) << rate;
    EXPECT_EQ(r.song.frames, r.song.loopsEnd) << rate;
    EXPECT_EQ(r.samples.size(), 2 * r.song.frames) << rate;
}

TEST(SongLoop, StartsWhereTheLoopedToOrderWasFirstPlayed) {
    for (int rate : kRates) {
        const Rendered once = render(introAndBody(), rate);
        expectLoop(once, 64, 3 * 64, rate);
        // Each later loop is the body again, from where the one before ended.
        expectLoop(render(introAndBody(), rate, loopsPlan(2)), 3 * 64, 5 * 64, rate);
        expectLoop(render(introAndBody(), rate, loopsPlan(3)), 5 * 64, 7 * 64, rate);
    }
}

TEST(SongLoop, OfASongThatNeverLoopsIsOnePassThroughItsCycle) {
    for (int rate : kRates) {
        expectLoop(render(breaksIntoLineTen(), rate), 10, 118, rate);
        expectLoop(render(breaksIntoLineTen(), rate, loopsPlan(2)), 118, 226, rate);
        expectLoop(render(breaksIntoLineTen(), rate, loopsPlan(4)), 334, 442, rate);
    }
}

TEST(SongLoop, AfterItsLastCountedLoopASongEndsItsLoopsByItsCycle) {
    for (int rate : {8000, 11025, 44100}) {
        expectLoop(render(loopsOnce(), rate), 64, 70, rate);
        expectLoop(render(loopsOnce(), rate, loopsPlan(2)), 81, 135, rate);
        expectLoop(render(loopsOnce(), rate, loopsPlan(3)), 135, 189, rate);
    }
}

TEST(SongLoops, OneLoopIsTheDefaultRender) {
    for (int rate : kRates) {
        const Rendered byDefault = render(introAndBody(), rate);
        const Rendered one = render(introAndBody(), rate, loopsPlan(1));
        EXPECT_EQ(one.samples, byDefault.samples) << rate;
        Song song;
        const ModuleBuilder module = introAndBody();
        const std::vector<uint8_t>& image = module.image();
        ASSERT_EQ(prepareSong(song, image.data(), static_cast<int32_t>(image.size()), rate), ModuleError::none);
        EXPECT_EQ(song.frames, byDefault.song.frames);
    }
}

// Each line of the body sounds the same on every pass, so two loops are the
// one-loop render followed by its body again, and three by it twice more.
TEST(SongLoops, MoreLoopsRepeatTheBodyOfAKnownSong) {
    for (int rate : {8000, 11025, 44100}) {
        const Rendered once = render(introAndBody(), rate);
        const auto bodyStart = once.samples.begin() + static_cast<std::ptrdiff_t>(2 * 64 * lineFrames(rate));
        std::vector<int16_t> expected = once.samples;
        for (int loops = 2; loops <= 3; ++loops) {
            expected.insert(expected.end(), bodyStart, once.samples.end());
            EXPECT_EQ(render(introAndBody(), rate, loopsPlan(loops)).samples, expected) << rate << " " << loops;
        }
    }
}

// The player's own render calls, converted as MODWAV converts them, until it
// has counted `loops` loops.
std::vector<int16_t> playUntilLoops(const ModuleBuilder& module, int rate, int loops) {
    ModPlayer player;
    std::vector<int16_t> samples;
    if (!initPlayer(player, module.image(), rate)) return samples;
    float block[kRenderBlockFrames * 2];
    while (modLoopCount(player) < loops) {
        const uint32_t frames = modRender(player, block, sizeof block) / 8;
        for (uint32_t i = 0; i < 2 * frames; ++i) samples.push_back(floatToSample(block[i]));
    }
    return samples;
}

TEST(SongLoops, TwoLoopsAreTheOneLoopRenderAndThePlayerGoingOn) {
    TestRandom random{0x51A7E5u};
    int checked = 0;
    for (int trial = 0; trial < 12; ++trial) {
        const ModuleBuilder module = composeRandomModule(random, 1 + random.below(8));
        const int rate = trial % 3 == 0 ? 8000 : trial % 3 == 1 ? 11025 : 31234;
        const Rendered once = render(module, rate);
        if (once.error != ModuleError::none || once.song.cycle.stopRead != 0) continue;  // loops by its cycle
        const Rendered twice = render(module, rate, loopsPlan(2));
        if (twice.song.cycle.stopRead != 0) continue;
        const std::vector<int16_t> expected = playUntilLoops(module, rate, 2);
        ASSERT_EQ(twice.error, ModuleError::none);
        EXPECT_EQ(twice.samples, expected) << trial;
        // The first loop's frames come first, unchanged.
        ASSERT_GE(twice.samples.size(), once.samples.size());
        EXPECT_TRUE(std::equal(once.samples.begin(), once.samples.end(), twice.samples.begin())) << trial;
        ++checked;
    }
    EXPECT_GE(checked, 6);
}

// Fade frame i of F is the sample the player goes on to play, times
// (F - i) / F, truncated toward zero.
TEST(SongFade, FollowsALinearCurveOnTheSamplesThePlayerGoesOnToPlay) {
    for (int rate : {8000, 44100}) {
        const uint64_t fade = 5 * lineFrames(rate) + 77;
        const Rendered faded = render(introAndBody(), rate, loopsPlan(1, fade));
        const Rendered goingOn = render(introAndBody(), rate, loopsPlan(2));
        ASSERT_EQ(faded.error, ModuleError::none);
        const uint64_t start = 3 * 64 * lineFrames(rate);
        EXPECT_EQ(faded.song.loopsEnd, start);
        EXPECT_EQ(faded.song.loopStart, 64 * lineFrames(rate));
        ASSERT_EQ(faded.song.frames, start + fade);
        ASSERT_EQ(faded.samples.size(), 2 * (start + fade));
        EXPECT_TRUE(std::equal(faded.samples.begin(), faded.samples.begin() + static_cast<std::ptrdiff_t>(2 * start),
                               goingOn.samples.begin()));
        int differing = 0;
        for (uint64_t i = 0; i < fade; ++i) {
            for (uint64_t side = 0; side < 2; ++side) {
                const int64_t full = goingOn.samples[2 * (start + i) + side];
                const int64_t product = full * static_cast<int64_t>(fade - i);
                const int64_t magnitude = (product < 0 ? -product : product) / static_cast<int64_t>(fade);
                const int64_t expected = product < 0 ? -magnitude : magnitude;
                ASSERT_EQ(faded.samples[2 * (start + i) + side], expected) << rate << " frame " << i;
                differing += expected != full ? 1 : 0;
            }
        }
        EXPECT_GT(differing, 0);
    }
}

TEST(SongFade, LengthInFramesIsRoundedToNearest) {
    EXPECT_EQ(fadeFramesFor(10000, 8000), 80000u);
    EXPECT_EQ(fadeFramesFor(2500, 44100), 110250u);
    EXPECT_EQ(fadeFramesFor(1, 11025), 11u);   // 11.025
    EXPECT_EQ(fadeFramesFor(1, 22500), 23u);   // 22.5, a half rounds up
    EXPECT_EQ(fadeFramesFor(3, 1000), 3u);
    EXPECT_EQ(fadeFramesFor(0, 48000), 0u);
}

TEST(SongLimits, LoopsAndFadeCountTowardTheLimitAndTheCapacity) {
    const uint64_t body = 5 * 64 * lineFrames(8000);  // two loops
    SongLimits limits;
    limits.maxFrames = body;
    EXPECT_EQ(render(introAndBody(), 8000, loopsPlan(2), limits).error, ModuleError::none);
    EXPECT_EQ(render(introAndBody(), 8000, loopsPlan(2, 1), limits).error, ModuleError::tooLong);
    EXPECT_EQ(render(introAndBody(), 8000, loopsPlan(3), limits).error, ModuleError::tooLong);

    // Cut at the capacity: no loop, and no fade after what was cut.
    SongPlan cut = loopsPlan(2, 500);
    cut.capacityFrames = 1000;
    const Rendered short_ = render(introAndBody(), 8000, cut);
    ASSERT_EQ(short_.error, ModuleError::none);
    EXPECT_FALSE(short_.song.loopFound);
    EXPECT_EQ(short_.song.frames, 1000u);
    EXPECT_EQ(short_.samples.size(), 2000u);
    // A fade that passes the capacity stops at it.
    SongPlan full = loopsPlan(1, 100000);
    full.capacityFrames = 3 * 64 * lineFrames(8000) + 10;
    const Rendered fadeCut = render(introAndBody(), 8000, full);
    EXPECT_TRUE(fadeCut.song.loopFound);
    EXPECT_EQ(fadeCut.song.frames, full.capacityFrames);
}

// Two channels on opposite sides: pan 0 puts channel 1 on the left alone,
// pan 255 channel 2 on the right alone.
ModuleBuilder hardPannedPair() {
    ModuleBuilder module(2, 1);
    module.sample(1, 200, 0, 64, 20, 90).sample(2, 200, 5, 48).data(shortSample()).data(shortSample());
    module.cell(0, 0, 0, 1, 428, kEffectPan, 0x00).cell(0, 0, 1, 2, 302, kEffectPan, 0xFF);
    for (int line = 4; line < kLinesPerPattern; line += 4) {
        module.cell(0, line, 0, 1, kNotePeriods[line % 36], kEffectVibrato, 0x34);
        module.cell(0, line + 2, 1, 2, kNotePeriods[(line * 7) % 36], kEffectVolumeSlide, 0x02);
    }
    return module;
}

std::vector<int16_t> side(const std::vector<int16_t>& samples, std::size_t which) {
    std::vector<int16_t> out;
    for (std::size_t i = which; i < samples.size(); i += 2) out.push_back(samples[i]);
    return out;
}

Rendered renderAlone(const ModuleBuilder& module, int rate, int channel, const SongPlan& plan = SongPlan{}) {
    Rendered out;
    const std::vector<uint8_t>& image = module.image();
    out.error = prepareSong(out.song, image.data(), static_cast<int32_t>(image.size()), rate, SongLimits{}, plan);
    if (out.error != ModuleError::none) return out;
    Song alone = channelAlone(out.song, channel);
    out.error = renderSong(alone, collectInto(out.samples));
    return out;
}

TEST(Stems, OfChannelsOnSeparateSidesAreTheMixsSides) {
    for (int rate : {8000, 11025, 44100}) {
        for (const SongPlan& plan : {SongPlan{}, loopsPlan(2, 3000)}) {
            const Rendered mix = render(hardPannedPair(), rate, plan);
            const Rendered left = renderAlone(hardPannedPair(), rate, 0, plan);
            const Rendered right = renderAlone(hardPannedPair(), rate, 1, plan);
            ASSERT_EQ(mix.error, ModuleError::none);
            ASSERT_EQ(left.samples.size(), mix.samples.size());
            ASSERT_EQ(right.samples.size(), mix.samples.size());
            const std::vector<int16_t> silence(mix.samples.size() / 2, 0);
            EXPECT_EQ(side(left.samples, 0), side(mix.samples, 0)) << rate;
            EXPECT_EQ(side(left.samples, 1), silence) << rate;
            EXPECT_EQ(side(right.samples, 1), side(mix.samples, 1)) << rate;
            EXPECT_EQ(side(right.samples, 0), silence) << rate;
            EXPECT_NE(side(mix.samples, 0), silence);
            EXPECT_NE(side(mix.samples, 1), silence);
        }
    }
}

TEST(Stems, OfTheOneSoundingChannelIsTheMixAndTheOthersAreSilent) {
    ModuleBuilder module(4, 1);
    module.sample(1, 200, 0, 64, 10, 100).data(shortSample());
    for (int line = 0; line < kLinesPerPattern; line += 8) module.cell(0, line, 2, 1, kNotePeriods[line % 36], 0, 0);
    const Rendered mix = render(module, 22050);
    for (int channel = 0; channel < 4; ++channel) {
        const Rendered alone = renderAlone(module, 22050, channel);
        if (channel == 2) {
            EXPECT_EQ(alone.samples, mix.samples);
        } else {
            EXPECT_EQ(alone.samples, std::vector<int16_t>(mix.samples.size(), 0)) << channel;
        }
    }
}

}  // namespace
