#include "info.h"

#include <sys/stat.h>

#include <cerrno>
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

// Walks the chunk list from byte 12 to the "data" chunk: where its bytes begin
// and the size it declares. Without one, start is -1 and the size is the one
// at the fixed offset 40.
struct DataChunk {
    long long start = -1;
    uint32_t size = 0;
};

DataChunk findDataChunk(std::FILE* file, long long fileSize, const WavInfo& info) {
    DataChunk chunk;
    chunk.size = info.dataSize;
    long long position = 12;
    unsigned char head[8];
    while (position + 8 <= fileSize) {
        if (fseeko(file, position, SEEK_SET) != 0 || std::fread(head, 1, 8, file) != 8) break;
        const uint32_t size = readLe32(head + 4);
        if (std::memcmp(head, "data", 4) == 0) {
            chunk.start = position + 8;
            chunk.size = size;
            break;
        }
        position += 8LL + size + (size & 1U);
    }
    return chunk;
}

void describeWav(const std::string& path, std::FILE* file, long long fileSize, const WavInfo& info) {
    std::printf("%s: WAV file\n", path.c_str());
    std::printf("  format:            %u (%s)\n", static_cast<unsigned>(info.audioFormat), formatName(info.audioFormat));
    std::printf("  channels:          %u\n", static_cast<unsigned>(info.channels));
    std::printf("  bits per sample:   %u\n", static_cast<unsigned>(info.bitsPerSample));
    std::printf("  sample rate:       %u Hz\n", static_cast<unsigned>(info.sampleRate));
    // The data chunk where it really is; at the fixed offsets for a canonical file.
    const DataChunk chunk = findDataChunk(file, fileSize, info);
    const long long dataStart = chunk.start;
    const uint32_t dataSize = chunk.size;
    const long long following = fileSize - (dataStart >= 0 ? dataStart : 44);
    std::printf("  data size:         %u bytes (%lld bytes follow)\n", static_cast<unsigned>(dataSize), following);
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
    // A WAV file is read no further than its chunk headers; anything else is
    // read whole and tried as a module.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    struct stat status;
    if (file == nullptr || fstat(fileno(file), &status) != 0) {
        reportError(path + ": " + std::strerror(errno));
        if (file != nullptr) std::fclose(file);
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        std::fclose(file);
        reportError(path + ": is a folder");
        return false;
    }
    WavHeader header{};
    const std::size_t got = std::fread(&header, 1, sizeof header, file);
    if (got >= 4 && std::memcmp(header.riffTag, "RIFF", 4) == 0) {
        WavInfo info{};
        const bool whole = got == sizeof header && parseWavHeader(header, info) == 1;
        if (whole) describeWav(path, file, static_cast<long long>(status.st_size), info);
        std::fclose(file);
        if (!whole) reportError(path + ": WAV header cut short (" + std::to_string(got) + " of 44 bytes)");
        return whole;
    }
    std::fclose(file);

    std::vector<unsigned char> bytes;
    std::string error;
    if (!readWholeFile(path, bytes, error)) {
        reportError(error);
        return false;
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
