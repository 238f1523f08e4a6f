// The library's one exported function.

#include <string>

#include "modwav.h"
#include "plinth/modwav.h"
#include "wide_path.h"

extern "C" __attribute__((visibility("default"))) int MODWAV(const wchar_t* inPath, const wchar_t* outPath) {
    try {
        std::string input;
        std::string output;
        if (!plinth::widePathToUtf8(inPath, input) || !plinth::widePathToUtf8(outPath, output)) return -1;
        return modToWavFile(input.c_str(), output.c_str(), 8000);
    } catch (...) {
        return -1;
    }
}
