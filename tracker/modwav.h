#pragma once
// The converter's entry: plays a module file and writes it as a stereo 16-bit
// PCM WAV file. Used by the exported MODWAV and by the command-line tool.

#include <cstdint>
#include <cstdio>

#include "mod_player.h"

// Largest frame count whose sizes still fit the header's 32-bit fields.
constexpr long long kMaxWavFrames = (0xFFFFFFFFLL - 36) / 4;

// Converts the module at inPath into a WAV file at outPath with sampleRate
// frames per second (1 to kMaxWavRate). Returns 999 on success, -1 on
// failure; on failure no output is left behind and an existing file at
// outPath is unharmed. Prints nothing unless the module buffer cannot be
// allocated.
int modToWavFile(const char* inPath, const char* outPath, int sampleRate);

// Number of frames modToWavFile writes for this module image, found by playing
// it without producing sound, or -1 when the image is not a playable module
// or the rate is out of range.
long long modSongFrames(const unsigned char* image, int size, int sampleRate);

// Readies a player for a whole conversion: modInit, then the stop mark for a
// song that never loops. Returns 1, or 0 when the image is not playable.
int modPrepareSong(ModPlayer* player, const uint8_t* image, int32_t size, int32_t sampleRate);

// Line read number at which a song that never loops ends (after exactly one
// pass through its cycle of lines), or 0 when the song loops or its cycle was
// not found within the search bound. `initial` is a player fresh from modInit.
uint32_t modFindStopRead(const ModPlayer& initial);

// Writers of little-endian numbers; 1 when every byte was written, else 0.
int writeLe16(uint32_t value, std::FILE* file);
int writeLe32(uint32_t value, std::FILE* file);

// x limited to -1.0..1.0.
float clampUnit(float x);

// One mixed value as a 16-bit sample: clamped, scaled by 32767 and truncated
// toward zero, so -32768 never occurs.
int16_t floatToSample(float x);

// Highest rate whose byte rate (4 bytes a frame) fits the header's 32 bits.
constexpr int kMaxWavRate = 0x3FFFFFFF;
