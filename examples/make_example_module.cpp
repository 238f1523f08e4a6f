// Composes the example module: a short tune in A minor for four channels
// (drums, bass, arpeggiated chords, lead), about 21 seconds long, with
// samples synthesised here. Written in the tagged layout, under the first tag
// the format knows for four channels.
//
// Effects used: arpeggio, vibrato, tone portamento, volume slide, set volume,
// note cut, sample offset, set speed and pattern break.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tracker/module_builder.h"

namespace {

using plinth::ModuleBuilder;

constexpr int kChannels = 4;
constexpr int kPatterns = 3;

enum Note { C = 0, Cs, D, Ds, E, F, Fs, G, Gs, A, As, B };
// Octaves 1 to 3, the three the format's periods cover.
int period(int note, int octave) { return plinth::kNotePeriods[(octave - 1) * plinth::kNotesPerOctave + note]; }

enum Sample { kKick = 1, kSnare, kHat, kBass, kSquare };

struct SampleDef {
    const char* name;
    std::vector<int8_t> data;
    int volume;
    int loopStart;  // bytes; loopLength 0 = no loop
    int loopLength;
};

void addSample(ModuleBuilder& m, int number, const SampleDef& def) {
    const int words = static_cast<int>(def.data.size()) / plinth::kBytesPerWord;
    m.sample(number, words, 0, def.volume, def.loopStart / plinth::kBytesPerWord, def.loopLength / plinth::kBytesPerWord)
        .sampleName(number, def.name)
        .data(def.data);
}

void note(ModuleBuilder& m, int pattern, int line, int channel, int sample, int periodValue, int effectNumber = 0,
          int param = 0) {
    m.cell(pattern, line, channel, sample, periodValue, effectNumber, param);
}

void effect(ModuleBuilder& m, int pattern, int line, int channel, int effectNumber, int param) {
    m.cell(pattern, line, channel, 0, 0, effectNumber, param);
}

constexpr int kGlide = plinth::kEffectTonePortamento;
constexpr int kLines = plinth::kLinesPerPattern;  // a whole pattern

int8_t clip(double v) { return static_cast<int8_t>(std::lround(std::fmax(-127.0, std::fmin(127.0, v)))); }

// A deterministic noise source, so the module is the same on every build.
struct Noise {
    uint32_t state = 12345;
    double next() {
        state = state * 1103515245u + 12345u;
        return static_cast<double>((state >> 16) & 0x7FFF) / 16383.5 - 1.0;
    }
};

SampleDef kick() {
    std::vector<int8_t> d(1600);
    double phase = 0.0;
    for (size_t i = 0; i < d.size(); ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(d.size());
        phase += 0.02 + 0.10 * std::exp(-t * 12.0);  // the pitch falls
        d[i] = clip(120.0 * std::exp(-t * 4.0) * std::sin(phase * 6.283185307179586));
    }
    return {"kick", d, 64, 0, 0};
}

SampleDef snare() {
    std::vector<int8_t> d(2000);
    Noise noise;
    for (size_t i = 0; i < d.size(); ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(d.size());
        const double body = std::sin(static_cast<double>(i) * 0.09) * std::exp(-t * 18.0);
        d[i] = clip(100.0 * std::exp(-t * 6.0) * (0.7 * noise.next() + 0.5 * body));
    }
    return {"snare", d, 48, 0, 0};
}

SampleDef hat() {
    std::vector<int8_t> d(500);
    Noise noise;
    noise.state = 777;
    double previous = 0.0;
    for (size_t i = 0; i < d.size(); ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(d.size());
        const double n = noise.next();
        d[i] = clip(90.0 * std::exp(-t * 7.0) * (n - previous) * 0.5);  // brighter: differenced
        previous = n;
    }
    return {"hat", d, 32, 0, 0};
}

// One cycle of 64 bytes: a soft triangle, an octave below the square.
SampleDef bass() {
    std::vector<int8_t> d(64);
    for (int i = 0; i < 64; ++i) d[static_cast<size_t>(i)] = clip(i < 32 ? -120.0 + i * 7.5 : 120.0 - (i - 32) * 7.5);
    return {"bass", d, 56, 0, 64};
}

// One cycle of 32 bytes: a square wave with slightly rounded edges.
SampleDef square() {
    std::vector<int8_t> d(32);
    for (int i = 0; i < 32; ++i) d[static_cast<size_t>(i)] = i < 16 ? (i == 0 ? 40 : 100) : (i == 16 ? -40 : -100);
    return {"square", d, 40, 0, 32};
}

// Four bars of 16 lines each: Am, F, C, G.
const int kRoots[4] = {A, F, C, G};
const int kArps[4] = {0x37, 0x47, 0x47, 0x47};

void drums(ModuleBuilder& m, int pattern, int lines, bool fill) {
    for (int line = 0; line < lines; ++line) {
        if (line % 8 == 0) {
            note(m, pattern, line, 0, kKick, period(C, 2));
        } else if (line % 8 == 4) {
            note(m, pattern, line, 0, kSnare, period(C, 2));
        } else if (line % 2 == 0) {
            note(m, pattern, line, 0, kHat, period(C, 3), plinth::kEffectSetVolume, line % 4 == 2 ? 28 : 16);
        }
    }
    if (fill) {
        // A snare roll into the next order, played from ever later offsets.
        for (int i = 0; i < 4; ++i) note(m, pattern, lines - 4 + i, 0, kSnare, period(C, 2), plinth::kEffectSampleOffset, i * 2);
    }
}

void bassLine(ModuleBuilder& m, int pattern, int lines) {
    for (int line = 0; line < lines; ++line) {
        const int bar = (line / 16) % 4;
        const int step = line % 16;
        const int root = kRoots[bar];
        if (step == 0 || step == 6 || step == 8) {
            note(m, pattern, line, 1, kBass, period(root, 1));
        } else if (step == 12) {
            note(m, pattern, line, 1, kBass, period(root, 2));
        } else if (step == 14) {
            effect(m, pattern, line, 1, plinth::kEffectNoteCut, 3);  // cut the octave short
        }
    }
}

void chords(ModuleBuilder& m, int pattern, int lines, int volume) {
    for (int line = 0; line < lines; ++line) {
        const int bar = (line / 16) % 4;
        const int step = line % 16;
        if (step == 0) {
            note(m, pattern, line, 2, kSquare, period(kRoots[bar], 2), plinth::kEffectSetVolume, volume);
        } else if (step >= 12) {
            effect(m, pattern, line, 2, plinth::kEffectVolumeSlide, 0x02);  // fade before the next chord
        } else {
            effect(m, pattern, line, 2, plinth::kEffectArpeggio, kArps[bar]);  // minor or major triad
        }
    }
}

struct MelodyNote {
    int line;
    int note;
    int octave;
    int effect;
    int param;
};

void melody(ModuleBuilder& m, int pattern, const std::vector<MelodyNote>& notes) {
    for (const MelodyNote& n : notes) {
        note(m, pattern, n.line, 3, n.note < 0 ? 0 : kSquare, n.note < 0 ? 0 : period(n.note, n.octave), n.effect,
             n.param);
    }
}

void vibratoHold(ModuleBuilder& m, int pattern, int from, int to, int param) {
    for (int line = from; line <= to; ++line) effect(m, pattern, line, 3, plinth::kEffectVibrato, line == from ? param : 0);
}

void fadeOut(ModuleBuilder& m, int pattern, int from, int to, int param) {
    for (int line = from; line <= to; ++line) effect(m, pattern, line, 3, plinth::kEffectVolumeSlide, param);
}

ModuleBuilder compose() {
    ModuleBuilder m(kChannels, kPatterns);
    m.title("plinth example");
    addSample(m, kKick, kick());
    addSample(m, kSnare, snare());
    addSample(m, kHat, hat());
    addSample(m, kBass, bass());
    addSample(m, kSquare, square());

    // Pattern 0: drums, bass and chords; the lead answers in the last bars.
    drums(m, 0, kLines, true);
    bassLine(m, 0, kLines);
    chords(m, 0, kLines, 36);
    effect(m, 0, 0, 3, plinth::kEffectSpeed, plinth::kStartingSpeed);  // the default, stated
    melody(m, 0, {{32, E, 3, 0, 0}, {36, D, 3, 0, 0}, {40, C, 3, 0, 0}, {44, B, 2, 0, 0},
                  {48, B, 2, 0, 0}, {52, D, 3, kGlide, 0x08}, {56, G, 2, 0, 0}});
    vibratoHold(m, 0, 57, 62, 0x34);

    // Pattern 1: the melody, with slides, vibrato and fades.
    drums(m, 1, kLines, true);
    bassLine(m, 1, kLines);
    chords(m, 1, kLines, 28);
    melody(m, 1, {{0, A, 2, 0, 0}, {4, C, 3, 0, 0}, {6, E, 3, 0, 0}, {8, A, 3, kGlide, 0x0C}});
    vibratoHold(m, 1, 9, 13, 0x46);
    fadeOut(m, 1, 14, 15, 0x04);
    melody(m, 1, {{16, G, 3, 0, 0}, {20, F, 3, 0, 0}, {22, E, 3, 0, 0}, {24, C, 3, 0, 0}});
    vibratoHold(m, 1, 25, 29, 0x36);
    melody(m, 1, {{30, D, 3, kGlide, 0x06}});
    melody(m, 1, {{32, E, 3, 0, 0}, {36, G, 3, 0, 0}, {38, E, 3, 0, 0}, {40, C, 3, 0, 0}, {44, D, 3, 0, 0}});
    fadeOut(m, 1, 45, 47, 0x03);
    melody(m, 1, {{48, B, 2, 0, 0}, {52, D, 3, 0, 0}, {54, G, 3, 0, 0}, {56, B, 3, kGlide, 0x10}});
    vibratoHold(m, 1, 57, 61, 0x58);
    fadeOut(m, 1, 62, 63, 0x08);

    // Pattern 2: a shorter ending that breaks back to the start after 48
    // lines; the lead climbs and glides down.
    drums(m, 2, 48, true);
    bassLine(m, 2, 48);
    chords(m, 2, 48, 32);
    melody(m, 2, {{0, A, 3, 0, 0}, {8, G, 3, 0, 0}, {12, E, 3, kGlide, 0x04}});
    vibratoHold(m, 2, 13, 15, 0x24);
    melody(m, 2, {{16, F, 3, 0, 0}, {24, A, 2, kGlide, 0x03}});
    vibratoHold(m, 2, 25, 31, 0x44);
    melody(m, 2, {{32, C, 3, 0, 0}, {34, E, 3, 0, 0}, {36, G, 3, 0, 0}, {38, C, 3, 0, 0}, {40, B, 2, 0, 0}});
    fadeOut(m, 2, 41, 46, 0x06);
    effect(m, 2, 47, 2, plinth::kEffectPatternBreak, 0x00);  // back to the first order

    m.song(3).order(0, 0).order(1, 1).order(2, 2);
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_example_module OUT.mod\n");
        return 2;
    }
    const std::vector<uint8_t> image = compose().image();
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "make_example_module: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
