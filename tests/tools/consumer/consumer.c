/* A C host of both libraries. Usage: consumer_c IN.wav FOLDER (ASCII paths).
 * Resamples IN.wav to FOLDER/out.wav at 8000 Hz, mixing a stereo input down,
 * checks the rate in the result's header, and expects MODWAV to refuse a
 * missing module. */
#include <plinth/modwav.h>
#include <plinth/resample_wav.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

static void widen(wchar_t* wide, const char* narrow) {
    while ((*wide++ = (unsigned char)*narrow++) != L'\0') {
    }
}

int main(int argc, char** argv) {
    static char out[4096];
    static wchar_t wideIn[4096], wideOut[4096], missing[4096];
    if (argc != 3 || strlen(argv[1]) >= 4000 || strlen(argv[2]) >= 4000) return 2;
    snprintf(out, sizeof out, "%s/out.wav", argv[2]);
    widen(wideIn, argv[1]);
    widen(wideOut, out);
    widen(missing, argv[2]);
    wcscat(missing, L"/missing.mod");

    if (ResampleWav(wideIn, wideOut, 8000, 2) != 1) return 1;
    unsigned char header[44];
    FILE* file = fopen(out, "rb");
    if (file == NULL || fread(header, 1, sizeof header, file) != sizeof header) return 1;
    fclose(file);
    const unsigned long rate = header[24] | header[25] << 8 | (unsigned long)header[26] << 16;
    if (memcmp(header, "RIFF", 4) != 0 || header[22] != 1 || rate != 8000) return 1;

    return MODWAV(missing, wideOut) == -1 ? 0 : 1;
}
