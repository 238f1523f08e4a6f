#pragma once
// The module file format, named once: where the parts of a module lie, the
// layout of a sample header and of a pattern cell, the recognised tags, the
// effect numbers, and the constants of the machine the format was made for
// (its note periods and clock, its starting speed and tick). The player reads
// modules, and the module builder writes them, through these names alone.
// Offsets count bytes from the start of the file; two-byte numbers are
// big-endian.

#include <cstdint>

namespace plinth {

// ---- File layout -----------------------------------------------------------

constexpr int kTitleBytes = 20;  // the song title opens the file
constexpr int kSampleHeadersOffset = kTitleBytes;
constexpr int kSampleHeaderBytes = 30;
constexpr int kOrderListLength = 128;  // one pattern number per order index
constexpr int kTagBytes = 4;
constexpr int kNoTag = -1;

// The two layouts: 31 sample headers with a tag after the order list, or the
// old 15 without one (recognised by its printable text, always 4 channels).
// The song length's byte is followed by the restart position's.
struct ModLayout {
    int sampleCount;
    int songLengthOffset;
    int restartPositionOffset;
    int orderListOffset;
    int tagOffset;  // kNoTag for the old layout
    int patternsOffset;
};

constexpr ModLayout kTaggedLayout = {31, 950, 951, 952, 1080, 1084};
constexpr ModLayout kOldLayout = {15, 470, 471, 472, kNoTag, 600};
constexpr int kOldLayoutChannels = 4;

// Each part follows the one before it without a gap.
constexpr bool partsFollowEachOther(const ModLayout& layout) {
    const int orderListEnd = layout.orderListOffset + kOrderListLength;
    return layout.songLengthOffset == kSampleHeadersOffset + layout.sampleCount * kSampleHeaderBytes &&
           layout.restartPositionOffset == layout.songLengthOffset + 1 &&
           layout.orderListOffset == layout.restartPositionOffset + 1 &&
           layout.patternsOffset == (layout.tagOffset == kNoTag ? orderListEnd : orderListEnd + kTagBytes) &&
           (layout.tagOffset == kNoTag || layout.tagOffset == orderListEnd);
}
static_assert(partsFollowEachOther(kTaggedLayout) && partsFollowEachOther(kOldLayout), "module layout");

// ---- Sample headers --------------------------------------------------------

constexpr int kMaxSamples = kTaggedLayout.sampleCount;
constexpr int kSampleNameBytes = 22;        // the name opens the header
constexpr int kSampleLengthField = 22;      // two bytes, in words
constexpr int kSampleFinetuneField = 24;    // the low nibble; the high one is ignored
constexpr int kSampleVolumeField = 25;      // the default volume
constexpr int kSampleLoopStartField = 26;   // two bytes, in words
constexpr int kSampleLoopLengthField = 28;  // two bytes, in words
constexpr int kBytesPerWord = 2;
// A length or loop length of at most one word means no data or no loop:
// trackers store one word as the loop length of a sample without a loop.
constexpr int kSilentWords = 1;

// Header of sample number n (1-based).
constexpr int sampleHeaderOffset(int n) { return kSampleHeadersOffset + (n - 1) * kSampleHeaderBytes; }
inline const uint8_t* sampleHeader(const uint8_t* image, int n) { return image + sampleHeaderOffset(n); }
inline uint8_t* sampleHeader(uint8_t* image, int n) { return image + sampleHeaderOffset(n); }

inline int readWord(const uint8_t* bytes) { return (bytes[0] << 8) | bytes[1]; }

inline void writeWord(uint8_t* bytes, int value) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

// ---- Patterns and cells ----------------------------------------------------

constexpr int kLinesPerPattern = 64;
constexpr int kCellBytes = 4;  // one cell per channel on each line, channel 0 first
constexpr int kPatternBytesPerChannel = kLinesPerPattern * kCellBytes;
// Order list entries from here on are no pattern numbers: they end the count
// of patterns in the file.
constexpr int kPatternNumberLimit = 128;

// Offset of a cell from the start of the first pattern.
constexpr int cellOffset(int pattern, int line, int channel, int channels) {
    return ((pattern * kLinesPerPattern + line) * channels + channel) * kCellBytes;
}

// One cell: the sample number (0 none, 1..31, above 31 out of range), the
// period of the note (0 none; 12 bits), the effect digit and its parameter.
struct ModCell {
    int sample;
    int period;
    int effect;
    int param;
};

// The sample number's high nibble and the period's top four bits share the
// first byte; its low nibble and the effect digit share the third.
inline ModCell decodeCell(const uint8_t* bytes) {
    return {(bytes[0] & 0xF0) | (bytes[2] >> 4), ((bytes[0] & 0x0F) << 8) | bytes[1], bytes[2] & 0x0F, bytes[3]};
}

inline void encodeCell(const ModCell& cell, uint8_t* bytes) {
    bytes[0] = static_cast<uint8_t>((cell.sample & 0xF0) | ((cell.period >> 8) & 0x0F));
    bytes[1] = static_cast<uint8_t>(cell.period);
    bytes[2] = static_cast<uint8_t>(((cell.sample & 0x0F) << 4) | (cell.effect & 0x0F));
    bytes[3] = static_cast<uint8_t>(cell.param);
}

// ---- Effects ---------------------------------------------------------------

// The digit that introduces the extended effects Ex, whose parameter byte
// holds x in its high nibble and their own parameter y in its low one.
constexpr int kExtendedEffectDigit = 0xE;
constexpr int kExtendedEffectBase = 0xE0;

// Effect numbers as a channel holds them: the cell's effect digit, or
// kExtendedEffectBase + x for the extended effect Ex.
enum ModEffect : uint8_t {
    kEffectArpeggio = 0x00,
    kEffectSlideUp = 0x01,
    kEffectSlideDown = 0x02,
    kEffectTonePortamento = 0x03,
    kEffectVibrato = 0x04,
    kEffectPortamentoVolumeSlide = 0x05,
    kEffectVibratoVolumeSlide = 0x06,
    kEffectTremolo = 0x07,
    kEffectPan = 0x08,
    kEffectSampleOffset = 0x09,
    kEffectVolumeSlide = 0x0A,
    kEffectPositionJump = 0x0B,
    kEffectSetVolume = 0x0C,
    kEffectPatternBreak = 0x0D,
    kEffectSpeed = 0x0F,
    kEffectFineSlideUp = 0xE1,
    kEffectFineSlideDown = 0xE2,
    kEffectVibratoWaveform = 0xE4,
    kEffectFinetune = 0xE5,
    kEffectPatternLoop = 0xE6,
    kEffectTremoloWaveform = 0xE7,
    kEffectCoarsePan = 0xE8,
    kEffectRetrigger = 0xE9,
    kEffectFineVolumeUp = 0xEA,
    kEffectFineVolumeDown = 0xEB,
    kEffectNoteCut = 0xEC,
    kEffectNoteDelay = 0xED,
    kEffectPatternDelay = 0xEE,
};

constexpr int kMaxVolume = 64;          // volumes above it count as it
constexpr int kSampleOffsetUnit = 256;  // the sample offset effect counts in these bytes
constexpr int kFirstTempo = 32;         // the speed effect sets the tempo from here on

// ---- Pitch and time --------------------------------------------------------

// The periods of the 36 notes at finetune 0, three octaves from the lowest
// pitch (note index 0) to the highest. A larger period is a lower pitch.
constexpr int kNoteCount = 36;
inline constexpr uint16_t kNotePeriods[kNoteCount] = {
    856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,  //
    428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,  //
    214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};
constexpr int kLowestNote = 0;
constexpr int kHighestNote = kNoteCount - 1;
constexpr int kNotesPerOctave = 12;

// A note at period P plays kPeriodClock / P sample bytes a second.
constexpr float kPeriodClock = 3546894.5f;

// A song starts at 6 ticks a line and 50 ticks a second; a tempo T gives
// T x 0.4 ticks a second (the starting 50 at tempo 125).
constexpr int kStartingSpeed = 6;
constexpr float kStartingTickSeconds = 0.02f;
constexpr float kTicksPerSecondPerTempo = 0.4f;

inline float startingSamplesPerTick(int32_t sampleRate) {
    return static_cast<float>(sampleRate) * kStartingTickSeconds;
}

inline float tempoSamplesPerTick(int32_t sampleRate, int tempo) {
    return static_cast<float>(sampleRate) / (static_cast<float>(tempo) * kTicksPerSecondPerTempo);
}

// ---- Tags ------------------------------------------------------------------

constexpr int kMaxModuleChannels = 32;

struct ModTag {
    char text[kTagBytes + 1];
    uint8_t channels;
};

// The recognised tags in search order. "4CHN" appears twice, both times with
// 4 channels.
inline constexpr ModTag kModTags[] = {
    {"M.K.", 4}, {"M!K!", 4}, {"FLT4", 4}, {"4CHN", 4}, {"OKTA", 8}, {"OCTA", 8}, {"CD81", 8}, {"FA08", 8},
    {"1CHN", 1}, {"2CHN", 2}, {"3CHN", 3}, {"4CHN", 4}, {"5CHN", 5}, {"6CHN", 6}, {"7CHN", 7}, {"8CHN", 8},
    {"9CHN", 9}, {"10CH", 10}, {"11CH", 11}, {"12CH", 12}, {"13CH", 13}, {"14CH", 14}, {"15CH", 15},
    {"16CH", 16}, {"17CH", 17}, {"18CH", 18}, {"19CH", 19}, {"20CH", 20}, {"21CH", 21}, {"22CH", 22},
    {"23CH", 23}, {"24CH", 24}, {"25CH", 25}, {"26CH", 26}, {"27CH", 27}, {"28CH", 28}, {"29CH", 29},
    {"30CH", 30}, {"31CH", 31}, {"32CH", 32},
};

// The channel count of the first tag that equals the four bytes at `tag`
// (case matters), or 0 when none does.
inline int tagChannels(const uint8_t* tag) {
    for (const ModTag& entry : kModTags) {
        bool same = true;
        for (int i = 0; i < kTagBytes; ++i) same = same && tag[i] == static_cast<uint8_t>(entry.text[i]);
        if (same) return entry.channels;
    }
    return 0;
}

}  // namespace plinth
