#include "platform/wav_header.h"

#include <algorithm>
#include <cstring>

namespace plinth {

std::size_t sampleBytes(WavSampleFormat format) {
    switch (format) {
        case WavSampleFormat::unsupported: return 0;
        case WavSampleFormat::unsigned8: return 1;
        case WavSampleFormat::signed16: return 2;
        case WavSampleFormat::signed24: return 3;
        case WavSampleFormat::signed32: return 4;
        case WavSampleFormat::float32: return 4;
        case WavSampleFormat::float64: return 8;
    }
    return 0;
}

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

void floatsToLittleEndian(const float* samples, std::size_t count, uint8_t* bytes) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(bytes, samples, count * sizeof(float));
#else
    for (std::size_t i = 0; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &samples[i], sizeof bits);
        putLe32(bytes + 4 * i, bits);
    }
#endif
}

namespace {

constexpr char kFactChunkTag[] = "fact";
constexpr uint32_t kFactChunkBytes = 4;                // the frame count
constexpr uint32_t kFloatFormatChunkBytes = 18;        // PCM's 16 and an empty extension size
constexpr uint32_t kExtensibleFormatChunkBytes = 40;   // 18 and the 22-byte extension
constexpr uint16_t kExtensionBytes = 22;
// Bytes 2..15 of the standard sub-format GUIDs; bytes 0..1 hold the format tag.
constexpr uint8_t kSubFormatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint32_t kNamedSpeakerPositions = 18;

bool isFloat(const WavOutputLayout& layout) { return layout.format == WavSampleFormat::float32; }
bool isExtensible(const WavOutputLayout& layout) { return layout.channels > 2; }

uint32_t formatChunkBytes(const WavOutputLayout& layout) {
    if (isExtensible(layout)) return kExtensibleFormatChunkBytes;
    return isFloat(layout) ? kFloatFormatChunkBytes : kPcmFormatChunkBytes;
}

std::size_t headerBytes(const WavOutputLayout& layout) {
    std::size_t bytes = kRiffHeaderBytes + kChunkHeaderBytes + formatChunkBytes(layout) + kChunkHeaderBytes;
    if (isFloat(layout)) bytes += kChunkHeaderBytes + kFactChunkBytes;
    return bytes;
}

void putTag(uint8_t* at, const char (&tag)[5]) { std::memcpy(at, tag, 4); }

}  // namespace

uint32_t defaultChannelMask(uint32_t channels) {
    return channels <= kNamedSpeakerPositions ? (uint32_t{1} << channels) - 1u : 0u;
}

bool wavOutputLayoutFits(const WavOutputLayout& layout) {
    return layout.channels >= 1 && layout.channels <= UINT16_MAX && wavOutputFrameBytes(layout) <= UINT16_MAX;
}

uint32_t wavOutputFrameBytes(const WavOutputLayout& layout) {
    return static_cast<uint32_t>(sampleBytes(layout.format)) * layout.channels;
}

uint64_t maxWavOutputFrames(const WavOutputLayout& layout) {
    const uint64_t dataBytes = kMaxWavField - (headerBytes(layout) - kChunkHeaderBytes);
    return dataBytes / wavOutputFrameBytes(layout);
}

WavOutputHeader wavOutputHeader(const WavOutputLayout& layout, uint64_t frames) {
    WavOutputHeader header{};
    if (layout.format == WavSampleFormat::signed16 && !isExtensible(layout)) {
        encodeWavHeader(pcm16WavHeader(static_cast<uint16_t>(layout.channels), layout.frameRate, frames), header.bytes);
        header.size = kWavHeaderBytes;
        return header;
    }
    header.size = headerBytes(layout);
    const uint32_t frameBytes = wavOutputFrameBytes(layout);
    const auto dataBytes = static_cast<uint32_t>(frames * frameBytes);
    const uint16_t bits = static_cast<uint16_t>(8 * sampleBytes(layout.format));
    const uint16_t tag = isFloat(layout) ? kWavFormatIeeeFloat : kWavFormatPcm;
    uint8_t* at = header.bytes;
    putTag(at, kRiffTag);
    putLe32(at + 4, static_cast<uint32_t>(header.size - kChunkHeaderBytes) + dataBytes);
    putTag(at + 8, kWaveTag);
    at += kRiffHeaderBytes;
    const uint32_t fmtBytes = formatChunkBytes(layout);
    putTag(at, kFormatChunkTag);
    putLe32(at + 4, fmtBytes);
    putLe16(at + 8, isExtensible(layout) ? kWavFormatExtensible : tag);
    putLe16(at + 10, layout.channels);
    putLe32(at + 12, layout.frameRate);
    putLe32(at + 16, static_cast<uint32_t>(std::min<uint64_t>(uint64_t{frameBytes} * layout.frameRate, kMaxWavField)));
    putLe16(at + 20, frameBytes);
    putLe16(at + 22, bits);
    if (fmtBytes > kPcmFormatChunkBytes) putLe16(at + 24, isExtensible(layout) ? kExtensionBytes : 0);
    if (isExtensible(layout)) {
        putLe16(at + 26, bits);  // valid bits
        putLe32(at + 28, layout.channelMask);
        putLe16(at + 32, tag);
        std::memcpy(at + 34, kSubFormatGuidTail, sizeof kSubFormatGuidTail);
    }
    at += kChunkHeaderBytes + fmtBytes;
    if (isFloat(layout)) {
        putTag(at, kFactChunkTag);
        putLe32(at + 4, kFactChunkBytes);
        putLe32(at + 8, static_cast<uint32_t>(frames));
        at += kChunkHeaderBytes + kFactChunkBytes;
    }
    putTag(at, kDataChunkTag);
    putLe32(at + 4, dataBytes);
    return header;
}

}  // namespace plinth
