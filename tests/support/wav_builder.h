#pragma once
// WAV files made byte by byte, independently of the project's own header
// code, and whole files read and written.

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<unsigned char>;

struct WavFormat {
    uint16_t audioFormat = 1;
    uint16_t channels = 1;
    uint32_t sampleRate = 8000;
    uint16_t bitsPerSample = 16;
};

inline void appendLe(Bytes& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A canonical 44-byte header, then the items as 16-bit little-endian samples.
inline Bytes wavBytes(const WavFormat& format, const std::vector<int16_t>& items) {
    Bytes file{'R', 'I', 'F', 'F'};
    const uint32_t dataSize = static_cast<uint32_t>(items.size() * 2);
    appendLe(file, dataSize + 36, 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    appendLe(file, 16, 4);
    appendLe(file, format.audioFormat, 2);
    appendLe(file, format.channels, 2);
    appendLe(file, format.sampleRate, 4);
    appendLe(file, format.sampleRate * format.channels * format.bitsPerSample / 8, 4);
    appendLe(file, static_cast<uint32_t>(format.channels * format.bitsPerSample / 8), 2);
    appendLe(file, format.bitsPerSample, 2);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    appendLe(file, dataSize, 4);
    for (int16_t item : items) appendLe(file, static_cast<uint16_t>(item), 2);
    return file;
}

// `frames` frames of a deterministic signal, a sawtooth per channel at
// different pitches, behind a canonical header; any bit depth and format tag.
inline Bytes sawtoothWav(int channels, uint32_t rate, uint32_t frames, int bits = 16, int format = 1) {
    const uint32_t frameBytes = static_cast<uint32_t>(channels * bits / 8);
    Bytes bytes{'R', 'I', 'F', 'F'};
    appendLe(bytes, 36 + frames * frameBytes, 4);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    appendLe(bytes, 16, 4);
    appendLe(bytes, static_cast<uint32_t>(format), 2);
    appendLe(bytes, static_cast<uint32_t>(channels), 2);
    appendLe(bytes, rate, 4);
    appendLe(bytes, rate * frameBytes, 4);
    appendLe(bytes, frameBytes, 2);
    appendLe(bytes, static_cast<uint32_t>(bits), 2);
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    appendLe(bytes, frames * frameBytes, 4);
    for (uint32_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            const int value = static_cast<int>((f * (97u + 31u * static_cast<uint32_t>(c))) % 4000u) * 8 - 16000;
            appendLe(bytes, static_cast<uint32_t>(value), bits / 8);
        }
    }
    return bytes;
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

inline uint32_t le32At(const Bytes& bytes, std::size_t offset) {
    return static_cast<uint32_t>(bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16)) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

// The 16-bit samples after byte 44.
inline std::vector<int16_t> samplesOf(const Bytes& bytes) {
    std::vector<int16_t> samples;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return samples;
}

inline std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace testsupport

namespace testsupport {

// One chunk of a file built chunk by chunk; an odd body gets its pad byte.
struct Chunk {
    std::string tag;
    Bytes body;
    bool sizeGiven = false;  // write `size` instead of the body's length
    uint32_t size = 0;
};

// The body of a "fmt " chunk of 16, 18 or 40 bytes; a 40-byte one is
// extensible, with `format` as its sub-format.
inline Bytes fmtBody(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, uint32_t size = 16,
                     uint32_t channelMask = 0) {
    Bytes body;
    const uint32_t blockAlign = channels * bits / 8u;
    appendLe(body, size == 40 ? 0xFFFEu : format, 2);
    appendLe(body, channels, 2);
    appendLe(body, rate, 4);
    appendLe(body, rate * blockAlign, 4);
    appendLe(body, blockAlign, 2);
    appendLe(body, bits, 2);
    if (size >= 18) appendLe(body, size - 18, 2);
    if (size == 40) {
        appendLe(body, bits, 2);  // valid bits
        appendLe(body, channelMask, 4);
        appendLe(body, format, 2);
        body.insert(body.end(), {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    }
    return body;
}

// Overwrites four bytes with a little-endian value, when they are there.
inline void setLe32(Bytes& bytes, std::size_t offset, uint32_t value) {
    if (offset > bytes.size() || bytes.size() - offset < 4) return;
    for (std::size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A chunk's header, body and pad byte, appended to `file`.
inline void appendChunk(Bytes& file, const Chunk& chunk) {
    file.insert(file.end(), chunk.tag.begin(), chunk.tag.end());
    appendLe(file, chunk.sizeGiven ? chunk.size : static_cast<uint32_t>(chunk.body.size()), 4);
    file.insert(file.end(), chunk.body.begin(), chunk.body.end());
    if (chunk.body.size() % 2 != 0) file.push_back(0);
}

// "RIFF" (or another container tag), its size, "WAVE", then the chunks.
inline Bytes chunkedWav(const std::vector<Chunk>& chunks, const char* container = "RIFF") {
    Bytes file(container, container + 4);
    appendLe(file, 0, 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E'});
    for (const Chunk& chunk : chunks) appendChunk(file, chunk);
    setLe32(file, 4, static_cast<uint32_t>(file.size() - 8));
    return file;
}

// Samples as little-endian integers of `bytes` bytes each.
inline Bytes integerSamples(const std::vector<int32_t>& values, int bytes) {
    Bytes out;
    for (int32_t value : values) appendLe(out, static_cast<uint32_t>(value), bytes);
    return out;
}

inline Bytes float32Samples(const std::vector<float>& values) {
    Bytes out;
    for (float value : values) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        appendLe(out, bits, 4);
    }
    return out;
}

inline Bytes float64Samples(const std::vector<double>& values) {
    Bytes out;
    for (double value : values) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        appendLe(out, static_cast<uint32_t>(bits), 4);
        appendLe(out, static_cast<uint32_t>(bits >> 32), 4);
    }
    return out;
}

}  // namespace testsupport
