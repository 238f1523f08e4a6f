#include "app/convert_file.h"

#include <new>
#include <string>

#include "tracker/module_render.h"
#include "resampler/resample_file.h"

namespace plinth {
namespace {

// Whether the output, not the input, is the file at fault.
bool outputAtFault(ResampleError error) {
    return error == ResampleError::cannotOpenOutput || error == ResampleError::writeFailed ||
           error == ResampleError::tooLarge;
}

// The warning for a damaged file, which is always given.
std::string damageWarning(const std::string& input, const WavLayout& layout) {
    return input + ": warning: the data chunk declares " + std::to_string(layout.declaredDataBytes) +
           " bytes but only " + std::to_string(layout.dataBytes) + " follow; read to the end of the file";
}

// When verbose: a block-align field that disagrees with the channels and bits.
std::string blockAlignWarning(const std::string& input, const WavLayout& layout) {
    return input + ": warning: the fmt chunk's block align says " + std::to_string(layout.blockAlign) +
           " bytes a frame, but " + std::to_string(layout.channels) + " channels of " +
           std::to_string(layout.bitsPerSample) + " bits take " + std::to_string(wavFrameBytes(layout)) +
           "; read as such";
}

// When verbose: how a file off the canonical layout was read.
std::string readingNote(const std::string& input, const ResampleJob& job, uint64_t fileSize) {
    const WavLayout& layout = job.samples.layout;
    std::string note = input + ": note: read through its chunks: samples at byte " + std::to_string(layout.dataStart);
    if (job.quality == FilterQuality::high) {
        note += "; " + describeSampleFormat(layout.sampleFormat) + " taken as floats";
    } else if (layout.sampleFormat != WavSampleFormat::signed16) {
        note += "; " + describeSampleFormat(layout.sampleFormat) + " made 16-bit";
    }
    if (layout.skippedChunks != 0) note += "; skipped " + layout.skippedTags;
    const uint64_t dataEnd = layout.dataStart + layout.declaredDataBytes;
    if (fileSize > dataEnd) note += "; " + std::to_string(fileSize - dataEnd) + " bytes after the samples not read";
    return note;
}

ConversionResult resample(const ConversionRequest& request, const std::string& input, const std::string& output,
                          const Progress* progress) {
    ConversionResult result;
    ResampleJob job;
    ResampleSettings settings;
    settings.choice = request.channel;
    settings.quality = request.quality;
    settings.outputFormat = request.format;
    ResampleStatus status = openWavResampleJob(input, request.rate, settings, job, progress);
    if (status.error == ResampleError::none) {
        const WavLayout& layout = job.samples.layout;
        if (job.chunkAware && layout.dataClamped) result.messages.push_back(damageWarning(input, layout));
        if (request.verbose && layout.blockAlign != wavFrameBytes(layout))
            result.messages.push_back(blockAlignWarning(input, layout));
        if (job.chunkAware && request.verbose) result.messages.push_back(readingNote(input, job, job.input.size()));
        if (job.copyOnly) result.libraryLines = kCopyWarningLine;
        status = runResampleJob(job, output, progress);
    }
    result.resampleStatus = status;
    if (status.error == ResampleError::none) {
        result.ok = true;
        return result;
    }
    result.libraryLines += resampleFailureLine(status, input, output);
    if (status.error == ResampleError::noSuchChannel) {
        const unsigned channels = job.samples.layout.channels;
        result.error = input + ": has " + std::to_string(channels) + " channels, no channel " +
                       std::to_string(request.channel.channel + 1);
        return result;
    }
    if (status.error == ResampleError::tooManyChannels) {
        result.error = input + ": has " + std::to_string(job.samples.layout.channels) + " channels, " +
                       describeResampleError(status);
        return result;
    }
    result.error = (outputAtFault(status.error) ? output : input) + ": " + describeResampleError(status);
    return result;
}

ConversionResult renderModule(const ConversionRequest& request, const std::string& input, const std::string& output,
                              const Progress* progress, const std::vector<std::string>& stems) {
    ConversionResult result;
    const int rate = request.rate != 0 ? request.rate : kModuleRate;
    SongLimits limits;
    limits.progress = progress;
    if (request.maxDurationSeconds > 0) {
        limits.maxFrames = static_cast<uint64_t>(request.maxDurationSeconds) * static_cast<uint64_t>(rate);
    }
    ModuleRenderOptions options;
    options.loops = request.loops;
    options.fadeMilliseconds = request.fadeMilliseconds;
    options.loopPoints = request.loopPoints;
    options.stems = stems;
    const ModuleStatus status = convertModuleFile(input, output, rate, limits, options);
    result.moduleStatus = status;
    if (status.error == ModuleError::none) {
        result.ok = true;
        return result;
    }
    const bool outputFault = status.error == ModuleError::cannotOpenOutput || status.error == ModuleError::writeFailed;
    const std::string& failedOutput = status.failedStem >= 0 ? stems[static_cast<std::size_t>(status.failedStem)] : output;
    result.error = (outputFault ? failedOutput : input) + ": " + describeModuleError(status);
    if (status.error == ModuleError::tooLong) {
        const bool more = request.loops > 1 || request.fadeMilliseconds > 0;
        result.error += " (" + std::to_string(request.maxDurationSeconds) + " s" +
                        (more ? " with its loops and fade" : "") + "; --max-duration sets another limit, 0 none)";
    }
    return result;
}

}  // namespace

ConversionResult convertFile(const ConversionRequest& request, const std::string& input, const std::string& output,
                             const Progress* progress, const std::vector<std::string>& stems) {
    try {
        return request.kind == ConversionKind::resample ? resample(request, input, output, progress)
                                                        : renderModule(request, input, output, progress, stems);
    } catch (const std::bad_alloc&) {
        // Whatever was being built is abandoned on the way out; only this file fails.
        ConversionResult result;
        result.error = input + ": not enough memory to convert it";
        return result;
    }
}

}  // namespace plinth
