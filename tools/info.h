#pragma once
// `plinth info`: what a WAV file's header says, or how a module is laid out.
// The description is a plain record, printed by the tool and handed to Python
// by the bindings.

#include <cstdint>
#include <string>
#include <vector>

#include "input_file.h"
#include "module_render.h"

namespace plinth {

// The rate module durations are given at: the converter's own.
constexpr int kInfoRate = 8000;

struct WavDescription {
    unsigned audioFormat = 0;
    std::string formatName;       // "PCM", "IEEE float", ... or "unknown"
    unsigned channels = 0;
    unsigned bitsPerSample = 0;
    unsigned sampleRate = 0;
    uint32_t dataSize = 0;        // as the data chunk (or the fixed header field) declares it
    int64_t bytesFollowing = 0;   // file bytes after the data chunk header
    bool framesKnown = false;     // channels and bits give a frame size
    uint64_t frames = 0;
    bool durationKnown = false;   // frames known and a rate above 0
    double seconds = 0;
    int64_t dataStart = -1;       // the first sample byte; -1 when no data chunk was found
};

struct ModuleSampleDescription {
    int number = 0;               // 1-based slot
    std::string name;             // up to the first zero byte, unprintable bytes as '?'
    uint32_t length = 0;          // bytes
};

struct ModuleDescription {
    int sampleSlots = 0;          // 31 with a tag at byte 1080, or 15
    std::string tag;              // empty for the 15-sample layout
    unsigned channels = 0;
    unsigned songLength = 0;      // orders
    unsigned restartPosition = 0;
    unsigned patterns = 0;
    std::vector<ModuleSampleDescription> samples;  // slots with a name or a length
    uint64_t frames = 0;          // until the first loop, at kInfoRate
    double seconds = 0;
    bool cutAtSizeLimit = false;  // the song goes on, but no WAV file could hold more
};

enum class InfoError {
    none,
    unreadable,      // inputError and systemError say why
    headerCutShort,  // starts with RIFF but shorter than 44 bytes
    moduleRefused,   // moduleStatus says why
    outOfMemory,
    unrecognised,    // neither a WAV file nor a playable module
};

enum class FileKind { wav, module };

struct FileDescription {
    InfoError error = InfoError::none;
    InputError inputError = InputError::none;
    int systemError = 0;
    std::size_t headerBytes = 0;  // what a cut-short header held
    ModuleStatus moduleStatus;
    FileKind kind = FileKind::wav;
    WavDescription wav;           // when kind is wav
    ModuleDescription module;     // when kind is module
};

// Reads and describes one file. A WAV file is read no further than its chunk
// headers; anything else is read whole and tried as a module. Pipes and
// devices are refused unopened.
FileDescription describeFile(const std::string& path);

// A few words on why a file could not be described.
std::string describeInfoError(const FileDescription& description);

// Describes each file on stdout; returns the exit status (1 when any file
// could not be read or is neither a WAV file nor a playable module).
int runInfo(const std::vector<std::string>& files);

}  // namespace plinth
