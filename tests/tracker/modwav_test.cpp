// The converter's entry: WAV output, song length, failures that leave nothing
// behind, and the exported MODWAV through the shared library.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "tests/support/exported_symbols.h"
#include "tests/support/test_modules.h"
#include "tracker/module_render.h"
#include "tests/support/collect_samples.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

using namespace plinth;
using namespace testsupport;

namespace {

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}
uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}
// Frames the whole song lasts, or -1 when it cannot be played.
long long songFrames(const ModuleBuilder& module, int rate = 8000, int32_t size = -1) {
    Song song;
    const int32_t bytes = size >= 0 ? size : static_cast<int32_t>(module.image().size());
    return prepareSong(song, module.image().data(), bytes, rate) == ModuleError::none ? static_cast<long long>(song.frames)
                                                                                    : -1;
}
// 999 or -1, as MODWAV answers.
int convert(const std::string& in, const std::string& out, int rate = 8000) {
    return convertModuleFile(in, out, rate).error == ModuleError::none ? 999 : -1;
}

TEST(WavOutput, OneOrderSongHeaderAndSamples) {
    TempDir dir;
    ModuleBuilder module;  // one 64-line order; sample 1 a looped constant 64
    module.sample(1, 32, 0, 64, 0, 32).cell(0, 0, 0, 1, 428, 0, 0).data(std::vector<int8_t>(64, 64));
    writeBytes(dir / "song.mod", module.image());
    ASSERT_EQ(convert(dir / "song.mod", dir / "song.wav"), 999);
    const std::vector<uint8_t> wav = readBytes(dir / "song.wav");
    ASSERT_EQ(wav.size(), 245804u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 16), std::string("RIFF\x24\xC0\x03\0WAVEfmt ", 16));
    const uint32_t fields[][3] = {{16, 4, 16}, {20, 2, 1}, {22, 2, 2},  {24, 4, 8000},
                                  {28, 4, 32000}, {32, 2, 4}, {34, 2, 16}, {40, 4, 245760}};
    for (const auto& f : fields) EXPECT_EQ(le(wav, f[0], static_cast<int>(f[1])), f[2]) << f[0];
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    // Channel 0 sits at pan 96; each side is the clamped value times 32767.
    const float pan = 96.0f * (1.0f / 255.0f);
    const int16_t left = static_cast<int16_t>(static_cast<int>(64.0f * ((1.0f - pan) * (64.0f / 32768.0f)) * 32767.0f));
    const int16_t right = static_cast<int16_t>(static_cast<int>(64.0f * (pan * (64.0f / 32768.0f)) * 32767.0f));
    for (size_t frame : {0u, 1000u, 61439u}) {
        EXPECT_EQ(static_cast<int16_t>(le(wav, 44 + frame * 4, 2)), left) << frame;
        EXPECT_EQ(static_cast<int16_t>(le(wav, 46 + frame * 4, 2)), right) << frame;
    }
    // The header follows the rate.
    ASSERT_EQ(convert(dir / "song.mod", dir / "fast.wav", 22050), 999);
    const std::vector<uint8_t> fast = readBytes(dir / "fast.wav");
    EXPECT_EQ(le(fast, 24, 4), 22050u);
    EXPECT_EQ(le(fast, 28, 4), 88200u);
    EXPECT_EQ(fast.size(), 44 + 4 * static_cast<size_t>(songFrames(module, 22050)));

    EXPECT_EQ(floatToSample(1.5f), 32767);
    EXPECT_EQ(floatToSample(-1.5f), -32767);
    EXPECT_EQ(floatToSample(0.99999f), 32766);
    EXPECT_EQ(floatToSample(-0.5f), -16383);
}

TEST(SongLength, SongsThatNeverLoopEndAfterOnePassOfTheirCycle) {
    EXPECT_EQ(songFrames(ModuleBuilder()), 61440);  // looping songs end at the loop
    ModuleBuilder breakInto;                        // lines 0..31, then 10..31 for ever
    EXPECT_EQ(songFrames(breakInto.effect(31, 0, 13, 0x10)), 32 * 960);
    ModuleBuilder jumpAway;  // line 0 breaks to line 0 of the next order, itself
    EXPECT_EQ(songFrames(jumpAway.effect(0, 0, 13, 0)), 960);
    // Speed is part of the position: the state first recurs once line 15 has
    // set speed 2, so lines 0..14 play at speed 3, then 15..20, 10..15 at 2.
    ModuleBuilder speeds;
    speeds.effect(0, 0, 15, 3).effect(15, 1, 15, 2).effect(20, 0, 13, 0x10);
    EXPECT_EQ(songFrames(speeds), (15 * 3 + 12 * 2) * 160);
}

