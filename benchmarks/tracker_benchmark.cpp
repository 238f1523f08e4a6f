// Output frames rendered per second for the benchmark module with 4, 8 and 32
// channels at 8000 and 44100 frames per second, with the vector mixer on the
// machine's best instruction set and with the plain reference.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "benchmarks/benchmark_module.h"
#include "tracker/mod_player.h"

using namespace plinth;

namespace {

void render(benchmark::State& state, ModMixer mixer) {
    const std::vector<uint8_t> image = composeBenchmarkModule(static_cast<int>(state.range(0)));
    ModPlayer player;
    if (!modInit(player, image.data(), static_cast<int32_t>(image.size()), static_cast<int32_t>(state.range(1)))) {
        state.SkipWithError("module not accepted");
        return;
    }
    float block[512 * 2];
    int64_t frames = 0;
    for (auto _ : state) {
        const uint32_t bytes = modRenderWith(player, block, sizeof block, mixer);
        benchmark::DoNotOptimize(block);
        frames += bytes / 8;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void dispatched(benchmark::State& state) { render(state, ModMixer::Vector); }
void scalar(benchmark::State& state) { render(state, ModMixer::Reference); }

BENCHMARK(dispatched)->ArgsProduct({{4, 8, 32}, {8000, 44100}})->ArgNames({"channels", "rate"});
BENCHMARK(scalar)->ArgsProduct({{4, 8, 32}, {8000, 44100}})->ArgNames({"channels", "rate"});

}  // namespace

BENCHMARK_MAIN();
