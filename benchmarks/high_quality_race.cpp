// The high-quality filter against libsoxr's HQ recipe, side by side in one
// process on the same input, for the five common rate pairs: 120 s of mono
// noise at the source rate, fed in blocks of 32768 frames, 16-bit in and out
// (the filter's outputs rounded to nearest, libsoxr's its own way) and float
// in and out. Each figure is the least thread CPU time of several rounds that
// alternate between the two, so that other work on a shared machine weighs
// as little as it can. Benchmarks only: the libraries never link libsoxr.
//   build/benchmarks/high_quality_race [ROUNDS]
#include <soxr.h>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "resampler/high_quality_resampler.h"

namespace {

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

constexpr std::size_t kBlock = 32768;

template <typename Sample>
struct Output {
    std::vector<Sample> samples = std::vector<Sample>(std::size_t{1} << 22);
    std::size_t count = 0;
};

template <typename Sample>
double plinthRun(int source, int target, const std::vector<Sample>& input, Output<Sample>& out) {
    const double start = cpuSeconds();
    plinth::HighQualityResampler resampler;
    plinth::startHighQualityResampler(resampler, target, source, 1);
    const plinth::FloatSampleSink sink{[](void* context, const float* samples, std::size_t count) {
                                           auto& to = *static_cast<Output<Sample>*>(context);
                                           if constexpr (sizeof(Sample) == 2) {
                                               plinth::highQualitySamplesToInt16Dispatched(samples, to.samples.data(), count);
                                           } else {
                                               std::copy(samples, samples + count, to.samples.data());
                                           }
                                           to.count += count;
                                           return true;
                                       },
                                       &out};
    for (std::size_t at = 0; at < input.size(); at += kBlock) {
        plinth::feedHighQualityResampler(resampler, input.data() + at, std::min(kBlock, input.size() - at), sink);
    }
    plinth::finishHighQualityResampler(resampler, sink);
    return cpuSeconds() - start;
}

template <typename Sample>
double soxrRun(int source, int target, const std::vector<Sample>& input, Output<Sample>& out) {
    const double start = cpuSeconds();
    const soxr_datatype_t type = sizeof(Sample) == 2 ? SOXR_INT16_I : SOXR_FLOAT32_I;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(type, type);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_t soxr = soxr_create(source, target, 1, &error, &io, &quality, nullptr);
    for (std::size_t at = 0; at < input.size();) {
        std::size_t used = 0, produced = 0;
        soxr_process(soxr, input.data() + at, std::min(kBlock, input.size() - at), &used, out.samples.data(),
                     out.samples.size(), &produced);
        at += used;
        out.count += produced;
    }
    for (std::size_t produced = 1; produced > 0;) {
        soxr_process(soxr, nullptr, 0, nullptr, out.samples.data(), out.samples.size(), &produced);
        out.count += produced;
    }
    soxr_delete(soxr);
    return cpuSeconds() - start;
}

template <typename Sample>
void race(int source, int target, const std::vector<Sample>& input, int rounds, double& plinth, double& soxr) {
    plinth = soxr = 1e9;
    for (int round = 0; round < rounds; ++round) {
        Output<Sample> a, b;
        plinth = std::min(plinth, plinthRun(source, target, input, a));
        soxr = std::min(soxr, soxrRun(source, target, input, b));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int pairs[][2] = {{44100, 48000}, {44100, 16000}, {44100, 8000}, {48000, 44100}, {8000, 16000}};
    plinth::HighQualityResampler probe;
    plinth::startHighQualityResampler(probe, 48000, 44100, 1);
    std::printf("CPU ms for 120 s of mono, least of %d rounds; kernel %s\n", rounds,
                plinth::targetName(plinth::highQualityResamplerTarget(probe)));
    std::printf("%-15s %10s %10s %6s   %10s %10s %6s\n", "pair", "high-16", "soxrHQ-16", "ratio", "high-f32",
                "soxrHQ-f32", "ratio");
    for (const auto& pair : pairs) {
        const std::size_t n = static_cast<std::size_t>(pair[0]) * 120;
        std::vector<int16_t> items(n);
        std::vector<float> floats(n);
        uint32_t state = 1;
        for (std::size_t i = 0; i < n; ++i) {
            state = state * 1664525u + 1013904223u;
            items[i] = static_cast<int16_t>(static_cast<int32_t>(state) >> 18);
            floats[i] = static_cast<float>(items[i]) / 32768.0f;
        }
        double p16, s16, pf, sf;
        race(pair[0], pair[1], items, rounds, p16, s16);
        race(pair[0], pair[1], floats, rounds, pf, sf);
        std::printf("%5d -> %-6d %10.1f %10.1f %6.2f   %10.1f %10.1f %6.2f\n", pair[0], pair[1], p16 * 1e3, s16 * 1e3,
                    p16 / s16, pf * 1e3, sf * 1e3, pf / sf);
        std::fflush(stdout);
    }
    return 0;
}
