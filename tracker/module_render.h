#pragma once
// The module renderer's one path from a module image to 16-bit stereo frames,
// exactly those that MODWAV and the tool write, used by both and by the
// bindings. A module file read whole, and written as a WAV file.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/conversion_control.h"
#include "platform/input_file.h"
#include "tracker/module_error.h"
#include "tracker/song_length.h"

namespace plinth {

// x limited to -1.0..1.0.
float clampUnit(float x);

// One mixed value as a 16-bit sample: clamped, scaled by 32767 and truncated
// toward zero, so -32768 never occurs.
int16_t floatToSample(float x);

// Renders the prepared song to its end, handing the sink interleaved stereo
// frames (left, right), a render block at a time. The frames of the fade are
// those the player goes on to play, each sample s of fade frame i (of F)
// becoming s x (F - i) / F, truncated toward zero.
ModuleError renderSong(Song& song, const SampleSink& sink, const Progress* progress = nullptr);

// The prepared song with every channel but `channel` (0-based) muted: it
// renders that channel alone, through the same mixer and conversion.
Song channelAlone(const Song& song, int channel);

// Reads a module file whole: a regular file of 1 byte to 2 GiB - 1, or a
// descriptor the process holds ("-", /dev/stdin, /dev/fd/N) read to its end.
// A stop request of `progress` ends a wait for a stream's data.
ModuleStatus readModuleFile(const std::string& path, std::vector<uint8_t>& image, const Progress* progress = nullptr);

// The same for an input already opened and not read yet.
ModuleStatus readModule(InputFile& input, std::vector<uint8_t>& image);

// What a module conversion writes beyond MODWAV's render.
struct ModuleRenderOptions {
    int loops = 1;                   // the song played until it has looped this many times
    uint32_t fadeMilliseconds = 0;   // then a fade of this long as the player goes on
    bool loopPoints = false;         // the loop marked by smpl and cue chunks after the samples
    std::vector<std::string> stems;  // one file per channel, channel 1's first; none when empty
};

// The plan of such a render at sampleRate.
SongPlan songPlanFor(const ModuleRenderOptions& options, int sampleRate);

// Plays the module at inPath into a stereo 16-bit WAV file at sampleRate
// frames per second, and each channel alone into its stem when asked for
// (stemsMismatch when the module has another number of channels). On failure
// every output path is left as it was.
ModuleStatus convertModuleFile(const std::string& inPath, const std::string& outPath, int sampleRate,
                               const SongLimits& limits = SongLimits{},
                               const ModuleRenderOptions& options = ModuleRenderOptions{});

}  // namespace plinth
