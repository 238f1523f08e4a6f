#include "info.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "cli.h"
#include "input_file.h"
#include "module_render.h"
#include "wav_header.h"

namespace plinth {
namespace {

constexpr int kInfoRate = 8000;  // the converter's own rate

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

void describeWav(const std::string& path, InputFile& file, const WavInfo& info) {
    std::printf("%s: WAV file\n", path.c_str());
    std::printf("  format:            %u (%s)\n", static_cast<unsigned>(info.audioFormat), formatName(info.audioFormat));
    std::printf("  channels:          %u\n", static_cast<unsigned>(info.channels));
    std::printf("  bits per sample:   %u\n", static_cast<unsigned>(info.bitsPerSample));
    std::printf("  sample rate:       %u Hz\n", static_cast<unsigned>(info.sampleRate));
    // The data chunk where it really is; at the fixed offsets for a canonical file.
    const long long fileSize = static_cast<long long>(file.size());
    const DataChunkPlace chunk = findDataChunk(file.size(), [&](uint64_t offset, uint8_t* head) {
        return pread(file.descriptor(), head, 8, static_cast<off_t>(offset)) == 8;
    });
    const long long dataStart = chunk.found ? static_cast<long long>(chunk.start) : -1;
    const uint32_t dataSize = chunk.found ? chunk.size : info.dataSize;
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
    if (dataStart == static_cast<long long>(kWavHeaderBytes))
        std::printf("  samples at byte 44: yes\n");
    else if (dataStart < 0)
        std::printf("  samples at byte 44: no (no data chunk found)\n");
    else
        std::printf("  samples at byte 44: no (the data chunk's samples start at byte %lld)\n", dataStart);
}

void describeModule(const std::string& path, const std::vector<uint8_t>& image, const Song& song) {
    const ModPlayer& player = song.player;
    const unsigned long long frames = song.frames;
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
        const uint8_t* header = sampleHeader(image.data(), n);
        const bool inImage = header + kSampleNameBytes <= image.data() + image.size();
        const std::string name = inImage ? printable(header, kSampleNameBytes) : std::string();
        const uint32_t length = player.samples[n - 1].length;
        if (name.empty() && length == 0) continue;
        std::printf("    %2d  %-24s %6u bytes\n", n, ("\"" + name + "\"").c_str(), static_cast<unsigned>(length));
    }
    std::printf("  duration:          %.3f s until the first loop (%llu frames at %d per second)%s\n",
                static_cast<double>(frames) / kInfoRate, frames, kInfoRate,
                frames == kMaxWavFrames ? ", cut at the 4 GiB size limit of a WAV file" : "");
}

void reportError(const std::string& text) {
    std::fflush(stdout);  // descriptions of earlier files come first
    std::fprintf(stderr, "plinth: %s\n", text.c_str());
}

bool describeFile(const std::string& path) {
    // A WAV file is read no further than its chunk headers; anything else is
    // read whole and tried as a module. Pipes and devices are refused unopened.
    InputFile file;
    int systemError = 0;
    const InputError opened = file.open(path, InputPolicy::regularOnly, systemError);
    if (opened != InputError::none) {
        reportError(path + ": " + describeInputError(opened, systemError));
        return false;
    }
    uint8_t headerBytes[kWavHeaderBytes] = {};
    const ssize_t peeked = pread(file.descriptor(), headerBytes, sizeof headerBytes, 0);
    if (peeked < 0) {
        reportError(path + ": " + describeInputError(InputError::readFailed, errno));
        return false;
    }
    const std::size_t got = static_cast<std::size_t>(peeked);
    if (got >= 4 && std::memcmp(headerBytes, "RIFF", 4) == 0) {
        WavHeader header;
        decodeWavHeader(headerBytes, header);
        WavInfo info{};
        const bool whole = got == sizeof headerBytes && parseWavHeader(header, info) == 1;
        if (whole) describeWav(path, file, info);
        if (!whole) reportError(path + ": WAV header cut short (" + std::to_string(got) + " of 44 bytes)");
        return whole;
    }

    std::vector<uint8_t> image;
    const ModuleStatus status = readModule(file, image);
    if (status.error != ModuleError::none) {
        reportError(path + ": " + describeModuleError(status));
        return false;
    }
    std::unique_ptr<Song> song(new Song());
    if (prepareSong(*song, image.data(), static_cast<int32_t>(image.size()), kInfoRate) == ModuleError::none) {
        describeModule(path, image, *song);
        return true;
    }
    reportError(path + ": neither a WAV file nor a playable module");
    return false;
}

}  // namespace

int runInfo(const std::vector<std::string>& files) {
    bool allDescribed = true;
    for (const std::string& path : files) {
        try {
            if (!describeFile(path)) allDescribed = false;
        } catch (const std::bad_alloc&) {
            reportError(path + ": not enough memory to read it");
            allDescribed = false;
        }
    }
    return allDescribed ? kExitSuccess : kExitFailure;
}

}  // namespace plinth
