#pragma once
// The canonical 44-byte WAV header: "fmt " chunk at byte 12, "data" chunk
// header at byte 36, samples from byte 44. No chunk list is walked.

#include <cstddef>
#include <cstdint>

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "WavHeader is moved to and from files without conversion: little-endian hosts only"
#endif

struct WavHeader {
    char riffTag[4];
    uint32_t riffSize;
    char waveTag[4];
    char fmtTag[4];
    uint32_t fmtSize;
    uint16_t audioFormat;
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    char dataTag[4];
    uint32_t dataSize;
};
static_assert(sizeof(WavHeader) == 44, "WavHeader must match the file layout");
static_assert(offsetof(WavHeader, fmtSize) == 16 && offsetof(WavHeader, sampleRate) == 24 &&
                  offsetof(WavHeader, blockAlign) == 32 && offsetof(WavHeader, dataSize) == 40,
              "WavHeader fields must sit at their file offsets");

struct WavInfo {
    uint32_t riffSize;
    uint32_t fmtSize;
    uint32_t dataSize;
    uint32_t sampleRate;
    uint16_t channels;
    uint16_t audioFormat;
    uint16_t bitsPerSample;
};

// 1 and the seven values copied when the header starts with "RIFF"; otherwise
// 0 and info untouched. Nothing else is judged here.
int parseWavHeader(const WavHeader& header, WavInfo& info);

// Writes the tags and values, deriving blockAlign and byteRate. Always 1.
int buildWavHeader(WavHeader& header, const WavInfo& info);
