#include "tracker/modwav_entry.h"

#include <cstdio>
#include <string>

#include "tracker/module_render.h"
#include "platform/wide_path.h"

namespace plinth {

int modwavWide(const wchar_t* inPath, const wchar_t* outPath) {
    try {
        std::string input;
        std::string output;
        if (!widePathToUtf8(inPath, input) || !widePathToUtf8(outPath, output)) return -1;
        const ModuleStatus status = convertModuleFile(input, output, 8000);
        if (status.error == ModuleError::outOfMemory) {
            std::printf("error: %d-byte memory allocation failed\n", static_cast<int>(status.moduleBytes));
        }
        return status.error == ModuleError::none ? 999 : -1;
    } catch (...) {
        return -1;
    }
}

}  // namespace plinth
