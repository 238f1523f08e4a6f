#pragma once
// What a WAV file's header says, or how a module is laid out: a plain record,
// printed by the tool's `info` and handed to Python by the bindings.

#include <cstdint>
#include <string>
#include <vector>

#include "app/conversion_request.h"
#include "platform/input_file.h"
#include "tracker/module_render.h"
#include "platform/wav_reader.h"

namespace plinth {

struct WavDescription {
    std::string container;        // "RIFF", "RF64" or "BW64"
    unsigned audioFormat = 0;     // the format tag as written
    std::string formatName;       // "PCM", "IEEE float", "extensible, PCM", ... or "unknown"
    unsigned channels = 0;
    unsigned bitsPerSample = 0;
    unsigned validBits = 0;       // an extensible format's valid bits, else bitsPerSample
    unsigned sampleRate = 0;
    unsigned blockAlign = 0;      // the fmt chunk's block-align field, as written
    uint64_t frameBytes = 0;      // what a frame really takes: channels x bytes a sample (see wavFrameBytes)
    std::string sampleFormat;     // such as "24-bit integer PCM", or why it cannot be converted
    std::string otherChunks;      // tags of the chunks before the samples other than fmt and ds64
    bool dataFound = false;       // a data chunk was found; the fields below need one
    uint64_t dataSize = 0;        // as the data chunk (or ds64) declares it
    bool dataClamped = false;     // the declared size passes the end of the file
    bool bytesFollowingKnown = false;  // a regular file: its size is known
    int64_t bytesFollowing = 0;   // file bytes from the first sample on
    bool framesKnown = false;     // a frame size is known
    uint64_t frames = 0;
    bool durationKnown = false;   // frames known and a rate above 0
    double seconds = 0;
    int64_t dataStart = -1;       // the first sample byte; -1 when no data chunk was found
    std::string chunksAfter;      // tags of the chunks after the samples
    bool hasLoop = false;         // a sampler chunk holds a loop
    uint32_t loopStart = 0;       // its first frame
    uint64_t loopFrames = 0;      // its frames, the last one included
    uint32_t loopType = 0;        // 0 forward, 1 alternating, 2 backward
};

struct ModuleSampleDescription {
    int number = 0;               // 1-based slot
    std::string name;             // up to the first zero byte, unprintable bytes as '?'
    uint32_t length = 0;          // bytes
};

struct ModuleDescription {
    int sampleSlots = 0;          // the layout's sample count (kTaggedLayout's or kOldLayout's)
    std::string tag;              // empty for the old layout
    unsigned channels = 0;
    unsigned songLength = 0;      // orders
    unsigned restartPosition = 0;
    unsigned patterns = 0;
    std::vector<ModuleSampleDescription> samples;  // slots with a name or a length
    uint64_t frames = 0;          // until the first loop, at kModuleRate
    double seconds = 0;
    bool cutAtSizeLimit = false;  // the song goes on, but no WAV file could hold more
    bool loopFound = false;       // the loop of the render, unless cut at the size limit
    uint64_t loopStart = 0;       // at kModuleRate
    uint64_t loopFrames = 0;
};

enum class InfoError {
    none,
    unreadable,      // inputError and systemError say why
    wavRefused,      // starts like a WAV file but its chunks cannot be read; wavStatus says why
    moduleRefused,   // moduleStatus says why
    outOfMemory,
    unrecognised,    // neither a WAV file nor a playable module
    stopped,         // the caller asked to stop while the input was awaited
};

enum class FileKind { wav, module };

struct FileDescription {
    InfoError error = InfoError::none;
    InputError inputError = InputError::none;
    int systemError = 0;
    WavReadStatus wavStatus;
    ModuleStatus moduleStatus;
    FileKind kind = FileKind::wav;
    WavDescription wav;           // when kind is wav
    ModuleDescription module;     // when kind is module
};

// Reads and describes one file, forward only. A WAV file is read no further
// than its chunk headers; anything else is read whole and tried as a module.
// Named pipes and devices are refused unopened; a descriptor the process
// holds ("-", /dev/stdin, /dev/fd/N), a pipe too, is read from where it
// stands. A stop request of `progress` ends a wait for its data.
FileDescription describeFile(const std::string& path, const Progress* progress = nullptr);

// A few words on why a file could not be described.
std::string describeInfoError(const FileDescription& description);

}  // namespace plinth
