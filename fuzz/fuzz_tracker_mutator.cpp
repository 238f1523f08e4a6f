// The module fuzzer's mutator. It keeps the layout of a 31-sample module
// where it finds one and changes what the player acts on (pattern cells,
// effects, sample headers, the order list), so that the fuzzer reaches the
// effects rather than the loader's refusals; now and then it leaves the bytes
// to libFuzzer's own mutations.
#include <cstddef>
#include <cstdint>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

constexpr size_t kPatternsStart = 1084;
constexpr size_t kOrderList = 952;

uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

bool looksTagged(const uint8_t* data, size_t size) {
    if (size < kPatternsStart + 256) return false;
    for (int i = 0; i < 4; ++i) {
        if (data[1080 + i] < 0x20 || data[1080 + i] > 0x7E) return false;
    }
    return true;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
    uint32_t state = seed;
    if (!looksTagged(data, size) || nextRandom(state) % 4 == 0) return LLVMFuzzerMutate(data, size, maxSize);
    const int edits = 1 + static_cast<int>(nextRandom(state) % 4);
    for (int e = 0; e < edits; ++e) {
        switch (nextRandom(state) % 4) {
            case 0: {  // a pattern cell: sample, period, effect and parameter
                const size_t cells = (size - kPatternsStart) / 4;
                uint8_t* cell = data + kPatternsStart + 4 * (nextRandom(state) % cells);
                const uint32_t period = nextRandom(state) % 0x1000;
                const uint32_t sample = nextRandom(state) % 32;
                cell[0] = static_cast<uint8_t>((sample & 0xF0) | (period >> 8));
                cell[1] = static_cast<uint8_t>(period);
                cell[2] = static_cast<uint8_t>(((sample & 0x0F) << 4) | (nextRandom(state) % 16));
                cell[3] = static_cast<uint8_t>(nextRandom(state));
                break;
            }
            case 1: {  // just the effect, extended effects as often as the rest
                const size_t cells = (size - kPatternsStart) / 4;
                uint8_t* cell = data + kPatternsStart + 4 * (nextRandom(state) % cells);
                const bool extended = nextRandom(state) % 2 == 0;
                cell[2] = static_cast<uint8_t>((cell[2] & 0xF0) | (extended ? 0xE : nextRandom(state) % 16));
                cell[3] = static_cast<uint8_t>(nextRandom(state));
                break;
            }
            case 2: {  // a sample header field: length, finetune, volume, loop
                uint8_t* header = data + 20 + 30 * (nextRandom(state) % 31);
                const size_t field = 22 + nextRandom(state) % 8;
                header[field] = static_cast<uint8_t>(nextRandom(state));
                break;
            }
            default: {  // the song length, restart position and order list
                const size_t at = 950 + nextRandom(state) % 130;
                data[at] = static_cast<uint8_t>(at < kOrderList ? 1 + nextRandom(state) % 128 : nextRandom(state) % 4);
                break;
            }
        }
    }
    return size;
}
