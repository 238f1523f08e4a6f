#pragma once
// Everything ResampleWav does, for callers inside the project: wide paths in,
// 1 or 0 out, and the documented message lines on standard error.

namespace plinth {

int resampleWavWide(const wchar_t* inPath, const wchar_t* outPath, int targetRate, int channelMode);

}  // namespace plinth
