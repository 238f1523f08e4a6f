// The library's one exported function.

#include "plinth/resample_wav.h"
#include "resampler/resample_entry.h"

extern "C" __attribute__((visibility("default"))) int ResampleWav(const wchar_t* inPath, const wchar_t* outPath,
                                                                   int targetRate, int channelMode) {
    return plinth::resampleWavWide(inPath, outPath, targetRate, channelMode);
}
