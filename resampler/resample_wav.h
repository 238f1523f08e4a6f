#pragma once
// The resampler's entry: request validation in front of the streaming resampler.

#include "plinth/resample_wav.h"

// Everything ResampleWav does, for callers inside the project.
int resampleWavWide(const wchar_t* inPath, const wchar_t* outPath, int targetRate, int channelMode);

// Paths in UTF-8; sourceRate is the input's own rate. 1 on success, 0 on
// failure with one message on stderr; a failure leaves the output path as it was.
int resampleWavFile(const char* inPath, const char* outPath, int targetRate, int sourceRate, int channelMode);
