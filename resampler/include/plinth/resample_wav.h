#ifndef PLINTH_RESAMPLE_WAV_H
#define PLINTH_RESAMPLE_WAV_H

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Converts a 16-bit PCM WAV file (mono or stereo) into a mono 16-bit PCM WAV
 * file at targetRate frames per second. channelMode picks what a stereo input
 * becomes: 1 the second channel, 2 the average of both, any other value the
 * first channel. Returns 1 on success, 0 on failure (with a message on stderr).
 * On failure the output path is left exactly as it was. */
int ResampleWav(const wchar_t* inPath, const wchar_t* outPath, int targetRate, int channelMode);

#ifdef __cplusplus
}
#endif

#endif
