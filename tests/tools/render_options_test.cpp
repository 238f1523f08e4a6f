// mod2wav's loops, fade, loop points and stems through the tool: the files
// read back by a chunk walk of the test's own and by other programs' readers,
// the stems planned and refused as outputs are, and the plain mixer's bytes.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/tools/tool_test_support.h"

using namespace tooltest;

namespace {

// 960 frames a six-tick line at 8000 frames per second.
constexpr uint32_t kLineFrames = 960;

// An intro (order 0), then orders 1 and 2, whose last line jumps back to
// order 1: the loop starts after 64 lines and lasts 128.
plinth::ModuleBuilder introAndBody(int channels = 4) {
    plinth::ModuleBuilder module(channels, 3);
    module.song(3).order(0, 0).order(1, 1).order(2, 2);
    std::vector<int8_t> data(600);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<int8_t>((i * 53) % 220 - 110);
    module.sample(1, 300, 0, 64, 100, 100).data(data);
    for (int pattern = 0; pattern < 3; ++pattern) {
        for (int line = 0; line < plinth::kLinesPerPattern; line += 2) {
            const int channel = (line / 2) % channels;
            module.cell(pattern, line, channel, 1, plinth::kNotePeriods[(line + pattern * 11) % 36], 0, 0);
        }
    }
    module.cell(2, 63, 0, 0, 0, plinth::kEffectPositionJump, 1);
    return module;
}

struct ChunkPlace {
    std::size_t start = 0;  // of the body
    uint32_t size = 0;
};

// The chunks of a RIFF file by tag, walked from byte 12 to the end.
std::map<std::string, ChunkPlace> chunksOf(const Bytes& file) {
    std::map<std::string, ChunkPlace> chunks;
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::string tag(file.begin() + static_cast<std::ptrdiff_t>(at),
                              file.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const uint32_t size = le32At(file, at + 4);
        chunks[tag] = ChunkPlace{at + 8, size};
        at += 8 + size + (size & 1u);
    }
    return chunks;
}

// What a program printed, or "" when it cannot be run.
std::string outputOf(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
        pclose(pipe);
    }
    return text;
}

// The names in a folder, sorted.
std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

bool haveProgram(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0; }

