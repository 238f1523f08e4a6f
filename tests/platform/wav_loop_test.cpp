// The sampler loop chunks: written field by field as the format lays them
// out (offsets counted by hand), and read back wherever a file puts them.

#include <gtest/gtest.h>

#include "platform/wav_loop.h"
#include "platform/wav_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

using namespace plinth;
using namespace testsupport;

namespace {

TEST(LoopChunks, HoldOneForwardLoopAndTheCuePointOfItsStart) {
    SamplerLoop loop;
    loop.start = 61440;
    loop.end = 184319;
    Bytes bytes(kLoopChunksBytes);
    encodeLoopChunks(loop, 44100, bytes.data());
    ASSERT_EQ(kLoopChunksBytes, 104u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "smpl");
    EXPECT_EQ(le32At(bytes, 4), 60u);
    const uint32_t sampler[] = {0, 0, 22676, 60, 0, 0, 0, 1, 0,  // 10^9 / 44100 = 22675.7 ns
                                1, 0, 61440, 184319, 0, 0};      // cue 1, forward, start, end, no fraction, for ever
    for (std::size_t i = 0; i < std::size(sampler); ++i) EXPECT_EQ(le32At(bytes, 8 + 4 * i), sampler[i]) << i;
    EXPECT_EQ(std::string(bytes.begin() + 68, bytes.begin() + 72), "cue ");
    EXPECT_EQ(le32At(bytes, 72), 28u);
    EXPECT_EQ(le32At(bytes, 76), 1u);   // one point
    EXPECT_EQ(le32At(bytes, 80), 1u);   // its id, which the loop names
    EXPECT_EQ(le32At(bytes, 84), 61440u);
    EXPECT_EQ(std::string(bytes.begin() + 88, bytes.begin() + 92), "data");
    EXPECT_EQ(le32At(bytes, 92), 0u);
    EXPECT_EQ(le32At(bytes, 96), 0u);
    EXPECT_EQ(le32At(bytes, 100), 61440u);

    encodeLoopChunks(loop, 8000, bytes.data());
    EXPECT_EQ(le32At(bytes, 16), 125000u);
    // The chunks take their room from the samples: the RIFF size, 36 header
    // bytes + the samples + the chunks, still fits 32 bits, one frame more not.
    const uint64_t frames = maxPcm16Frames(2, kLoopChunksBytes);
    EXPECT_LE(36 + 4 * frames + kLoopChunksBytes, 0xFFFFFFFFull);
    EXPECT_GT(36 + 4 * (frames + 1) + kLoopChunksBytes, 0xFFFFFFFFull);
    encodeLoopChunks(loop, 3, bytes.data());
    EXPECT_EQ(le32At(bytes, 16), 333333333u);
}

// A sampler chunk body with `loops` loop records, the first one given.
Bytes samplerBody(uint32_t loops, uint32_t type, uint32_t start, uint32_t end) {
    Bytes body = integerSamples({0, 0, 125000, 60, 0, 0, 0, static_cast<int32_t>(loops), 0}, 4);
    for (uint32_t i = 0; i < loops; ++i) {
        const Bytes record = integerSamples({7, static_cast<int32_t>(type), static_cast<int32_t>(start + i),
                                             static_cast<int32_t>(end + i), 0, 0}, 4);
        body.insert(body.end(), record.begin(), record.end());
    }
    return body;
}

struct Described {
    WavReadStatus before;
    WavReadStatus after;
    WavLayout layout;
};

Described describe(const Bytes& file) {
    TempDir dir;
    writeBytes(dir / "loop.wav", file);
    InputFile input;
    int systemError = 0;
    Described out;
    if (input.open(dir / "loop.wav", InputPolicy::regularOnly, systemError) != InputError::none) return out;
    out.before = readWavLayout(input, out.layout);
    if (out.before.error == WavReadError::none) out.after = readChunksAfterSamples(input, out.layout);
    return out;
}

TEST(LoopChunks, AreReadBeforeOrAfterTheSamples) {
    const Bytes samples = integerSamples({1, -1, 2, -2, 3, -3}, 2);
    const Chunk format{"fmt ", fmtBody(1, 2, 8000, 16)};

    // After the samples, as the renderer writes them, behind an odd LIST.
    Bytes chunks(kLoopChunksBytes);
    SamplerLoop written;
    written.start = 1;
    written.end = 2;
    encodeLoopChunks(written, 8000, chunks.data());
    Bytes file = chunkedWav({format, {"data", samples}, {"LIST", Bytes(5, 'x')}});
    file.insert(file.end(), chunks.begin(), chunks.end());
    setLe32(file, 4, static_cast<uint32_t>(file.size() - 8));
    Described after = describe(file);
    ASSERT_EQ(after.before.error, WavReadError::none);
    EXPECT_EQ(after.after.error, WavReadError::none);
    EXPECT_TRUE(after.layout.hasLoop);
    EXPECT_EQ(after.layout.loop.start, 1u);
    EXPECT_EQ(after.layout.loop.end, 2u);
    EXPECT_EQ(after.layout.loop.type, kForwardLoop);
    EXPECT_EQ(after.layout.trailingTags, "LIST smpl cue ");
    EXPECT_EQ(after.layout.skippedTags, "");

    // Before the samples, with two loops (the first counts) and a type.
    Described before = describe(chunkedWav({format, {"smpl", samplerBody(2, 1, 100, 4000)}, {"data", samples}}));
    EXPECT_TRUE(before.layout.hasLoop);
    EXPECT_EQ(before.layout.loop.start, 100u);
    EXPECT_EQ(before.layout.loop.end, 4000u);
    EXPECT_EQ(before.layout.loop.type, 1u);
    EXPECT_EQ(before.layout.skippedTags, "smpl");

    // No loop: a chunk that declares none, or is too short for its record.
    EXPECT_FALSE(describe(chunkedWav({format, {"data", samples}, {"smpl", samplerBody(0, 0, 0, 0)}})).layout.hasLoop);
    Bytes cut = samplerBody(1, 0, 5, 9);
    cut.resize(50);
    EXPECT_FALSE(describe(chunkedWav({format, {"data", samples}, {"smpl", cut}})).layout.hasLoop);

    // A chunk that passes the end of the file, or bytes that are no chunk,
    // end the walk without an error.
    Bytes passing = chunkedWav({format, {"data", samples}, {"smpl", samplerBody(1, 0, 5, 9)}});
    passing.resize(passing.size() - 30);
    const Described truncated = describe(passing);
    EXPECT_EQ(truncated.after.error, WavReadError::none);
    EXPECT_FALSE(truncated.layout.hasLoop);
    Bytes junk = chunkedWav({format, {"data", samples}});
    junk.insert(junk.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const Described zeros = describe(junk);
    EXPECT_EQ(zeros.after.error, WavReadError::none);
    EXPECT_EQ(zeros.layout.trailingTags, "");
}

}  // namespace