TEST(SongLength, LoopCountedOnlyInTheSecondPassOfTheCycle) {
    // Order 0 breaks from its line 0 to line 5 of order 1 and is never marked.
    // The cycle runs order 1 from line 5, order 2, order 0's line 0 (125
    // lines). Order 2 is unmarked at its first arrival and counts at its
    // second, read 184, inside the second pass.
    ModuleBuilder module(4, 3);
    module.song(3).order(1, 1).order(2, 2).effect(0, 0, 13, 0x05);
    EXPECT_EQ(songFrames(module), 184 * 960);
}

// A pattern loop from line 1 jumps to "the line before the loop start", 0:
// no arrival at line 0, so it counts no loop, and lines 1..3 play three times
// in each of the two orders before order 0 comes round again.
TEST(SongLength, PatternLoopBackToLineOneCountsNoLoop) {
    ModuleBuilder module(4, 1);
    module.song(2).order(1, 0).effect(1, 0, kExtended, 0x60).effect(3, 0, kExtended, 0x62);
    EXPECT_EQ(songFrames(module), 2 * (64 + 2 * 3) * 960);
    // A loop from line 0 still brings playback back to line 0 of a played order.
    ModuleBuilder fromLineZero(4, 1);
    fromLineZero.effect(0, 0, kExtended, 0x60).effect(3, 0, kExtended, 0x62);
    EXPECT_EQ(songFrames(fromLineZero), 4 * 960);
}

// The measuring pass moves only the song position; the render that follows
// processes the channels too. Both must end on the same frame.
TEST(SongLength, MeasuredAsLongAsRendered) {
    TestRandom random{31};
    for (int channels : {1, 4, 8, 32}) {
        for (int rate : {8000, 22050, 1000}) {
            const ModuleBuilder module = composeRandomModule(random, channels);
            Song song;
            ASSERT_EQ(prepareSong(song, module.image().data(), static_cast<int32_t>(module.image().size()), rate),
                      ModuleError::none);
            std::vector<float> block(1024);
            uint64_t rendered = 0;
            while (modLoopCount(song.player) == 0 && song.player.stopped == 0) {
                rendered += modRender(song.player, block.data(), 4096) / 8;
            }
            EXPECT_EQ(song.frames, rendered) << channels << " channels at " << rate;
        }
    }
}

TEST(SongLength, FramesNeverPassTheHeaderLimit) {
    ModuleBuilder module;
    EXPECT_EQ(songFrames(module, kMaxWavRate), static_cast<long long>(kMaxWavFrames));
    EXPECT_EQ(kMaxWavFrames * 4 + 36, 0xFFFFFFFFull - 3);
    EXPECT_EQ(songFrames(module, kMaxWavRate + 1), -1);
    EXPECT_EQ(songFrames(module, 8000, 100), -1);
}

