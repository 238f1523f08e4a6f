#include "info.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli.h"
#include "files.h"
#include "mod_player.h"
#include "modwav.h"
#include "wav_header.h"

namespace plinth {
namespace {

constexpr int kInfoRate = 8000;  // the converter's own rate

uint32_t readLe32(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Text from a fixed-size field: up to the first zero byte, anything
// unprintable shown as '?'.
std::string printable(const unsigned char* bytes, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size && bytes[i] != 0; ++i)
        text.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '?');
    return text;
}

const char* formatName(unsigned format) {
    switch (format) {
        case 1: return "PCM";
        case 3: return "IEEE float";
        case 6: return "A-law";
        case 7: return "mu-law";
        case 0xFFFE: return "extensible";
        default: return "unknown";
    }
}

// Walks the chunk list from byte 12 to find where the "data" chunk's bytes
// begin; -1 when there is none.
long long findDataStart(const std::vector<unsigned char>& bytes) {
    std::size_t position = 12;
    while (position + 8 <= bytes.size()) {
        const uint32_t size = readLe32(&bytes[position + 4]);
        if (std::memcmp(&bytes[position], "data", 4) == 0) return static_cast<long long>(position + 8);
        const unsigned long long next = position + 8ULL + size + (size & 1U);
        if (next > bytes.size()) return -1;
        position = static_cast<std::size_t>(next);
    }
    return -1;
}

void describeWav(const std::string& path, const std::vector<unsigned char>& bytes, const WavInfo& info) {
    std::printf("%s: WAV file\n", path.c_str());
    std::printf("  format:            %u (%s)\n", static_cast<unsigned>(info.audioFormat), formatName(info.audioFormat));
    std::printf("  channels:          %u\n", static_cast<unsigned>(info.channels));
    std::printf("  bits per sample:   %u\n", static_cast<unsigned>(info.bitsPerSample));
    std::printf("  sample rate:       %u Hz\n", static_cast<unsigned>(info.sampleRate));
    // The data chunk where it really is; at the fixed offsets for a canonical file.
    const long long dataStart = findDataStart(bytes);
    const std::size_t sizeAt = dataStart >= 8 ? static_cast<std::size_t>(dataStart - 4) : 40;
    const uint32_t dataSize = readLe32(&bytes[sizeAt]);
    const unsigned long long following = bytes.size() - (sizeAt + 4);
    std::printf("  data size:         %u bytes (%llu bytes follow)\n", static_cast<unsigned>(dataSize), following);
    const unsigned frameBytes = static_cast<unsigned>(info.channels) * info.bitsPerSample / 8U;
    if (frameBytes == 0) {
        std::printf("  frames:            unknown\n");
        std::printf("  duration:          unknown\n");
    } else {
        const unsigned long long frames = dataSize / frameBytes;
        std::printf("  frames:            %llu\n", frames);
        if (info.sampleRate == 0)
            std::printf("  duration:          unknown\n");
        else
            std::printf("  duration:          %.3f s\n", static_cast<double>(frames) / info.sampleRate);
    }
    if (dataStart == static_cast<long long>(sizeof(WavHeader)))
        std::printf("  samples at byte 44: yes\n");
    else if (dataStart < 0)
        std::printf("  samples at byte 44: no (no data chunk found)\n");
    else
        std::printf("  samples at byte 44: no (the data chunk's samples start at byte %lld)\n", dataStart);
}

void describeModule(const std::string& path, const std::vector<unsigned char>& image, const ModPlayer& player,
                    long long frames) {
    std::printf("%s: module\n", path.c_str());
    const bool tagged = player.sampleCount == 31;
    std::printf("  layout:            %u samples%s\n", static_cast<unsigned>(player.sampleCount),
                tagged ? ", tag at byte 1080" : ", no tag");
    std::printf("  tag:               %s\n", tagged ? printable(&image[1080], 4).c_str() : "(none)");
    std::printf("  channels:          %u\n", static_cast<unsigned>(player.channelCount));
    std::printf("  song length:       %u order%s\n", static_cast<unsigned>(player.songLength),
                player.songLength == 1 ? "" : "s");
    std::printf("  restart position:  %u\n", static_cast<unsigned>(player.restartPosition));
    std::printf("  patterns:          %u\n", static_cast<unsigned>(player.patternCount));
    std::printf("  samples:\n");
    for (int n = 1; n <= player.sampleCount; ++n) {
        const std::size_t header = 20 + static_cast<std::size_t>(n - 1) * 30;
        const std::string name = header + 22 <= image.size() ? printable(&image[header], 22) : std::string();
        const uint32_t length = player.samples[n - 1].length;
        if (name.empty() && length == 0) continue;
        std::printf("    %2d  %-24s %6u bytes\n", n, ("\"" + name + "\"").c_str(), static_cast<unsigned>(length));
    }
    std::printf("  duration:          %.3f s until the first loop (%lld frames at %d per second)\n",
                static_cast<double>(frames) / kInfoRate, frames, kInfoRate);
}

void reportError(const std::string& text) {
    std::fflush(stdout);  // descriptions of earlier files come first
    std::fprintf(stderr, "plinth: %s\n", text.c_str());
}

bool describeFile(const std::string& path) {
    std::vector<unsigned char> bytes;
    std::string error;
    if (!readWholeFile(path, bytes, error)) {
        reportError(error);
        return false;
    }
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "RIFF", 4) == 0) {
        if (bytes.size() < sizeof(WavHeader)) {
            reportError(path + ": WAV header cut short (" + std::to_string(bytes.size()) + " of 44 bytes)");
            return false;
        }
        WavHeader header;
        std::memcpy(&header, bytes.data(), sizeof header);
        WavInfo info{};
        if (parseWavHeader(header, info) == 1) {
            describeWav(path, bytes, info);
            return true;
        }
    }
    const int size = static_cast<int>(bytes.size());
    std::unique_ptr<ModPlayer> player(new ModPlayer());
    if (size > 0 && modInit(player.get(), bytes.data(), size, kInfoRate) == 1) {
        const long long frames = modSongFrames(bytes.data(), size, kInfoRate);
        if (frames >= 0) {
            describeModule(path, bytes, *player, frames);
            return true;
        }
    }
    reportError(path + ": neither a WAV file nor a playable module");
    return false;
}

}  // namespace

int runInfo(const std::vector<std::string>& files) {
    bool allDescribed = true;
    for (const std::string& path : files) {
        if (!describeFile(path)) allDescribed = false;
    }
    return allDescribed ? kExitSuccess : kExitFailure;
}

}  // namespace plinth
