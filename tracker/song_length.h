#pragma once
// How long a song plays: until it first arrives at line 0 of an order it has
// already played or, for a song that never does, after exactly one pass
// through the cycle of lines it repeats; never past the WAV header's sizes.
// Or, when asked, until it has looped several times and then a fade; and
// where its loop lies.

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

// The most loops a render may play.
constexpr int kMaxLoops = 1000;

// What a render covers: the song played until it has looped `loops` times
// (1 is MODWAV's render), then `fadeFrames` more frames as the player goes
// on, falling to silence; never more than `capacityFrames` in all.
struct SongPlan {
    int loops = 1;  // 1..kMaxLoops
    uint64_t fadeFrames = 0;
    uint64_t capacityFrames = kMaxWavFrames;
};

// Frames of a fade of `milliseconds` at `sampleRate`, rounded to nearest
// (halves up).
uint64_t fadeFramesFor(uint32_t milliseconds, int32_t sampleRate);

// Where a song that loops no more ends its loops: one full pass through the
// cycle of lines it repeats. Line reads are counted from modInit's, read 0;
// a loop ends where read stopRead starts, and its repeated part begins where
// read startRead starts. stopRead 0: the song loops again (or its cycle was
// not found within the search bound), and the player's own loop count ends
// the loop.
struct SongCycle {
    uint32_t stopRead = 0;
    uint32_t startRead = 0;
};

// A player ready to render a whole song, what it renders, and the frames.
struct Song {
    ModPlayer player;
    SongPlan plan;
    SongCycle cycle;           // of the first loop
    uint64_t frames = 0;       // every frame of the render: the loops and the fade
    uint64_t loopsEnd = 0;     // frames of the loops, where the fade starts
    // The loop of the render: frames [loopStart, loopsEnd) are the last loop's
    // repeated part. False when the capacity cut the loops short.
    bool loopFound = false;
    uint64_t loopStart = 0;
};

// What a caller allows a song: its length, and a way to stop measuring it.
struct SongLimits {
    uint64_t maxFrames = kMaxWavFrames;  // a longer render fails as tooLong
    const Progress* progress = nullptr;
};

// Loads the image (which must outlive the song), sets the stop mark of a song
// that never loops and measures the render the plan asks for. notPlayable
// when the image is not a playable module, invalidRate outside
// 1..kMaxWavRate.
ModuleError prepareSong(Song& song, const uint8_t* image, int32_t size, int32_t sampleRate,
                        const SongLimits& limits = SongLimits{}, const SongPlan& plan = SongPlan{});

// Line read number at which a song that never loops ends (after exactly one
// pass through its cycle of lines), or 0 when the song loops or its cycle was
// not found within the search bound. `initial` is a player fresh from modInit.
uint32_t modFindStopRead(const ModPlayer& initial);

// Where a player stands among the loops of its song between render calls.
struct LoopCursor {
    int loopsDone = 0;
    int32_t countedLoops = 0;  // the player's loop count when last looked at
    SongCycle cycle;           // of the loop under way
};

// The cursor of a song about to be rendered from its start.
LoopCursor startOfSong(const Song& song);

// After each render or advance call: true when the call ended a loop of the
// song (the player counted one, or reached the stop mark). Unless that was
// the plan's last, it readies the player for the next loop.
bool loopEnded(ModPlayer& player, LoopCursor& cursor, int loops);

}  // namespace plinth
