// The converter's entry: WAV output, song length, and failures that leave
// nothing behind; the exported MODWAV through the shared library.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "module_builder.h"
#include "modwav.h"

namespace {

constexpr int kExtended = 14;

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/plinth-tracker-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

size_t entriesIn(const std::string& dir) {
    std::string command = "ls -A '" + dir + "' | wc -l";
    FILE* pipe = popen(command.c_str(), "r");
    size_t n = 0;
    if (pipe != nullptr) {
        if (std::fscanf(pipe, "%zu", &n) != 1) n = 0;
        pclose(pipe);
    }
    return n;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

long long songFrames(const ModuleBuilder& module, int rate = 8000) {
    return modSongFrames(module.image().data(), static_cast<int>(module.image().size()), rate);
}

TEST(Conversion, ClampAndScale) {
    EXPECT_EQ(floatToSample(1.5f), 32767);
    EXPECT_EQ(floatToSample(-1.5f), -32767);
    EXPECT_EQ(floatToSample(0.99999f), 32766);
    EXPECT_EQ(floatToSample(-0.5f), -16383);
    EXPECT_EQ(clampUnit(-1.0f), -1.0f);
    EXPECT_EQ(clampUnit(0.25f), 0.25f);
}

TEST(WavOutput, OneOrderSongAndItsHeader) {
    TempDir dir;
    ModuleBuilder module;
    writeFile(dir.file("song.mod"), module.image());
    ASSERT_EQ(modToWavFile(dir.file("song.mod").c_str(), dir.file("song.wav").c_str(), 8000), 999);
    const std::vector<uint8_t> wav = readFile(dir.file("song.wav"));
    ASSERT_EQ(wav.size(), 245804u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), 245796u);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(wav, 16), 16u);
    EXPECT_EQ(le16(wav, 20), 1);
    EXPECT_EQ(le16(wav, 22), 2);
    EXPECT_EQ(le32(wav, 24), 8000u);
    EXPECT_EQ(le32(wav, 28), 32000u);
    EXPECT_EQ(le16(wav, 32), 4);
    EXPECT_EQ(le16(wav, 34), 16);
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    EXPECT_EQ(le32(wav, 40), 245760u);
    EXPECT_EQ(songFrames(module), 61440);

    // The header follows the rate.
    ASSERT_EQ(modToWavFile(dir.file("song.mod").c_str(), dir.file("fast.wav").c_str(), 22050), 999);
    const std::vector<uint8_t> fast = readFile(dir.file("fast.wav"));
    EXPECT_EQ(le32(fast, 24), 22050u);
    EXPECT_EQ(le32(fast, 28), 88200u);
    EXPECT_EQ(fast.size(), 44 + 4 * static_cast<size_t>(songFrames(module, 22050)));
}

TEST(WavOutput, SamplesAreTheMixedValues) {
    TempDir dir;
    ModuleBuilder module;
    module.sample(1, 32, 0, 64, 0, 32).cell(0, 0, 0, 1, 428, 0, 0).fill(64, 64);
    writeFile(dir.file("tone.mod"), module.image());
    ASSERT_EQ(modToWavFile(dir.file("tone.mod").c_str(), dir.file("tone.wav").c_str(), 8000), 999);
    const std::vector<uint8_t> wav = readFile(dir.file("tone.wav"));
    // A constant sample byte of 64 at full volume on channel 0 (pan 96).
    const float pan = 96.0f * (1.0f / 255.0f);
    const float volume = 64.0f / 32768.0f;
    const int16_t leftExpected = static_cast<int16_t>(static_cast<int>(64.0f * ((1.0f - pan) * volume) * 32767.0f));
    const int16_t rightExpected = static_cast<int16_t>(static_cast<int>(64.0f * (pan * volume) * 32767.0f));
    for (size_t frame : {0u, 1000u, 61439u}) {
        EXPECT_EQ(static_cast<int16_t>(le16(wav, 44 + frame * 4)), leftExpected) << frame;
        EXPECT_EQ(static_cast<int16_t>(le16(wav, 46 + frame * 4)), rightExpected) << frame;
    }
}

TEST(SongLength, SongsThatNeverLoopEndAfterOnePass) {
    // A break into line 10 of the one order: lines 0..31 once.
    ModuleBuilder breakInto;
    breakInto.cell(0, 31, 0, 0, 0, 13, 0x10);
    EXPECT_EQ(songFrames(breakInto), 32 * 960);

    // Line 0 jumps away at once, for ever: one line.
    ModuleBuilder jumpAway;
    jumpAway.cell(0, 0, 0, 0, 0, 13, 0);
    EXPECT_EQ(songFrames(jumpAway), 960);

    // A plain one-order song still loops exactly where it should.
    EXPECT_EQ(songFrames(ModuleBuilder()), 61440);
}

TEST(SongLength, LoopCountedOnlyInTheSecondPassOfTheCycle) {
    // Order 0 breaks from its line 0 to line 5 of order 1 and is never marked.
    // The cycle runs order 1 from line 5, order 2, order 0's line 0 (125
    // lines). Order 2 is unmarked at its first arrival and counts at its
    // second, read 184, inside the second pass.
    ModuleBuilder module(4, 3);
    module.song(3).order(0, 0).order(1, 1).order(2, 2).cell(0, 0, 0, 0, 0, 13, 0x05);
    EXPECT_EQ(songFrames(module), 184 * 960);
}

