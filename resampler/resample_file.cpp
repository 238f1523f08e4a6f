#include "resampler/resample_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "platform/output_file.h"
#include "platform/wav_header.h"
#include "resampler/high_quality_resampler.h"
#include "resampler/stream_resampler.h"

namespace plinth {
namespace {

ResampleStatus failure(ResampleError error, int systemError = 0, InputError inputError = InputError::none) {
    ResampleStatus status;
    // A stop while the input was awaited is a stop, whatever was under way.
    status.error = inputError == InputError::stopped ? ResampleError::stopped : error;
    status.systemError = systemError;
    status.inputError = inputError;
    return status;
}

std::string systemReason(int systemError) { return std::strerror(systemError != 0 ? systemError : EIO); }

// Where the frames go, encoded as the output's sample format: straight to the
// output, or, when neither the length is known beforehand nor the output can
// be rewritten (a pipe fed by a pipe), held until the end so that the header
// can go first with its final sizes.
struct OutputSink {
    OutputFile* output = nullptr;
    WavOutputLayout layout;
    uint64_t maxFrames = 0;
    std::vector<uint8_t>* held = nullptr;
    std::vector<uint8_t> bytes;
    std::vector<int16_t> rounded;  // floats made 16-bit
    std::vector<float> scaled;     // 16-bit samples made floats
    int systemError = 0;
    bool tooLarge = false;
    uint64_t frames = 0;           // frames produced, held ones included
};

bool writeBytes(OutputSink& sink, const uint8_t* bytes, std::size_t count) {
    if (sink.held != nullptr) {
        try {
            sink.held->insert(sink.held->end(), bytes, bytes + count);
        } catch (const std::bad_alloc&) {
            sink.systemError = ENOMEM;
            return false;
        }
        return true;
    }
    return sink.output->write(bytes, count, sink.systemError);
}

// Counts `count` samples (whole frames) against the header's limit.
bool countFrames(OutputSink& sink, std::size_t count) {
    sink.frames += count / sink.layout.channels;
    if (sink.frames > sink.maxFrames) {
        sink.tooLarge = true;
        return false;
    }
    return true;
}

// 16-bit samples from the default filter; as floats they are x / 32768.
bool writeSamples(void* context, const int16_t* samples, std::size_t count) {
    OutputSink& sink = *static_cast<OutputSink*>(context);
    if (!countFrames(sink, count)) return false;
    if (sink.layout.format == WavSampleFormat::float32) {
        sink.scaled.resize(count);
        for (std::size_t i = 0; i < count; ++i) sink.scaled[i] = floatFromSigned16(samples[i]);
        sink.bytes.resize(count * sizeof(float));
        floatsToLittleEndian(sink.scaled.data(), count, sink.bytes.data());
        return writeBytes(sink, sink.bytes.data(), sink.bytes.size());
    }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Already the file's byte order: written as they are.
    return writeBytes(sink, reinterpret_cast<const uint8_t*>(samples), count * kPcm16SampleBytes);
#else
    sink.bytes.resize(count * kPcm16SampleBytes);
    samplesToLittleEndian(samples, count, sink.bytes.data());
    return writeBytes(sink, sink.bytes.data(), sink.bytes.size());
#endif
}

// Float samples from the high filter; as 16-bit ones, rounded to the nearest.
bool writeFloatSamples(void* context, const float* samples, std::size_t count) {
    OutputSink& sink = *static_cast<OutputSink*>(context);
    if (!countFrames(sink, count)) return false;
    if (sink.layout.format == WavSampleFormat::float32) {
        sink.bytes.resize(count * sizeof(float));
        floatsToLittleEndian(samples, count, sink.bytes.data());
    } else {
        sink.rounded.resize(count);
        highQualitySamplesToInt16Dispatched(samples, sink.rounded.data(), count);
        sink.bytes.resize(count * kPcm16SampleBytes);
        samplesToLittleEndian(sink.rounded.data(), count, sink.bytes.data());
    }
    return writeBytes(sink, sink.bytes.data(), sink.bytes.size());
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
        if (got < buffer.size()) break;
    }
    if (job.input.isRegular() && copied != job.input.size()) {
        return failure(ResampleError::readFailed, 0, InputError::changedSize);
    }
    return {};
}

// Reads the job's frames block by block, as 16-bit samples or as floats, and
// hands each block to feed(items, frames), which tells how the block went:
// anything but StreamError::none stops the reading, with `fed` set to it. A
// regular input is read up to the size it had when judged, and must still
// have it; a stream to its end or the end of its data chunk.
template <typename Item, typename Feed>
ResampleStatus readFrames(ResampleJob& job, const Progress* progress, Feed feed, StreamError& fed) {
    const WavLayout& layout = job.samples.layout;
    const std::size_t blockFrames = std::max<std::size_t>(1, kInputBlockItems / layout.channels);
    // Not cleared: the reader fills every item before it is used.
    const std::unique_ptr<Item[]> items(new Item[blockFrames * layout.channels]);
    uint64_t framesRead = 0;
    for (;;) {
        if (stopRequested(progress)) return failure(ResampleError::stopped);
        std::size_t frames = 0;
        WavReadStatus read;
        if constexpr (std::is_same_v<Item, int16_t>) {
            read = readWavFrames(job.input, job.samples, items.get(), blockFrames, frames);
        } else {
            read = readWavFramesAsFloat(job.input, job.samples, items.get(), blockFrames, frames);
        }
        if (read.error != WavReadError::none) return failure(ResampleError::readFailed, read.systemError, read.inputError);
        framesRead += frames;
        if (frames > 0 && (fed = feed(items.get(), frames)) != StreamError::none) return {};
        if (frames < blockFrames) break;
    }
    if (job.lengthKnown && framesRead != job.inputFrames) {
        return failure(ResampleError::readFailed, 0, InputError::changedSize);
    }
    return {};
}

// Reads the whole input through a resampler (start, feed, finish) into the sink.
template <typename Item, typename Resampler, typename Sink, typename Feed, typename Finish>
ResampleStatus resampleThrough(ResampleJob& job, Resampler& resampler, const Sink& sink, Feed feed, Finish finish,
                               const Progress* progress, StreamError& fed) {
    const ResampleStatus status = readFrames<Item>(
        job, progress, [&](const Item* items, std::size_t frames) { return feed(resampler, items, frames, sink); }, fed);
    if (status.error == ResampleError::none && fed == StreamError::none) fed = finish(resampler, sink);
    return status;
}

// The frames of the job's input, through the filter the job names, into the sink.
ResampleStatus produceFrames(ResampleJob& job, OutputSink& sink, const Progress* progress, StreamError& fed) {
    const WavLayout& layout = job.samples.layout;
    const int channels = layout.channels;
    const int sourceRate = static_cast<int>(layout.sampleRate);
    if (job.quality == FilterQuality::high) {
        // Equal rates pass unfiltered through it too.
        HighQualityResampler resampler;
        if (startHighQualityResampler(resampler, job.targetRate, sourceRate, channels, job.choice) != StreamError::none) {
            return failure(ResampleError::outOfMemory);
        }
        const FloatSampleSink floats{writeFloatSamples, &sink};
        const auto feedItems = [](HighQualityResampler& stream, const auto* items, uint64_t frames,
                                  const FloatSampleSink& to) { return feedHighQualityResampler(stream, items, frames, to); };
        // 16-bit samples go in as they are read (each x / 32768 there, as the float reading makes them).
        if (layout.sampleFormat == WavSampleFormat::signed16) {
            return resampleThrough<int16_t>(job, resampler, floats, feedItems, finishHighQualityResampler, progress, fed);
        }
        return resampleThrough<float>(job, resampler, floats, feedItems, finishHighQualityResampler, progress, fed);
    }
    const SampleSink samples{writeSamples, &sink};
    if (job.copyOnly) {
        // Unfiltered: the samples behind a new header.
        return readFrames<int16_t>(job, progress, [&](const int16_t* items, std::size_t frames) {
            const bool written = writeSamples(&sink, items, frames * static_cast<std::size_t>(channels));
            return written ? StreamError::none : StreamError::sinkFailed;
        }, fed);
    }
    if (job.choice.all && channels > 1) {
        EveryChannelResampler resampler;
        if (startEveryChannelResampler(resampler, job.targetRate, sourceRate, channels) != StreamError::none) {
            return failure(ResampleError::outOfMemory);
        }
        return resampleThrough<int16_t>(job, resampler, samples, feedEveryChannelResampler, finishEveryChannelResampler,
                                        progress, fed);
    }
    StreamResampler resampler;
    if (startResampler(resampler, job.targetRate, sourceRate, channels, job.choice) != StreamError::none) {
        return failure(ResampleError::outOfMemory);
    }
    return resampleThrough<int16_t>(job, resampler, samples, feedResampler, finishResampler, progress, fed);
}

ResampleStatus resampleInput(ResampleJob& job, OutputFile& output, const Progress* progress) {
    OutputSink sink;
    sink.output = &output;
    sink.layout = job.output;
    sink.maxFrames = maxWavOutputFrames(job.output);
    std::vector<uint8_t> held;
    if (!job.lengthKnown && !output.isRegular()) sink.held = &held;
    int systemError = 0;
    if (sink.held == nullptr) {
        // With the length unknown, the header is written again at the end.
        const WavOutputHeader header = wavOutputHeader(job.output, job.lengthKnown ? job.outputSamples : 0);
        if (!output.write(header.bytes, header.size, systemError)) return failure(ResampleError::writeFailed, systemError);
    }

    StreamError fed = StreamError::none;
    const ResampleStatus status = produceFrames(job, sink, progress, fed);
    if (status.error != ResampleError::none) return status;
    if (fed == StreamError::outOfMemory || (fed == StreamError::sinkFailed && sink.held != nullptr && !sink.tooLarge)) {
        return failure(ResampleError::outOfMemory);
    }
    if (fed == StreamError::sinkFailed) {
        return sink.tooLarge ? failure(ResampleError::tooLarge) : failure(ResampleError::writeFailed, sink.systemError);
    }

    const WavOutputHeader header = wavOutputHeader(job.output, sink.frames);
    if (sink.held != nullptr) {
        if (!output.write(header.bytes, header.size, systemError) ||
            !output.write(held.data(), held.size(), systemError)) {
            return failure(ResampleError::writeFailed, systemError);
        }
    } else if (!job.lengthKnown) {
        if (!output.rewrite(0, header.bytes, header.size, systemError)) {
            return failure(ResampleError::writeFailed, systemError);
        }
    } else if (sink.frames != job.outputSamples) {
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
    const bool high = job.quality == FilterQuality::high;
    job.copyOnly = targetRate == sourceRate && (high || layout.channels == 1);
    job.byteCopy = job.copyOnly && !job.chunkAware && !high && job.output.format == WavSampleFormat::signed16;
    job.output.channels = job.choice.all ? layout.channels : 1;
    job.output.frameRate = static_cast<uint32_t>(targetRate);
    // Every channel kept keeps the speaker positions an extensible input names.
    job.output.channelMask = layout.formatTag == kWavFormatExtensible ? layout.channelMask
                                                                       : defaultChannelMask(job.output.channels);
    if (!wavOutputLayoutFits(job.output)) return failure(ResampleError::tooManyChannels);
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
    if (!job.byteCopy && job.outputSamples > maxWavOutputFrames(job.output)) return failure(ResampleError::tooLarge);
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
        case ResampleError::tooManyChannels:
            return "too many channels for one WAV frame of the output (at most 32767 of 16-bit samples, 16383 of "
                   "32-bit floats)";
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
        case ResampleError::noSuchChannel:
        case ResampleError::tooManyChannels: return std::string();
    }
    return std::string();
}

ResampleStatus openResampleJob(const std::string& inPath, int targetRate, int channelMode, ResampleJob& job) {
    ResampleSettings settings;
    settings.choice = channelChoiceFromMode(channelMode);
    return openResampleJob(inPath, targetRate, settings, job);
}

namespace {

// Opens the input and takes the settings into the job.
ResampleStatus openJob(const std::string& inPath, const ResampleSettings& settings, ResampleJob& job,
                       const Progress* progress) {
    job = ResampleJob{};
    job.choice = settings.choice;
    job.quality = settings.quality;
    job.output.format = settings.outputFormat;
    int systemError = 0;
    const InputError opened = job.input.open(inPath, InputPolicy::regularOrStream, systemError, progress);
    if (opened != InputError::none) return failure(ResampleError::cannotOpenInput, systemError, opened);
    return {};
}

}  // namespace

ResampleStatus openResampleJob(const std::string& inPath, int targetRate, const ResampleSettings& settings,
                               ResampleJob& job) {
    const ResampleStatus opened = openJob(inPath, settings, job, nullptr);
    if (opened.error != ResampleError::none) return opened;
    const WavReadStatus read = readCanonicalWavLayout(job.input, job.samples.layout);
    if (read.error == WavReadError::cutShort) return failure(ResampleError::shortHeader);
    if (read.error != WavReadError::none) return wavReadFailure(read);
    return judgeCanonicalHeader(job, targetRate);
}

ResampleStatus openWavResampleJob(const std::string& inPath, int targetRate, const ResampleSettings& settings,
                                  ResampleJob& job, const Progress* progress) {
    const ResampleStatus opened = openJob(inPath, settings, job, progress);
    if (opened.error != ResampleError::none) return opened;
    WavLayout& layout = job.samples.layout;
    const WavReadStatus read = readWavLayout(job.input, layout);
    if (read.error != WavReadError::none) return wavReadFailure(read);
    const ChannelChoice& choice = settings.choice;
    if (layout.channels > 1 && !choice.mix && !choice.all && choice.channel >= layout.channels) {
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
        job.byteCopy ? copyInput(job, output, progress) : resampleInput(job, output, progress);
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
