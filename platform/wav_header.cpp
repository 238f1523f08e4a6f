#include "platform/wav_header.h"

#include <algorithm>
#include <cstring>

namespace plinth {

int parseWavHeader(const WavHeader& header, WavInfo& info) {
    if (!isTag(header.riffTag, kRiffTag)) return 0;
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
    std::memcpy(header.riffTag, kRiffTag, 4);
    std::memcpy(header.waveTag, kWaveTag, 4);
    std::memcpy(header.fmtTag, kFormatChunkTag, 4);
    std::memcpy(header.dataTag, kDataChunkTag, 4);
    header.riffSize = info.riffSize;
    header.fmtSize = info.fmtSize;
    header.audioFormat = info.audioFormat;
    header.channels = info.channels;
    header.sampleRate = info.sampleRate;
    header.bitsPerSample = info.bitsPerSample;
    // Exact in 64 bits: even 65535 bits x 65535 channels x the highest rate
    // stays below 2^64, so neither product wraps.
    const uint64_t bitsPerFrame = uint64_t{info.bitsPerSample} * info.channels;
    header.blockAlign = static_cast<uint16_t>(std::min<uint64_t>(bitsPerFrame / 8, UINT16_MAX));
    header.byteRate = static_cast<uint32_t>(std::min<uint64_t>(bitsPerFrame * info.sampleRate / 8, kMaxWavField));
    header.dataSize = info.dataSize;
    return 1;
}

void decodeWavHeader(const uint8_t* bytes, WavHeader& header) {
    std::memcpy(header.riffTag, bytes, 4);
    header.riffSize = readLe32(bytes + 4);
    std::memcpy(header.waveTag, bytes + 8, 4);
    std::memcpy(header.fmtTag, bytes + 12, 4);
    header.fmtSize = readLe32(bytes + 16);
    header.audioFormat = readLe16(bytes + 20);
    header.channels = readLe16(bytes + 22);
    header.sampleRate = readLe32(bytes + 24);
    header.byteRate = readLe32(bytes + 28);
    header.blockAlign = readLe16(bytes + 32);
    header.bitsPerSample = readLe16(bytes + 34);
    std::memcpy(header.dataTag, bytes + 36, 4);
    header.dataSize = readLe32(bytes + 40);
}

void encodeWavHeader(const WavHeader& header, uint8_t* bytes) {
    std::memcpy(bytes, header.riffTag, 4);
    putLe32(bytes + 4, header.riffSize);
    std::memcpy(bytes + 8, header.waveTag, 4);
    std::memcpy(bytes + 12, header.fmtTag, 4);
    putLe32(bytes + 16, header.fmtSize);
    putLe16(bytes + 20, header.audioFormat);
    putLe16(bytes + 22, header.channels);
    putLe32(bytes + 24, header.sampleRate);
    putLe32(bytes + 28, header.byteRate);
    putLe16(bytes + 32, header.blockAlign);
    putLe16(bytes + 34, header.bitsPerSample);
    std::memcpy(bytes + 36, header.dataTag, 4);
    putLe32(bytes + 40, header.dataSize);
}

WavHeader pcm16WavHeader(uint16_t channels, uint32_t frameRate, uint64_t frames, uint32_t trailingBytes) {
    const auto dataBytes = static_cast<uint32_t>(frames * kPcm16SampleBytes * channels);
    WavInfo info{};
    info.riffSize = dataBytes + kHeaderBytesInRiffSize + trailingBytes;
    info.fmtSize = kPcmFormatChunkBytes;
    info.dataSize = dataBytes;
    info.sampleRate = frameRate;
    info.channels = channels;
    info.audioFormat = kWavFormatPcm;
    info.bitsPerSample = 8 * kPcm16SampleBytes;
    WavHeader header;
    buildWavHeader(header, info);
    return header;
}

void samplesToLittleEndian(const int16_t* samples, std::size_t count, uint8_t* bytes) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(bytes, samples, count * kPcm16SampleBytes);
#else
    for (std::size_t i = 0; i < count; ++i) putLe16(bytes + kPcm16SampleBytes * i, static_cast<uint16_t>(samples[i]));
#endif
}

}  // namespace plinth
