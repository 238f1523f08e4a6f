#include "app/describe_file.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>

#include "platform/wav_header.h"
#include "platform/wav_reader.h"
#include "tracker/mod_format.h"

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

// The layout as far as the reader got: all of it, or everything but the data
// chunk when there is none.
WavDescription wavDescription(const WavLayout& layout, bool dataFound, bool regular, uint64_t fileSize) {
    WavDescription wav;
    wav.container = printable(layout.leadingBytes, 4);
    wav.audioFormat = layout.formatTag;
    wav.formatName = wavFormatName(layout.formatTag, layout.subFormatTag);
    wav.channels = layout.channels;
    wav.bitsPerSample = layout.bitsPerSample;
    wav.validBits = layout.validBits;
    wav.sampleRate = layout.sampleRate;
    wav.blockAlign = layout.blockAlign;
    wav.frameBytes = wavFrameBytes(layout);
    wav.sampleFormat = describeSampleFormat(layout.sampleFormat);
    wav.otherChunks = layout.skippedTags;
    wav.dataFound = dataFound;
    wav.chunksAfter = layout.trailingTags;
    wav.hasLoop = layout.hasLoop;
    if (layout.hasLoop) {
        wav.loopStart = layout.loop.start;
        wav.loopFrames = layout.loop.end >= layout.loop.start ? uint64_t{layout.loop.end} - layout.loop.start + 1 : 0;
        wav.loopType = layout.loop.type;
    }
    if (!dataFound) return wav;
    wav.dataStart = static_cast<int64_t>(layout.dataStart);
    wav.dataSize = layout.declaredDataBytes;
    wav.dataClamped = layout.dataClamped;
    // A stream tells neither what follows nor, when its size is left open, how many frames.
    wav.bytesFollowingKnown = regular;
    if (regular) wav.bytesFollowing = static_cast<int64_t>(fileSize - layout.dataStart);
    wav.framesKnown = wav.frameBytes != 0 && !layout.dataToEnd;
    if (wav.framesKnown) {
        wav.frames = layout.dataBytes / wav.frameBytes;
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
    module.seconds = static_cast<double>(song.frames) / kModuleRate;
    module.loopFound = song.loopFound;
    module.loopStart = song.loopStart;
    module.loopFrames = song.loopsEnd - song.loopStart;
    return module;
}

FileDescription unreadable(InputError error, int systemError) {
    FileDescription description;
    description.error = InfoError::unreadable;
    description.inputError = error;
    description.systemError = systemError;
    return description;
}

}  // namespace

FileDescription describeFile(const std::string& path, const Progress* progress) {
    InputFile file;
    int systemError = 0;
    const InputError opened = file.open(path, InputPolicy::regularOnly, systemError, progress);
    if (opened != InputError::none) return unreadable(opened, systemError);
    // Peeked, not sought: a pipe on standard input is described as a file is.
    uint8_t tag[4] = {};
    std::size_t peeked = 0;
    const InputError peekError = file.peek(tag, sizeof tag, peeked, systemError);
    if (peekError != InputError::none) return unreadable(peekError, systemError);

    FileDescription description;
    if (peeked == sizeof tag && isWavContainerTag(tag)) {
        WavLayout layout;
        const WavReadStatus read = readWavLayout(file, layout);
        const bool noData = read.error == WavReadError::noDataChunk && layout.fmtSize != 0;
        // What follows the samples is told as far as it can be read.
        if (read.error == WavReadError::none) readChunksAfterSamples(file, layout);
        if (read.error == WavReadError::none || noData) {
            description.kind = FileKind::wav;
            description.wav = wavDescription(layout, !noData, file.isRegular(), file.size());
        } else if (read.error == WavReadError::readFailed && read.inputError == InputError::stopped) {
            description.error = InfoError::stopped;
        } else {
            description.error = InfoError::wavRefused;
            description.wavStatus = read;
        }
        return description;
    }

    std::vector<uint8_t> image;
    description.moduleStatus = readModule(file, image);
    if (description.moduleStatus.error == ModuleError::stopped) {
        description.error = InfoError::stopped;
        return description;
    }
    if (description.moduleStatus.error != ModuleError::none) {
        description.error = InfoError::moduleRefused;
        return description;
    }
    std::unique_ptr<Song> song(new Song());
    if (prepareSong(*song, image.data(), static_cast<int32_t>(image.size()), kModuleRate) == ModuleError::none) {
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
        case InfoError::stopped: return "stopped while waiting for input";
    }
    return "unknown error";
}

}  // namespace plinth
