// The library's one exported function.

#include "tracker/modwav_entry.h"
#include "plinth/modwav.h"

extern "C" __attribute__((visibility("default"))) int MODWAV(const wchar_t* inPath, const wchar_t* outPath) {
    return plinth::modwavWide(inPath, outPath);
}
