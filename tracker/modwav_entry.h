#pragma once
// Everything MODWAV does, for callers inside the project: wide paths in,
// 999 or -1 out, and only the allocation message on standard output.

namespace plinth {

int modwavWide(const wchar_t* inPath, const wchar_t* outPath);

}  // namespace plinth