TEST(LoopPoints, MarkWhereTheLoopedToOrderWasFirstPlayedAndReadBackElsewhere) {
    TempDir dir;
    writeBytes(dir / "song.mod", introAndBody().image());
    ASSERT_EQ(runTool({"mod2wav", dir / "song.mod", dir / "plain.wav"}).status, 0);
    ASSERT_EQ(runTool({"mod2wav", "--loop-points", dir / "song.mod", dir / "marked.wav"}).status, 0);
    const Bytes plain = readBytes(dir / "plain.wav");
    const Bytes marked = readBytes(dir / "marked.wav");

    const uint32_t frames = 3 * 64 * kLineFrames;
    ASSERT_EQ(plain.size(), 44u + 4u * frames);
    ASSERT_EQ(marked.size(), plain.size() + 8 + 60 + 8 + 28);
    // The same header and samples, the RIFF size counting the chunks after them.
    EXPECT_EQ(le32At(marked, 4), marked.size() - 8);
    EXPECT_EQ(le32At(marked, 40), 4u * frames);
    EXPECT_TRUE(std::equal(plain.begin() + 8, plain.end(), marked.begin() + 8));

    std::map<std::string, ChunkPlace> chunks = chunksOf(marked);
    ASSERT_EQ(chunks.count("smpl"), 1u);
    ASSERT_EQ(chunks.count("cue "), 1u);
    const std::size_t smpl = chunks["smpl"].start;
    EXPECT_EQ(chunks["smpl"].size, 60u);
    EXPECT_EQ(le32At(marked, smpl + 8), 125000u);  // ns a frame
    EXPECT_EQ(le32At(marked, smpl + 28), 1u);      // one loop
    EXPECT_EQ(le32At(marked, smpl + 36), 1u);      // named by cue point 1
    EXPECT_EQ(le32At(marked, smpl + 40), 0u);      // forward
    EXPECT_EQ(le32At(marked, smpl + 44), 64 * kLineFrames);
    EXPECT_EQ(le32At(marked, smpl + 48), frames - 1);  // the last frame, played too
    EXPECT_EQ(le32At(marked, smpl + 56), 0u);          // for ever
    const std::size_t cue = chunks["cue "].start;
    EXPECT_EQ(le32At(marked, cue), 1u);
    EXPECT_EQ(le32At(marked, cue + 4), 1u);
    EXPECT_EQ(le32At(marked, cue + 8), 64 * kLineFrames);

    if (haveProgram("sndfile-info")) {
        // Its report with each run of spaces made one.
        std::string report;
        for (char c : outputOf("sndfile-info '" + dir / "marked.wav" + "'")) {
            if (c != ' ' || report.empty() || report.back() != ' ') report += c;
        }
        EXPECT_NE(report.find("Loop Count : 1\n"), std::string::npos) << report;
        EXPECT_NE(report.find("Cue ID : 1 Type : 0 Start : 61440 End : 184319 Fraction : 0 Count : 0"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find("Cue ID : 1 Pos : 61440 Chunk : data"), std::string::npos) << report;
    }
    // Another reader takes the samples and nothing after them.
    if (haveProgram("sox")) {
        std::system(("sox '" + dir / "marked.wav" + "' -t raw '" + dir / "marked.raw" + "'").c_str());
        std::system(("sox '" + dir / "plain.wav" + "' -t raw '" + dir / "plain.raw" + "'").c_str());
        EXPECT_EQ(readBytes(dir / "marked.raw"), Bytes(plain.begin() + 44, plain.end()));
        EXPECT_EQ(readBytes(dir / "plain.raw").size(), 4u * frames);
    }
}

TEST(LoopPoints, InfoTellsTheLoopOfAModuleAndOfAMarkedFile) {
    TempDir dir;
    writeBytes(dir / "song.mod", introAndBody().image());
    ASSERT_EQ(runTool({"mod2wav", "--loop-points", "--loops", "2", "--rate", "16000", dir / "song.mod",
                       dir / "two.wav"})
                  .status,
              0);
    const RunResult info = runTool({"info", dir / "song.mod", dir / "two.wav"});
    ASSERT_EQ(info.status, 0) << info.err;
    // 64 lines (7.68 s) in, 128 lines (15.36 s) long; at 16000 the second
    // loop starts after 192 lines of 1920 frames.
    EXPECT_NE(info.out.find("  loop:              from frame 61440 (7.680 s), 122880 frames (15.360 s)\n"),
              std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("  chunks after:      smpl cue \n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("  loop:              from frame 368640 (23.040 s), 245760 frames (15.360 s), forward\n"),
              std::string::npos)
        << info.out;
}

TEST(LoopsAndFade, OneLoopIsTheDefaultAndMoreLoopsAndTheFadeLengthenTheFile) {
    TempDir dir;
    writeBytes(dir / "song.mod", introAndBody().image());
    for (const char* rate : {"8000", "22050", "44100"}) {
        const std::string plain = dir / (std::string("plain-") + rate + ".wav");
        const std::string one = dir / (std::string("one-") + rate + ".wav");
        ASSERT_EQ(runTool({"mod2wav", "--rate", rate, dir / "song.mod", plain}).status, 0);
        ASSERT_EQ(runTool({"mod2wav", "--rate", rate, "--loops", "1", dir / "song.mod", one}).status, 0);
        EXPECT_EQ(readBytes(one), readBytes(plain)) << rate;
    }
    // Two loops and 1.5 s of fade at 8000: 5 x 64 lines, then 12000 frames.
    ASSERT_EQ(runTool({"mod2wav", "--loops", "2", "--fade", "1.5", dir / "song.mod", dir / "faded.wav"}).status, 0);
    const Bytes faded = readBytes(dir / "faded.wav");
    EXPECT_EQ(faded.size(), 44u + 4u * (5 * 64 * kLineFrames + 12000));
    EXPECT_EQ(le32At(faded, 40), 4u * (5 * 64 * kLineFrames + 12000));
    // The last frame of the fade is at 1/12000 of full scale: |s| <= 2.
    for (std::size_t at = faded.size() - 4; at < faded.size(); at += 2) {
        const auto sample = static_cast<int16_t>(faded[at] | faded[at + 1] << 8);
        EXPECT_LE(std::abs(sample), 2);
    }
    // The limit counts the loops and the fade: 38.4 s of loops pass 38 s.
    const RunResult tooLong = runTool({"mod2wav", "--loops", "2", "--max-duration", "38", dir / "song.mod",
                                       dir / "long.wav"});
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_NE(tooLong.err.find("with its loops and fade"), std::string::npos) << tooLong.err;
    EXPECT_FALSE(exists(dir / "long.wav"));
    EXPECT_EQ(runTool({"mod2wav", "--loops", "2", "--max-duration", "39", dir / "song.mod", dir / "long.wav"}).status,
              0);
    EXPECT_EQ(runTool({"mod2wav", "--loops", "2", "--fade", "0.601", "--max-duration", "39", dir / "song.mod",
                       dir / "longer.wav"})
                  .status,
              1);
}

TEST(LoopsAndFade, UsageErrors) {
    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
             {"--loops", "0"}, {"--loops", "1001"}, {"--loops", "two"}, {"--fade", "-1"}, {"--fade", "1.2345"},
             {"--fade", "3600.001"}, {"--fade", ".5"}, {"--fade", "5."}, {"--fade", ""}, {"--stems", ""}}) {
        std::vector<std::string> args{"mod2wav", "a.mod", "b.wav"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult run = runTool(args);
        EXPECT_EQ(run.status, 2) << extra[0] << " " << extra[1];
        EXPECT_NE(run.err.find("Try 'plinth mod2wav --help'"), std::string::npos) << run.err;
    }
    const RunResult help = runTool({"mod2wav", "--help"});
    for (const char* option : {"--loops N", "--fade S", "--loop-points", "--stems DIR", "Examples:"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST(Stems, OneFilePerChannelTheMixsLengthNamedAfterTheInput) {
    TempDir dir;
    writeBytes(dir / "song.mod", introAndBody(3).image());
    ASSERT_EQ(runTool({"mod2wav", "--loops", "2", "--fade", "0.25", "--loop-points", "--stems", dir / "parts",
                       dir / "song.mod", dir / "song.wav"})
                  .status,
              0);
    EXPECT_EQ(entriesOf(dir / "parts"),
              (std::vector<std::string>{"song-01.wav", "song-02.wav", "song-03.wav"}));
    const Bytes mix = readBytes(dir / "song.wav");
    for (const char* name : {"song-01.wav", "song-02.wav", "song-03.wav"}) {
        const Bytes stem = readBytes(dir / "parts/" + name);
        ASSERT_EQ(stem.size(), mix.size()) << name;
        // The same header and chunks after the samples; other samples.
        EXPECT_TRUE(std::equal(mix.begin(), mix.begin() + 44, stem.begin())) << name;
        EXPECT_TRUE(std::equal(mix.end() - 104, mix.end(), stem.end() - 104)) << name;
        EXPECT_NE(stem, mix) << name;
    }
    // In a batch, each module's stems go beside the others'.
    writeBytes(dir / "other.mod", introAndBody(2).image());
    ASSERT_EQ(runTool({"mod2wav", "-o", dir / "out", "--stems", dir / "parts", "-f", dir / "song.mod",
                       dir / "other.mod"})
                  .status,
              0);
    EXPECT_EQ(entriesOf(dir / "parts"), (std::vector<std::string>{"other-01.wav", "other-02.wav",
                                                                           "song-01.wav", "song-02.wav",
                                                                           "song-03.wav"}));
    EXPECT_EQ(readBytes(dir / "out/song.wav").size(), 44u + 4u * 3 * 64 * kLineFrames);
}

TEST(Stems, AreRefusedAsOutputsAreAndNothingIsWrittenForARefusedJob) {
    TempDir dir;
    writeBytes(dir / "song.mod", introAndBody().image());
    std::filesystem::create_directories(dir / "parts");
    writeBytes(dir / "parts/song-03.wav", Bytes{'o', 'l', 'd'});

    RunResult run = runTool({"mod2wav", "--stems", dir / "parts", dir / "song.mod", dir / "song.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(dir / "parts/song-03.wav: exists (use --force to replace it)"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(dir / "song.wav"));
    EXPECT_EQ(entriesOf(dir / "parts"), std::vector<std::string>{"song-03.wav"});

    ASSERT_EQ(runTool({"mod2wav", "-f", "--stems", dir / "parts", dir / "song.mod", dir / "song.wav"}).status, 0);
    EXPECT_EQ(entriesOf(dir / "parts").size(), 4u);
    EXPECT_NE(readBytes(dir / "parts/song-03.wav"), (Bytes{'o', 'l', 'd'}));

    // Standard input cannot be counted before it is read.
    run = runTool({"mod2wav", "--stems", dir / "parts", "-", dir / "piped.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("stems need a module file"), std::string::npos) << run.err;
}

// The environment switch to the plain mixer, for one run of the tool.
struct PlainMixer {
    PlainMixer() { setenv("PLINTH_SCALAR", "1", 1); }
    ~PlainMixer() { unsetenv("PLINTH_SCALAR"); }
};

TEST(RenderOptions, ThePlainMixerWritesTheSameBytes) {
    TempDir dir;
    writeBytes(dir / "song.mod", introAndBody().image());
    const std::vector<std::string> options{"--loops", "2", "--fade", "2", "--loop-points", "--rate", "44100"};
    auto run = [&](const std::string& name) {
        std::vector<std::string> args{"mod2wav", "--stems", dir / (name + "-parts"), dir / "song.mod",
                                      dir / (name + ".wav")};
        args.insert(args.end(), options.begin(), options.end());
        return runTool(args).status;
    };
    ASSERT_EQ(run("vector"), 0);
    {
        PlainMixer plain;
        ASSERT_EQ(run("plain"), 0);
    }
    EXPECT_EQ(readBytes(dir / "vector.wav"), readBytes(dir / "plain.wav"));
    for (const char* stem : {"/song-01.wav", "/song-04.wav"})
        EXPECT_EQ(readBytes(dir / "vector-parts" + stem), readBytes(dir / "plain-parts" + stem)) << stem;
}

}  // namespace
