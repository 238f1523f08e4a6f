// Output frames rendered per second for a 32-channel module composed here:
// every channel plays a looped sample, with arpeggio, vibrato, portamento and
// volume slides spread over the channels.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "mod_player.h"

using namespace plinth;

namespace {

constexpr int kChannels = 32;

std::vector<uint8_t> composeModule() {
    const int patternBytes = kChannels * 256;
    std::vector<uint8_t> image(1084 + patternBytes, 0);
    std::memcpy(&image[1080], "32CH", 4);
    image[950] = 1;  // one order, pattern 0

    // Sample 1: 256 bytes of a looped saw wave.
    uint8_t* header = &image[20];
    header[22] = 0;
    header[23] = 128;  // 128 words
    header[25] = 48;
    header[28] = 0;
    header[29] = 128;  // loop the whole sample
    static const int periods[12] = {428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226};
    for (int line = 0; line < 64; ++line) {
        for (int c = 0; c < kChannels; ++c) {
            uint8_t* cell = &image[1084 + (line * kChannels + c) * 4];
            int effect = 0;
            int param = 0;
            switch (c % 4) {
                case 0: effect = 0; param = 0x37; break;  // arpeggio
                case 1: effect = 4; param = 0x46; break;  // vibrato
                case 2: effect = 3; param = 0x04; break;  // tone portamento
                default: effect = 0xA; param = 0x01; break;  // volume slide
            }
            if (line % 8 == 0) {
                const int period = periods[(line / 8 + c) % 12];
                cell[0] = static_cast<uint8_t>(period >> 8);
                cell[1] = static_cast<uint8_t>(period & 0xFF);
                cell[2] = static_cast<uint8_t>(0x10 | effect);
            } else {
                cell[2] = static_cast<uint8_t>(effect);
            }
            cell[3] = static_cast<uint8_t>(param);
        }
    }
    for (int i = 0; i < 256; ++i) image.push_back(static_cast<uint8_t>(static_cast<int8_t>(i - 128)));
    return image;
}

void renderThirtyTwoChannels(benchmark::State& state) {
    const std::vector<uint8_t> image = composeModule();
    ModPlayer player;
    if (modInit(&player, image.data(), static_cast<int32_t>(image.size()), 8000) == 0) {
        state.SkipWithError("module not accepted");
        return;
    }
    float block[512 * 2];
    int64_t frames = 0;
    for (auto _ : state) {
        const uint32_t bytes = modRender(&player, block, sizeof block);
        benchmark::DoNotOptimize(block);
        frames += bytes / 8;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(renderThirtyTwoChannels);

}  // namespace

BENCHMARK_MAIN();