TEST(SongLength, SpeedChangesInsideTheCycle) {
    // Line 0 sets speed 3, line 20 breaks to line 10 of the same order, and
    // line 15 sets speed 2 on every pass.
    ModuleBuilder module;
    module.cell(0, 0, 0, 0, 0, 15, 3).cell(0, 15, 1, 0, 0, 15, 2).cell(0, 20, 0, 0, 0, 13, 0x10);
    // The state first recurs once line 15 has set speed 2, so the cycle is
    // lines 16..20, 10..15: lines 0..14 play at speed 3, then 15..20 and
    // 10..15 at speed 2.
    EXPECT_EQ(songFrames(module), (15 * 3 + 6 * 2 + 6 * 2) * 160);
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
    writeFile(dir.file("good.mod"), module.image());
    writeFile(dir.file("empty.mod"), {});
    writeFile(dir.file("text.mod"), std::vector<uint8_t>(3000, 0xFF));
    std::vector<uint8_t> cut = module.image();
    cut.pop_back();
    writeFile(dir.file("cut.mod"), cut);
    mkdir(dir.file("folder.mod").c_str(), 0755);
    // A sparse file of 2 GiB is too large for the player's 32-bit sizes.
    {
        FILE* big = std::fopen(dir.file("big.mod").c_str(), "wb");
        ASSERT_NE(big, nullptr);
        ASSERT_EQ(ftruncate(fileno(big), 0x80000000LL), 0);
        std::fclose(big);
    }
    const size_t before = entriesIn(dir.path);
    for (const char* input : {"missing.mod", "empty.mod", "text.mod", "cut.mod", "folder.mod", "big.mod"}) {
        EXPECT_EQ(modToWavFile(dir.file(input).c_str(), dir.file("out.wav").c_str(), 8000), -1) << input;
        EXPECT_FALSE(exists(dir.file("out.wav"))) << input;
    }
    EXPECT_EQ(modToWavFile(dir.file("good.mod").c_str(), dir.file("no/such/out.wav").c_str(), 8000), -1);
    EXPECT_EQ(modToWavFile(nullptr, dir.file("out.wav").c_str(), 8000), -1);
    EXPECT_EQ(modToWavFile(dir.file("good.mod").c_str(), nullptr, 8000), -1);
    EXPECT_EQ(modToWavFile(dir.file("good.mod").c_str(), dir.file("out.wav").c_str(), 0), -1);
    EXPECT_EQ(entriesIn(dir.path), before);

    // An existing output survives a failed conversion unchanged.
    writeFile(dir.file("keep.wav"), {1, 2, 3});
    EXPECT_EQ(modToWavFile(dir.file("text.mod").c_str(), dir.file("keep.wav").c_str(), 8000), -1);
    EXPECT_EQ(readFile(dir.file("keep.wav")), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Failures, WriteErrorsAreReported) {
    TempDir dir;
    writeFile(dir.file("good.mod"), ModuleBuilder().image());
    EXPECT_EQ(modToWavFile(dir.file("good.mod").c_str(), "/dev/full", 8000), -1);
    EXPECT_EQ(modToWavFile(dir.file("good.mod").c_str(), "/dev/null", 8000), 999);
}

// The shared library, loaded as a host would load it.

typedef int (*ModwavFunction)(const wchar_t*, const wchar_t*);

TEST(SharedLibrary, ExportsOnlyModwav) {
    const std::string command = std::string("nm -D --defined-only '") + PLINTH_TRACKER_LIBRARY + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> functions;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3 &&
            (type[0] == 'T' || type[0] == 'W' || type[0] == 'i')) {
            functions.insert(name);
        }
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(functions, (std::set<std::string>{"MODWAV"}));
}

TEST(SharedLibrary, ModwavConvertsAtEightThousand) {
    void* library = dlopen(PLINTH_TRACKER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const ModwavFunction modwav = reinterpret_cast<ModwavFunction>(dlsym(library, "MODWAV"));
    ASSERT_NE(modwav, nullptr);

    TempDir dir;
    ModuleBuilder module;
    module.cell(0, 10, 0, 0, 0, 13, 0);  // breaks to the next order: 11 lines
    module.song(1);
    writeFile(dir.file("s\xc3\xa5ng.mod"), module.image());
    const std::wstring input = std::wstring(dir.path.begin(), dir.path.end()) + L"/s\u00e5ng.mod";
    const std::wstring output = std::wstring(dir.path.begin(), dir.path.end()) + L"/out.wav";
    EXPECT_EQ(modwav(input.c_str(), output.c_str()), 999);
    const std::vector<uint8_t> wav = readFile(dir.file("out.wav"));
    EXPECT_EQ(wav.size(), 44u + 11u * 960u * 4u);
    EXPECT_EQ(le32(wav, 24), 8000u);

    EXPECT_EQ(modwav(nullptr, output.c_str()), -1);
    EXPECT_EQ(modwav(input.c_str(), nullptr), -1);
    const wchar_t badPath[] = {L'/', static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(modwav(input.c_str(), badPath), -1);
    dlclose(library);
}

}  // namespace