TEST(Failures, LeaveNothingBehind) {
    TempDir dir;
    ModuleBuilder module;
    std::vector<uint8_t> cut = module.image();
    cut.pop_back();
    writeBytes(dir / "good.mod", module.image());
    writeBytes(dir / "empty.mod", {});
    writeBytes(dir / "text.mod", std::vector<uint8_t>(3000, 0xFF));
    writeBytes(dir / "cut.mod", cut);
    mkdir((dir / "folder.mod").c_str(), 0755);
    mkfifo((dir / "pipe.mod").c_str(), 0600);  // must fail, not wait for a writer
    writeBytes(dir / "big.mod", {});
    ASSERT_EQ(truncate((dir / "big.mod").c_str(), 0x80000000LL), 0);  // 2 GiB, sparse
    writeBytes(dir / "keep.wav", {1, 2, 3});
    for (const char* input : {"missing.mod", "empty.mod", "text.mod", "cut.mod", "folder.mod", "pipe.mod", "big.mod"}) {
        EXPECT_EQ(convert(dir / input, dir / "out.wav"), -1) << input;
        EXPECT_EQ(convert(dir / input, dir / "keep.wav"), -1) << input;
    }
    EXPECT_EQ(convert(dir / "good.mod", dir / "no/such/out.wav"), -1);
    EXPECT_EQ(convert(dir / "good.mod", dir / "out.wav", 0), -1);
    EXPECT_EQ(convert(dir / "good.mod", "/dev/full"), -1);  // a write error
    EXPECT_FALSE(exists(dir / "out.wav"));
    EXPECT_EQ(readBytes(dir / "keep.wav"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.entries().size(), 8u);  // the inputs and keep.wav: no temporary file left
    EXPECT_EQ(convert(dir / "good.mod", "/dev/null"), 999);  // a device is written directly
}

TEST(SharedLibrary, ExportsOnlyModwav) {
    EXPECT_EQ(exportedFunctions(PLINTH_TRACKER_LIBRARY), std::set<std::string>{"MODWAV"});
}

TEST(SharedLibrary, ModwavConvertsAtEightThousand) {
    void* library = dlopen(PLINTH_TRACKER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    typedef int (*Modwav)(const wchar_t*, const wchar_t*);
    const Modwav modwav = reinterpret_cast<Modwav>(dlsym(library, "MODWAV"));
    ASSERT_NE(modwav, nullptr);
    TempDir dir;
    ModuleBuilder module;  // breaks to line 0 of the next order (itself) after 11 lines
    writeBytes(dir / "s\xc3\xa5ng.mod", module.effect(10, 0, 13, 0).image());
    const std::wstring folder(dir.path().begin(), dir.path().end());
    const std::wstring input = folder + L"/s\u00e5ng.mod";
    const std::wstring output = folder + L"/out.wav";
    EXPECT_EQ(modwav(input.c_str(), output.c_str()), 999);
    const std::vector<uint8_t> wav = readBytes(dir / "out.wav");
    EXPECT_EQ(wav.size(), 44u + 11u * 960u * 4u);
    EXPECT_EQ(le(wav, 24, 4), 8000u);
    const wchar_t badPath[] = {L'/', static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(modwav(nullptr, output.c_str()), -1);
    EXPECT_EQ(modwav(input.c_str(), nullptr), -1);
    EXPECT_EQ(modwav(input.c_str(), badPath), -1);
    dlclose(library);
}

}  // namespace

namespace {

// The renderer in memory gives exactly the samples of the file conversion, at
// the converter's rate and at others; a pipe as output gets the same bytes.
TEST(Renderer, InMemoryFramesAreTheFilesSamples) {
    TempDir dir;
    ModuleBuilder module(4, 2);
    module.song(2).order(1, 1).sample(1, 40, 0, 64, 8, 12).sample(2, 25, 3, 40);
    std::vector<int8_t> data(130);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<int8_t>((i * 37) % 251 - 125);
    module.data(data).cell(0, 0, 0, 1, 428, 4, 0x46).cell(0, 0, 1, 2, 302, 10, 0x02).cell(0, 4, 2, 1, 214, 8, 0xC0);
    module.cell(0, 16, 3, 2, 856, 3, 0x08).cell(1, 8, 0, 1, 113, kExtended, 0x93).effect(40, 1, 13, 0x10);
    writeBytes(dir / "song.mod", module.image());
    for (int rate : {8000, 44100, 11111}) {
        const std::string wavPath = dir / ("song" + std::to_string(rate) + ".wav");
        ASSERT_EQ(convert(dir / "song.mod", wavPath, rate), 999);
        Song song;
        ASSERT_EQ(prepareSong(song, module.image().data(), static_cast<int32_t>(module.image().size()), rate),
                  ModuleError::none);
        std::vector<int16_t> rendered;
        const SampleSink sink = collectInto(rendered);
        ASSERT_EQ(renderSong(song, sink), ModuleError::none);
        EXPECT_EQ(rendered.size(), 2 * song.frames);
        EXPECT_EQ(rendered, samplesOf(readBytes(wavPath))) << rate;
    }

    ASSERT_EQ(mkfifo((dir / "out.fifo").c_str(), 0600), 0);
    Bytes piped;
    std::thread reader([&] { piped = readBytes(dir / "out.fifo"); });
    EXPECT_EQ(convert(dir / "song.mod", dir / "out.fifo"), 999);
    reader.join();
    EXPECT_EQ(piped, readBytes(dir / "song8000.wav"));
}

}  // namespace
