// The tool's commands against direct calls of the libraries, its usage
// errors, help and version, and `info` against values worked out from the
// inputs' construction.

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tracker/module_render.h"
#include "plinth/modwav.h"
#include "plinth/resample_wav.h"
#include "tests/tools/tool_test_support.h"

using namespace tooltest;

namespace {


// "  key:   value" lines of one `info` description, keyed by what stands before the colon.
std::map<std::string, std::string> infoFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::size_t keyStart = line.find_first_not_of(' ');
        const std::size_t valueStart = line.find_first_not_of(' ', colon + 1);
        fields[line.substr(keyStart, colon - keyStart)] = valueStart == std::string::npos ? "" : line.substr(valueStart);
    }
    return fields;
}

TEST(CommandLine, UsageErrorsExitWithTwoAndPointToHelp) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"--frobnicate"},
        {"resample", "a.wav", "b.wav"},
        {"resample", "a.wav", "b.wav", "--rate", "0"},
        {"resample", "a.wav", "b.wav", "--rate", "-8000"},
        {"resample", "a.wav", "b.wav", "--rate", "8k"},
        {"resample", "a.wav", "b.wav", "--rate"},
        {"resample", "a.wav", "b.wav", "--rate", "8000", "--channel", "left"},
        {"resample", "a.wav", "b.wav", "c.wav", "--rate", "8000"},
        {"resample", "a.wav", "--rate", "8000"},
        {"resample", "a.wav", "b.wav", "--rate", "8000", "--bogus"},
        {"resample", "--rate", "8000", "-o", "out", "-j", "0", "a.wav"},
        {"mod2wav", "a.mod"},
        {"mod2wav", "a.mod", "b.wav", "--rate", "999"},
        {"mod2wav", "a.mod", "b.wav", "--channel", "mix"},
        {"info"},
    };
    for (const auto& args : cases) {
        const RunResult run = runTool(args);
        std::string shown;
        for (const auto& arg : args) shown += " " + arg;
        EXPECT_EQ(run.status, 2) << "plinth" << shown;
        EXPECT_NE(run.err.find("Try 'plinth"), std::string::npos) << "plinth" << shown << "\n" << run.err;
        EXPECT_EQ(run.out, "") << "plinth" << shown;
    }
}

TEST(CommandLine, HelpForTheToolAndEachCommandAndVersion) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--help"}, "Usage: plinth COMMAND"},
        {{"-h"}, "Usage: plinth COMMAND"},
        {{"resample", "--help"}, "Usage: plinth resample"},
        {{"mod2wav", "-h"}, "Usage: plinth mod2wav"},
        {{"info", "--help"}, "Usage: plinth info"},
    };
    for (const auto& [args, start] : cases) {
        const RunResult run = runTool(args);
        EXPECT_EQ(run.status, 0) << start;
        EXPECT_EQ(run.out.rfind(start, 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
    const RunResult version = runTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "plinth " PLINTH_EXPECTED_VERSION "\n");
}

TEST(Resample, OutputIsByteForByteTheLibrarysForEveryChannelMode) {
    TempDir dir;
    writeBytes(dir / "stereo.wav", sawtoothWav(2, 44100, 3000));
    const std::vector<std::pair<std::string, int>> modes = {{"first", 0}, {"second", 1}, {"mix", 2}};
    for (const auto& [name, mode] : modes) {
        for (int rate : {8000, 16000, 48000}) {
            const std::string viaTool = dir / ("tool-" + name + std::to_string(rate) + ".wav");
            const std::string direct = dir / ("lib-" + name + std::to_string(rate) + ".wav");
            const RunResult run =
                runTool({"resample", dir / "stereo.wav", viaTool, "--rate", std::to_string(rate), "--channel", name});
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.err, "");
            ASSERT_EQ(ResampleWav(wide(dir / "stereo.wav").c_str(), wide(direct).c_str(), rate, mode), 1);
            EXPECT_EQ(readBytes(viaTool), readBytes(direct)) << name << " " << rate;
        }
    }
    // The modes really differ, so the option reaches the library.
    EXPECT_NE(readBytes(dir / "tool-first8000.wav"), readBytes(dir / "tool-second8000.wav"));
}

