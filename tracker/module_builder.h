#pragma once
// Composes module files, in either layout, through the names of the format
// header: the one writer of module bytes, used by the examples, the
// benchmarks, the tests and the program that composes the Python tests'
// modules. The libraries never use it.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tracker/mod_format.h"

namespace plinth {

// The first tag that names a channel count by its digits ("6CHN", "12CH").
inline std::string numberedTag(int channels) {
    for (const ModTag& entry : kModTags) {
        if (entry.channels == channels && entry.text[0] >= '0' && entry.text[0] <= '9') return entry.text;
    }
    throw std::invalid_argument("no tag names " + std::to_string(channels) + " channels");
}

class ModuleBuilder {
public:
    // The tagged layout with `patterns` empty patterns. Without a tag the
    // first one the format knows for the channel count is written.
    explicit ModuleBuilder(int channels = 4, int patterns = 1, const char* tag = nullptr)
        : ModuleBuilder(kTaggedLayout, channels, patterns) {
        const std::string text = tag != nullptr ? tag : firstTag(channels);
        if (text.size() != static_cast<size_t>(kTagBytes)) throw std::invalid_argument("a tag has four characters");
        text.copy(reinterpret_cast<char*>(bytes(kTaggedLayout.tagOffset, kTagBytes)), kTagBytes);
    }

    // The old layout: 15 samples, 4 channels, no tag.
    static ModuleBuilder oldLayout(int patterns = 1) { return ModuleBuilder(kOldLayout, kOldLayoutChannels, patterns); }

    // Text fields are cut at their size and padded with zero bytes.
    ModuleBuilder& title(const std::string& text) {
        putText(bytes(0, kTitleBytes), kTitleBytes, text);
        return *this;
    }
    ModuleBuilder& song(int length, int restart = 0) {
        *bytes(static_cast<size_t>(layout_.songLengthOffset), 1) = static_cast<uint8_t>(length);
        *bytes(static_cast<size_t>(layout_.restartPositionOffset), 1) = static_cast<uint8_t>(restart);
        return *this;
    }
    ModuleBuilder& order(int index, int pattern) {
        checkRange(index, 0, kOrderListLength - 1, "order index");
        *bytes(static_cast<size_t>(layout_.orderListOffset + index), 1) = static_cast<uint8_t>(pattern);
        return *this;
    }
    // Sample n's header; lengths and loop points in words, as stored.
    ModuleBuilder& sample(int n, int words, int finetune = 0, int volume = kMaxVolume, int loopStart = 0,
                          int loopWords = 0) {
        uint8_t* header = sampleFields(n);
        writeWord(header + kSampleLengthField, words);
        header[kSampleFinetuneField] = static_cast<uint8_t>(finetune);
        header[kSampleVolumeField] = static_cast<uint8_t>(volume);
        writeWord(header + kSampleLoopStartField, loopStart);
        writeWord(header + kSampleLoopLengthField, loopWords);
        return *this;
    }
    ModuleBuilder& sampleName(int n, const std::string& name) {
        putText(sampleFields(n), kSampleNameBytes, name);
        return *this;
    }
    // `effect` is a cell's effect digit with its parameter byte as stored,
    // or an extended effect's ModEffect number with its own parameter y.
    ModuleBuilder& cell(int pattern, int line, int channel, int sampleNumber, int period, int effectNumber,
                        int param) {
        checkRange(line, 0, kLinesPerPattern - 1, "line");
        checkRange(channel, 0, channels_ - 1, "channel");
        ModCell encoded{sampleNumber, period, effectNumber, param};
        if (effectNumber >= kExtendedEffectBase) {
            encoded.effect = kExtendedEffectDigit;
            encoded.param = ((effectNumber - kExtendedEffectBase) << 4) | (param & 0x0F);
        }
        const int offset = layout_.patternsOffset + cellOffset(pattern, line, channel, channels_);
        encodeCell(encoded, bytes(static_cast<size_t>(offset), kCellBytes));
        return *this;
    }
    // An effect alone, in pattern 0.
    ModuleBuilder& effect(int line, int channel, int effectNumber, int param) {
        return cell(0, line, channel, 0, 0, effectNumber, param);
    }
    // Sample data: appended after the patterns, sample 1's first.
    ModuleBuilder& data(const std::vector<int8_t>& sampleBytes) {
        for (int8_t b : sampleBytes) bytes_.push_back(static_cast<uint8_t>(b));
        return *this;
    }

    // Any byte, for images the format does not foresee.
    uint8_t& at(size_t offset) { return *bytes(offset, 1); }
    const std::vector<uint8_t>& image() const { return bytes_; }

private:
    ModuleBuilder(const ModLayout& layout, int channels, int patterns) : layout_(layout), channels_(channels) {
        checkRange(channels, 1, kMaxModuleChannels, "channel count");
        checkRange(patterns, 0, kPatternNumberLimit, "pattern count");
        bytes_.assign(static_cast<size_t>(layout.patternsOffset + patterns * channels * kPatternBytesPerChannel), 0);
        song(1);
    }

    static std::string firstTag(int channels) {
        for (const ModTag& entry : kModTags) {
            if (entry.channels == channels) return entry.text;
        }
        return numberedTag(channels);
    }
    static void checkRange(int value, int lowest, int highest, const char* what) {
        if (value < lowest || value > highest) throw std::out_of_range(std::string(what) + " out of range");
    }

    uint8_t* bytes(size_t offset, size_t count) {
        if (offset + count > bytes_.size()) throw std::out_of_range("past the end of the module");
        return bytes_.data() + offset;
    }
    uint8_t* sampleFields(int n) {
        checkRange(n, 1, layout_.sampleCount, "sample number");
        return bytes(static_cast<size_t>(sampleHeaderOffset(n)), kSampleHeaderBytes);
    }
    static void putText(uint8_t* field, int size, const std::string& text) {
        for (int i = 0; i < size; ++i)
            field[i] = i < static_cast<int>(text.size()) ? static_cast<uint8_t>(text[static_cast<size_t>(i)]) : 0;
    }

    ModLayout layout_;
    int channels_;
    std::vector<uint8_t> bytes_;
};

}  // namespace plinth
