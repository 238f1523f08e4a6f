#pragma once
// Composes module images for the tests: a 31-sample layout with a tag, or the
// old 15-sample layout, with cells, sample headers and sample data set by hand.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mod_player.h"

class ModuleBuilder {
public:
    // A tagged module with `patterns` empty patterns, song length 1, all
    // orders 0. With oldLayout the image has 15 samples, 4 channels, no tag.
    explicit ModuleBuilder(int channels = 4, int patterns = 1, const char* tag = "M.K.", bool oldLayout = false)
        : channels_(channels), oldLayout_(oldLayout) {
        header_ = oldLayout ? 600 : 1084;
        bytes_.assign(static_cast<size_t>(header_ + patterns * channels * 256), 0);
        if (!oldLayout) std::memcpy(&bytes_[1080], tag, 4);
        song(1, 0);
    }

    ModuleBuilder& song(int length, int restart = 0) {
        bytes_[songOffset()] = static_cast<uint8_t>(length);
        bytes_[songOffset() + 1] = static_cast<uint8_t>(restart);
        return *this;
    }
    ModuleBuilder& order(int index, int pattern) {
        bytes_[songOffset() + 2 + index] = static_cast<uint8_t>(pattern);
        return *this;
    }
    // Lengths and loop points in 16-bit words, as stored.
    ModuleBuilder& sample(int number, int lengthWords, int finetuneByte = 0, int volume = 64, int loopStartWords = 0,
                          int loopLengthWords = 0) {
        uint8_t* h = &bytes_[20 + (number - 1) * 30];
        putWord(h + 22, lengthWords);
        h[24] = static_cast<uint8_t>(finetuneByte);
        h[25] = static_cast<uint8_t>(volume);
        putWord(h + 26, loopStartWords);
        putWord(h + 28, loopLengthWords);
        return *this;
    }
    // effect is the cell's digit 0..15; for Ex give digit 14 and param 0xXY.
    ModuleBuilder& cell(int pattern, int line, int channel, int sampleNumber, int period, int effect, int param) {
        uint8_t* c = &bytes_[static_cast<size_t>(header_ + ((pattern * 64 + line) * channels_ + channel) * 4)];
        c[0] = static_cast<uint8_t>((sampleNumber & 0xF0) | ((period >> 8) & 0x0F));
        c[1] = static_cast<uint8_t>(period & 0xFF);
        c[2] = static_cast<uint8_t>(((sampleNumber & 0x0F) << 4) | (effect & 0x0F));
        c[3] = static_cast<uint8_t>(param);
        return *this;
    }
    ModuleBuilder& data(const std::vector<int8_t>& sampleBytes) {
        for (int8_t b : sampleBytes) bytes_.push_back(static_cast<uint8_t>(b));
        return *this;
    }
    ModuleBuilder& fill(size_t count, int8_t value) {
        bytes_.insert(bytes_.end(), count, static_cast<uint8_t>(value));
        return *this;
    }
    uint8_t& at(size_t offset) { return bytes_[offset]; }
    const std::vector<uint8_t>& image() const { return bytes_; }

private:
    int songOffset() const { return oldLayout_ ? 470 : 950; }
    static void putWord(uint8_t* p, int value) {
        p[0] = static_cast<uint8_t>(value >> 8);
        p[1] = static_cast<uint8_t>(value & 0xFF);
    }

    int channels_;
    bool oldLayout_;
    int header_;
    std::vector<uint8_t> bytes_;
};

// modInit over a builder's image at 8000 frames per second.
inline bool initPlayer(ModPlayer& player, const std::vector<uint8_t>& image, int rate = 8000) {
    return modInit(&player, image.data(), static_cast<int32_t>(image.size()), rate) == 1;
}
