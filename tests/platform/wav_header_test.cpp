// The canonical header against bytes written out by hand, its derived fields
// against products worked out by hand (also where a 32-bit product would
// wrap), and its size limits against the 32-bit fields they must fit.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/wav_header.h"
#include "platform/wav_reader.h"

using namespace plinth;

namespace {

std::vector<uint8_t> encoded(const WavHeader& header) {
    std::vector<uint8_t> bytes(kWavHeaderBytes);
    encodeWavHeader(header, bytes.data());
    return bytes;
}

WavHeader built(uint16_t channels, uint16_t bits, uint32_t rate) {
    WavInfo info{};
    info.channels = channels;
    info.bitsPerSample = bits;
    info.sampleRate = rate;
    info.audioFormat = kWavFormatPcm;
    WavHeader header;
    EXPECT_EQ(buildWavHeader(header, info), 1);
    return header;
}

TEST(WavHeader, WritesTheCanonicalBytes) {
    // 100 mono samples at 16000 Hz: 200 data bytes, RIFF size 236 (0xEC),
    // 16000 = 0x3E80, byte rate 32000 = 0x7D00.
    const std::vector<uint8_t> mono = {
        'R',  'I', 'F', 'F', 0xEC, 0x00, 0x00, 0x00, 'W',  'A',  'V',  'E',  'f', 'm', 't', ' ',
        0x10, 0,   0,   0,   0x01, 0x00, 0x01, 0x00, 0x80, 0x3E, 0x00, 0x00, 0x00, 0x7D, 0x00, 0x00,
        0x02, 0,   0x10, 0,  'd',  'a',  't',  'a',  0xC8, 0x00, 0x00, 0x00,
    };
    EXPECT_EQ(encoded(pcm16WavHeader(1, 16000, 100)), mono);

    // The module converter's header after 3 frames: stereo at 8000 Hz, block
    // 4, byte rate 32000, data 12 bytes, RIFF size 48 (0x30).
    const std::vector<uint8_t> stereo = {
        'R',  'I', 'F', 'F', 0x30, 0x00, 0x00, 0x00, 'W',  'A',  'V',  'E',  'f', 'm', 't', ' ',
        0x10, 0,   0,   0,   0x01, 0x00, 0x02, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x00, 0x7D, 0x00, 0x00,
        0x04, 0,   0x10, 0,  'd',  'a',  't',  'a',  0x0C, 0x00, 0x00, 0x00,
    };
    EXPECT_EQ(encoded(pcm16WavHeader(2, 8000, 3)), stereo);

    // Decoding gives back every field; encoding that gives back the bytes.
    WavHeader decoded;
    decodeWavHeader(stereo.data(), decoded);
    EXPECT_EQ(decoded.riffSize, 48u);
    EXPECT_EQ(decoded.channels, 2);
    EXPECT_EQ(decoded.sampleRate, 8000u);
    EXPECT_EQ(decoded.byteRate, 32000u);
    EXPECT_EQ(decoded.blockAlign, 4);
    EXPECT_EQ(decoded.dataSize, 12u);
    EXPECT_EQ(encoded(decoded), stereo);
}

TEST(WavHeader, DerivedFieldsAreTheExactProductsHeldToTheirFields) {
    const struct {
        uint16_t channels, bits;
        uint32_t rate;
        uint16_t blockAlign;
        uint32_t byteRate;
    } cases[] = {
        {2, 16, 8000, 4, 32000},
        {1, 16, 44100, 2, 88200},
        {3, 24, 48000, 9, 432000},
        {1, 12, 3, 1, 4},  // 12 / 8 and 36 / 8, rounded down
        {0, 16, 8000, 0, 0},
        // 16 x 2^28 passes 32 bits; the byte rate is still twice the rate.
        {1, 16, 0x10000000, 2, 0x20000000},
        {1, 16, 0x7FFFFFFF, 2, 0xFFFFFFFE},
        // The highest module rate: 4 bytes a frame just fit.
        {2, 16, 0x3FFFFFFF, 4, 0xFFFFFFFC},
        // Past the fields: the largest value each holds.
        {2, 16, 0x40000000, 4, 0xFFFFFFFF},
        {1, 16, 0xFFFFFFFF, 2, 0xFFFFFFFF},
        {65535, 65535, 0xFFFFFFFF, 0xFFFF, 0xFFFFFFFF},
        {4096, 32, 8000, 16384, 131072000},
        {4096, 128, 8000, 0xFFFF, 524288000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " x " + std::to_string(c.bits) + " at " + std::to_string(c.rate));
        const WavHeader header = built(c.channels, c.bits, c.rate);
        EXPECT_EQ(header.blockAlign, c.blockAlign);
        EXPECT_EQ(header.byteRate, c.byteRate);
    }
}

TEST(WavHeader, ParsingJudgesTheRiffTagAlone) {
    // A header with "WAVX" for its form and a fmt size of 18 is taken at its
    // fixed places all the same.
    std::vector<uint8_t> bytes = encoded(pcm16WavHeader(2, 22050, 10));
    bytes[11] = 'X';
    bytes[16] = 18;
    WavHeader header;
    decodeWavHeader(bytes.data(), header);
    WavInfo info{};
    ASSERT_EQ(parseWavHeader(header, info), 1);
    EXPECT_EQ(info.riffSize, 76u);
    EXPECT_EQ(info.fmtSize, 18u);
    EXPECT_EQ(info.dataSize, 40u);
    EXPECT_EQ(info.sampleRate, 22050u);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.audioFormat, 1);
    EXPECT_EQ(info.bitsPerSample, 16);

