#include "resampler/resample_file.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/output_file.h"
#include "platform/wav_header.h"
#include "resampler/stream_resampler.h"

namespace plinth {
namespace {

// The most 16-bit mono samples whose size still fits the header.
constexpr uint64_t kMaxOutputSamples = maxPcm16Frames(1);

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
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Already the file's byte order: written as they are.
    return sink.output->write(samples, count * kPcm16SampleBytes, sink.systemError);
#else
    sink.bytes.resize(count * kPcm16SampleBytes);
    samplesToLittleEndian(samples, count, sink.bytes.data());
    return sink.output->write(sink.bytes.data(), sink.bytes.size(), sink.systemError);
#endif
}

ResampleStatus copyInput(ResampleJob& job, OutputFile& output, const Progress* progress) {
    int systemError = 0;
    // The header bytes as read.
    if (!output.write(job.samples.layout.leadingBytes, kWavHeaderBytes, systemError)) {
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
    const WavLayout& layout = job.samples.layout;
    const int channels = layout.channels;
    // A chunk-aware copy hands the samples to the output unfiltered.
    const bool filtered = !job.copyOnly;
    StreamResampler resampler;
    if (filtered && startResampler(resampler, job.targetRate, static_cast<int>(layout.sampleRate), channels,
                                   job.choice) != StreamError::none) {
        return failure(ResampleError::outOfMemory);
    }

    OutputSink sink;
    sink.output = &output;
    std::vector<int16_t> held;
    if (!job.lengthKnown && !output.isRegular()) sink.held = &held;
    uint8_t header[kWavHeaderBytes];
    int systemError = 0;
    if (sink.held == nullptr) {
        // With the length unknown, the header is written again at the end.
        const uint64_t samplesKnown = job.lengthKnown ? job.outputSamples : 0;
        encodeWavHeader(pcm16WavHeader(1, static_cast<uint32_t>(job.targetRate), samplesKnown), header);
        if (!output.write(header, kWavHeaderBytes, systemError)) return failure(ResampleError::writeFailed, systemError);
    }

    const SampleSink samples{writeSamples, &sink};
    auto sinkFailure = [&]() {
        if (sink.tooLarge) return failure(ResampleError::tooLarge);
        if (sink.held != nullptr) return failure(ResampleError::outOfMemory);
        return failure(ResampleError::writeFailed, sink.systemError);
    };

    // A regular input is read up to the size it had when judged; a stream to
    // its end or the end of its data chunk.
    const std::unique_ptr<int16_t[]> items(new int16_t[kInputBlockItems]);
    const std::size_t blockFrames = kInputBlockItems / static_cast<std::size_t>(channels);
    uint64_t framesRead = 0;
    for (;;) {
        if (stopRequested(progress)) return failure(ResampleError::stopped);
        std::size_t frames = 0;
        const WavReadStatus read = readWavFrames(job.input, job.samples, items.get(), blockFrames, frames);
        if (read.error != WavReadError::none) return failure(ResampleError::readFailed, read.systemError, read.inputError);
        framesRead += frames;
        const bool fed = filtered ? feedResampler(resampler, items.get(), frames, samples) == StreamError::none
                                  : frames == 0 || writeSamples(&sink, items.get(), frames);
        if (!fed) return sinkFailure();
        reportProgress(progress, layout.dataStart + job.samples.bytesRead, job.input.size());
        if (frames < blockFrames) break;
    }
    if (job.lengthKnown && framesRead != job.inputFrames) {
        return failure(ResampleError::readFailed, 0, InputError::changedSize);
    }
    if (filtered && finishResampler(resampler, samples) != StreamError::none) return sinkFailure();

    const uint64_t samplesOut = filtered ? resampler.samplesOut : framesRead;
    encodeWavHeader(pcm16WavHeader(1, static_cast<uint32_t>(job.targetRate), samplesOut), header);
    if (sink.held != nullptr) {
        sink.held = nullptr;
        sink.samples = 0;
        if (!output.write(header, kWavHeaderBytes, systemError)) return failure(ResampleError::writeFailed, systemError);
        if (!writeSamples(&sink, held.data(), held.size())) return sinkFailure();
    } else if (!job.lengthKnown) {
        if (!output.rewrite(0, header, kWavHeaderBytes, systemError)) {
            return failure(ResampleError::writeFailed, systemError);
        }
    } else if (samplesOut != job.outputSamples) {
        return failure(ResampleError::readFailed, 0, InputError::changedSize);
    }
    return {};
}

// The rates and the output's size, once the input's format is known.
ResampleStatus judgeRates(ResampleJob& job, int targetRate) {
    const WavLayout& layout = job.samples.layout;
    // A rate above INT_MAX reads as negative and is refused as invalid.
    const int sourceRate = static_cast<int>(layout.sampleRate);
    if (targetRate <= 0 || sourceRate <= 0) return failure(ResampleError::invalidParameters);
    job.targetRate = targetRate;
    job.copyOnly = targetRate == sourceRate && layout.channels == 1;
    job.lengthKnown = job.input.isRegular();
    job.inputFrames = job.lengthKnown ? layout.dataBytes / (sampleBytes(layout.sampleFormat) * layout.channels) : 0;
    if (job.copyOnly) {
        job.outputSamples = job.inputFrames;
    } else {
        if (!ratioSupported(targetRate, sourceRate)) return failure(ResampleError::invalidParameters);
        const ResamplerPlan plan = planResampling(targetRate, sourceRate);
        job.outputSamples = job.lengthKnown ? resampledLength(job.inputFrames, plan.upFactor, plan.downFactor) : 0;
    }
    // A canonical copy is the input itself, whatever its size.
    if (job.chunkAware || !job.copyOnly) {
        if (job.outputSamples > kMaxOutputSamples) return failure(ResampleError::tooLarge);
    }
    return {};
}

// Judges what the canonical header says, read at its fixed places into the
// job's layout: the rates first, then 16-bit PCM in one or two channels.
ResampleStatus judgeCanonicalHeader(ResampleJob& job, int targetRate) {
    const WavLayout& layout = job.samples.layout;
    if (static_cast<int>(layout.sampleRate) <= 0 || targetRate <= 0) return failure(ResampleError::invalidParameters);
    if (layout.bitsPerSample != 16 || layout.formatTag != kWavFormatPcm ||
        (layout.channels != 1 && layout.channels != 2)) {
        return failure(ResampleError::unsupportedFormat);
    }
    return judgeRates(job, targetRate);
}

ResampleStatus wavReadFailure(const WavReadStatus& read) {
    if (read.error == WavReadError::readFailed) return failure(ResampleError::readFailed, read.systemError, read.inputError);
    if (read.error == WavReadError::notWav) return failure(ResampleError::notRiff);
    ResampleStatus status = failure(ResampleError::unreadableWav);
    status.wavError = read.error;
    return status;
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
        case ResampleError::unreadableWav: {
            WavReadStatus read;
            read.error = status.wavError;
            return describeWavReadError(read);
        }
        case ResampleError::noSuchChannel: return "has no such channel";
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
        // Only the chunk-aware reading refuses these; ResampleWav never does.
        case ResampleError::unreadableWav:
        case ResampleError::noSuchChannel: return std::string();
    }
    return std::string();
}

ResampleStatus openResampleJob(const std::string& inPath, int targetRate, int channelMode, ResampleJob& job) {
    job = ResampleJob{};
    job.choice = channelChoiceFromMode(channelMode);
    int systemError = 0;
    const InputError opened = job.input.open(inPath, InputPolicy::regularOrStream, systemError);
    if (opened != InputError::none) return failure(ResampleError::cannotOpenInput, systemError, opened);

    const WavReadStatus read = readCanonicalWavLayout(job.input, job.samples.layout);
    if (read.error == WavReadError::cutShort) return failure(ResampleError::shortHeader);
    if (read.error != WavReadError::none) return wavReadFailure(read);
    return judgeCanonicalHeader(job, targetRate);
}

ResampleStatus openWavResampleJob(const std::string& inPath, int targetRate, ChannelChoice choice, ResampleJob& job) {
    job = ResampleJob{};
    job.choice = choice;
    int systemError = 0;
    const InputError opened = job.input.open(inPath, InputPolicy::regularOrStream, systemError);
    if (opened != InputError::none) return failure(ResampleError::cannotOpenInput, systemError, opened);

    WavLayout& layout = job.samples.layout;
    const WavReadStatus read = readWavLayout(job.input, layout);
    if (read.error != WavReadError::none) return wavReadFailure(read);
    if (layout.channels > 1 && !choice.mix && choice.channel >= layout.channels) {
        return failure(ResampleError::noSuchChannel);
    }
    // The reader has read exactly the 44 header bytes, and the samples run
    // from byte 44 to the end: what reading at the fixed places gives.
    if (isCanonicalLayout(layout, job.input.isRegular(), job.input.size())) {
        return judgeCanonicalHeader(job, targetRate);
    }

    job.chunkAware = true;
    if (layout.sampleFormat == WavSampleFormat::unsupported) {
        ResampleStatus status = failure(ResampleError::unreadableWav);
        status.wavError = WavReadError::unsupportedFormat;
        return status;
    }
    return judgeRates(job, targetRate);
}

namespace {

ResampleStatus convertJob(ResampleJob& job, const std::string& outPath, const Progress* progress) {
    OutputFile output;
    int systemError = 0;
    if (!output.open(outPath, systemError)) return failure(ResampleError::cannotOpenOutput, systemError);
    const ResampleStatus status =
        job.copyOnly && !job.chunkAware ? copyInput(job, output, progress) : resampleInput(job, output, progress);
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
