#pragma once
// WAV files made byte by byte, independently of the project's own header
// code, and whole files read and written.

#include <unistd.h>

#include <cstdint>
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
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
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
