#include "wav_header.h"

#include <cstring>

int parseWavHeader(const WavHeader& header, WavInfo& info) {
    if (std::memcmp(header.riffTag, "RIFF", 4) != 0) return 0;
    info.riffSize = header.riffSize;
    info.fmtSize = header.fmtSize;
    info.dataSize = header.dataSize;
    info.sampleRate = header.sampleRate;
    info.channels = header.channels;
    info.audioFormat = header.audioFormat;
    info.bitsPerSample = header.bitsPerSample;
    return 1;
}

int buildWavHeader(WavHeader& header, const WavInfo& info) {
    std::memcpy(header.riffTag, "RIFF", 4);
    std::memcpy(header.waveTag, "WAVE", 4);
    std::memcpy(header.fmtTag, "fmt ", 4);
    std::memcpy(header.dataTag, "data", 4);
    header.riffSize = info.riffSize;
    header.fmtSize = info.fmtSize;
    header.audioFormat = info.audioFormat;
    header.channels = info.channels;
    header.sampleRate = info.sampleRate;
    header.bitsPerSample = info.bitsPerSample;
    header.blockAlign = static_cast<uint16_t>((info.bitsPerSample * info.channels) / 8);
    header.byteRate = (static_cast<uint32_t>(info.bitsPerSample) * info.channels * info.sampleRate) >> 3;
    header.dataSize = info.dataSize;
    return 1;
}
