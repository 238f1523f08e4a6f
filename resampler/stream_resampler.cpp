#include "stream_resampler.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "dsp/lowpass_design.h"
#include "dsp/polyphase.h"
#include "wav_header.h"

namespace {

// Sizes derived from a ratio: the double ceiling of a single-precision quotient.
int ceilOfFloatQuotient(float numerator, float denominator) {
    return static_cast<int>(std::ceil(static_cast<double>(numerator / denominator)));
}

// Turns n frames into n filter inputs: one channel as it is; of two, the
// second (mode 1), the floor of their mean (mode 2), or the first.
void convertFrames(const int16_t* items, int frames, int channels, int channelMode, float* samples) {
    if (channels == 1) {
        for (int k = 0; k < frames; ++k) samples[k] = static_cast<float>(items[k]);
    } else if (channelMode == 1) {
        for (int k = 0; k < frames; ++k) samples[k] = static_cast<float>(items[2 * k + 1]);
    } else if (channelMode == 2) {
        for (int k = 0; k < frames; ++k) {
            const int32_t sum = static_cast<int32_t>(items[2 * k]) + items[2 * k + 1];
            samples[k] = static_cast<float>(sum >> 1);
        }
    } else {
        for (int k = 0; k < frames; ++k) samples[k] = static_cast<float>(items[2 * k]);
    }
}

template <typename T>
std::unique_ptr<T[]> allocate(std::size_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

}  // namespace

uint64_t resampledLength(uint64_t frames, int upFactor, int downFactor) {
    const uint64_t product = frames * static_cast<uint64_t>(upFactor);
    return (product + static_cast<uint64_t>(downFactor) - 1) / static_cast<uint64_t>(downFactor);
}

ResamplerPlan planResampling(int targetRate, int sourceRate) {
    ResamplerPlan plan{};
    plan.upFactor = targetRate;
    plan.downFactor = sourceRate;
    reduceRatio(plan.upFactor, plan.downFactor);
    plan.cutoff = lowpassCutoff(plan.upFactor, plan.downFactor);
    plan.halfFilterTaps = halfFilterLength(plan.cutoff);
    plan.phaseLength = polyphaseLength(plan.halfFilterTaps, plan.upFactor);
    // The lead-in of G zeros and the starting phase put the first output on frame 0.
    plan.leadIn = ceilOfFloatQuotient(static_cast<float>(plan.halfFilterTaps - plan.upFactor),
                                      static_cast<float>(plan.upFactor));
    plan.startPhase = plan.upFactor * (plan.leadIn + 1) - plan.halfFilterTaps;
    plan.outputBlockSize =
        ((static_cast<uint32_t>(plan.upFactor) << 16) / static_cast<uint32_t>(plan.downFactor)) + 1;
    return plan;
}

StreamResult resampleStream(std::FILE* input, std::FILE* output, int channels, int targetRate,
                            int sourceRate, int channelMode) {
    const ResamplerPlan plan = planResampling(targetRate, sourceRate);
    const int up = plan.upFactor;
    const int down = plan.downFactor;
    const float cutoff = plan.cutoff;
    const int m = plan.halfFilterTaps;
    const int u = plan.phaseLength;

    auto halfFilter = allocate<float>(static_cast<std::size_t>(m));
    auto bank = allocate<float>(static_cast<std::size_t>(u) * static_cast<std::size_t>(up));
    if (!halfFilter || !bank) return StreamResult::outOfMemory;
    designLowpass(halfFilter.get(), cutoff, m, static_cast<float>(up));
    buildPolyphaseBank(halfFilter.get(), bank.get(), m, up);

    const int workSize = kInputBlockItems / channels;
    auto inputBlock = allocate<int16_t>(kInputBlockItems);
    auto outputBlock = allocate<int16_t>(plan.outputBlockSize);
    auto work = allocate<float>(static_cast<std::size_t>(workSize));
    // The vectorised kernel's scratch memory, made once for the whole conversion.
    const PolyphaseWorkspacePtr kernelSpace = createPolyphaseWorkspace(u, up, down);
    if (!inputBlock || !outputBlock || !work || !kernelSpace) return StreamResult::outOfMemory;

    const int leadIn = plan.leadIn;
    int phase = plan.startPhase;
    std::memset(work.get(), 0, sizeof(float) * static_cast<std::size_t>(workSize));
    uint64_t totalSamples = 0;

    auto writeSamples = [&](int count) {
        totalSamples += static_cast<uint64_t>(count);
        if (totalSamples > kMaxOutputSamples) return StreamResult::tooLarge;
        if (std::fwrite(outputBlock.get(), 2, static_cast<std::size_t>(count), output) !=
            static_cast<std::size_t>(count)) {
            return StreamResult::writeFailed;
        }
        return StreamResult::ok;
    };
    auto readFrames = [&](int overlap) {
        const std::size_t items = std::fread(inputBlock.get(), 2,
                                             static_cast<std::size_t>(kInputBlockItems - overlap * channels), input);
        return channels == 1 ? static_cast<int>(items) : static_cast<int>(items / 2);
    };

    int frames = readFrames(leadIn);
    int offset = leadIn;
    const bool blocksRan = offset + frames > u;
    if (blocksRan) {
        for (;;) {
            convertFrames(inputBlock.get(), frames, channels, channelMode, work.get() + offset);
            const int produced = polyphaseFilterBlockFast(work.get(), outputBlock.get(), offset + frames, &phase,
                                                          bank.get(), u, up, down, kernelSpace.get());
            const StreamResult written = writeSamples(produced);
            if (written != StreamResult::ok) return written;
            // The last u samples are the overlap the next block starts on.
            std::memmove(work.get(), work.get() + offset + frames - u, sizeof(float) * static_cast<std::size_t>(u));
            frames = readFrames(u);
            offset = u;
            if (frames <= 0) break;
        }
    }
    if (std::ferror(input)) return StreamResult::readFailed;

    // The flush writes the output instants still owed after the last block.
    unsigned flushCount = 0;
    if (blocksRan) {
        const int32_t owed = up * (u + 1) - phase - m;
        flushCount = static_cast<unsigned>(
            std::ceil(static_cast<double>(static_cast<float>(owed) / static_cast<float>(down))));
    } else if (frames > 0) {
        const uint32_t owed = static_cast<uint32_t>(frames) * static_cast<uint32_t>(up);
        flushCount = static_cast<unsigned>(
            std::ceil(static_cast<double>(static_cast<float>(owed) / static_cast<float>(down))));
    }
    std::memset(work.get() + offset + frames, 0, sizeof(float) * static_cast<std::size_t>(u));
    convertFrames(inputBlock.get(), frames, channels, channelMode, work.get() + offset);
    polyphaseFilterBlockFast(work.get(), outputBlock.get(), offset + frames + u, &phase, bank.get(), u, up, down,
                             kernelSpace.get());
    const StreamResult flushed = writeSamples(static_cast<int>(flushCount));
    if (flushed != StreamResult::ok) return flushed;

    WavInfo info{};
    info.dataSize = static_cast<uint32_t>(2 * totalSamples);
    info.riffSize = info.dataSize + 36;
    info.fmtSize = 16;
    info.sampleRate = static_cast<uint32_t>(targetRate);
    info.channels = 1;
    info.audioFormat = 1;
    info.bitsPerSample = 16;
    WavHeader header;
    buildWavHeader(header, info);
    if (std::fseek(output, 0, SEEK_SET) != 0 || std::fwrite(&header, sizeof header, 1, output) != 1) {
        return StreamResult::writeFailed;
    }
    return StreamResult::ok;
}
