#include "tracker/module_render.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/output_file.h"
#include "tracker/pcm_block.h"
#include "platform/wav_header.h"
#include "platform/wav_loop.h"

namespace plinth {
namespace {

// Module images are addressed with signed 32-bit sizes.
constexpr uint64_t kMaxModuleBytes = 0x7FFFFFFF;

ModuleStatus failure(ModuleError error, int systemError = 0) {
    ModuleStatus status;
    status.error = error;
    status.systemError = systemError;
    return status;
}

struct FileSink {
    OutputFile* output;
#if !(defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
    uint8_t bytes[kRenderBlockFrames * kModuleOutputChannels * kPcm16SampleBytes];
#endif
    int systemError = 0;
};

bool writeToFile(void* context, const int16_t* samples, std::size_t count) {
    FileSink& sink = *static_cast<FileSink*>(context);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Already the file's byte order: written as they are.
    return sink.output->write(samples, count * kPcm16SampleBytes, sink.systemError);
#else
    samplesToLittleEndian(samples, count, sink.bytes);
    return sink.output->write(sink.bytes, count * kPcm16SampleBytes, sink.systemError);
#endif
}

// Scales the frames [first, first + frames) of a render, held at `samples`,
// that lie in its fade: fade frame i of F by (F - i) / F, in 64-bit integers
// and truncated toward zero, the same on every machine and with either mixer.
void fadeSamples(int16_t* samples, uint64_t first, uint64_t frames, uint64_t fadeStart, uint64_t fadeFrames) {
    if (fadeFrames == 0 || first + frames <= fadeStart) return;
    const auto whole = static_cast<int64_t>(fadeFrames);
    for (uint64_t j = first < fadeStart ? fadeStart - first : 0; j < frames; ++j) {
        const auto gain = static_cast<int64_t>(fadeFrames - (first + j - fadeStart));
        for (uint64_t side = 0; side < kModuleOutputChannels; ++side) {
            int16_t& sample = samples[j * kModuleOutputChannels + side];
            sample = static_cast<int16_t>(sample * gain / whole);
        }
    }
}

}  // namespace

std::string describeModuleError(const ModuleStatus& status) {
    switch (status.error) {
        case ModuleError::none: return "no error";
        case ModuleError::invalidRate: return "rate out of range";
        case ModuleError::cannotReadInput: return describeInputError(status.inputError, status.systemError);
        case ModuleError::emptyInput: return "is empty";
        case ModuleError::inputTooLarge: return "too large (2 GiB or more)";
        case ModuleError::outOfMemory: return "not enough memory to hold the module";
        case ModuleError::notPlayable: return "not a module this player can play";
        case ModuleError::tooLong: return "the song lasts longer than the limit allows";
        case ModuleError::cannotOpenOutput:
        case ModuleError::writeFailed: return std::strerror(status.systemError != 0 ? status.systemError : EIO);
        case ModuleError::stopped: return "stopped before it was complete";
        case ModuleError::stemsMismatch: return "has another number of channels than when its stems were named";
    }
    return "unknown error";
}

float clampUnit(float x) {
    if (x < -1.0f) return -1.0f;
    if (x > 1.0f) return 1.0f;
    return x;
}

int16_t floatToSample(float x) { return static_cast<int16_t>(static_cast<int>(clampUnit(x) * 32767.0f)); }

ModuleError renderSong(Song& song, const SampleSink& sink, const Progress* progress) {
    ModPlayer& player = song.player;
    const int loops = song.plan.loops;
    LoopCursor cursor = startOfSong(song);
    float floatBlock[kRenderBlockFrames * 2];
    int16_t samples[kRenderBlockFrames * 2];
    uint64_t written = 0;
    while (written < song.frames) {
        if (stopRequested(progress)) return ModuleError::stopped;
        uint64_t k = modRender(player, floatBlock, sizeof floatBlock) >> 3;
        if (k > song.frames - written) k = song.frames - written;
        floatsToSamplesDispatched(floatBlock, static_cast<std::size_t>(k * 2), samples);
        fadeSamples(samples, written, k, song.loopsEnd, song.plan.fadeFrames);
        if (k > 0 && !sink.write(sink.context, samples, static_cast<std::size_t>(k * 2))) {
            return ModuleError::writeFailed;
        }
        written += k;
        // The measuring pass and this one follow the same timing.
        if (cursor.loopsDone < loops && loopEnded(player, cursor, loops) && cursor.loopsDone == loops &&
            written != song.loopsEnd) {
            return ModuleError::writeFailed;
        }
    }
    return ModuleError::none;
}

Song channelAlone(const Song& song, int channel) {
    Song alone = song;
    for (int c = 0; c < alone.player.channelCount; ++c) alone.player.channels[c].muted = c == channel ? 0 : 1;
    return alone;
}

SongPlan songPlanFor(const ModuleRenderOptions& options, int sampleRate) {
    SongPlan plan;
    plan.loops = options.loops;
    plan.fadeFrames = fadeFramesFor(options.fadeMilliseconds, sampleRate);
    // The loop's chunks take room from the samples.
    plan.capacityFrames = options.loopPoints ? maxPcm16Frames(kModuleOutputChannels, kLoopChunksBytes) : kMaxWavFrames;
    return plan;
}

ModuleStatus readModuleFile(const std::string& path, std::vector<uint8_t>& image, const Progress* progress) {
    InputFile input;
    int systemError = 0;
    const InputError error = input.open(path, InputPolicy::regularOnly, systemError, progress);
    if (error != InputError::none) {
        ModuleStatus status = failure(ModuleError::cannotReadInput, systemError);
        status.inputError = error;
        return status;
    }
    return readModule(input, image);
}

ModuleStatus readModule(InputFile& input, std::vector<uint8_t>& image) {
    if (input.isRegular() && input.size() > kMaxModuleBytes) return failure(ModuleError::inputTooLarge);
    ModuleStatus status;
    const InputError error = input.readRest(image, kMaxModuleBytes, status.systemError);
    if (error == InputError::none && image.empty()) return failure(ModuleError::emptyInput);
    if (error == InputError::tooLarge) return failure(ModuleError::inputTooLarge);
    if (error == InputError::stopped) return failure(ModuleError::stopped);
    if (error == InputError::outOfMemory) {
        status.error = ModuleError::outOfMemory;
        status.moduleBytes = input.size();
    } else if (error != InputError::none) {
        status.error = ModuleError::cannotReadInput;
        status.inputError = error;
    }
    return status;
}

namespace {

// Renders a prepared song into a new output at `path`, left uncommitted. The
// length is known before anything is written, so the header goes out once
// with its final sizes and the output need not be seekable; the loop's
// chunks follow the samples.
ModuleStatus writeSongFile(Song& song, const std::string& path, bool loopPoints, const Progress* progress,
                           OutputFile& output) {
    int systemError = 0;
    if (!output.open(path, systemError)) return failure(ModuleError::cannotOpenOutput, systemError);
    const bool markLoop = loopPoints && song.loopFound;
    const auto rate = static_cast<uint32_t>(song.player.sampleRate);
    uint8_t header[kWavHeaderBytes];
    encodeWavHeader(pcm16WavHeader(kModuleOutputChannels, rate, song.frames, markLoop ? kLoopChunksBytes : 0), header);
    if (!output.write(header, sizeof header, systemError)) return failure(ModuleError::writeFailed, systemError);

    FileSink fileSink;
    fileSink.output = &output;
    const ModuleError rendered = renderSong(song, SampleSink{writeToFile, &fileSink}, progress);
    if (rendered != ModuleError::none) return failure(rendered, fileSink.systemError);
    if (markLoop) {
        SamplerLoop loop;
        loop.start = static_cast<uint32_t>(song.loopStart);
        loop.end = static_cast<uint32_t>(song.loopsEnd - 1);
        uint8_t chunks[kLoopChunksBytes];
        encodeLoopChunks(loop, rate, chunks);
        if (!output.write(chunks, sizeof chunks, systemError)) return failure(ModuleError::writeFailed, systemError);
    }
    return {};
}

ModuleStatus stemFailure(ModuleStatus status, std::size_t stem) {
    status.failedStem = static_cast<int>(stem);
    return status;
}

ModuleStatus convertModule(const std::string& inPath, const std::string& outPath, int sampleRate,
                           const SongLimits& limits, const ModuleRenderOptions& options) {
    std::vector<uint8_t> image;
    ModuleStatus status = readModuleFile(inPath, image, limits.progress);
    if (status.error != ModuleError::none) return status;

    Song song;
    const ModuleError prepared = prepareSong(song, image.data(), static_cast<int32_t>(image.size()), sampleRate,
                                             limits, songPlanFor(options, sampleRate));
    if (prepared != ModuleError::none) return failure(prepared);
    const std::vector<std::string>& stems = options.stems;
    if (!stems.empty() && stems.size() != song.player.channelCount) return failure(ModuleError::stemsMismatch);

    // Every output is rendered before any is moved into place; the song's
    // own comes last, so that it stands only beside a whole set of stems.
    std::vector<OutputFile> stemOutputs(stems.size());
    for (std::size_t c = 0; c < stems.size(); ++c) {
        Song alone = channelAlone(song, static_cast<int>(c));
        status = writeSongFile(alone, stems[c], options.loopPoints, limits.progress, stemOutputs[c]);
        if (status.error != ModuleError::none) return stemFailure(status, c);
    }
    OutputFile output;
    status = writeSongFile(song, outPath, options.loopPoints, limits.progress, output);
    if (status.error != ModuleError::none) return status;
    int systemError = 0;
    for (std::size_t c = 0; c < stems.size(); ++c) {
        if (!stemOutputs[c].commit(systemError)) return stemFailure(failure(ModuleError::writeFailed, systemError), c);
    }
    if (!output.commit(systemError)) return failure(ModuleError::writeFailed, systemError);
    return {};
}

}  // namespace

ModuleStatus convertModuleFile(const std::string& inPath, const std::string& outPath, int sampleRate,
                               const SongLimits& limits, const ModuleRenderOptions& options) {
    if (sampleRate <= 0 || sampleRate > kMaxWavRate) return failure(ModuleError::invalidRate);
    if (outPath.empty()) return failure(ModuleError::cannotOpenOutput, ENOENT);
    for (std::size_t c = 0; c < options.stems.size(); ++c) {
        if (options.stems[c].empty()) return stemFailure(failure(ModuleError::cannotOpenOutput, ENOENT), c);
    }
    try {
        return convertModule(inPath, outPath, sampleRate, limits, options);
    } catch (const std::bad_alloc&) {
        return failure(ModuleError::outOfMemory);
    }
}

}  // namespace plinth