    // Any one of the four bytes changed: refused, and nothing written.
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        std::vector<uint8_t> changed = bytes;
        changed[static_cast<std::size_t>(i)] ^= 0x20;
        decodeWavHeader(changed.data(), header);
        WavInfo untouched{};
        untouched.sampleRate = 12345;
        EXPECT_EQ(parseWavHeader(header, untouched), 0);
        EXPECT_EQ(untouched.sampleRate, 12345u);
        EXPECT_EQ(untouched.channels, 0);
    }
}

TEST(WavHeader, SizeLimitsFitTheThirtyTwoBitFields) {
    // (2^32 - 1 - 36) / 4 = 1073741814 stereo frames (4294967256 bytes, RIFF
    // size 0xFFFFFFFC); / 2 = 2147483629 mono samples (RIFF size 0xFFFFFFFE).
    EXPECT_EQ(maxPcm16Frames(2), 1073741814u);
    EXPECT_EQ(maxPcm16Frames(1), 2147483629u);
    EXPECT_EQ(pcm16WavHeader(2, 8000, maxPcm16Frames(2)).riffSize, 0xFFFFFFFCu);
    EXPECT_EQ(pcm16WavHeader(2, 8000, maxPcm16Frames(2)).dataSize, 4294967256u);
    EXPECT_EQ(pcm16WavHeader(1, 8000, maxPcm16Frames(1)).riffSize, 0xFFFFFFFEu);
    // One frame more would not fit.
    EXPECT_GT((maxPcm16Frames(2) + 1) * 4 + 36, 0xFFFFFFFFull);
    EXPECT_GT((maxPcm16Frames(1) + 1) * 2 + 36, 0xFFFFFFFFull);

    EXPECT_EQ(maxPcm16FrameRate(2), 0x3FFFFFFFu);
    EXPECT_EQ(maxPcm16FrameRate(1), 0x7FFFFFFFu);
    EXPECT_EQ(pcm16WavHeader(2, maxPcm16FrameRate(2), 0).byteRate, 0xFFFFFFFCu);
}

TEST(WavFormatNames, NameEveryFormatTheReaderConverts) {
    for (uint16_t tag : {kWavFormatPcm, kWavFormatIeeeFloat}) {
        for (int bits : {8, 16, 24, 32, 64}) {
            if (sampleFormatOf(tag, static_cast<uint16_t>(bits)) == WavSampleFormat::unsupported) continue;
            EXPECT_NE(wavFormatName(tag, 0), "unknown") << tag;
            EXPECT_EQ(wavFormatName(kWavFormatExtensible, tag), "extensible, " + wavFormatName(tag, 0));
        }
    }
    EXPECT_EQ(wavFormatName(kWavFormatPcm, 0), "PCM");
    EXPECT_EQ(wavFormatName(kWavFormatIeeeFloat, 0), "IEEE float");
    EXPECT_EQ(wavFormatName(kWavFormatExtensible, 0), "extensible, unknown sub-format");
    EXPECT_EQ(wavFormatName(0x0055, 0), "unknown");

    const uint8_t riff[] = {'R', 'I', 'F', 'F'}, rf64[] = {'R', 'F', '6', '4'}, bw64[] = {'B', 'W', '6', '4'};
    const uint8_t rifx[] = {'R', 'I', 'F', 'X'}, lower[] = {'r', 'i', 'f', 'f'};
    EXPECT_TRUE(isWavContainerTag(riff));
    EXPECT_TRUE(isWavContainerTag(rf64));
    EXPECT_TRUE(isWavContainerTag(bw64));
    EXPECT_FALSE(isWavContainerTag(rifx));
    EXPECT_FALSE(isWavContainerTag(lower));
}

}  // namespace

