#pragma once
// Composes module images for the tests: the tagged 31-sample layout or the old
// 15-sample one, with cells, sample headers and sample data set by hand.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tracker/mod_player.h"

namespace testsupport {

constexpr int kExtended = 14;  // the cell digit of the Ex effects

class ModuleBuilder {
public:
    explicit ModuleBuilder(int channels = 4, int patterns = 1, const char* tag = "M.K.", bool oldLayout = false)
        : channels_(channels), header_(oldLayout ? 600 : 1084), song_(oldLayout ? 470 : 950) {
        bytes_.assign(static_cast<size_t>(header_ + patterns * channels * 256), 0);
        if (!oldLayout) std::memcpy(&bytes_[1080], tag, 4);
        song(1);
    }
    ModuleBuilder& song(int length, int restart = 0) {
        bytes_[song_] = static_cast<uint8_t>(length);
        bytes_[song_ + 1] = static_cast<uint8_t>(restart);
        return *this;
    }
    ModuleBuilder& order(int index, int pattern) {
        bytes_[song_ + 2 + index] = static_cast<uint8_t>(pattern);
        return *this;
    }
    // Lengths and loop points in 16-bit words, as stored.
    ModuleBuilder& sample(int n, int words, int finetune = 0, int volume = 64, int loopStart = 0, int loopWords = 0) {
        uint8_t* h = &bytes_[static_cast<size_t>(20 + (n - 1) * 30)];
        const auto put = [h](int at, int value) {
            h[at] = static_cast<uint8_t>(value >> 8);
            h[at + 1] = static_cast<uint8_t>(value);
        };
        put(22, words);
        put(26, loopStart);
        put(28, loopWords);
        h[24] = static_cast<uint8_t>(finetune);
        h[25] = static_cast<uint8_t>(volume);
        return *this;
    }
    // effect is the cell's digit; for Ex give kExtended and the parameter 0xXY.
    ModuleBuilder& cell(int pattern, int line, int channel, int sampleNumber, int period, int effect, int param) {
        uint8_t* c = &bytes_[static_cast<size_t>(header_ + ((pattern * 64 + line) * channels_ + channel) * 4)];
        c[0] = static_cast<uint8_t>((sampleNumber & 0xF0) | ((period >> 8) & 0x0F));
        c[1] = static_cast<uint8_t>(period);
        c[2] = static_cast<uint8_t>(((sampleNumber & 0x0F) << 4) | (effect & 0x0F));
        c[3] = static_cast<uint8_t>(param);
        return *this;
    }
    ModuleBuilder& effect(int line, int channel, int digit, int param) { return cell(0, line, channel, 0, 0, digit, param); }
    ModuleBuilder& data(const std::vector<int8_t>& bytes) {
        for (int8_t b : bytes) bytes_.push_back(static_cast<uint8_t>(b));
        return *this;
    }
    uint8_t& at(size_t offset) { return bytes_[offset]; }
    const std::vector<uint8_t>& image() const { return bytes_; }

private:
    int channels_;
    int header_;
    int song_;
    std::vector<uint8_t> bytes_;
};

// modInit over a builder's image; the builder must outlive the player's use.
inline bool initPlayer(plinth::ModPlayer& player, const std::vector<uint8_t>& image, int rate = 8000) {
    return plinth::modInit(&player, image.data(), static_cast<int32_t>(image.size()), rate) == 1;
}

// A small deterministic generator for composing varied modules.
struct TestRandom {
    uint32_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
    float unit() { return static_cast<float>(next() >> 8) * 0x1p-24f; }
    template <class T, size_t N>
    T pick(const T (&choices)[N]) {
        return choices[below(static_cast<int>(N))];
    }
};

inline std::string channelTag(int channels) {
    if (channels < 10) return std::to_string(channels) + "CHN";
    return std::to_string(channels) + "CH";
}

// Samples of every shape: empty, one word, tiny and long loops, loops that
// pass the sample's end or start beyond it, no loop; the image ends inside or
// right after the last sample's data, so the bytes after it are outside.
inline void addRandomSamples(ModuleBuilder& module, TestRandom& random) {
    const int lengths[] = {0, 1, 2, 3, 16, 17, 64, 500, 1500};
    std::vector<int8_t> data;
    for (int n = 1; n <= 31; ++n) {
        const int words = random.pick(lengths);
        int loopStart = 0;
        int loopWords = 0;
        switch (random.below(6)) {
            case 0: loopWords = 1; break;                                  // no loop
            case 1: loopStart = words / 2; loopWords = 2; break;           // tiny
            case 2: loopWords = words; break;                              // whole sample
            case 3: loopStart = words / 3; loopWords = words; break;       // past the end
            case 4: loopStart = words + 5; loopWords = 3; break;           // beyond the end
            default: break;                                                // none
        }
        module.sample(n, words, random.below(16), random.below(65), loopStart, loopWords);
        for (int i = 0; i < 2 * words; ++i) data.push_back(static_cast<int8_t>(random.next() >> 24));
    }
    // Often cut the image short: the last samples then end at its end.
    if (random.below(2) == 0 && !data.empty()) {
        data.resize(data.size() - static_cast<size_t>(random.below(200)) % data.size());
    }
    module.data(data);
}

// Three orders over two patterns; two of three cells hold a random effect and
// parameter, most with a sample number and a note from far too low to far too
// high. Jumps, breaks, pattern loops and delays are rare enough that the song
// mostly plays on.
inline ModuleBuilder composeRandomModule(TestRandom& random, int channels) {
    const int patterns = 2;
    ModuleBuilder module(channels, patterns, channelTag(channels).c_str());
    module.song(3).order(0, 0).order(1, 1).order(2, 0);
    const int periods[] = {856, 428, 214, 113, 1712, 57, 28, 1};
    for (int pattern = 0; pattern < patterns; ++pattern) {
        for (int line = 0; line < 64; ++line) {
            for (int c = 0; c < channels; ++c) {
                if (random.below(3) == 0) continue;
                const int sample = random.below(4) == 0 ? 0 : 1 + random.below(31);
                const int period = random.below(3) == 0 ? 0 : random.pick(periods) + random.below(8);
                int effect = random.below(16);
                int param = random.below(256);
                if ((effect == 11 || effect == 13) && (c != 0 || random.below(16) != 0)) effect = 0;
                if (effect == 15 && param < 32) param = 3 + param % 4;
                if (effect == kExtended && (param >> 4) == 0xE) param &= 0xF1;  // short pattern delays
                if (effect == kExtended && (param >> 4) == 0x6 && (c != 0 || random.below(16) != 0)) param &= 0x0F;
                module.cell(pattern, line, c, sample, period, effect, param);
            }
        }
    }
    addRandomSamples(module, random);
    return module;
}

}  // namespace testsupport
