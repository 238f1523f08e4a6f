// Module identification and loading: recognises the 31-sample layout by its
// tag and the old 15-sample layout by its printable text, checks the song
// against the image's size, and readies the player with its first line read.

#include "tracker/mod_player.h"

namespace plinth {

namespace {

// Channels alternate left, right, right, left in every group of four.
constexpr uint8_t kLeftPan = 96;
constexpr uint8_t kRightPan = 160;
constexpr uint32_t kLfoRandomSeed = 0x0BADC0DEu;

bool printableOrZero(uint8_t byte) { return byte == 0 || (byte >= 32 && byte <= 126); }

bool passesOldLayoutTest(const uint8_t* image) {
    for (int i = 0; i < kTitleBytes; ++i) {
        if (!printableOrZero(image[i])) return false;
    }
    for (int n = 1; n <= kOldLayout.sampleCount; ++n) {
        const uint8_t* name = sampleHeader(image, n);
        for (int i = 0; i < kSampleNameBytes; ++i) {
            if (!printableOrZero(name[i])) return false;
        }
    }
    return true;
}

void takeLayout(ModPlayer& player, const uint8_t* image, const ModLayout& layout, int channels) {
    player.channelCount = static_cast<uint8_t>(channels);
    player.songLength = image[layout.songLengthOffset];
    player.restartPosition = image[layout.restartPositionOffset];
    player.orderTable = image + layout.orderListOffset;
    player.patternData = image + layout.patternsOffset;
    player.sampleCount = static_cast<uint8_t>(layout.sampleCount);
}

// The order list names the patterns in the file up to its first entry that is
// no pattern number, played or not.
uint8_t countPatterns(const uint8_t* orderTable) {
    int largest = 0;
    for (int i = 0; i < kOrderListLength && orderTable[i] < kPatternNumberLimit; ++i) {
        largest = modMax(largest, orderTable[i]);
    }
    return static_cast<uint8_t>(largest + 1);
}

// Sample data follows the patterns, sample 1's first; a file that ends early
// cuts the lengths instead of failing.
void fillSampleTable(ModPlayer& player, const uint8_t* image, int32_t patternsEnd, int32_t size) {
    const int8_t* next = reinterpret_cast<const int8_t*>(image + patternsEnd);
    int32_t left = size - patternsEnd;
    for (int j = 0; j < player.sampleCount; ++j) {
        int32_t length = kBytesPerWord * readWord(sampleHeader(image, j + 1) + kSampleLengthField);
        if (length <= kSilentWords * kBytesPerWord) length = 0;
        length = modMin(length, left);
        player.samples[j].data = next;
        player.samples[j].length = static_cast<uint32_t>(length);
        next += length;
        left -= length;
    }
}

}  // namespace

bool modIdentify(ModPlayer& player, const uint8_t* image, int32_t size) {
    if (image == nullptr) return false;
    if (size >= kTaggedLayout.patternsOffset) {
        const int channels = tagChannels(image + kTaggedLayout.tagOffset);
        if (channels != 0) {
            takeLayout(player, image, kTaggedLayout, channels);
            return true;
        }
    }
    if (size < kOldLayout.patternsOffset || !passesOldLayoutTest(image)) return false;
    takeLayout(player, image, kOldLayout, kOldLayoutChannels);
    return true;
}

bool modInit(ModPlayer& player, const uint8_t* image, int32_t size, int32_t sampleRate) {
    if (image == nullptr || sampleRate <= 0 || size <= 0) return false;
    modZero(&player, static_cast<int32_t>(sizeof(ModPlayer)));
    player.source = image;
    player.sourceSize = size;
    if (!modIdentify(player, image, size)) return false;
    if (player.channelCount > kMaxModuleChannels || player.songLength == 0 || player.songLength > kOrderListLength) {
        return false;
    }
    if (player.restartPosition >= player.songLength) player.restartPosition = 0;

    player.patternCount = countPatterns(player.orderTable);

    const int headerBytes = static_cast<int>(player.patternData - image);
    const int patternBytes = player.channelCount * kPatternBytesPerChannel;
    // Every played order's pattern must lie wholly inside the image.
    for (int j = 0; j < player.songLength; ++j) {
        if (headerBytes + (player.orderTable[j] + 1) * patternBytes > size) return false;
    }
    const int patternsEnd = headerBytes + player.patternCount * patternBytes;
    if (patternsEnd > size) return false;

    fillSampleTable(player, image, patternsEnd, size);

    for (int i = 0; i < player.channelCount; ++i) {
        player.channels[i].pan = ((i + 1) & 2) != 0 ? kRightPan : kLeftPan;
    }
    player.ticksPerLine = kStartingSpeed;
    player.sampleRate = sampleRate;
    player.samplesPerTick = startingSamplesPerTick(sampleRate);
    player.lfoRandom = kLfoRandomSeed;
    player.line = -1;
    // The first tick ends the line before the song, so it reads line 0.
    player.tick = kStartingSpeed - 1;
    processTick(player);
    return true;
}

}  // namespace plinth
