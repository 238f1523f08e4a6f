#pragma once
// Modules for the tests, composed with the module builder: the player over a
// builder's image, and random modules of every shape.

#include <cstdint>
#include <string>
#include <vector>

#include "tracker/mod_player.h"
#include "tracker/module_builder.h"

namespace testsupport {

using plinth::ModuleBuilder;

constexpr int kExtended = plinth::kExtendedEffectDigit;  // the cell digit of the Ex effects

// modInit over a builder's image; the builder must outlive the player's use.
inline bool initPlayer(plinth::ModPlayer& player, const std::vector<uint8_t>& image, int rate = 8000) {
    return plinth::modInit(player, image.data(), static_cast<int32_t>(image.size()), rate);
}

// A small deterministic generator for composing varied modules.
struct TestRandom {
    uint32_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
    float unit() { return static_cast<float>(next() >> 8) * 0x1p-24f; }
    template <class T, size_t N>
    T pick(const T (&choices)[N]) {
        return choices[below(static_cast<int>(N))];
    }
};

// Samples of every shape: empty, one word, tiny and long loops, loops that
// pass the sample's end or start beyond it, no loop; the image ends inside or
// right after the last sample's data, so the bytes after it are outside.
inline void addRandomSamples(ModuleBuilder& module, TestRandom& random) {
    const int lengths[] = {0, 1, 2, 3, 16, 17, 64, 500, 1500};
    std::vector<int8_t> data;
    for (int n = 1; n <= plinth::kMaxSamples; ++n) {
        const int words = random.pick(lengths);
        int loopStart = 0;
        int loopWords = 0;
        switch (random.below(6)) {
            case 0: loopWords = 1; break;                                  // no loop
            case 1: loopStart = words / 2; loopWords = 2; break;           // tiny
            case 2: loopWords = words; break;                              // whole sample
            case 3: loopStart = words / 3; loopWords = words; break;       // past the end
            case 4: loopStart = words + 5; loopWords = 3; break;           // beyond the end
            default: break;                                                // none
        }
        module.sample(n, words, random.below(16), random.below(plinth::kMaxVolume + 1), loopStart, loopWords);
        for (int i = 0; i < plinth::kBytesPerWord * words; ++i) data.push_back(static_cast<int8_t>(random.next() >> 24));
    }
    // Often cut the image short: the last samples then end at its end.
    if (random.below(2) == 0 && !data.empty()) {
        data.resize(data.size() - static_cast<size_t>(random.below(200)) % data.size());
    }
    module.data(data);
}

// Three orders over two patterns; two of three cells hold a random effect and
// parameter, most with a sample number and a note from far too low to far too
// high. Jumps, breaks, pattern loops and delays are rare enough that the song
// mostly plays on.
inline ModuleBuilder composeRandomModule(TestRandom& random, int channels) {
    using namespace plinth;
    const int patterns = 2;
    ModuleBuilder module(channels, patterns, numberedTag(channels).c_str());
    module.song(3).order(0, 0).order(1, 1).order(2, 0);
    // The range of the notes, octaves below and above it, and beyond.
    const int longest = kNotePeriods[kLowestNote];
    const int shortest = kNotePeriods[kHighestNote];
    const int periods[] = {longest,     longest / 2, longest / 4, shortest, longest * 2, (shortest + 1) / 2,
                           (shortest + 1) / 4, 1};
    // The x of the extended effects Ex that change the song's course.
    const int patternDelay = kEffectPatternDelay - kExtendedEffectBase;
    const int patternLoop = kEffectPatternLoop - kExtendedEffectBase;
    for (int pattern = 0; pattern < patterns; ++pattern) {
        for (int line = 0; line < kLinesPerPattern; ++line) {
            for (int c = 0; c < channels; ++c) {
                if (random.below(3) == 0) continue;
                const int sample = random.below(4) == 0 ? 0 : 1 + random.below(kMaxSamples);
                const int period = random.below(3) == 0 ? 0 : random.pick(periods) + random.below(8);
                int effect = random.below(16);
                int param = random.below(256);
                const bool jump = effect == kEffectPositionJump || effect == kEffectPatternBreak;
                if (jump && (c != 0 || random.below(16) != 0)) effect = kEffectArpeggio;
                if (effect == kEffectSpeed && param < kFirstTempo) param = 3 + param % 4;
                if (effect == kExtended && (param >> 4) == patternDelay) param &= 0xF1;  // short pattern delays
                if (effect == kExtended && (param >> 4) == patternLoop && (c != 0 || random.below(16) != 0)) {
                    param &= 0x0F;
                }
                module.cell(pattern, line, c, sample, period, effect, param);
            }
        }
    }
    addRandomSamples(module, random);
    return module;
}

}  // namespace testsupport
