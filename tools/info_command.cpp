#include "tools/info_command.h"

#include <cstdint>
#include <cstdio>
#include <new>

#include "app/describe_file.h"
#include "platform/wav_header.h"
#include "tools/cli.h"
#include "tracker/mod_format.h"

namespace plinth {
namespace {

const char* loopTypeName(uint32_t type) {
    switch (type) {
        case 0: return "forward";
        case 1: return "alternating";
        case 2: return "backward";
        default: return "of an unknown type";
    }
}

// "from frame 61440 (7.680 s), 122880 frames (15.360 s)"
void printLoop(uint64_t start, uint64_t frames, unsigned rate, const char* tail) {
    if (rate == 0) {
        std::printf("  loop:              from frame %llu, %llu frames%s\n", static_cast<unsigned long long>(start),
                    static_cast<unsigned long long>(frames), tail);
        return;
    }
    std::printf("  loop:              from frame %llu (%.3f s), %llu frames (%.3f s)%s\n",
                static_cast<unsigned long long>(start), static_cast<double>(start) / rate,
                static_cast<unsigned long long>(frames), static_cast<double>(frames) / rate, tail);
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
    if (wav.blockAlign != wav.frameBytes) {
        std::printf("  block align:       %u (wrong: %u channel%s of %u bits take %llu bytes a frame, read as such)\n",
                    wav.blockAlign, wav.channels, wav.channels == 1 ? "" : "s", wav.bitsPerSample,
                    static_cast<unsigned long long>(wav.frameBytes));
    }
    std::printf("  sample format:     %s\n", wav.sampleFormat.c_str());
    if (!wav.otherChunks.empty()) std::printf("  other chunks:      %s\n", wav.otherChunks.c_str());
    if (!wav.dataFound) {
        std::printf("  data size:         unknown\n");
        std::printf("  samples at byte 44: no (no data chunk found)\n");
        return;
    }
    if (wav.bytesFollowingKnown) {
        std::printf("  data size:         %llu bytes (%lld bytes follow%s)\n",
                    static_cast<unsigned long long>(wav.dataSize), static_cast<long long>(wav.bytesFollowing),
                    wav.dataClamped ? "; the size passes the end of the file" : "");
    } else {
        std::printf("  data size:         %llu bytes (a stream: what follows is not known)\n",
                    static_cast<unsigned long long>(wav.dataSize));
    }
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
    if (!wav.chunksAfter.empty()) std::printf("  chunks after:      %s\n", wav.chunksAfter.c_str());
    if (wav.hasLoop) {
        const std::string tail = std::string(", ") + loopTypeName(wav.loopType);
        printLoop(wav.loopStart, wav.loopFrames, wav.sampleRate, tail.c_str());
    }
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
    std::printf("  duration:          %.3f s until the first loop (%llu frames at %d per second)%s\n", module.seconds,
                static_cast<unsigned long long>(module.frames), kModuleRate,
                module.cutAtSizeLimit ? ", cut at the 4 GiB size limit of a WAV file" : "");
    if (module.loopFound)
        printLoop(module.loopStart, module.loopFrames, kModuleRate, "");
    else
        std::printf("  loop:              none within the size limit\n");
}

}  // namespace

int runInfo(const std::vector<std::string>& files, unsigned closedDescriptors) {
    bool allDescribed = true;
    for (const std::string& path : files) {
        const std::string closed = closedDescriptorRefusal(path, true, closedDescriptors);
        if (!closed.empty()) {
            std::fflush(stdout);
            std::fprintf(stderr, "plinth: %s\n", closed.c_str());
            allDescribed = false;
            continue;
        }
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
