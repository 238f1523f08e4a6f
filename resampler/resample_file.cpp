#include "resample_file.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "output_file.h"
#include "stream_resampler.h"

namespace plinth {
namespace {

// The most 16-bit mono samples whose size still fits the header.
constexpr uint64_t kMaxOutputSamples = kMaxWavDataBytes / 2;

ResampleStatus failure(ResampleError error, int systemError = 0, InputError inputError = InputError::none) {
    ResampleStatus status;
    status.error = error;
    status.systemError = systemError;
    status.inputError = inputError;
    return status;
}

std::string systemReason(int systemError) { return std::strerror(systemError != 0 ? systemError : EIO); }

// Where the samples go: straight to the output, or, when neither the length
// is known beforehand nor the output can be rewritten (a pipe fed by a pipe),
// held until the end so that the header can go first with its final sizes.
struct OutputSink {
    OutputFile* output = nullptr;
    std::vector<int16_t>* held = nullptr;
    std::vector<uint8_t> bytes;
    int systemError = 0;
    bool tooLarge = false;
    uint64_t samples = 0;
};

bool writeSamples(void* context, const int16_t* samples, std::size_t count) {
    OutputSink& sink = *static_cast<OutputSink*>(context);
    sink.samples += count;
    if (sink.samples > kMaxOutputSamples) {
        sink.tooLarge = true;
        return false;
    }
    if (sink.held != nullptr) {
        try {
            sink.held->insert(sink.held->end(), samples, samples + count);
        } catch (const std::bad_alloc&) {
            sink.systemError = ENOMEM;
            return false;
        }
        return true;
    }
    sink.bytes.resize(count * 2);
    samplesToLittleEndian(samples, count, sink.bytes.data());
    return sink.output->write(sink.bytes.data(), sink.bytes.size(), sink.systemError);
}

ResampleStatus copyInput(ResampleJob& job, OutputFile& output, const Progress* progress) {
    int systemError = 0;
    if (!output.write(job.headerBytes, kWavHeaderBytes, systemError)) {
        return failure(ResampleError::writeFailed, systemError);
    }
    std::vector<uint8_t> buffer(1 << 16);
    uint64_t copied = kWavHeaderBytes;
    for (;;) {
        if (stopRequested(progress)) return failure(ResampleError::stopped);
        std::size_t got = 0;
        const InputError error = job.input.read(buffer.data(), buffer.size(), got, systemError);
        if (error != InputError::none) return failure(ResampleError::readFailed, systemError, error);
        if (!output.write(buffer.data(), got, systemError)) return failure(ResampleError::writeFailed, systemError);
        copied += got;
        reportProgress(progress, copied, job.input.size());
        if (got < buffer.size()) break;
    }
    if (job.input.isRegular() && copied != job.input.size()) {
        return failure(ResampleError::readFailed, 0, InputError::changedSize);
    }
    return {};
}

ResampleStatus resampleInput(ResampleJob& job, OutputFile& output, const Progress* progress) {
    const int channels = job.info.channels;
    StreamResampler resampler;
    if (startResampler(resampler, job.targetRate, static_cast<int>(job.info.sampleRate), channels, job.channelMode) !=
        StreamError::none) {
        return failure(ResampleError::outOfMemory);
    }

    OutputSink sink;
    sink.output = &output;
    std::vector<int16_t> held;
    if (!job.lengthKnown && !output.isRegular()) sink.held = &held;
    uint8_t header[kWavHeaderBytes];
    int systemError = 0;
    if (sink.held == nullptr) {
        // With the length unknown, the input's header holds the place of the
        // output header until the end.
        const uint64_t dataBytes = job.lengthKnown ? 2 * job.outputSamples : 0;
        encodeWavHeader(pcmWavHeader(1, static_cast<uint32_t>(job.targetRate), static_cast<uint32_t>(dataBytes)),
                        header);
        if (!output.write(job.lengthKnown ? header : job.headerBytes, kWavHeaderBytes, systemError)) {
            return failure(ResampleError::writeFailed, systemError);
        }
    }

    const SampleSink samples{writeSamples, &sink};
    auto sinkFailure = [&]() {
        if (sink.tooLarge) return failure(ResampleError::tooLarge);
        if (sink.held != nullptr) return failure(ResampleError::outOfMemory);
        return failure(ResampleError::writeFailed, sink.systemError);
    };

    // A regular input is read up to the size it had when judged; a stream to its end.
    const uint64_t bytesPerFrame = 2u * static_cast<uint64_t>(channels);
    const uint64_t wanted = job.inputFrames * bytesPerFrame;
    uint64_t bytesRead = 0;
    std::vector<int16_t> items(kInputBlockItems);
    std::size_t pending = 0;  // bytes of a frame cut by a read, kept for the next one
    for (;;) {
        if (stopRequested(progress)) return failure(ResampleError::stopped);
        std::size_t want = items.size() * 2 - pending;
        if (job.lengthKnown && wanted - bytesRead < want) want = static_cast<std::size_t>(wanted - bytesRead);
        std::size_t got = 0;
        const InputError error =
            job.input.read(reinterpret_cast<uint8_t*>(items.data()) + pending, want, got, systemError);
        if (error != InputError::none) return failure(ResampleError::readFailed, systemError, error);
        bytesRead += got;
        const std::size_t available = pending + got;
        const uint64_t frames = available / bytesPerFrame;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
        for (uint64_t i = 0; i < frames * static_cast<uint64_t>(channels); ++i) {
            const uint8_t* b = reinterpret_cast<const uint8_t*>(&items[i]);
            items[i] = static_cast<int16_t>(b[0] | (b[1] << 8));
        }
#endif
        if (feedResampler(resampler, items.data(), frames, samples) != StreamError::none) return sinkFailure();
        pending = available - static_cast<std::size_t>(frames * bytesPerFrame);
        if (pending > 0) std::memmove(items.data(), reinterpret_cast<uint8_t*>(items.data()) + frames * bytesPerFrame, pending);
        reportProgress(progress, kWavHeaderBytes + bytesRead, job.input.size());
        if (got < want || (job.lengthKnown && bytesRead == wanted)) break;
    }
    if (job.lengthKnown && bytesRead != wanted) return failure(ResampleError::readFailed, 0, InputError::changedSize);
    if (finishResampler(resampler, samples) != StreamError::none) return sinkFailure();

    const uint32_t dataBytes = static_cast<uint32_t>(2 * resampler.samplesOut);
    encodeWavHeader(pcmWavHeader(1, static_cast<uint32_t>(job.targetRate), dataBytes), header);
    if (sink.held != nullptr) {
        sink.held = nullptr;
        if (!output.write(header, kWavHeaderBytes, systemError)) return failure(ResampleError::writeFailed, systemError);
        if (!writeSamples(&sink, held.data(), held.size())) return sinkFailure();
    } else if (!job.lengthKnown) {
        if (!output.rewrite(0, header, kWavHeaderBytes, systemError)) {
            return failure(ResampleError::writeFailed, systemError);
        }
    } else if (resampler.samplesOut != job.outputSamples) {
        return failure(ResampleError::readFailed, 0, InputError::changedSize);
    }
    return {};
}

}  // namespace

const char kCopyWarningLine[] = "[WARNNING!]: Do filecopy while source SampleRate equals to target SampleRate.\n";

std::string describeResampleError(const ResampleStatus& status) {
    switch (status.error) {
        case ResampleError::none: return "no error";
        case ResampleError::invalidParameters: return "invalid rate, or a rate pair outside the supported ratios";
        case ResampleError::cannotOpenInput:
        case ResampleError::readFailed:
            return status.inputError != InputError::none ? describeInputError(status.inputError, status.systemError)
                                                         : systemReason(status.systemError);
        case ResampleError::shortHeader: return "shorter than a WAV header (44 bytes)";
        case ResampleError::notRiff: return "not a WAV file (no RIFF tag)";
        case ResampleError::unsupportedFormat: return "not 16-bit PCM with 1 or 2 channels";
        case ResampleError::cannotOpenOutput:
        case ResampleError::writeFailed: return systemReason(status.systemError);
        case ResampleError::tooLarge: return "the output would pass the 4 GiB size limit of a WAV file";
        case ResampleError::outOfMemory: return "not enough memory";
        case ResampleError::stopped: return "stopped before it was complete";
    }
    return "unknown error";
}

std::string resampleFailureLine(const ResampleStatus& status, const std::string& inPath, const std::string& outPath) {
    switch (status.error) {
        case ResampleError::none: return std::string();
        case ResampleError::invalidParameters: return "[ERROR!]: Invalid parameters!\n";
        case ResampleError::cannotOpenInput: return "[ERROR!]: Cannot open '" + inPath + "'.\n";
        case ResampleError::cannotOpenOutput: return "[ERROR!]: Cannot open '" + outPath + "'.\n";
        case ResampleError::shortHeader: return "[ERROR!]: Cannot read wave header.\n";
        case ResampleError::notRiff: return "[ERROR!]: invalid wav header. Please check the header tag.\n";
        case ResampleError::unsupportedFormat:
            return "[ERROR!]: Unsupported wave. Please check the wave are (mono|stereo)(16bit)(PCM).\n";
        case ResampleError::readFailed:
            return "[ERROR!]: Cannot read '" + inPath + "': " + describeResampleError(status) + ".\n";
        case ResampleError::writeFailed:
            return "[ERROR!]: Cannot write '" + outPath + "': " + describeResampleError(status) + ".\n";
        case ResampleError::tooLarge:
            return "[ERROR!]: Output '" + outPath + "' would pass the 4 GiB size limit of a WAV file.\n";
        case ResampleError::outOfMemory: return "[ERROR!]: Not enough memory to resample '" + inPath + "'.\n";
        case ResampleError::stopped: return "[ERROR!]: Stopped before '" + outPath + "' was complete.\n";
    }
    return std::string();
}

ResampleStatus openResampleJob(const std::string& inPath, int targetRate, int channelMode, ResampleJob& job) {
    job = ResampleJob{};
    int systemError = 0;
    const InputError opened = job.input.open(inPath, InputPolicy::regularOrStream, systemError);
    if (opened != InputError::none) return failure(ResampleError::cannotOpenInput, systemError, opened);

    std::size_t got = 0;
    const InputError readError = job.input.read(job.headerBytes, kWavHeaderBytes, got, systemError);
    if (readError != InputError::none) return failure(ResampleError::readFailed, systemError, readError);
    if (got < kWavHeaderBytes) return failure(ResampleError::shortHeader);
    WavHeader header;
    decodeWavHeader(job.headerBytes, header);
    if (!parseWavHeader(header, job.info)) return failure(ResampleError::notRiff);

    // A rate above INT_MAX reads as negative and is refused as invalid.
    const int sourceRate = static_cast<int>(job.info.sampleRate);
    if (targetRate <= 0 || sourceRate <= 0) return failure(ResampleError::invalidParameters);
    if (job.info.bitsPerSample != 16 || job.info.audioFormat != 1 ||
        (job.info.channels != 1 && job.info.channels != 2)) {
        return failure(ResampleError::unsupportedFormat);
    }

    job.targetRate = targetRate;
    job.channelMode = channelMode;
    job.copyOnly = targetRate == sourceRate && job.info.channels == 1;
    job.lengthKnown = job.input.isRegular();
    // Everything from byte 44 to the end is taken as samples; half a frame at the end is dropped.
    job.inputFrames = job.lengthKnown ? (job.input.size() - kWavHeaderBytes) / 2 / job.info.channels : 0;
    if (job.copyOnly) return {};
    if (!ratioSupported(targetRate, sourceRate)) return failure(ResampleError::invalidParameters);
    if (job.lengthKnown) {
        const ResamplerPlan plan = planResampling(targetRate, sourceRate);
        job.outputSamples = resampledLength(job.inputFrames, plan.upFactor, plan.downFactor);
        if (job.outputSamples > kMaxOutputSamples) return failure(ResampleError::tooLarge);
    }
    return {};
}

namespace {

ResampleStatus convertJob(ResampleJob& job, const std::string& outPath, const Progress* progress) {
    OutputFile output;
    int systemError = 0;
    if (!output.open(outPath, systemError)) return failure(ResampleError::cannotOpenOutput, systemError);
    const ResampleStatus status = job.copyOnly ? copyInput(job, output, progress) : resampleInput(job, output, progress);
    job.input.close();
    if (status.error != ResampleError::none) return status;
    if (!output.commit(systemError)) return failure(ResampleError::writeFailed, systemError);
    return {};
}

}  // namespace

ResampleStatus runResampleJob(ResampleJob& job, const std::string& outPath, const Progress* progress) {
    try {
        return convertJob(job, outPath, progress);
    } catch (const std::bad_alloc&) {
        return failure(ResampleError::outOfMemory);
    }
}

}  // namespace plinth
