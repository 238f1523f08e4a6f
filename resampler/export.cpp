#include "resample_wav.h"

extern "C" __attribute__((visibility("default"))) int ResampleWav(const wchar_t* inPath, const wchar_t* outPath,
                                                                   int targetRate, int channelMode) {
    return resampleWavWide(inPath, outPath, targetRate, channelMode);
}
