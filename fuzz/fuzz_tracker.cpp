// Fuzz entry for the module player: any byte string as a module image, loaded
// and rendered for a bounded number of frames. Every byte the player reads
// must lie inside the image, whatever the image holds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mod_player.h"

using namespace plinth;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 22)) return 0;
    // An exact-size copy, so that a read past the end is caught.
    std::vector<uint8_t> image(data, data + size);
    // The first byte picks the rate, so that short and long ticks are both
    // explored.
    const int32_t rates[4] = {8000, 44100, 1000, 123457};
    ModPlayer player;
    if (modInit(&player, image.data(), static_cast<int32_t>(size), rates[data[0] & 3]) == 0) return 0;
    float block[512 * 2] = {};
    uint32_t frames = 0;
    for (int call = 0; call < 400 && frames < 100000; ++call) {
        const uint32_t count = modRender(&player, block, sizeof block) / 8;
        for (uint32_t i = 0; i < count * 2; ++i) {
            if (block[i] != block[i]) __builtin_trap();  // the mix never produces NaN
        }
        frames += count;
    }
    return 0;
}
