#include "tracker/module_render.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/output_file.h"
#include "tracker/pcm_block.h"
#include "platform/wav_header.h"

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
    uint8_t bytes[kRenderBlockFrames * kModuleOutputChannels * kPcm16SampleBytes];
    int systemError = 0;
};

bool writeToFile(void* context, const int16_t* samples, std::size_t count) {
    FileSink& sink = *static_cast<FileSink*>(context);
    samplesToLittleEndian(samples, count, sink.bytes);
    return sink.output->write(sink.bytes, count * kPcm16SampleBytes, sink.systemError);
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
    float floatBlock[kRenderBlockFrames * 2];
    int16_t samples[kRenderBlockFrames * 2];
    uint64_t written = 0;
    while (modLoopCount(player) == 0 && player.stopped == 0 && written < kMaxWavFrames) {
        if (stopRequested(progress)) return ModuleError::stopped;
        uint64_t k = modRender(player, floatBlock, sizeof floatBlock) >> 3;
        if (k > kMaxWavFrames - written) k = kMaxWavFrames - written;
        floatsToSamples(floatBlock, static_cast<std::size_t>(k * 2), samples);
        if (k > 0 && !sink.write(sink.context, samples, static_cast<std::size_t>(k * 2))) {
            return ModuleError::writeFailed;
        }
        written += k;
    }
    // The measuring pass and this one follow the same timing.
    return written == song.frames ? ModuleError::none : ModuleError::writeFailed;
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

ModuleStatus convertModule(const std::string& inPath, const std::string& outPath, int sampleRate,
                           const SongLimits& limits) {
    std::vector<uint8_t> image;
    ModuleStatus status = readModuleFile(inPath, image, limits.progress);
    if (status.error != ModuleError::none) return status;

    Song song;
    const ModuleError prepared =
        prepareSong(song, image.data(), static_cast<int32_t>(image.size()), sampleRate, limits);
    if (prepared != ModuleError::none) return failure(prepared);
    // The length is known before anything is written, so the header goes out
    // once with its final sizes and the output need not be seekable.
    OutputFile output;
    int systemError = 0;
    if (!output.open(outPath, systemError)) return failure(ModuleError::cannotOpenOutput, systemError);
    uint8_t header[kWavHeaderBytes];
    encodeWavHeader(pcm16WavHeader(kModuleOutputChannels, static_cast<uint32_t>(sampleRate), song.frames), header);
    if (!output.write(header, sizeof header, systemError)) return failure(ModuleError::writeFailed, systemError);

    FileSink fileSink;
    fileSink.output = &output;
    const ModuleError rendered = renderSong(song, SampleSink{writeToFile, &fileSink}, limits.progress);
    if (rendered != ModuleError::none) return failure(rendered, fileSink.systemError);
    if (!output.commit(systemError)) return failure(ModuleError::writeFailed, systemError);
    return {};
}

}  // namespace

ModuleStatus convertModuleFile(const std::string& inPath, const std::string& outPath, int sampleRate,
                               const SongLimits& limits) {
    if (sampleRate <= 0 || sampleRate > kMaxWavRate) return failure(ModuleError::invalidRate);
    if (outPath.empty()) return failure(ModuleError::cannotOpenOutput, ENOENT);
    try {
        return convertModule(inPath, outPath, sampleRate, limits);
    } catch (const std::bad_alloc&) {
        return failure(ModuleError::outOfMemory);
    }
}

}  // namespace plinth
