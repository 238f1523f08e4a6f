#pragma once
// The module player: one plain record holding the whole state of a song being
// played from a module image in memory. The record owns nothing; its pointers
// refer into the caller's image, which must stay alive and unchanged while the
// player is used. The player never allocates and calls no memory or
// mathematics function of the C runtime.

#include <cstdint>

namespace plinth {

// Effect numbers as a channel holds them: the cell's effect digit, or 0xE0 + x
// for the extended effect Ex (whose parameter is then y alone).
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

// The cell digit that introduces the extended effects.
constexpr int kExtendedEffectDigit = 0xE;

// ModChannel::updateFlags: what must be recomputed at the end of the tick.
constexpr uint8_t kPitchStale = 1;   // the increment
constexpr uint8_t kVolumeStale = 2;  // realVolume

// A sample's 30-byte header in the module image, and its fields.
constexpr int kSampleHeadersStart = 20;
constexpr int kSampleHeaderBytes = 30;
constexpr int kSampleNameBytes = 22;
constexpr int kSampleLengthField = 22;     // big-endian 16-bit words
constexpr int kSampleFinetuneField = 24;
constexpr int kSampleVolumeField = 25;
constexpr int kSampleLoopStartField = 26;  // big-endian 16-bit words
constexpr int kSampleLoopLengthField = 28; // big-endian 16-bit words

// Header of sample number n (1..31).
inline const uint8_t* sampleHeader(const uint8_t* image, int n) {
    return image + kSampleHeadersStart + (n - 1) * kSampleHeaderBytes;
}

// Where one sample's signed 8-bit data lies in the module image. Finetune,
// default volume and loop points stay in the sample's 30-byte header.
struct ModSample {
    const int8_t* data;  // null for sample numbers above sampleCount
    uint32_t length;     // usable bytes, 0 for an empty sample, at most 131070
};

struct ModChannel {
    uint8_t updateFlags;  // kPitchStale, kVolumeStale
    uint8_t sample;       // 1..31, 0 = none (not mixed)
    uint8_t volume;       // 0..64
    uint8_t pan;          // 0 = left only .. 255 = right only
    uint16_t period;      // larger = lower pitch; 0 = no note yet
    uint16_t delayedPeriod;
    uint16_t targetPeriod;
    uint8_t finetune;  // 0..15
    uint8_t loopRemaining;
    int8_t loopLine;  // line before the loop start, -1 for a loop from line 0
    uint8_t lfoStep;
    uint8_t vibratoWaveform;
    uint8_t tremoloWaveform;
    uint8_t effect;  // a ModEffect
    uint8_t param;
    uint8_t portaSpeed;
    uint8_t vibratoParam;
    uint8_t tremoloParam;
    uint8_t offsetParam;
    uint8_t fineSlideUpParam;
    uint8_t fineSlideDownParam;
    uint8_t fineVolUpParam;
    uint8_t fineVolDownParam;
    uint8_t realVolume;  // volume actually mixed, 0..64
    float position;      // bytes from data; negative once the sample has ended
    float increment;     // sample bytes per output frame; 0 while silent in pitch
};

struct ModPlayer {
    ModSample samples[31];
    const uint8_t* source;  // byte 0 of the module image
    const uint8_t* orderTable;
    const uint8_t* patternData;
    uint8_t songLength;       // 1..128
    uint8_t restartPosition;  // below songLength
    uint8_t patternCount;
    uint8_t sampleCount;   // 31 or 15
    uint8_t channelCount;  // 1..32
    int32_t sampleRate;
    int32_t ticksPerLine;  // 1..31
    float samplesPerTick;
    uint8_t visitedOrders[16];  // bit i%8 of byte i/8 per order index i
    int32_t loopCount;
    ModChannel channels[32];
    uint8_t patternDelay;
    uint32_t lfoRandom;
    uint8_t orderIndex;
    int8_t line;   // -1: no line of the current pattern read yet
    int16_t tick;  // 0..ticksPerLine-1 between calls
    float tickSamples;

    // Bookkeeping of this implementation, beyond the song state itself.
    int32_t sourceSize;   // bytes in the image; sample reads never pass its end
    uint32_t lineReads;   // lines read so far; the read inside modInit is number 0
    uint32_t stopAtRead;  // non-zero: modRender stops where this line read starts
    uint8_t stopped;      // set once the line read stopAtRead has started
    // Set when the last line read ended in a pattern-loop jump, whose `line`
    // is the line before the loop start: a 0 there is no arrival at line 0.
    uint8_t lineFromLoopJump;
};

// Constant tables.
extern const uint8_t formatSignatureTable[40][6];  // tag, 0, channel count
extern const int8_t finetuneDeltaTable[16][36];
extern const uint8_t quarterSineTable[16];
extern const float arpeggioRatioTable[16];

// The three helpers the player uses instead of the C runtime.
inline int32_t modMin(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t modMax(int32_t a, int32_t b) { return a > b ? a : b; }
inline void modZero(void* memory, int32_t bytes) {
    uint8_t* p = static_cast<uint8_t*>(memory);
    for (int32_t i = 0; i < bytes; ++i) p[i] = 0;
}

// Loading (mod_load.cpp). Both return 1 on success, 0 on failure.
int modIdentify(ModPlayer* player, const uint8_t* image, int32_t size);
int modInit(ModPlayer* player, const uint8_t* image, int32_t size, int32_t sampleRate);

// Lines (mod_row.cpp).
void processRow(ModPlayer& player);
int periodIndex(int period);

// Ticks (mod_tick.cpp).
void processTick(ModPlayer& player);
// The part of processTick that moves the song on: the tick counter and, at
// the end of a line, the next line read. The channels' effects are left out;
// the lines read and the timing never depend on them.
void advanceTick(ModPlayer& player);
void updatePitch(ModPlayer& player, ModChannel& channel);
void updateVolume(ModPlayer& player, ModChannel& channel);
int lfoValue(const ModPlayer& player, const ModChannel& channel, unsigned phase);
int lfoSine(int k);
void slidePeriod(ModChannel& channel, int delta);
void slideVolume(ModChannel& channel, int amount);
int clampVolume(int x);

// Mixing and rendering (mod_mixer.cpp).
// Two mixers give the same frames to the bit: the vector one, run with the
// best instruction set of the machine, and the plain reference.
enum class ModMixer : uint8_t { Vector, Reference };
// The vector mixer, or the reference when PLINTH_SCALAR=1 is set in the
// environment (read once).
ModMixer modDefaultMixer();
// Writes whole stereo float frames (left, right) with the default mixer and
// returns the bytes written.
uint32_t modRender(ModPlayer* player, float* buffer, uint32_t bytes);
uint32_t modRenderWith(ModPlayer* player, float* buffer, uint32_t bytes, ModMixer mixer);
// The same timing as modRender without producing sound: advances the song by
// up to `frames` frames and returns the number advanced, with the same early
// returns. Only the song's position and timing move (advanceTick); the
// channels are left behind. Used to measure a song before rendering it.
uint32_t modAdvance(ModPlayer* player, uint32_t frames);
void mixChannel(ModPlayer& player, ModChannel& channel, float* frames, int count);
int modLoopCount(const ModPlayer* player);

}  // namespace plinth