namespace {

std::vector<uint8_t> outputHeader(WavSampleFormat format, uint32_t channels, uint32_t rate, uint64_t frames,
                                  uint32_t mask = 0) {
    WavOutputLayout layout;
    layout.format = format;
    layout.channels = channels;
    layout.frameRate = rate;
    layout.channelMask = mask;
    const WavOutputHeader header = wavOutputHeader(layout, frames);
    return std::vector<uint8_t>(header.bytes, header.bytes + header.size);
}

TEST(WavOutputHeader, EveryFormWrittenOutByHand) {
    // 16-bit in one or two channels: exactly the canonical header.
    EXPECT_EQ(outputHeader(WavSampleFormat::signed16, 1, 16000, 100), encoded(pcm16WavHeader(1, 16000, 100)));
    EXPECT_EQ(outputHeader(WavSampleFormat::signed16, 2, 8000, 3), encoded(pcm16WavHeader(2, 8000, 3)));

    // 10 stereo float frames at 48000 Hz: format 3, an 18-byte fmt chunk
    // (extension size 0), a fact chunk of 10 frames; block 8, byte rate
    // 384000 = 0x5DC00, data 80 bytes, RIFF size 58 - 8 + 80 = 130 (0x82).
    const std::vector<uint8_t> floats = {
        'R', 'I', 'F', 'F', 0x82, 0, 0, 0, 'W', 'A', 'V', 'E',
        'f', 'm', 't', ' ', 18, 0, 0, 0, 3, 0, 2, 0, 0x80, 0xBB, 0, 0, 0x00, 0xDC, 0x05, 0, 8, 0, 32, 0, 0, 0,
        'f', 'a', 'c', 't', 4, 0, 0, 0, 10, 0, 0, 0,
        'd', 'a', 't', 'a', 80, 0, 0, 0,
    };
    EXPECT_EQ(outputHeader(WavSampleFormat::float32, 2, 48000, 10), floats);

    // 6 channels of 16-bit samples, 7 frames at 44100: extensible, 40-byte fmt
    // chunk, valid bits 16, mask 0x3F, the PCM sub-format GUID; block 12, byte
    // rate 529200 = 0x81330, data 84 bytes, RIFF size 68 - 8 + 84 = 144 (0x90).
    const std::vector<uint8_t> six = {
        'R', 'I', 'F', 'F', 0x90, 0, 0, 0, 'W', 'A', 'V', 'E',
        'f', 'm', 't', ' ', 40, 0, 0, 0, 0xFE, 0xFF, 6, 0, 0x44, 0xAC, 0, 0, 0x30, 0x13, 0x08, 0, 12, 0, 16, 0,
        22, 0, 16, 0, 0x3F, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71,
        'd', 'a', 't', 'a', 84, 0, 0, 0,
    };
    EXPECT_EQ(outputHeader(WavSampleFormat::signed16, 6, 44100, 7, 0x3F), six);

    // 3 channels of floats: extensible with the float sub-format, then fact.
    const std::vector<uint8_t> three = outputHeader(WavSampleFormat::float32, 3, 8000, 5, 0x7);
    ASSERT_EQ(three.size(), 80u);
    EXPECT_EQ(std::vector<uint8_t>(three.begin() + 20, three.begin() + 36),
              (std::vector<uint8_t>{0xFE, 0xFF, 3, 0, 0x40, 0x1F, 0, 0, 0x00, 0x77, 0x01, 0, 12, 0, 32, 0}));  // byte rate 96000 = 0x17700
    EXPECT_EQ(std::vector<uint8_t>(three.begin() + 36, three.begin() + 48),
              (std::vector<uint8_t>{22, 0, 32, 0, 7, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(three.begin() + 60, three.begin() + 80),
              (std::vector<uint8_t>{'f', 'a', 'c', 't', 4, 0, 0, 0, 5, 0, 0, 0, 'd', 'a', 't', 'a', 60, 0, 0, 0}));
    EXPECT_EQ(three[4] | three[5] << 8, 80 - 8 + 60);
}

TEST(WavOutputHeader, LimitsFitTheFields) {
    WavOutputLayout layout;
    layout.frameRate = 8000;
    // Mono 16-bit: the canonical header's own limit.
    EXPECT_EQ(maxWavOutputFrames(layout), maxPcm16Frames(1));
    // Stereo floats: (2^32 - 1 - 50) bytes after the RIFF size field's own 8, 8 bytes a frame.
    layout.format = WavSampleFormat::float32;
    layout.channels = 2;
    EXPECT_EQ(maxWavOutputFrames(layout), (uint64_t{0xFFFFFFFF} - 50) / 8);
    // 6 extensible float channels: an 80-byte header, 24 bytes a frame.
    layout.channels = 6;
    EXPECT_EQ(maxWavOutputFrames(layout), (uint64_t{0xFFFFFFFF} - 72) / 24);
    // A frame must fit the 16-bit frame size.
    EXPECT_TRUE(wavOutputLayoutFits(layout));
    layout.channels = 16383;
    EXPECT_TRUE(wavOutputLayoutFits(layout));
    layout.channels = 16384;
    EXPECT_FALSE(wavOutputLayoutFits(layout));
    layout.format = WavSampleFormat::signed16;
    EXPECT_TRUE(wavOutputLayoutFits(layout));
    layout.channels = 32768;
    EXPECT_FALSE(wavOutputLayoutFits(layout));
    layout.channels = 0;
    EXPECT_FALSE(wavOutputLayoutFits(layout));
    // The standard speaker positions, one bit a channel, as far as they go.
    EXPECT_EQ(defaultChannelMask(1), 0x1u);
    EXPECT_EQ(defaultChannelMask(6), 0x3Fu);
    EXPECT_EQ(defaultChannelMask(18), 0x3FFFFu);
    EXPECT_EQ(defaultChannelMask(19), 0u);
}

}  // namespace
