#pragma once
// How long a song plays: until it first arrives at line 0 of an order it has
// already played or, for a song that never does, after exactly one pass
// through the cycle of lines it repeats; never past the WAV header's sizes.

#include <cstdint>

#include "platform/conversion_control.h"
#include "tracker/mod_player.h"
#include "tracker/module_error.h"
#include "platform/wav_header.h"

namespace plinth {

// The output's channels: stereo, 16-bit.
constexpr uint16_t kModuleOutputChannels = 2;

// Largest frame count whose sizes still fit the header's 32-bit fields.
constexpr uint64_t kMaxWavFrames = maxPcm16Frames(kModuleOutputChannels);

// Frames the renderer asks for at a time. Where a render call ends decides
// where a channel's loop is wrapped, so this block size is part of the output.
constexpr uint32_t kRenderBlockFrames = 512;

// Highest rate whose byte rate (4 bytes a frame) fits the header's 32 bits.
constexpr int kMaxWavRate = static_cast<int>(maxPcm16FrameRate(kModuleOutputChannels));

// A player ready to render a whole song, and the frames the song lasts.
struct Song {
    ModPlayer player;
    uint64_t frames = 0;
};

// What a caller allows a song: its length, and a way to stop measuring it.
struct SongLimits {
    uint64_t maxFrames = kMaxWavFrames;  // a longer song fails as tooLong
    const Progress* progress = nullptr;
};

// Loads the image (which must outlive the song), sets the stop mark of a song
// that never loops and measures it. notPlayable when the image is not a
// playable module, invalidRate outside 1..kMaxWavRate.
ModuleError prepareSong(Song& song, const uint8_t* image, int32_t size, int32_t sampleRate,
                        const SongLimits& limits = SongLimits{});

// Line read number at which a song that never loops ends (after exactly one
// pass through its cycle of lines), or 0 when the song loops or its cycle was
// not found within the search bound. `initial` is a player fresh from modInit.
uint32_t modFindStopRead(const ModPlayer& initial);

}  // namespace plinth
