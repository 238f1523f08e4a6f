// The chunk reader against files built chunk by chunk in the test, where
// every offset below is counted by hand, and the 16-bit rule against values
// worked out by hand and against the exact widening of every 16-bit sample.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "platform/wav_reader.h"

using namespace plinth;
using namespace testsupport;

namespace {

struct Opened {
    InputFile input;
    WavLayout layout;
    WavReadStatus status;
};

void openLayout(const std::string& path, Opened& opened) {
    int systemError = 0;
    ASSERT_EQ(opened.input.open(path, InputPolicy::regularOrStream, systemError), InputError::none) << path;
    opened.status = readWavLayout(opened.input, opened.layout);
}

// Every frame of the file's samples, as 16-bit items.
std::vector<int16_t> readAllItems(Opened& opened) {
    WavSampleReader reader;
    reader.layout = opened.layout;
    std::vector<int16_t> all;
    std::vector<int16_t> block(3 * opened.layout.channels);
    for (;;) {
        std::size_t frames = 0;
        const WavReadStatus status = readWavFrames(opened.input, reader, block.data(), 3, frames);
        EXPECT_EQ(status.error, WavReadError::none);
        all.insert(all.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(frames * opened.layout.channels));
        if (frames < 3 || status.error != WavReadError::none) return all;
    }
}

const Bytes kStereo16 = integerSamples({100, -100, 200, -200, 300, -300}, 2);

TEST(WavLayout, FindsTheSamplesWhateverChunksComeFirst) {
    TempDir dir;
    Chunk list{"LIST", Bytes(26, 'x')};
    const struct {
        const char* name;
        Bytes file;
        uint64_t dataStart;
        uint32_t fmtSize;
        const char* skipped;
    } cases[] = {
        {"canonical", chunkedWav({{"fmt ", fmtBody(1, 2, 44100, 16)}, {"data", kStereo16}}), 44, 16, ""},
        // 12 + 8 + 18 + 8
        {"fmt of 18", chunkedWav({{"fmt ", fmtBody(1, 2, 44100, 16, 18)}, {"data", kStereo16}}), 46, 18, ""},
        // 12 + 8 + 40 + 8
        {"extensible", chunkedWav({{"fmt ", fmtBody(1, 2, 44100, 16, 40)}, {"data", kStereo16}}), 68, 40, ""},
        // 36 + 8 + 26 + 8
        {"LIST first", chunkedWav({{"fmt ", fmtBody(1, 2, 44100, 16)}, list, {"data", kStereo16}}), 78, 16, "LIST"},
        // 3 bytes of JUNK padded to 4: 36 + 8 + 4 + 8
        {"odd JUNK", chunkedWav({{"fmt ", fmtBody(1, 2, 44100, 16)}, {"JUNK", Bytes(3, 1)}, {"data", kStereo16}}), 56,
         16, "JUNK"},
        // JUNK of 1 and LIST before fmt: 12 + 8 + 2 + 34 + 24 + 8
        {"fmt late", chunkedWav({{"JUNK", Bytes(1, 1)}, list, {"fmt ", fmtBody(1, 2, 44100, 16)}, {"data", kStereo16}}),
         88, 16, "JUNK LIST"},
        {"LIST after", chunkedWav({{"fmt ", fmtBody(1, 2, 44100, 16)}, {"data", kStereo16}, list}), 44, 16, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir / "in.wav", c.file);
        Opened opened;
        openLayout(dir / "in.wav", opened);
        ASSERT_EQ(opened.status.error, WavReadError::none) << describeWavReadError(opened.status);
        const WavLayout& layout = opened.layout;
        EXPECT_EQ(layout.dataStart, c.dataStart);
        EXPECT_EQ(layout.fmtSize, c.fmtSize);
        EXPECT_EQ(layout.channels, 2);
        EXPECT_EQ(layout.sampleRate, 44100u);
        EXPECT_EQ(layout.sampleFormat, WavSampleFormat::signed16);
        EXPECT_EQ(layout.dataBytes, kStereo16.size());
        EXPECT_FALSE(layout.dataClamped);
        EXPECT_EQ(layout.skippedTags, c.skipped);
        EXPECT_EQ(isCanonicalLayout(layout, true, c.file.size()), std::string(c.name) == "canonical");
        // The LIST after the samples is not read as samples.
        EXPECT_EQ(readAllItems(opened), std::vector<int16_t>({100, -100, 200, -200, 300, -300}));
    }
}

TEST(WavLayout, ReadsEveryFormatTheConversionTakes) {
    TempDir dir;
    const struct {
        uint16_t format, bits;
        uint32_t fmtSize;
        WavSampleFormat expected;
    } cases[] = {
        {1, 8, 16, WavSampleFormat::unsigned8},   {1, 16, 16, WavSampleFormat::signed16},
        {1, 24, 16, WavSampleFormat::signed24},   {1, 32, 16, WavSampleFormat::signed32},
        {3, 32, 18, WavSampleFormat::float32},    {3, 64, 18, WavSampleFormat::float64},
        {1, 24, 40, WavSampleFormat::signed24},   {3, 32, 40, WavSampleFormat::float32},
        {3, 64, 40, WavSampleFormat::float64},    {6, 8, 18, WavSampleFormat::unsupported},
        {1, 12, 16, WavSampleFormat::unsupported}, {3, 16, 18, WavSampleFormat::unsupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + "/" + std::to_string(c.bits) + "/" + std::to_string(c.fmtSize));
        Bytes fmt = fmtBody(c.format, 1, 8000, c.bits, c.fmtSize);
        if (c.bits == 12) fmt[12] = 2;  // 12 bits stored in 2 bytes
        writeBytes(dir / "in.wav", chunkedWav({{"fmt ", fmt}, {"data", Bytes(16, 0)}}));
        Opened opened;
        openLayout(dir / "in.wav", opened);
        ASSERT_EQ(opened.status.error, WavReadError::none) << describeWavReadError(opened.status);
        EXPECT_EQ(opened.layout.sampleFormat, c.expected);
        if (c.expected == WavSampleFormat::unsupported) {
            WavSampleReader reader;
            reader.layout = opened.layout;
            int16_t items[4];
            std::size_t frames = 0;
            EXPECT_EQ(readWavFrames(opened.input, reader, items, 4, frames).error, WavReadError::unsupportedFormat);
        }
    }
}

TEST(WavLayout, FloatSamplesAreTheExactValuesScaledToFullScale) {
    TempDir dir;
    // Expected values worked out by hand: x / 2^(bits - 1), exact, but a
    // 32-bit integer rounded to 24 significant bits (ties to even), and a
    // double rounded to the nearest float.
    const struct {
        uint16_t format, bits;
        Bytes samples;
        std::vector<float> expected;
    } cases[] = {
        {1, 8, Bytes{0, 128, 255, 1}, {-1.0f, 0.0f, 127.0f / 128.0f, -127.0f / 128.0f}},
        {1, 16, integerSamples({-32768, 0, 32767, 1}, 2), {-1.0f, 0.0f, 32767.0f / 32768.0f, 0x1p-15f}},
        {1, 24, integerSamples({-8388608, 8388607, 1, -3}, 3), {-1.0f, 8388607.0f / 8388608.0f, 0x1p-23f, -0x3p-23f}},
        // 2^31 - 1 rounds up to 2^31; 2^24 + 1 (odd, below the last bit) to 2^24; 2^24 + 3 to 2^24 + 4.
        {1, 32, integerSamples({2147483647, 16777217, 16777219, -2147483647 - 1}, 4),
         {1.0f, 0x1p-7f, (16777220.0f) * 0x1p-31f, -1.0f}},
        {3, 32, float32Samples({0.25f, -3.5f, 1e30f, -0.0f}), {0.25f, -3.5f, 1e30f, -0.0f}},
        {3, 64, float64Samples({0.1, 1.0 + 0x1p-30, 1e300, -2.0}),
         {0.1f, 1.0f, std::numeric_limits<float>::infinity(), -2.0f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + "/" + std::to_string(c.bits));
        writeBytes(dir / "in.wav", chunkedWav({{"fmt ", fmtBody(c.format, 2, 8000, c.bits, 16)}, {"data", c.samples}}));
        Opened opened;
        openLayout(dir / "in.wav", opened);
        ASSERT_EQ(opened.status.error, WavReadError::none);
        WavSampleReader reader;
        reader.layout = opened.layout;
        std::vector<float> items(4, 7.0f);
        std::size_t frames = 0;
        ASSERT_EQ(readWavFramesAsFloat(opened.input, reader, items.data(), 5, frames).error, WavReadError::none);
        EXPECT_EQ(frames, 2u);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(std::memcmp(&items[i], &c.expected[i], sizeof(float)), 0) << i << ": " << items[i];
        }
    }
}

TEST(WavLayout, AnExtensibleFileNamesItsSpeakerPositions) {
    TempDir dir;
    writeBytes(dir / "in.wav", chunkedWav({{"fmt ", fmtBody(1, 6, 8000, 16, 40, 0x60F)}, {"data", Bytes(24, 0)}}));
    Opened opened;
    openLayout(dir / "in.wav", opened);
    ASSERT_EQ(opened.status.error, WavReadError::none);
    EXPECT_EQ(opened.layout.channelMask, 0x60Fu);
    writeBytes(dir / "plain.wav", chunkedWav({{"fmt ", fmtBody(1, 6, 8000, 16, 16)}, {"data", Bytes(24, 0)}}));
    Opened plain;
    openLayout(dir / "plain.wav", plain);
    EXPECT_EQ(plain.layout.channelMask, 0u);
}

TEST(WavLayout, RefusesWhatItCannotReadWithAReason) {
    TempDir dir;
    const Bytes fmt = fmtBody(1, 1, 8000, 16);
    Bytes rf64NoSizes = chunkedWav({{"fmt ", fmt}, {"data", Bytes(4, 0), true, 0xFFFFFFFFu}}, "RF64");
    const Bytes canonical = chunkedWav({{"fmt ", fmt}, {"data", Bytes(4, 0)}});
    const struct {
        const char* name;
        Bytes file;
        WavReadError expected;
    } cases[] = {
        {"not RIFF", Bytes(100, 'x'), WavReadError::notWav},
        {"not WAVE", [] {
             Bytes b = chunkedWav({{"fmt ", fmtBody(1, 1, 8000, 16)}, {"data", Bytes(4, 0)}});
             b[11] = 'X';
             return b;
         }(), WavReadError::notWav},
        {"8 bytes", Bytes(canonical.begin(), canonical.begin() + 8), WavReadError::cutShort},
        {"cut in fmt", Bytes(canonical.begin(), canonical.begin() + 30), WavReadError::cutShort},
        {"no data", chunkedWav({{"fmt ", fmt}, {"LIST", Bytes(4, 0)}}), WavReadError::noDataChunk},
        {"data first", chunkedWav({{"data", Bytes(4, 0)}, {"fmt ", fmt}}), WavReadError::noFormatChunk},
        {"fmt of 14", chunkedWav({{"fmt ", Bytes(fmt.begin(), fmt.begin() + 14)}, {"data", Bytes(4, 0)}}),
         WavReadError::badFormatChunk},
        {"no channels", chunkedWav({{"fmt ", fmtBody(1, 0, 8000, 16)}, {"data", Bytes(4, 0)}}),
         WavReadError::badFormatChunk},
        {"RF64 without ds64", rf64NoSizes, WavReadError::noSizes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir / "in.wav", c.file);
        Opened opened;
        openLayout(dir / "in.wav", opened);
        EXPECT_EQ(opened.status.error, c.expected) << describeWavReadError(opened.status);
        EXPECT_FALSE(describeWavReadError(opened.status).empty());
    }
}

TEST(WavLayout, FramesAreAsWideAsTheChannelsAndBitsMakeThemWhateverTheBlockAlignSays) {
    TempDir dir;
    for (const unsigned align : {0u, 1u, 4u, 65535u}) {
        Bytes fmt = fmtBody(1, 3, 8000, 24);  // 9 bytes a frame
        fmt[12] = static_cast<unsigned char>(align);
        fmt[13] = static_cast<unsigned char>(align >> 8);
        writeBytes(dir / "in.wav", chunkedWav({{"fmt ", fmt}, {"data", Bytes(9 * 5 + 4, 0)}}));
        Opened opened;
        openLayout(dir / "in.wav", opened);
        ASSERT_EQ(opened.status.error, WavReadError::none) << align;
        EXPECT_EQ(opened.layout.blockAlign, align);
        EXPECT_EQ(wavFrameBytes(opened.layout), 9u);
    }
    // A format not read: the bits rounded up to bytes.
    WavLayout alaw;
    alaw.channels = 2;
    alaw.bitsPerSample = 12;
    EXPECT_EQ(wavFrameBytes(alaw), 4u);
}

TEST(WavLayout, SizesPastTheEndAreClampedAndRf64SizesComeFromDs64) {
    TempDir dir;
    const Bytes samples = integerSamples({1, 2, 3, 4, 5}, 2);
    writeBytes(dir / "cut.wav", chunkedWav({{"fmt ", fmtBody(1, 1, 8000, 16)}, {"data", samples, true, 1000}}));
    Opened cut;
    openLayout(dir / "cut.wav", cut);
    ASSERT_EQ(cut.status.error, WavReadError::none);
    EXPECT_EQ(cut.layout.declaredDataBytes, 1000u);
    EXPECT_EQ(cut.layout.dataBytes, 10u);
    EXPECT_TRUE(cut.layout.dataClamped);
    EXPECT_EQ(readAllItems(cut), std::vector<int16_t>({1, 2, 3, 4, 5}));

    // ds64: RIFF size, data size, sample count (8 bytes each), table length 0.
    for (const char* container : {"RF64", "BW64"}) {
        SCOPED_TRACE(container);
        Bytes ds64;
        for (uint32_t word : {0u, 0u, 8u, 0u, 4u, 0u, 0u}) appendLe(ds64, word, 4);
        writeBytes(dir / "rf64.wav", chunkedWav({{"ds64", ds64},
                                                 {"fmt ", fmtBody(1, 1, 8000, 16)},
                                                 {"data", samples, true, 0xFFFFFFFFu}},
                                                container));
        Opened rf64;
        openLayout(dir / "rf64.wav", rf64);
        ASSERT_EQ(rf64.status.error, WavReadError::none) << describeWavReadError(rf64.status);
        EXPECT_TRUE(rf64.layout.rf64);
        EXPECT_EQ(rf64.layout.dataStart, 12u + 36u + 24u + 8u);
        EXPECT_EQ(rf64.layout.dataBytes, 8u);
        EXPECT_FALSE(rf64.layout.dataClamped);
        EXPECT_FALSE(isCanonicalLayout(rf64.layout, true, 90));
        EXPECT_EQ(readAllItems(rf64), std::vector<int16_t>({1, 2, 3, 4}));
    }
}

TEST(WavLayout, FramesOfManyChannelsAndCutFrames) {
    TempDir dir;
    // Two frames of three 24-bit channels, then 4 bytes of a third frame.
    Bytes data = integerSamples({256, -256, 384, 8388607, -8388608, -384}, 3);
    data.insert(data.end(), {1, 2, 3, 4});
    writeBytes(dir / "in.wav", chunkedWav({{"fmt ", fmtBody(1, 3, 8000, 24, 40)}, {"data", data}}));
    Opened opened;
    openLayout(dir / "in.wav", opened);
    ASSERT_EQ(opened.status.error, WavReadError::none);
    EXPECT_EQ(readAllItems(opened), std::vector<int16_t>({1, -1, 2, 32767, -32768, -2}));
}

// A named pipe fed by a writer thread: the reader reads forward only.
Opened openThroughPipe(const std::string& fifo, const Bytes& file, std::thread& writer) {
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    writer = std::thread([fifo, file] { writeBytes(fifo, file); });
    Opened opened;
    openLayout(fifo, opened);
    return opened;
}

TEST(WavLayout, StreamsAreReadForwardOnly) {
    TempDir dir;
    const Bytes data = integerSamples({256, -512, 768, -1024}, 3);
    const Chunk list{"LIST", Bytes(5001, 'x')};  // odd, and larger than one skip
    const Bytes file = chunkedWav({list, {"fmt ", fmtBody(1, 2, 8000, 24)}, list, {"data", data}, list});
    std::thread writer;
    Opened piped = openThroughPipe(dir / "in.fifo", file, writer);
    ASSERT_EQ(piped.status.error, WavReadError::none) << describeWavReadError(piped.status);
    EXPECT_FALSE(piped.input.isRegular());
    EXPECT_EQ(piped.layout.dataStart, 12u + 2u * (8u + 5002u) + 24u + 8u);
    EXPECT_FALSE(piped.layout.dataToEnd);
    EXPECT_EQ(readAllItems(piped), std::vector<int16_t>({1, -2, 3, -4}));
    writer.join();

    // A stream writer that could not know the size: read to the end.
    const Bytes unsized = chunkedWav({{"fmt ", fmtBody(1, 1, 8000, 16, 18)}, {"data", kStereo16, true, 0xFFFFFFFFu}});
    Opened toEnd = openThroughPipe(dir / "unsized.fifo", unsized, writer);
    ASSERT_EQ(toEnd.status.error, WavReadError::none);
    EXPECT_TRUE(toEnd.layout.dataToEnd);
    EXPECT_EQ(readAllItems(toEnd), std::vector<int16_t>({100, -100, 200, -200, 300, -300}));
    writer.join();
}

void openCanonical(const std::string& path, Opened& opened) {
    int systemError = 0;
    ASSERT_EQ(opened.input.open(path, InputPolicy::regularOrStream, systemError), InputError::none) << path;
    opened.status = readCanonicalWavLayout(opened.input, opened.layout);
}

// Read at the fixed places, the header's values are whatever bytes 20..43
// hold, and the samples run from byte 44 to the end of the input.
TEST(CanonicalLayout, TakesTheFixedPlacesAndTheSamplesFromByte44) {
    TempDir dir;
    // With a fmt chunk of 18 bytes, "data" sits at 38 and its size (12) at
    // 42: the header's data size (bytes 40..43) reads 't' 'a' 12 0, that is
    // 0x000C6174, and the first item is the size's upper half, 0.
    const Bytes file = chunkedWav({{"fmt ", fmtBody(1, 2, 44100, 16, 18)}, {"data", kStereo16}});
    writeBytes(dir / "in.wav", file);
    Opened opened;
    openCanonical(dir / "in.wav", opened);
    ASSERT_EQ(opened.status.error, WavReadError::none) << describeWavReadError(opened.status);
    const WavLayout& layout = opened.layout;
    EXPECT_EQ(layout.fmtSize, 18u);
    EXPECT_EQ(layout.formatTag, 1);
    EXPECT_EQ(layout.channels, 2);
    EXPECT_EQ(layout.sampleRate, 44100u);
    EXPECT_EQ(layout.blockAlign, 4);
    EXPECT_EQ(layout.bitsPerSample, 16);
    EXPECT_EQ(layout.sampleFormat, WavSampleFormat::signed16);
    EXPECT_EQ(layout.dataStart, 44u);
    EXPECT_EQ(layout.declaredDataBytes, 0x000C6174u);
    EXPECT_EQ(layout.dataBytes, 14u);
    EXPECT_FALSE(layout.dataToEnd);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 44, layout.leadingBytes));
    // 14 bytes: three whole stereo frames; the half frame is dropped.
    EXPECT_EQ(readAllItems(opened), std::vector<int16_t>({0, 100, -100, 200, -200, 300}));

    // The format is described, not judged: 8-bit samples read as 8-bit.
    writeBytes(dir / "eight.wav", chunkedWav({{"fmt ", fmtBody(1, 1, 8000, 8)}, {"data", Bytes{0, 128, 255, 64}}}));
    Opened eight;
    openCanonical(dir / "eight.wav", eight);
    ASSERT_EQ(eight.status.error, WavReadError::none);
    EXPECT_EQ(eight.layout.sampleFormat, WavSampleFormat::unsigned8);
    EXPECT_EQ(readAllItems(eight), std::vector<int16_t>({-32768, 0, 32512, -16384}));
}

