#pragma once
// Temporary folders and WAV files for the resampler's tests.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

struct WavFormat {
    uint16_t audioFormat = 1;
    uint16_t channels = 1;
    uint32_t sampleRate = 8000;
    uint16_t bitsPerSample = 16;
};

inline void appendLe(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A canonical header, written byte by byte (independently of WavHeader).
inline std::vector<unsigned char> wavBytes(const WavFormat& format, const std::vector<int16_t>& items) {
    std::vector<unsigned char> file{'R', 'I', 'F', 'F'};
    const uint32_t dataSize = static_cast<uint32_t>(items.size() * 2);
    appendLe(file, dataSize + 36, 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    appendLe(file, 16, 4);
    appendLe(file, format.audioFormat, 2);
    appendLe(file, format.channels, 2);
    appendLe(file, format.sampleRate, 4);
    appendLe(file, format.sampleRate * format.channels * format.bitsPerSample / 8, 4);
    appendLe(file, format.channels * format.bitsPerSample / 8, 2);
    appendLe(file, format.bitsPerSample, 2);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    appendLe(file, dataSize, 4);
    for (int16_t item : items) appendLe(file, static_cast<uint16_t>(item), 2);
    return file;
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

inline uint32_t le32At(const std::vector<unsigned char>& bytes, std::size_t offset) {
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

// The 16-bit samples after byte 44.
inline std::vector<int16_t> samplesOf(const std::vector<unsigned char>& bytes) {
    std::vector<int16_t> samples;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return samples;
}

// A fresh folder, removed with its files at the end of the test.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/plinth-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() {
        for (const std::string& name : entries()) unlink((path_ + "/" + name).c_str());
        rmdir(path_.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        if (DIR* dir = opendir(path_.c_str())) {
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") names.push_back(name);
            }
            closedir(dir);
        }
        return names;
    }

private:
    std::string path_;
};

inline std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
