/* A whole-process peer for benchmarks/resample_wall_time.sh: libsoxr at HQ (or VHQ)
 * over a 16-bit PCM WAV file with the canonical 44-byte header, stereo mixed to mono
 * as plinth's --channel mix does, written as mono 16-bit WAV. Benchmarks only.
 *   soxr_resample IN.wav OUT.wav RATE [hq|vhq]
 */
#include <soxr.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kFrames = 32768 };

static void put32(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v; p[1] = (unsigned char)(v >> 8); p[2] = (unsigned char)(v >> 16); p[3] = (unsigned char)(v >> 24);
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s IN.wav OUT.wav RATE [hq|vhq]\n", argv[0]);
        return 2;
    }
    const unsigned long recipe = (argc > 4 && strcmp(argv[4], "vhq") == 0) ? SOXR_VHQ : SOXR_HQ;
    FILE* in = fopen(argv[1], "rb");
    FILE* out = fopen(argv[2], "wb");
    unsigned char header[44];
    if (!in || !out || fread(header, 1, 44, in) != 44) return 1;
    const int channels = header[22] | header[23] << 8;
    const double inRate =
        (double)((uint32_t)(header[24] | header[25] << 8 | header[26] << 16) | (uint32_t)header[27] << 24);
    const double outRate = atof(argv[3]);
    fwrite(header, 1, 44, out);

    soxr_error_t error = NULL;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
    soxr_t soxr = soxr_create(inRate, outRate, 1, &error, &io, &quality, NULL);
    if (error) return 1;

    const size_t outCapacity = (size_t)(kFrames * outRate / inRate) + 64;
    int16_t* items = malloc(sizeof(int16_t) * kFrames * 2);
    int16_t* mono = malloc(sizeof(int16_t) * kFrames);
    int16_t* resampled = malloc(sizeof(int16_t) * outCapacity);
    uint64_t written = 0;
    for (;;) {
        const size_t got = fread(items, sizeof(int16_t) * (size_t)channels, kFrames, in);
        const int16_t* feed = items;
        if (channels == 2) {
            for (size_t k = 0; k < got; ++k) mono[k] = (int16_t)(((int32_t)items[2 * k] + items[2 * k + 1]) >> 1);
            feed = mono;
        }
        size_t consumed = 0;
        do {  /* got == 0 flushes */
            size_t used = 0, produced = 0;
            error = soxr_process(soxr, got ? feed + consumed : NULL, got - consumed, &used, resampled, outCapacity,
                                 &produced);
            if (error) return 1;
            fwrite(resampled, sizeof(int16_t), produced, out);
            written += produced;
            consumed += used;
            if (!got && !produced) break;
        } while (got ? consumed < got : 1);
        if (!got) break;
    }
    soxr_delete(soxr);
    put32(header + 4, (uint32_t)(36 + 2 * written));
    header[22] = 1; header[23] = 0;
    put32(header + 24, (uint32_t)outRate);
    put32(header + 28, (uint32_t)outRate * 2);
    header[32] = 2; header[33] = 0;
    put32(header + 40, (uint32_t)(2 * written));
    fseek(out, 0, SEEK_SET);
    fwrite(header, 1, 44, out);
    fclose(out);
    fclose(in);
    free(items); free(mono); free(resampled);
    return 0;
}
