// Writes the benchmark module with the given number of channels:
//   make_benchmark_module CHANNELS OUT.mod
#include <cstdio>
#include <cstdlib>

#include "benchmarks/benchmark_module.h"

int main(int argc, char** argv) {
    const int channels = argc == 3 ? std::atoi(argv[1]) : 0;
    if (channels < 1 || channels > plinth::kMaxModuleChannels) {
        std::fprintf(stderr, "usage: make_benchmark_module CHANNELS(1-%d) OUT.mod\n", plinth::kMaxModuleChannels);
        return 2;
    }
    const std::vector<uint8_t> image = composeBenchmarkModule(channels);
    std::FILE* file = std::fopen(argv[2], "wb");
    const bool ok = file != nullptr && std::fwrite(image.data(), image.size(), 1, file) == 1;
    if (file != nullptr && std::fclose(file) != 0) return 1;
    return ok ? 0 : 1;
}
