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
// frames (left, right), a render block at a time.
ModuleError renderSong(Song& song, const SampleSink& sink, const Progress* progress = nullptr);

// Reads a module file whole: a regular file of 1 byte to 2 GiB - 1, or a
// descriptor the process holds ("-", /dev/stdin, /dev/fd/N) read to its end.
// A stop request of `progress` ends a wait for a stream's data.
ModuleStatus readModuleFile(const std::string& path, std::vector<uint8_t>& image, const Progress* progress = nullptr);

// The same for an input already opened and not read yet.
ModuleStatus readModule(InputFile& input, std::vector<uint8_t>& image);

// Plays the module at inPath into a stereo 16-bit WAV file at sampleRate
// frames per second. On failure the output path is left as it was.
ModuleStatus convertModuleFile(const std::string& inPath, const std::string& outPath, int sampleRate,
                               const SongLimits& limits = SongLimits{});

}  // namespace plinth
