#pragma once
// The module player: one plain record holding the whole state of a song being
// played from a module image in memory. The record owns nothing; its pointers
// refer into the caller's image, which must stay alive and unchanged while the
// player is used. The player never allocates and calls no memory or
// mathematics function of the C runtime.

#include <cstdint>

#include "tracker/mod_format.h"

namespace plinth {

// ModChannel::updateFlags: what must be recomputed at the end of the tick.
constexpr uint8_t kPitchStale = 1;   // the increment
constexpr uint8_t kVolumeStale = 2;  // realVolume

// Where one sample's signed 8-bit data lies in the module image. Finetune,
// default volume and loop points stay in the sample's header.
struct ModSample {
    const int8_t* data;  // null for sample numbers above sampleCount
    uint32_t length;     // usable bytes, 0 for an empty sample; at most what the 16-bit word count gives
};

struct ModChannel {
    uint8_t updateFlags;  // kPitchStale, kVolumeStale
    uint8_t sample;       // 1..kMaxSamples, 0 = none (not mixed)
    uint8_t volume;       // 0..kMaxVolume
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
    uint8_t realVolume;  // volume actually mixed, 0..kMaxVolume
    float position;      // bytes from data; negative once the sample has ended
    float increment;     // sample bytes per output frame; 0 while silent in pitch
    // Bookkeeping of this implementation: set while the other channels are
    // rendered alone. A muted channel is not mixed and its position stays.
    uint8_t muted;
};

struct ModPlayer {
    ModSample samples[kMaxSamples];
    const uint8_t* source;  // byte 0 of the module image
    const uint8_t* orderTable;
    const uint8_t* patternData;
    uint8_t songLength;       // 1..kOrderListLength
    uint8_t restartPosition;  // below songLength
    uint8_t patternCount;
    uint8_t sampleCount;   // the layout's
    uint8_t channelCount;  // 1..kMaxModuleChannels
    int32_t sampleRate;
    int32_t ticksPerLine;  // 1..kFirstTempo-1
    float samplesPerTick;
    uint8_t visitedOrders[kOrderListLength / 8];  // bit i%8 of byte i/8 per order index i
    int32_t loopCount;
    ModChannel channels[kMaxModuleChannels];
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

// mod_player.h itself: the three helpers the player uses instead of the C
// runtime, and the set of visited orders.
inline int32_t modMin(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t modMax(int32_t a, int32_t b) { return a > b ? a : b; }
inline void modZero(void* memory, int32_t bytes) {
    uint8_t* p = static_cast<uint8_t*>(memory);
    for (int32_t i = 0; i < bytes; ++i) p[i] = 0;
}

// visitedOrders: the orders played since the last loop was counted.
inline void markOrderVisited(ModPlayer& player, int order) {
    player.visitedOrders[order >> 3] = static_cast<uint8_t>(player.visitedOrders[order >> 3] | (1u << (order & 7)));
}
inline bool orderVisited(const ModPlayer& player, int order) {
    return (player.visitedOrders[order >> 3] & (1u << (order & 7))) != 0;
}
inline void forgetVisitedOrders(ModPlayer& player) {
    modZero(player.visitedOrders, static_cast<int32_t>(sizeof player.visitedOrders));
}

// Every function below takes the player and its channels by reference, and
// answers yes or no with a bool.

// mod_tables.cpp: constant tables.
extern const int8_t finetuneDeltaTable[16][kNoteCount];
extern const uint8_t quarterSineTable[16];
extern const float arpeggioRatioTable[16];

// mod_load.cpp: loading. modIdentify finds the layout and the song's place;
// modInit checks the song against the size, builds the sample table, sets the
// starting state and reads line 0. False when the image is no playable module.
bool modIdentify(ModPlayer& player, const uint8_t* image, int32_t size);
bool modInit(ModPlayer& player, const uint8_t* image, int32_t size, int32_t sampleRate);

// mod_line.cpp: the line processor. Reads the next line of the song and
// carries out its effects at line time.
void processLine(ModPlayer& player);
// The note index of a finetune-0 period, 0 for any other period.
int periodIndex(int period);

// mod_tick.cpp: the tick processor.
void processTick(ModPlayer& player);
// The part of processTick that moves the song on: the tick counter and, at
// the end of a line, the next line read. The channels' effects are left out;
// the lines read and the timing never depend on them.
void advanceTick(ModPlayer& player);
void updatePitch(const ModPlayer& player, ModChannel& channel);
void updateVolume(const ModPlayer& player, ModChannel& channel);
int lfoValue(const ModPlayer& player, const ModChannel& channel, unsigned phase);
int lfoSine(int k);
void slidePeriod(ModChannel& channel, int delta);
void slideVolume(ModChannel& channel, int amount);
int clampVolume(int x);

// Two mixers give the same frames to the bit: the vector one, run with the
// best instruction set of the machine, and the plain reference.
enum class ModMixer : uint8_t { Vector, Reference };

// mod_mixer.cpp: mixing and rendering.
// Writes whole stereo float frames (left, right) with the default mixer and
// returns the bytes written.
uint32_t modRender(ModPlayer& player, float* buffer, uint32_t bytes);
uint32_t modRenderWith(ModPlayer& player, float* buffer, uint32_t bytes, ModMixer mixer);
// The same timing as modRender without producing sound: advances the song by
// up to `frames` frames and returns the number advanced, with the same early
// returns. Only the song's position and timing move (advanceTick); the
// channels are left behind. Used to measure a song before rendering it.
uint32_t modAdvance(ModPlayer& player, uint32_t frames);
void mixChannel(ModPlayer& player, ModChannel& channel, float* frames, int count);
int modLoopCount(const ModPlayer& player);

// mod_mix_simd.cpp: the vector mixer, or the reference when PLINTH_SCALAR=1
// is set in the environment (read once).
ModMixer modDefaultMixer();

}  // namespace plinth