TEST(Resample, LibraryMessagesReachStandardError) {
    TempDir dir;
    const Bytes mono = sawtoothWav(1, 16000, 500);
    writeBytes(dir / "mono.wav", mono);
    RunResult run = runTool({"resample", dir / "mono.wav", dir / "copy.wav", "--rate", "16000"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("[WARNNING!]"), std::string::npos) << run.err;
    EXPECT_EQ(readBytes(dir / "copy.wav"), mono);

    // 8000 from 16001 reduces to terms past the filter's range.
    writeBytes(dir / "odd-rate.wav", sawtoothWav(1, 16001, 500));
    run = runTool({"resample", dir / "odd-rate.wav", dir / "out.wav", "--rate", "8000"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("[ERROR!]: Invalid parameters!"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("plinth: " + dir / "odd-rate.wav"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(dir / "out.wav"));

    run = runTool({"resample", dir / "missing.wav", dir / "out.wav", "--rate", "8000"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(dir / "missing.wav"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(dir / "out.wav"));
}

TEST(Mod2Wav, OutputIsTheLibrarysAtEveryRate) {
    TempDir dir;
    writeBytes(dir / "song.mod", makeModule());
    ASSERT_EQ(runTool({"mod2wav", dir / "song.mod", dir / "tool.wav"}).status, 0);
    ASSERT_EQ(MODWAV(wide(dir / "song.mod").c_str(), wide(dir / "lib.wav").c_str()), 999);
    const Bytes tool = readBytes(dir / "tool.wav");
    EXPECT_EQ(tool, readBytes(dir / "lib.wav"));
    // 64 lines of 6 ticks of 160 frames, 4 bytes each, behind the 44-byte header.
    EXPECT_EQ(tool.size(), 44u + 64u * 6u * 160u * 4u);

    // --rate 8000 takes the same path as the export.
    ASSERT_EQ(runTool({"mod2wav", dir / "song.mod", dir / "tool8000.wav", "--rate", "8000"}).status, 0);
    EXPECT_EQ(readBytes(dir / "tool8000.wav"), tool);

    ASSERT_EQ(runTool({"mod2wav", dir / "song.mod", dir / "tool22050.wav", "-r", "22050"}).status, 0);
    const std::string direct = dir / "lib22050.wav";
    ASSERT_EQ(plinth::convertModuleFile(dir / "song.mod", direct, 22050).error, plinth::ModuleError::none);
    const Bytes at22050 = readBytes(dir / "tool22050.wav");
    EXPECT_EQ(at22050, readBytes(direct));
    ASSERT_GE(at22050.size(), 28u);
    EXPECT_EQ(at22050[24] | at22050[25] << 8 | at22050[26] << 16, 22050);
}

TEST(Mod2Wav, FailuresNameTheFileAndLeaveNoOutput) {
    TempDir dir;
    writeBytes(dir / "notes.txt", Bytes(3000, 0xFF));
    writeBytes(dir / "empty.mod", Bytes());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir / "notes.txt", "not a module"}, {dir / "empty.mod", "empty"}, {dir / "missing.mod", "No such file"}};
    for (const auto& [input, reason] : cases) {
        const RunResult run = runTool({"mod2wav", input, dir / "out.wav"});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("plinth: " + input + ": "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_FALSE(exists(dir / "out.wav"));
    }
    writeBytes(dir / "song.mod", makeModule());
    const RunResult run = runTool({"mod2wav", dir / "song.mod", dir / "no-such-folder/out.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(dir / "no-such-folder/out.wav"), std::string::npos) << run.err;
}

TEST(Info, DescribesWavHeaders) {
    TempDir dir;
    writeBytes(dir / "plain.wav", sawtoothWav(2, 22050, 11025));
    // The same file with a 26-byte chunk between "fmt " and "data": the
    // samples start at 12 + 24 + 8 + 26 + 8 = 78.
    Bytes listed = sawtoothWav(1, 8000, 4000);
    Bytes list(34, 0);
    std::copy_n("LIST", 4, list.begin());
    list[4] = 26;  // its size, little-endian
    listed.insert(listed.begin() + 36, list.begin(), list.end());
    writeBytes(dir / "listed.wav", listed);

    RunResult run = runTool({"info", dir / "plain.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    auto fields = infoFields(run.out);
    EXPECT_EQ(fields["format"], "1 (PCM)");
    EXPECT_EQ(fields["channels"], "2");
    EXPECT_EQ(fields["bits per sample"], "16");
    EXPECT_EQ(fields["sample rate"], "22050 Hz");
    EXPECT_EQ(fields["frames"], "11025");
    EXPECT_EQ(fields["duration"], "0.500 s");
    EXPECT_EQ(fields["samples at byte 44"], "yes");

    run = runTool({"info", dir / "listed.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    fields = infoFields(run.out);
    EXPECT_EQ(fields["frames"], "4000");
    EXPECT_EQ(fields["samples at byte 44"].rfind("no", 0), 0u);
    EXPECT_NE(fields["samples at byte 44"].find("byte 78"), std::string::npos);
}

TEST(Info, DescribesModulesAndReportsUnknownFiles) {
    TempDir dir;
    writeBytes(dir / "song.mod", makeModule(2048));
    writeBytes(dir / "notes.txt", Bytes(100, 0xFF));
    const Bytes wav = sawtoothWav(1, 8000, 10);
    writeBytes(dir / "short.wav", Bytes(wav.begin(), wav.begin() + 30));
    const RunResult run =
        runTool({"info", dir / "song.mod", dir / "notes.txt", dir / "missing.wav", dir / "short.wav"});
    EXPECT_EQ(run.status, 1);
    auto fields = infoFields(run.out);
    EXPECT_EQ(fields["tag"], "M.K.");
    EXPECT_EQ(fields["channels"], "4");
    EXPECT_EQ(fields["song length"], "1 order");
    EXPECT_EQ(fields["restart position"], "0");
    EXPECT_EQ(fields["patterns"], "1");
    EXPECT_NE(run.out.find("\"lead\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("2048 bytes"), std::string::npos) << run.out;
    // 61440 frames at 8000 per second.
    EXPECT_EQ(fields["duration"].rfind("7.680 s", 0), 0u) << fields["duration"];
    EXPECT_NE(fields["duration"].find("61440 frames"), std::string::npos);
    EXPECT_NE(run.err.find("plinth: " + dir / "notes.txt" + ": neither"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("plinth: " + dir / "missing.wav" + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("plinth: " + dir / "short.wav" + ": WAV header cut short"), std::string::npos) << run.err;
}

}  // namespace

namespace {

// What a shell command writes to its standard output, a pipe.
Bytes pipedOutput(const std::string& command) {
    Bytes bytes;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return bytes;
    unsigned char block[65536];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;) bytes.insert(bytes.end(), block, block + got);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return bytes;
}

TEST(Pipes, OutputsWriteToPipesAndWavInputsStreamFromThem) {
    TempDir dir;
    writeBytes(dir / "in.wav", sawtoothWav(2, 44100, 30000));
    writeBytes(dir / "song.mod", makeModule());
    ASSERT_EQ(runTool({"resample", dir / "in.wav", dir / "file.wav", "--rate", "16000", "--channel", "mix"}).status, 0);
    ASSERT_EQ(runTool({"mod2wav", dir / "song.mod", dir / "song.wav"}).status, 0);
    const Bytes resampled = readBytes(dir / "file.wav");
    ASSERT_EQ(resampled.size(), 44u + 2u * ((30000u * 160u + 440u) / 441u));

    const std::string tool = PLINTH_TOOL;
    EXPECT_EQ(pipedOutput(tool + " resample '" + dir / "in.wav" + "' /dev/stdout --rate 16000 --channel mix"), resampled);
    EXPECT_EQ(pipedOutput(tool + " mod2wav '" + dir / "song.mod" + "' /dev/stdout"), readBytes(dir / "song.wav"));
    // A named pipe as input, fed by a writer, into a file or into a pipe: the
    // tool waits for the writer, as any reader of a pipe does.
    ASSERT_EQ(mkfifo((dir / "in.fifo").c_str(), 0600), 0);
    const std::string fromFifo = "cat '" + dir / "in.wav" + "' > '" + dir / "in.fifo" + "' & " + tool + " resample '" +
                                 dir / "in.fifo" + "' ";
    EXPECT_EQ(pipedOutput(fromFifo + "'" + dir / "fifo.wav" + "' --rate 16000 --channel mix; wait"), Bytes());
    EXPECT_EQ(readBytes(dir / "fifo.wav"), resampled);
    EXPECT_EQ(pipedOutput(fromFifo + "/dev/stdout --rate 16000 --channel mix; wait"), resampled);
}

// Modules are read whole and info reads files at fixed places: a named pipe
// is refused at once, never waited on.
TEST(Pipes, ModulesAndInfoRefuseNamedPipesWithoutWaiting) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "song.fifo").c_str(), 0600), 0);
    RunResult run = runTool({"mod2wav", dir / "song.fifo", dir / "out.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("plinth: " + dir / "song.fifo" + ": is not a regular file"), std::string::npos) << run.err;
    run = runTool({"info", dir / "song.fifo"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("plinth: " + dir / "song.fifo" + ": is not a regular file"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(dir / "out.wav"));
}

}  // namespace

namespace {

// The tool carries one copy of each library's internals and loads neither
// shared library: mod2wav at 8000 and MODWAV share one path.
TEST(Tool, HoldsOneCopyOfEachLibrary) {
    const std::string tool = PLINTH_TOOL;
    for (const char* function : {"processLine(", "modRender(", "polyphaseFilterBlock(", "convertModuleFile("}) {
        const Bytes count = pipedOutput("nm -C '" + tool + "' | grep -v '\\[clone' | grep -cF '" + function + "'");
        EXPECT_EQ(std::string(count.begin(), count.end()), "1\n") << function;
    }
    const Bytes libraries = pipedOutput("ldd '" + tool + "' | grep -c libPlinth || true");
    EXPECT_EQ(std::string(libraries.begin(), libraries.end()), "0\n");
}

}  // namespace
