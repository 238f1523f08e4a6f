// Time to resample ten minutes of 44.1 kHz stereo, file to file.
//   build/benchmarks/resampler_benchmark --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "resample_file.h"

namespace {

// Ten minutes of a two-tone test signal, written once per process.
const std::string& tenMinuteInput() {
    static const std::string path = [] {
        char pattern[] = "/tmp/plinth-bench-XXXXXX";
        const int fd = mkstemp(pattern);
        close(fd);
        const uint32_t rate = 44100;
        const uint32_t frames = rate * 600;
        std::FILE* file = std::fopen(pattern, "wb");
        const uint32_t header[11] = {0x46464952u, 36 + frames * 4, 0x45564157u, 0x20746d66u, 16, 1u | (2u << 16),
                                     rate,        rate * 4,        4u | (16u << 16), 0x61746164u, frames * 4};
        std::fwrite(header, sizeof header, 1, file);
        std::vector<int16_t> block(2 * 4410);
        for (uint32_t start = 0; start < frames; start += 4410) {
            for (uint32_t i = 0; i < 4410; ++i) {
                const uint32_t t = start + i;
                block[2 * i] = static_cast<int16_t>((t * 97 % 20000) - 10000);
                block[2 * i + 1] = static_cast<int16_t>((t * 31 % 16000) - 8000);
            }
            std::fwrite(block.data(), sizeof(int16_t), block.size(), file);
        }
        std::fclose(file);
        return std::string(pattern);
    }();
    return path;
}

void resampleTenMinutes(benchmark::State& state) {
    const std::string& input = tenMinuteInput();
    const std::string output = input + ".out.wav";
    const int targetRate = static_cast<int>(state.range(0));
    for (auto _ : state) {
        plinth::ResampleJob job;
        if (plinth::openResampleJob(input, targetRate, 2, job).error != plinth::ResampleError::none ||
            plinth::runResampleJob(job, output).error != plinth::ResampleError::none) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    std::remove(output.c_str());
}
BENCHMARK(resampleTenMinutes)->Arg(16000)->Arg(48000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(tenMinuteInput().c_str());
    return 0;
}
