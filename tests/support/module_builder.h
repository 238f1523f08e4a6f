#pragma once
// Composes module images for the tests: the tagged 31-sample layout or the old
// 15-sample one, with cells, sample headers and sample data set by hand.

#include <cstdint>
#include <cstring>
#include <vector>

#include "mod_player.h"

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

}  // namespace testsupport
