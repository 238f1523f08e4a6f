// Module identification and loading: recognises the 31-sample layout by its
// tag and the old 15-sample layout by its printable text, checks the song
// against the image's size, and readies the player with its first line read.

#include "tracker/mod_player.h"

namespace plinth {

namespace {

constexpr int kTagOffset = 1080;
constexpr int kTaggedPatterns = 1084;
constexpr int kOldPatterns = 600;

bool printableOrZero(uint8_t byte) { return byte == 0 || (byte >= 32 && byte <= 126); }

bool passesOldLayoutTest(const uint8_t* image) {
    for (int i = 0; i < 20; ++i) {
        if (!printableOrZero(image[i])) return false;
    }
    for (int s = 0; s < 15; ++s) {
        const uint8_t* name = sampleHeader(image, s + 1);
        for (int i = 0; i < kSampleNameBytes; ++i) {
            if (!printableOrZero(name[i])) return false;
        }
    }
    return true;
}

}  // namespace

int modIdentify(ModPlayer* player, const uint8_t* image, int32_t size) {
    if (player == nullptr || image == nullptr) return 0;
    if (size >= kTaggedPatterns) {
        const uint8_t* tag = image + kTagOffset;
        for (int e = 0; e < 40; ++e) {
            const uint8_t* entry = formatSignatureTable[e];
            if (tag[0] == entry[0] && tag[1] == entry[1] && tag[2] == entry[2] && tag[3] == entry[3]) {
                player->channelCount = entry[5];
                player->songLength = image[950];
                player->restartPosition = image[951];
                player->orderTable = image + 952;
                player->patternData = image + kTaggedPatterns;
                player->sampleCount = 31;
                return 1;
            }
        }
    }
    if (size < kOldPatterns) return 0;
    if (!passesOldLayoutTest(image)) return 0;
    player->songLength = image[470];
    player->restartPosition = image[471];
    player->orderTable = image + 472;
    player->patternData = image + kOldPatterns;
    player->sampleCount = 15;
    player->channelCount = 4;
    return 1;
}

int modInit(ModPlayer* player, const uint8_t* image, int32_t size, int32_t sampleRate) {
    if (player == nullptr || image == nullptr || sampleRate <= 0 || size <= 0) return 0;
    modZero(player, static_cast<int32_t>(sizeof(ModPlayer)));
    player->source = image;
    player->sourceSize = size;
    if (modIdentify(player, image, size) == 0) return 0;
    if (player->channelCount > 32 || player->songLength == 0 || player->songLength > 128) return 0;
    if (player->restartPosition >= player->songLength) player->restartPosition = 0;

    int largest = 0;
    for (int i = 0; i < 128 && player->orderTable[i] < 128; ++i) {
        largest = modMax(largest, player->orderTable[i]);
    }
    player->patternCount = static_cast<uint8_t>(largest + 1);

    const int headerBytes = static_cast<int>(player->patternData - image);
    const int patternBytes = player->channelCount * 256;
    // Every played order's pattern must lie wholly inside the image.
    for (int j = 0; j < player->songLength; ++j) {
        if (headerBytes + (player->orderTable[j] + 1) * patternBytes > size) return 0;
    }
    const int patternsEnd = headerBytes + player->patternCount * patternBytes;
    if (patternsEnd > size) return 0;

    // Sample data follows the patterns; a file that ends early cuts the
    // lengths instead of failing.
    const int8_t* next = reinterpret_cast<const int8_t*>(image + patternsEnd);
    int32_t left = size - patternsEnd;
    for (int j = 0; j < player->sampleCount; ++j) {
        const uint8_t* header = sampleHeader(image, j + 1);
        int32_t length = 2 * ((header[kSampleLengthField] << 8) | header[kSampleLengthField + 1]);
        if (length <= 2) length = 0;
        length = modMin(length, left);
        player->samples[j].data = next;
        player->samples[j].length = static_cast<uint32_t>(length);
        next += length;
        left -= length;
    }

    for (int i = 0; i < player->channelCount; ++i) {
        player->channels[i].pan = static_cast<uint8_t>(((i + 1) & 2) != 0 ? 160 : 96);
    }
    player->ticksPerLine = 6;
    player->sampleRate = sampleRate;
    player->samplesPerTick = static_cast<float>(sampleRate) * 0.02f;
    player->lfoRandom = 0x0BADC0DEu;
    player->line = -1;
    player->tick = 5;
    processTick(*player);
    return 1;
}

}  // namespace plinth
