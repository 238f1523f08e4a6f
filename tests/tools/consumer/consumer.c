/* A C host of both libraries: resamples a WAV file and renders a module it
 * writes itself, and checks the sizes of the results. */
#include <plinth/modwav.h>
#include <plinth/resample_wav.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static wchar_t* widen(const char* folder, const char* name) {
    size_t length = strlen(folder) + 1 + strlen(name);
    wchar_t* path = malloc((length + 1) * sizeof *path);
    size_t i = 0;
    for (const char* p = folder; *p; ++p) path[i++] = (unsigned char)*p; /* the folder is ASCII */
    path[i++] = L'/';
    for (const char* p = name; *p; ++p) path[i++] = (unsigned char)*p;
    path[i] = L'\0';
    return path;
}

static long fileSize(const char* folder, const char* name) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", folder, name);
    FILE* file = fopen(path, "rb");
    if (!file) return -1;
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fclose(file);
    return size;
}

static int writeBytes(const char* folder, const char* name, const unsigned char* bytes, size_t size) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", folder, name);
    FILE* file = fopen(path, "wb");
    if (!file) return 0;
    int ok = fwrite(bytes, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

static void le(unsigned char* at, unsigned long value, int size) {
    for (int i = 0; i < size; ++i) at[i] = (unsigned char)(value >> (8 * i));
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const char* folder = argv[1];

    /* One second of mono 16000 Hz becomes 8000 frames at 8000 Hz. */
    static unsigned char wav[44 + 16000 * 2];
    memcpy(wav, "RIFF", 4);
    le(wav + 4, 36 + 32000, 4);
    memcpy(wav + 8, "WAVEfmt ", 8);
    le(wav + 16, 16, 4);
    le(wav + 20, 1, 2);
    le(wav + 22, 1, 2);
    le(wav + 24, 16000, 4);
    le(wav + 28, 32000, 4);
    le(wav + 32, 2, 2);
    le(wav + 34, 16, 2);
    memcpy(wav + 36, "data", 4);
    le(wav + 40, 32000, 4);
    for (int i = 0; i < 16000; ++i) le(wav + 44 + 2 * i, (unsigned long)((i % 64) * 256 - 8192), 2);
    if (!writeBytes(folder, "in.wav", wav, sizeof wav)) return 1;

    wchar_t* in = widen(folder, "in.wav");
    wchar_t* out = widen(folder, "out.wav");
    int resampled = ResampleWav(in, out, 8000, 0);
    free(in);
    free(out);
    if (resampled != 1 || fileSize(folder, "out.wav") != 44 + 8000 * 2) {
        fprintf(stderr, "ResampleWav gave %d\n", resampled);
        return 1;
    }

    /* A one-order module of 64 lines at speed 6: 61440 stereo frames. */
    static unsigned char module[1084 + 1024 + 512];
    module[20 + 23] = 0;
    module[20 + 22] = 1; /* 256 words */
    module[20 + 25] = 64;
    module[20 + 29] = 1;
    module[950] = 1;
    memcpy(module + 1080, "M.K.", 4);
    module[1084] = 428 >> 8;
    module[1085] = 428 & 0xFF;
    module[1086] = 1 << 4;
    for (int i = 0; i < 512; ++i) module[2108 + i] = (unsigned char)(i & 16 ? 0x30 : 0xD0);
    if (!writeBytes(folder, "song.mod", module, sizeof module)) return 1;

    wchar_t* song = widen(folder, "song.mod");
    wchar_t* rendered = widen(folder, "song.wav");
    wchar_t* missing = widen(folder, "missing.mod");
    int played = MODWAV(song, rendered);
    int failed = MODWAV(missing, rendered);
    free(song);
    free(rendered);
    free(missing);
    if (played != 999 || failed != -1 || fileSize(folder, "song.wav") != 44 + 61440L * 4) {
        fprintf(stderr, "MODWAV gave %d and %d\n", played, failed);
        return 1;
    }
    return 0;
}
