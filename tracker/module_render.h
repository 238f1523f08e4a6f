#pragma once
// The module renderer's one path from a module image to 16-bit stereo frames,
// exactly those that MODWAV and the tool write, used by both and by the
// bindings. A module file read whole, and written as a WAV file.

#include <cstdint>
#include <string>
#include <vector>

#include "conversion_control.h"
#include "input_file.h"
#include "song_length.h"

namespace plinth {

enum class ModuleError {
    none,
    invalidRate,       // outside 1..kMaxWavRate
    cannotReadInput,   // missing, a folder, not a regular file, unreadable; inputError says which
    emptyInput,
    inputTooLarge,     // 2 GiB or more
    outOfMemory,       // the module image could not be held
    notPlayable,       // not a module, or its patterns do not fit in the file
    cannotOpenOutput,
    writeFailed,
    stopped,           // the caller asked it to stop
};

struct ModuleStatus {
    ModuleError error = ModuleError::none;
    InputError inputError = InputError::none;
    int systemError = 0;
    uint64_t moduleBytes = 0;  // the size that could not be held, for outOfMemory
};

// A few words on a failure, such as "not a module this player can play".
std::string describeModuleError(const ModuleStatus& status);

// x limited to -1.0..1.0.
float clampUnit(float x);

// One mixed value as a 16-bit sample: clamped, scaled by 32767 and truncated
// toward zero, so -32768 never occurs.
int16_t floatToSample(float x);

// Renders the prepared song to its end, handing the sink interleaved stereo
// frames (left, right), a render block at a time.
ModuleError renderSong(Song& song, const SampleSink& sink, const Progress* progress = nullptr);

// Reads a module file whole: a regular file of 1 byte to 2 GiB - 1.
ModuleStatus readModuleFile(const std::string& path, std::vector<uint8_t>& image);

// The same for a file already opened as a regular file and not read yet.
ModuleStatus readModule(InputFile& input, std::vector<uint8_t>& image);

// Plays the module at inPath into a stereo 16-bit WAV file at sampleRate
// frames per second. On failure the output path is left as it was.
ModuleStatus convertModuleFile(const std::string& inPath, const std::string& outPath, int sampleRate,
                               const Progress* progress = nullptr);

}  // namespace plinth
