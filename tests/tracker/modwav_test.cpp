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

#include "module_builder.h"
#include "modwav.h"

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/plinth-tracker-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}
std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}
uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}
long long songFrames(const ModuleBuilder& module, int rate = 8000) {
    return modSongFrames(module.image().data(), static_cast<int>(module.image().size()), rate);
}
int convert(const std::string& in, const std::string& out, int rate = 8000) {
    return modToWavFile(in.c_str(), out.c_str(), rate);
}

TEST(WavOutput, OneOrderSongHeaderAndSamples) {
    TempDir dir;
    ModuleBuilder module;  // one 64-line order; sample 1 a looped constant 64
    module.sample(1, 32, 0, 64, 0, 32).cell(0, 0, 0, 1, 428, 0, 0).data(std::vector<int8_t>(64, 64));
    writeFile(dir / "song.mod", module.image());
    ASSERT_EQ(convert(dir / "song.mod", dir / "song.wav"), 999);
    const std::vector<uint8_t> wav = readFile(dir / "song.wav");
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
    const std::vector<uint8_t> fast = readFile(dir / "fast.wav");
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

// The measuring pass moves only the song position; the render that follows
// processes the channels too. Both must end on the same frame.
TEST(SongLength, MeasuredAsLongAsRendered) {
    TestRandom random{31};
    for (int channels : {1, 4, 8, 32}) {
        for (int rate : {8000, 22050, 1000}) {
            const ModuleBuilder module = composeRandomModule(random, channels);
            ModPlayer player;
            ASSERT_EQ(modPrepareSong(&player, module.image().data(), static_cast<int32_t>(module.image().size()), rate), 1);
            std::vector<float> block(1024);
            long long rendered = 0;
            while (modLoopCount(&player) == 0 && player.stopped == 0) {
                rendered += modRender(&player, block.data(), 4096) / 8;
            }
            EXPECT_EQ(songFrames(module, rate), rendered) << channels << " channels at " << rate;
        }
    }
}

TEST(SongLength, FramesNeverPassTheHeaderLimit) {
    ModuleBuilder module;
    EXPECT_EQ(songFrames(module, kMaxWavRate), kMaxWavFrames);
    EXPECT_EQ(kMaxWavFrames * 4 + 36, 0xFFFFFFFFLL - 3);
    EXPECT_EQ(songFrames(module, kMaxWavRate + 1), -1);
    EXPECT_EQ(modSongFrames(module.image().data(), 100, 8000), -1);
}

TEST(Failures, LeaveNothingBehind) {
    TempDir dir;
    ModuleBuilder module;
    std::vector<uint8_t> cut = module.image();
    cut.pop_back();
    writeFile(dir / "good.mod", module.image());
    writeFile(dir / "empty.mod", {});
    writeFile(dir / "text.mod", std::vector<uint8_t>(3000, 0xFF));
    writeFile(dir / "cut.mod", cut);
    mkdir((dir / "folder.mod").c_str(), 0755);
    mkfifo((dir / "pipe.mod").c_str(), 0600);  // must fail, not wait for a writer
    writeFile(dir / "big.mod", {});
    ASSERT_EQ(truncate((dir / "big.mod").c_str(), 0x80000000LL), 0);  // 2 GiB, sparse
    writeFile(dir / "keep.wav", {1, 2, 3});
    for (const char* input : {"missing.mod", "empty.mod", "text.mod", "cut.mod", "folder.mod", "pipe.mod", "big.mod"}) {
        EXPECT_EQ(convert(dir / input, dir / "out.wav"), -1) << input;
        EXPECT_EQ(convert(dir / input, dir / "keep.wav"), -1) << input;
    }
    EXPECT_EQ(convert(dir / "good.mod", dir / "no/such/out.wav"), -1);
    EXPECT_EQ(convert(dir / "good.mod", dir / "out.wav", 0), -1);
    EXPECT_EQ(modToWavFile(nullptr, (dir / "out.wav").c_str(), 8000), -1);
    EXPECT_EQ(modToWavFile((dir / "good.mod").c_str(), nullptr, 8000), -1);
    EXPECT_EQ(convert(dir / "good.mod", "/dev/full"), -1);  // a write error
    EXPECT_FALSE(exists(dir / "out.wav"));
    EXPECT_EQ(readFile(dir / "keep.wav"), (std::vector<uint8_t>{1, 2, 3}));
    FILE* listing = popen(("ls -A '" + dir.path + "' | wc -l").c_str(), "r");
    int entries = 0;
    EXPECT_EQ(std::fscanf(listing, "%d", &entries), 1);
    pclose(listing);
    EXPECT_EQ(entries, 8);  // the inputs and keep.wav: no temporary file left
    EXPECT_EQ(convert(dir / "good.mod", "/dev/null"), 999);  // a device is written directly
}

TEST(SharedLibrary, ExportsOnlyModwav) {
    FILE* pipe = popen((std::string("nm -D --defined-only '") + PLINTH_TRACKER_LIBRARY + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> functions;
    char address[64], type[8], name[400];
    while (std::fscanf(pipe, "%63s %7s %399s", address, type, name) == 3) {
        if (std::string("TWi").find(type[0]) != std::string::npos) functions.insert(name);
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(functions, (std::set<std::string>{"MODWAV"}));
}

TEST(SharedLibrary, ModwavConvertsAtEightThousand) {
    void* library = dlopen(PLINTH_TRACKER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    typedef int (*Modwav)(const wchar_t*, const wchar_t*);
    const Modwav modwav = reinterpret_cast<Modwav>(dlsym(library, "MODWAV"));
    ASSERT_NE(modwav, nullptr);
    TempDir dir;
    ModuleBuilder module;  // breaks to line 0 of the next order (itself) after 11 lines
    writeFile(dir / "s\xc3\xa5ng.mod", module.effect(10, 0, 13, 0).image());
    const std::wstring folder(dir.path.begin(), dir.path.end());
    const std::wstring input = folder + L"/s\u00e5ng.mod";
    const std::wstring output = folder + L"/out.wav";
    EXPECT_EQ(modwav(input.c_str(), output.c_str()), 999);
    const std::vector<uint8_t> wav = readFile(dir / "out.wav");
    EXPECT_EQ(wav.size(), 44u + 11u * 960u * 4u);
    EXPECT_EQ(le(wav, 24, 4), 8000u);
    const wchar_t badPath[] = {L'/', static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(modwav(nullptr, output.c_str()), -1);
    EXPECT_EQ(modwav(input.c_str(), nullptr), -1);
    EXPECT_EQ(modwav(input.c_str(), badPath), -1);
    dlclose(library);
}

}  // namespace
