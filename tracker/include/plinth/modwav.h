#ifndef PLINTH_MODWAV_H
#define PLINTH_MODWAV_H

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Plays a tracker module file and writes it as a stereo 16-bit PCM WAV file at
 * 8000 frames per second, ending where the song first loops. Returns 999 on
 * success and -1 on failure. On failure the output path is left as it was. */
int MODWAV(const wchar_t* inPath, const wchar_t* outPath);

#ifdef __cplusplus
}
#endif

#endif