TEST(CanonicalLayout, RefusesShortAndUntaggedInputsAndReadsStreamsToTheirEnd) {
    TempDir dir;
    const Bytes canonical = chunkedWav({{"fmt ", fmtBody(1, 1, 8000, 16)}, {"data", kStereo16}});
    const struct {
        const char* name;
        Bytes file;
        WavReadError expected;
    } cases[] = {
        {"43 bytes", Bytes(canonical.begin(), canonical.begin() + 43), WavReadError::cutShort},
        {"empty", Bytes(), WavReadError::cutShort},
        {"RIFX", [&] {
             Bytes b = canonical;
             b[3] = 'X';
             return b;
         }(), WavReadError::notWav},
        {"RF64", chunkedWav({{"fmt ", fmtBody(1, 1, 8000, 16)}, {"data", kStereo16}}, "RF64"), WavReadError::notWav},
        {"exactly 44", Bytes(canonical.begin(), canonical.begin() + 44), WavReadError::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir / "in.wav", c.file);
        Opened opened;
        openCanonical(dir / "in.wav", opened);
        EXPECT_EQ(opened.status.error, c.expected) << describeWavReadError(opened.status);
    }

    // A stream: no size to know, so the samples run to its end, whatever the
    // header's data size (here 2 bytes) says.
    Bytes understated = canonical;
    setLe32(understated, 40, 2);
    const std::string fifo = dir / "in.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([fifo, understated] { writeBytes(fifo, understated); });
    Opened piped;
    openCanonical(fifo, piped);
    ASSERT_EQ(piped.status.error, WavReadError::none);
    EXPECT_TRUE(piped.layout.dataToEnd);
    EXPECT_EQ(readAllItems(piped), std::vector<int16_t>({100, -100, 200, -200, 300, -300}));
    writer.join();
}

