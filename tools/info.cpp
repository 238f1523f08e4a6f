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
#include "wav_reader.h"

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

// The layout as far as the reader got: all of it, or everything but the data
// chunk when there is none.
void describeWav(const std::string& path, const WavLayout& layout, bool dataFound, uint64_t fileSize) {
    std::printf("%s: WAV file\n", path.c_str());
    std::printf("  container:         %s\n", printable(layout.leadingBytes, 4).c_str());
    if (layout.formatTag == 0xFFFE) {
        std::printf("  format:            %u (extensible, %s)\n", static_cast<unsigned>(layout.formatTag),
                    layout.subFormatTag != 0 ? formatName(layout.subFormatTag) : "unknown sub-format");
    } else {
        std::printf("  format:            %u (%s)\n", static_cast<unsigned>(layout.formatTag),
                    formatName(layout.formatTag));
    }
    std::printf("  channels:          %u\n", static_cast<unsigned>(layout.channels));
    if (layout.validBits != layout.bitsPerSample) {
        std::printf("  bits per sample:   %u (%u valid)\n", static_cast<unsigned>(layout.bitsPerSample),
                    static_cast<unsigned>(layout.validBits));
    } else {
        std::printf("  bits per sample:   %u\n", static_cast<unsigned>(layout.bitsPerSample));
    }
    std::printf("  sample rate:       %u Hz\n", static_cast<unsigned>(layout.sampleRate));
    std::printf("  sample format:     %s\n", describeSampleFormat(layout.sampleFormat).c_str());
    if (layout.skippedChunks != 0) std::printf("  other chunks:      %s\n", layout.skippedTags.c_str());
    if (!dataFound) {
        std::printf("  data size:         unknown\n");
        std::printf("  samples at byte 44: no (no data chunk found)\n");
        return;
    }
    const unsigned long long following = fileSize - layout.dataStart;
    std::printf("  data size:         %llu bytes (%llu bytes follow%s)\n",
                static_cast<unsigned long long>(layout.declaredDataBytes), following,
                layout.dataClamped ? "; the size passes the end of the file" : "");
    const unsigned frameBytes = layout.blockAlign;
    if (frameBytes == 0) {
        std::printf("  frames:            unknown\n");
        std::printf("  duration:          unknown\n");
    } else {
        const unsigned long long frames = layout.dataBytes / frameBytes;
        std::printf("  frames:            %llu\n", frames);
        if (layout.sampleRate == 0)
            std::printf("  duration:          unknown\n");
        else
            std::printf("  duration:          %.3f s\n", static_cast<double>(frames) / layout.sampleRate);
    }
    if (layout.dataStart == kWavHeaderBytes)
        std::printf("  samples at byte 44: yes\n");
    else
        std::printf("  samples at byte 44: no (the data chunk's samples start at byte %llu)\n",
                    static_cast<unsigned long long>(layout.dataStart));
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
    std::printf("  duration:          %.3f s until the first loop (%llu frames at %d per second)\n",
                static_cast<double>(frames) / kInfoRate, frames, kInfoRate);
}

void reportError(const std::string& text) {
    std::fflush(stdout);  // descriptions of earlier files come first
    std::fprintf(stderr, "plinth: %s\n", text.c_str());
}

bool describeFile(const std::string& path) {
    // A WAV file is read no further than its chunks before the samples; anything else is
    // read whole and tried as a module. Pipes and devices are refused unopened.
    InputFile file;
    int systemError = 0;
    const InputError opened = file.open(path, InputPolicy::regularOnly, systemError);
    if (opened != InputError::none) {
        reportError(path + ": " + describeInputError(opened, systemError));
        return false;
    }
    uint8_t tag[4] = {};
    const ssize_t peeked = pread(file.descriptor(), tag, sizeof tag, 0);
    if (peeked < 0) {
        reportError(path + ": " + describeInputError(InputError::readFailed, errno));
        return false;
    }
    if (peeked == sizeof tag &&
        (std::memcmp(tag, "RIFF", 4) == 0 || std::memcmp(tag, "RF64", 4) == 0 || std::memcmp(tag, "BW64", 4) == 0)) {
        WavLayout layout;
        const WavReadStatus read = readWavLayout(file, layout);
        const bool noData = read.error == WavReadError::noDataChunk && layout.fmtSize != 0;
        if (read.error == WavReadError::none || noData) {
            describeWav(path, layout, !noData, file.size());
            return true;
        }
        reportError(path + ": " + describeWavReadError(read));
        return false;
    }

    std::vector<uint8_t> image;
    const ModuleStatus status = readModule(file, image);
    if (status.error != ModuleError::none) {
        reportError(path + ": " + describeModuleError(status));
        return false;
    }
    std::unique_ptr<Song> song(new (std::nothrow) Song());
    if (song && prepareSong(*song, image.data(), static_cast<int32_t>(image.size()), kInfoRate)) {
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
        if (!describeFile(path)) allDescribed = false;
    }
    return allDescribed ? kExitSuccess : kExitFailure;
}

}  // namespace plinth
