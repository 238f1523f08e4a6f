#pragma once
// What can go wrong in a module conversion, as values; only the edges turn
// them into messages.

#include <cstdint>
#include <string>

#include "platform/input_file.h"

namespace plinth {

enum class ModuleError {
    none,
    invalidRate,       // outside 1..kMaxWavRate
    cannotReadInput,   // missing, a folder, not a regular file, unreadable; inputError says which
    emptyInput,
    inputTooLarge,     // 2 GiB or more
    outOfMemory,       // the module image could not be held
    notPlayable,       // not a module, or its patterns do not fit in the file
    tooLong,           // the song lasts longer than the caller allows
    cannotOpenOutput,
    writeFailed,
    stopped,           // the caller asked it to stop
    stemsMismatch,     // the module has another number of channels than stems were named for
};

struct ModuleStatus {
    ModuleError error = ModuleError::none;
    InputError inputError = InputError::none;
    int systemError = 0;
    uint64_t moduleBytes = 0;  // the size that could not be held, for outOfMemory
    int failedStem = -1;       // the stem (0-based) whose output failed; -1 for the song's own output
};

// A few words on a failure, such as "not a module this player can play".
std::string describeModuleError(const ModuleStatus& status);

}  // namespace plinth