// Worked by hand: ties (an exact half step) go away from zero; the top of
// the wider ranges clamps to 32767.
TEST(SampleRule, RoundsToNearestTiesAwayFromZeroAndClamps) {
    EXPECT_EQ(sampleFromUnsigned8(0), -32768);
    EXPECT_EQ(sampleFromUnsigned8(128), 0);
    EXPECT_EQ(sampleFromUnsigned8(255), 32512);

    const std::pair<int32_t, int16_t> from24[] = {
        {127, 0},    {128, 1},    {-127, 0},   {-128, -1},  {383, 1},          {384, 2},          {-384, -2},
        {640, 3},    {-640, -3},  {8388480, 32767}, {8388607, 32767}, {-8388608, -32768}, {-8388480, -32768},
    };
    for (const auto& [value, expected] : from24) EXPECT_EQ(sampleFromSigned24(value), expected) << value;

    const std::pair<int32_t, int16_t> from32[] = {
        {32767, 0},        {32768, 1},          {-32768, -1},        {98304, 2},  {-98304, -2},
        {2147450880, 32767}, {2147483647, 32767}, {-2147483647 - 1, -32768}, {-2147450880, -32768}, {-2147450879, -32767},
    };
    for (const auto& [value, expected] : from32) EXPECT_EQ(sampleFromSigned32(value), expected) << value;

    const double step = 1.0 / 32768;
    const std::pair<double, int16_t> fromFloat[] = {
        {0.5 * step, 1},   {-0.5 * step, -1}, {1.5 * step, 2},  {2.5 * step, 3},  {-2.5 * step, -3},
        {0.49 * step, 0},  {1.0, 32767},      {-1.0, -32768},   {1.5, 32767},     {-7.0, -32768},
        {32767.5 * step, 32767},              {-32768.5 * step, -32768},          {-0.0, 0},
        {std::numeric_limits<double>::infinity(), 32767}, {-std::numeric_limits<double>::infinity(), -32768},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& [value, expected] : fromFloat) EXPECT_EQ(sampleFromFloat(value), expected) << value;
}

TEST(SampleRule, EverySixteenBitSampleWidenedExactlyComesBack) {
    for (int32_t s = -32768; s <= 32767; ++s) {
        const auto sample = static_cast<int16_t>(s);
        ASSERT_EQ(sampleFromSigned24(s * 256), sample);
        ASSERT_EQ(sampleFromSigned32(s * 65536), sample);
        ASSERT_EQ(sampleFromFloat(static_cast<double>(static_cast<float>(s) / 32768.0f)), sample);
        ASSERT_EQ(sampleFromFloat(static_cast<double>(s) / 32768.0), sample);
        if (s % 256 == 0) {
            ASSERT_EQ(sampleFromUnsigned8(static_cast<uint8_t>(s / 256 + 128)), sample);
        }
    }
}

}  // namespace
