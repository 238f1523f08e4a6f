#pragma once
// A module for measuring the player: 1 to 32 channels, 32 orders over four
// patterns (about 245 s at the default speed), six samples (tiny and long
// loops, samples that end), a note on every channel every four lines and a
// different effect on each channel: arpeggio, vibrato, tone portamento,
// volume slide, tremolo, sample offset, retrigger, note cut and slides.

#include <cstdint>
#include <vector>

#include "tracker/module_builder.h"

inline std::vector<uint8_t> composeBenchmarkModule(int channels) {
    using namespace plinth;
    constexpr int kPatterns = 4;
    constexpr int kOrders = 32;
    ModuleBuilder module(channels, kPatterns, numberedTag(channels).c_str());
    module.title("benchmark").song(kOrders);
    for (int o = 0; o < kOrders; ++o) module.order(o, o % kPatterns);

    struct Sample {
        int bytes;
        int loopStart;
        int loopLength;  // 0: no loop
        int volume;
    };
    const Sample samples[6] = {{256, 0, 256, 48},    {32, 0, 32, 40},  {4000, 1000, 3000, 56},
                               {3000, 0, 0, 64},     {1024, 0, 1024, 50}, {6000, 0, 0, 60}};
    uint32_t noise = 1;
    for (int s = 0; s < 6; ++s) {
        module.sample(s + 1, samples[s].bytes / kBytesPerWord, 0, samples[s].volume,
                      samples[s].loopStart / kBytesPerWord, samples[s].loopLength / kBytesPerWord);
        std::vector<int8_t> data;
        for (int i = 0; i < samples[s].bytes; ++i) {
            noise = noise * 1664525u + 1013904223u;
            int v;
            switch (s) {
                case 0: v = i - 128; break;                          // saw
                case 1: v = i < 16 ? 100 : -100; break;              // square
                case 3: v = static_cast<int>(noise >> 25) - 64; break;  // noise
                default: v = ((i * (s + 3)) & 255) - 128; break;     // brighter saws
            }
            data.push_back(static_cast<int8_t>(v));
        }
        module.data(data);
    }

    // The second octave of the format's periods.
    const uint16_t* periods = kNotePeriods + kNotesPerOctave;
    const struct {
        int effect;
        int param;
    } effects[10] = {{kEffectArpeggio, 0x37},      {kEffectVibrato, 0x46},   {kEffectTonePortamento, 0x04},
                     {kEffectVolumeSlide, 0x01},   {kEffectTremolo, 0x38},   {kEffectSampleOffset, 0x08},
                     {kEffectRetrigger, 0x3},      {kEffectNoteCut, 0x5},    {kEffectSlideUp, 0x02},
                     {kEffectSlideDown, 0x02}};
    for (int pattern = 0; pattern < kPatterns; ++pattern) {
        for (int line = 0; line < kLinesPerPattern; ++line) {
            for (int c = 0; c < channels; ++c) {
                const auto& effect = effects[(c + pattern) % 10];
                if (line % 4 == (c & 3)) {
                    const int period = periods[(line / 4 + c * 5 + pattern * 3) % kNotesPerOctave] << ((c / 3) % 2);
                    const int sample = 1 + (c + line / 4 + pattern) % 6;
                    module.cell(pattern, line, c, sample, period, effect.effect, effect.param);
                } else {
                    module.cell(pattern, line, c, 0, 0, effect.effect, effect.param);
                }
            }
        }
    }
    return module.image();
}
