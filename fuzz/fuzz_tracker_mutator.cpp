// The module fuzzer's mutator. It keeps the layout of a 31-sample module
// where it finds one and changes what the player acts on (pattern cells,
// effects, sample headers, the order list), so that the fuzzer reaches the
// effects rather than the loader's refusals; now and then it leaves the bytes
// to libFuzzer's own mutations.
#include <cstddef>
#include <cstdint>

#include "tracker/mod_format.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

using namespace plinth;

constexpr auto kPatternsStart = static_cast<size_t>(kTaggedLayout.patternsOffset);

uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// At least one line of one channel, and a printable tag.
bool looksTagged(const uint8_t* data, size_t size) {
    if (size < kPatternsStart + kPatternBytesPerChannel) return false;
    for (int i = 0; i < kTagBytes; ++i) {
        const uint8_t byte = data[kTaggedLayout.tagOffset + i];
        if (byte < 0x20 || byte > 0x7E) return false;
    }
    return true;
}

uint8_t* randomCell(uint8_t* data, size_t size, uint32_t& state) {
    const size_t cells = (size - kPatternsStart) / kCellBytes;
    return data + kPatternsStart + kCellBytes * (nextRandom(state) % cells);
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
    uint32_t state = seed;
    if (!looksTagged(data, size) || nextRandom(state) % 4 == 0) return LLVMFuzzerMutate(data, size, maxSize);
    const int edits = 1 + static_cast<int>(nextRandom(state) % 4);
    for (int e = 0; e < edits; ++e) {
        switch (nextRandom(state) % 4) {
            case 0: {  // a pattern cell: sample, period, effect and parameter
                uint8_t* cell = randomCell(data, size, state);
                ModCell value;
                value.period = static_cast<int>(nextRandom(state) % 0x1000);
                value.sample = static_cast<int>(nextRandom(state) % (kMaxSamples + 1));
                value.effect = static_cast<int>(nextRandom(state) % 16);
                value.param = static_cast<int>(nextRandom(state) & 0xFF);
                encodeCell(value, cell);
                break;
            }
            case 1: {  // just the effect, extended effects as often as the rest
                uint8_t* cell = randomCell(data, size, state);
                ModCell value = decodeCell(cell);
                const bool extended = nextRandom(state) % 2 == 0;
                value.effect = extended ? kExtendedEffectDigit : static_cast<int>(nextRandom(state) % 16);
                value.param = static_cast<int>(nextRandom(state) & 0xFF);
                encodeCell(value, cell);
                break;
            }
            case 2: {  // a sample header field: length, finetune, volume, loop
                const int n = 1 + static_cast<int>(nextRandom(state) % kMaxSamples);
                uint8_t* header = sampleHeader(data, n);
                const int fields = kSampleHeaderBytes - kSampleNameBytes;
                header[kSampleNameBytes + static_cast<int>(nextRandom(state) % fields)] =
                    static_cast<uint8_t>(nextRandom(state));
                break;
            }
            default: {  // the song length, restart position and order list
                const int songBytes = kTaggedLayout.orderListOffset - kTaggedLayout.songLengthOffset;
                const int at = kTaggedLayout.songLengthOffset +
                               static_cast<int>(nextRandom(state) % (songBytes + kOrderListLength));
                data[at] = static_cast<uint8_t>(at < kTaggedLayout.orderListOffset
                                                    ? 1 + nextRandom(state) % kOrderListLength
                                                    : nextRandom(state) % 4);
                break;
            }
        }
    }
    return size;
}
