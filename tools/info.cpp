#include "tools/info.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "tools/cli.h"
#include "platform/wav_header.h"
#include "platform/wav_reader.h"

namespace plinth {
namespace {

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
WavDescription wavDescription(const WavLayout& layout, bool dataFound, uint64_t fileSize) {
    WavDescription wav;
    wav.container = printable(layout.leadingBytes, 4);
    wav.audioFormat = layout.formatTag;
    wav.formatName = layout.formatTag == 0xFFFE
                         ? std::string("extensible, ") +
                               (layout.subFormatTag != 0 ? formatName(layout.subFormatTag) : "unknown sub-format")
                         : formatName(layout.formatTag);
    wav.channels = layout.channels;
    wav.bitsPerSample = layout.bitsPerSample;
    wav.validBits = layout.validBits;
    wav.sampleRate = layout.sampleRate;
    wav.sampleFormat = describeSampleFormat(layout.sampleFormat);
    wav.otherChunks = layout.skippedTags;
    wav.dataFound = dataFound;
    if (!dataFound) return wav;
    wav.dataStart = static_cast<int64_t>(layout.dataStart);
    wav.dataSize = layout.declaredDataBytes;
    wav.dataClamped = layout.dataClamped;
    wav.bytesFollowing = static_cast<int64_t>(fileSize - layout.dataStart);
    wav.framesKnown = layout.blockAlign != 0;
    if (wav.framesKnown) {
        wav.frames = layout.dataBytes / layout.blockAlign;
        wav.durationKnown = layout.sampleRate != 0;
        if (wav.durationKnown) wav.seconds = static_cast<double>(wav.frames) / layout.sampleRate;
    }
    return wav;
}

ModuleDescription moduleDescription(const std::vector<uint8_t>& image, const Song& song) {
    const ModPlayer& player = song.player;
    ModuleDescription module;
    module.sampleSlots = player.sampleCount;
    if (player.sampleCount == kTaggedLayout.sampleCount)
        module.tag = printable(&image[kTaggedLayout.tagOffset], kTagBytes);
    module.channels = player.channelCount;
    module.songLength = player.songLength;
    module.restartPosition = player.restartPosition;
    module.patterns = player.patternCount;
    for (int n = 1; n <= player.sampleCount; ++n) {
        const uint8_t* header = sampleHeader(image.data(), n);
        const bool inImage = header + kSampleNameBytes <= image.data() + image.size();
        ModuleSampleDescription sample;
        sample.number = n;
        sample.name = inImage ? printable(header, kSampleNameBytes) : std::string();
        sample.length = player.samples[n - 1].length;
        if (!sample.name.empty() || sample.length != 0) module.samples.push_back(sample);
    }
    module.frames = song.frames;
    module.cutAtSizeLimit = song.frames == kMaxWavFrames;
    module.seconds = static_cast<double>(song.frames) / kInfoRate;
    return module;
}

void printWav(const std::string& path, const WavDescription& wav) {
    std::printf("%s: WAV file\n", path.c_str());
    std::printf("  container:         %s\n", wav.container.c_str());
    std::printf("  format:            %u (%s)\n", wav.audioFormat, wav.formatName.c_str());
    std::printf("  channels:          %u\n", wav.channels);
    if (wav.validBits != wav.bitsPerSample) {
        std::printf("  bits per sample:   %u (%u valid)\n", wav.bitsPerSample, wav.validBits);
    } else {
        std::printf("  bits per sample:   %u\n", wav.bitsPerSample);
    }
    std::printf("  sample rate:       %u Hz\n", wav.sampleRate);
    std::printf("  sample format:     %s\n", wav.sampleFormat.c_str());
    if (!wav.otherChunks.empty()) std::printf("  other chunks:      %s\n", wav.otherChunks.c_str());
    if (!wav.dataFound) {
        std::printf("  data size:         unknown\n");
        std::printf("  samples at byte 44: no (no data chunk found)\n");
        return;
    }
    std::printf("  data size:         %llu bytes (%lld bytes follow%s)\n", static_cast<unsigned long long>(wav.dataSize),
                static_cast<long long>(wav.bytesFollowing), wav.dataClamped ? "; the size passes the end of the file" : "");
    if (wav.framesKnown)
        std::printf("  frames:            %llu\n", static_cast<unsigned long long>(wav.frames));
    else
        std::printf("  frames:            unknown\n");
    if (wav.durationKnown)
        std::printf("  duration:          %.3f s\n", wav.seconds);
    else
        std::printf("  duration:          unknown\n");
    if (wav.dataStart == static_cast<int64_t>(kWavHeaderBytes))
        std::printf("  samples at byte 44: yes\n");
    else
        std::printf("  samples at byte 44: no (the data chunk's samples start at byte %lld)\n",
                    static_cast<long long>(wav.dataStart));
}

void printModule(const std::string& path, const ModuleDescription& module) {
    std::printf("%s: module\n", path.c_str());
    const bool tagged = module.sampleSlots == kTaggedLayout.sampleCount;
    if (tagged)
        std::printf("  layout:            %d samples, tag at byte %d\n", module.sampleSlots, kTaggedLayout.tagOffset);
    else
        std::printf("  layout:            %d samples, no tag\n", module.sampleSlots);
    std::printf("  tag:               %s\n", tagged ? module.tag.c_str() : "(none)");
    std::printf("  channels:          %u\n", module.channels);
    std::printf("  song length:       %u order%s\n", module.songLength, module.songLength == 1 ? "" : "s");
    std::printf("  restart position:  %u\n", module.restartPosition);
    std::printf("  patterns:          %u\n", module.patterns);
    std::printf("  samples:\n");
    for (const ModuleSampleDescription& sample : module.samples) {
        std::printf("    %2d  %-24s %6u bytes\n", sample.number, ("\"" + sample.name + "\"").c_str(),
                    static_cast<unsigned>(sample.length));
    }
    std::printf("  duration:          %.3f s until the first loop (%llu frames at %d per second)%s\n",
                module.seconds, static_cast<unsigned long long>(module.frames), kInfoRate,
                module.cutAtSizeLimit ? ", cut at the 4 GiB size limit of a WAV file" : "");
}

FileDescription unreadable(InputError error, int systemError) {
    FileDescription description;
    description.error = InfoError::unreadable;
    description.inputError = error;
    description.systemError = systemError;
    return description;
}

}  // namespace

FileDescription describeFile(const std::string& path) {
    InputFile file;
    int systemError = 0;
    const InputError opened = file.open(path, InputPolicy::regularOnly, systemError);
    if (opened != InputError::none) return unreadable(opened, systemError);
    uint8_t tag[4] = {};
    const ssize_t peeked = pread(file.descriptor(), tag, sizeof tag, 0);
    if (peeked < 0) return unreadable(InputError::readFailed, errno);

    FileDescription description;
    if (peeked == sizeof tag &&
        (std::memcmp(tag, "RIFF", 4) == 0 || std::memcmp(tag, "RF64", 4) == 0 || std::memcmp(tag, "BW64", 4) == 0)) {
        WavLayout layout;
        const WavReadStatus read = readWavLayout(file, layout);
        const bool noData = read.error == WavReadError::noDataChunk && layout.fmtSize != 0;
        if (read.error == WavReadError::none || noData) {
            description.kind = FileKind::wav;
            description.wav = wavDescription(layout, !noData, file.size());
        } else {
            description.error = InfoError::wavRefused;
            description.wavStatus = read;
        }
        return description;
    }

    std::vector<uint8_t> image;
    description.moduleStatus = readModule(file, image);
    if (description.moduleStatus.error != ModuleError::none) {
        description.error = InfoError::moduleRefused;
        return description;
    }
    std::unique_ptr<Song> song(new Song());
    if (prepareSong(*song, image.data(), static_cast<int32_t>(image.size()), kInfoRate) == ModuleError::none) {
        description.kind = FileKind::module;
        description.module = moduleDescription(image, *song);
    } else {
        description.error = InfoError::unrecognised;
    }
    return description;
}

std::string describeInfoError(const FileDescription& description) {
    switch (description.error) {
        case InfoError::none: return "no error";
        case InfoError::unreadable: return describeInputError(description.inputError, description.systemError);
        case InfoError::wavRefused: return describeWavReadError(description.wavStatus);
        case InfoError::moduleRefused: return describeModuleError(description.moduleStatus);
        case InfoError::unrecognised: return "neither a WAV file nor a playable module";
        case InfoError::outOfMemory: return "not enough memory to read it";
    }
    return "unknown error";
}

int runInfo(const std::vector<std::string>& files) {
    bool allDescribed = true;
    for (const std::string& path : files) {
        FileDescription description;
        try {
            description = describeFile(path);
        } catch (const std::bad_alloc&) {
            description.error = InfoError::outOfMemory;
        }
        if (description.error != InfoError::none) {
            std::fflush(stdout);  // descriptions of earlier files come first
            std::fprintf(stderr, "plinth: %s: %s\n", path.c_str(), describeInfoError(description).c_str());
            allDescribed = false;
        } else if (description.kind == FileKind::wav) {
            printWav(path, description.wav);
        } else {
            printModule(path, description.module);
        }
    }
    return allDescribed ? kExitSuccess : kExitFailure;
}

}  // namespace plinth
