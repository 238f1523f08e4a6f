// Writes the high-quality filter's coefficients and its outputs for a fixed
// signal, for a list of rate pairs, to one file: the bytes the ARM64 check
// compares between machines (scripts/test-aarch64).
//   high_quality_run OUT
// The signal is made with integer arithmetic only, so that it is the same
// everywhere before the filter sees it.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "resampler/high_quality_resampler.h"

namespace {

const int kPairs[][2] = {{48000, 44100}, {16000, 44100}, {8000, 44100}, {44100, 48000}, {16000, 8000},
                         {96000, 8000},  {8000, 96000},  {22050, 44100}, {11025, 8000}, {8191, 8192},
                         {7, 11},        {44100, 44100}};

// Stereo: a 16-bit noise channel (clipping both ways), and a float one.
std::vector<int16_t> noise16(std::size_t frames) {
    std::vector<int16_t> items(2 * frames);
    uint32_t state = 2024;
    for (int16_t& item : items) {
        state = state * 1664525u + 1013904223u;
        item = static_cast<int16_t>(state >> 16);
    }
    return items;
}

std::vector<float> noiseFloat(std::size_t frames) {
    std::vector<float> items(2 * frames);
    uint32_t state = 7;
    for (float& item : items) {
        state = state * 1664525u + 1013904223u;
        // Within +-1.5: beyond full scale too. Exact in float: a 24-bit integer times a power of two.
        item = static_cast<float>(static_cast<int32_t>(state >> 8) - (1 << 23)) * (1.5f / 8388608.0f);
    }
    return items;
}

// A pair's output, whole: the block a sink call receives differs between kernels.
bool collect(void* context, const float* samples, std::size_t count) {
    auto& out = *static_cast<std::vector<float>*>(context);
    out.insert(out.end(), samples, samples + count);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: high_quality_run OUT\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) return 1;
    const std::size_t frames = 100003;
    const std::vector<int16_t> items16 = noise16(frames);
    const std::vector<float> itemsFloat = noiseFloat(frames);
    for (const auto& pair : kPairs) {
        std::vector<float> out;
        const plinth::FloatSampleSink sink{collect, &out};
        plinth::HighQualityResampler resampler;
        if (plinth::startHighQualityResampler(resampler, pair[0], pair[1], 2) != plinth::StreamError::none) return 1;
        for (const plinth::HighQualityStage& stage : resampler.filter.stages) {
            std::fwrite(stage.bank.data(), sizeof(float), stage.bank.size(), file);
        }
        // Odd block sizes, 16-bit frames then float frames.
        std::size_t at = 0;
        for (std::size_t block = 1; at < frames / 2; block = block * 3 + 7) {
            const std::size_t n = std::min(block, frames / 2 - at);
            plinth::feedHighQualityResampler(resampler, items16.data() + 2 * at, n, sink);
            at += n;
        }
        plinth::feedHighQualityResampler(resampler, itemsFloat.data() + 2 * at, frames - at, sink);
        if (plinth::finishHighQualityResampler(resampler, sink) != plinth::StreamError::none) return 1;
        // The filter's own sums, then the same rounded to 16 bits.
        std::vector<int16_t> rounded(out.size());
        plinth::highQualitySamplesToInt16Dispatched(out.data(), rounded.data(), out.size());
        std::fwrite(out.data(), sizeof(float), out.size(), file);
        std::fwrite(rounded.data(), sizeof(int16_t), rounded.size(), file);
        std::fprintf(stderr, "%d -> %d: %llu frames, kernel %s\n", pair[1], pair[0],
                     static_cast<unsigned long long>(resampler.framesOut),
                     plinth::targetName(plinth::highQualityResamplerTarget(resampler)));
    }
    return std::ferror(file) == 0 && std::fclose(file) == 0 ? 0 : 1;
}
