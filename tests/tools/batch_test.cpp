// Batch conversion: outputs named after inputs, parallel jobs, the summary
// and progress lines, and the checks that keep a run from destroying files.

#include <gtest/gtest.h>
#include <pty.h>

#include <cerrno>
#include <filesystem>

#include "plinth/resample_wav.h"
#include "tests/tools/tool_test_support.h"

using namespace tooltest;

namespace {


Bytes resampledByLibrary(const TempDir& dir, const std::string& input, int rate) {
    const std::string path = dir / "reference.wav";
    std::remove(path.c_str());
    if (ResampleWav(wide(input).c_str(), wide(path).c_str(), rate, 0) != 1) return Bytes();
    return readBytes(path);
}

TEST(Batch, ParallelJobsWriteWhatTheLibraryWritesAndSumUp) {
    TempDir dir;
    std::vector<std::string> args = {"resample", "--rate", "16000", "-j", "3", "-o", dir / "out/nested"};
    for (int i = 0; i < 8; ++i) {
        const std::string input = dir / ("in" + std::to_string(i) + ".wav");
        writeBytes(input, sawtoothWav(1 + i % 2, 22050 + 1000 * static_cast<uint32_t>(i), 700 + 50 * static_cast<uint32_t>(i)));
        args.push_back(input);
    }
    const RunResult run = runTool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "in" + std::to_string(i);
        const Bytes expected = resampledByLibrary(dir, dir / (name + ".wav"), 16000);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(readBytes(dir / ("out/nested/" + name + ".wav")), expected) << name;
    }
    EXPECT_NE(run.err.find("plinth: 8 converted, 0 failed, "), std::string::npos) << run.err;
    // Standard error is a file here: no progress line.
    EXPECT_EQ(run.err.find('\r'), std::string::npos);
    EXPECT_EQ(run.err.find("files,"), std::string::npos) << run.err;
}

TEST(Batch, OneFailureFailsTheRunButNotTheOthers) {
    TempDir dir;
    writeBytes(dir / "a.wav", sawtoothWav(2, 44100, 900));
    writeBytes(dir / "broken.wav", Bytes(30, 'R'));
    writeBytes(dir / "c.wav", sawtoothWav(1, 32000, 900));
    const RunResult run = runTool({"resample", "-r", "8000", "-j", "2", "-o", dir / "out", dir / "a.wav",
                                   dir / "broken.wav", dir / "c.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("plinth: " + dir / "broken.wav"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("plinth: 2 converted, 1 failed, "), std::string::npos) << run.err;
    EXPECT_EQ(readBytes(dir / "out/a.wav"), resampledByLibrary(dir, dir / "a.wav", 8000));
    EXPECT_EQ(readBytes(dir / "out/c.wav"), resampledByLibrary(dir, dir / "c.wav", 8000));
    EXPECT_FALSE(exists(dir / "out/broken.wav"));
}

TEST(Overwrite, ExistingOutputIsReplacedOnlyWithForce) {
    TempDir dir;
    writeBytes(dir / "in.wav", sawtoothWav(1, 44100, 1000));
    const Bytes old = {'o', 'l', 'd'};
    writeBytes(dir / "out.wav", old);
    RunResult run = runTool({"resample", dir / "in.wav", dir / "out.wav", "--rate", "8000"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("plinth: " + dir / "out.wav" + ": exists"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--force"), std::string::npos);
    EXPECT_EQ(readBytes(dir / "out.wav"), old);

    for (const char* force : {"-f", "--force"}) {
        writeBytes(dir / "out.wav", old);
        run = runTool({"resample", dir / "in.wav", dir / "out.wav", "--rate", "8000", force});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(readBytes(dir / "out.wav"), resampledByLibrary(dir, dir / "in.wav", 8000));
    }
    // Devices are written, not replaced: no --force needed.
    EXPECT_EQ(runTool({"resample", dir / "in.wav", "/dev/null", "--rate", "8000"}).status, 0);
}

TEST(Overwrite, AnInputOfTheSameRunIsNeverAnOutputEvenWithForce) {
    TempDir dir;
    const Bytes input = sawtoothWav(1, 44100, 1000);
    writeBytes(dir / "in.wav", input);
    std::filesystem::create_symlink(dir / "in.wav", dir / "link.wav");
    std::filesystem::create_hard_link(dir / "in.wav", dir / "hard.wav");
    for (const std::string& output : {dir / "in.wav", dir / "link.wav", dir / "hard.wav", dir.path() + "/./in.wav"}) {
        const RunResult run = runTool({"resample", dir / "in.wav", output, "--rate", "8000", "--force"});
        EXPECT_EQ(run.status, 1) << output;
        EXPECT_NE(run.err.find("would overwrite the input"), std::string::npos) << run.err;
        EXPECT_EQ(readBytes(dir / "in.wav"), input);
    }
    // A batch into the inputs' own folder: x.wav would become x.wav itself.
    writeBytes(dir / "song.mod", makeModule());
    RunResult run = runTool({"mod2wav", "-f", "-o", dir.path(), dir / "song.mod", dir / "in.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("plinth: 1 converted, 1 failed"), std::string::npos) << run.err;
    EXPECT_EQ(readBytes(dir / "in.wav"), input);
    EXPECT_TRUE(exists(dir / "song.wav"));
}

TEST(Overwrite, TwoInputsOfOneRunNeverShareAnOutput) {
    TempDir dir;
    std::filesystem::create_directories(dir / "one");
    std::filesystem::create_directories(dir / "two");
    writeBytes(dir / "one/song.mod", makeModule(1024));
    writeBytes(dir / "two/song.mod", makeModule(4096));
    const RunResult run =
        runTool({"mod2wav", "-j", "2", "-o", dir / "out", dir / "one/song.mod", dir / "two/song.mod"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("already the output of " + dir / "one/song.mod"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("plinth: 1 converted, 1 failed"), std::string::npos) << run.err;
    ASSERT_EQ(runTool({"mod2wav", dir / "one/song.mod", dir / "first.wav"}).status, 0);
    EXPECT_EQ(readBytes(dir / "out/song.wav"), readBytes(dir / "first.wav"));
}

// Runs the tool on a pseudo-terminal and returns everything it wrote there.
std::string runOnTerminal(const std::vector<std::string>& args, int& status) {
    ToolCommandLine command(args);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execv(PLINTH_TOOL, command.argv());
        _exit(127);
    }
    std::string text;
    if (pid < 0) return text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the tool has closed the terminal
        }
    }
    close(master);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return text;
}

TEST(Batch, ProgressLineOnlyOnATerminal) {
    TempDir dir;
    std::vector<std::string> args = {"resample", "--rate", "8000", "-o", dir / "out"};
    for (int i = 0; i < 3; ++i) {
        writeBytes(dir / ("in" + std::to_string(i) + ".wav"), sawtoothWav(1, 44100, 2000));
        args.push_back(dir / ("in" + std::to_string(i) + ".wav"));
    }
    int status = -1;
    const std::string shown = runOnTerminal(args, status);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_NE(shown.find("3/3 files"), std::string::npos) << shown;
    EXPECT_NE(shown.find("3 converted, 0 failed"), std::string::npos) << shown;
}

}  // namespace

namespace {

// Anything in the folder but finished outputs (named inN.wav) is a partial file.
bool hasPartialFile(const std::string& folder) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("in", 0) != 0 || name.size() != 7 || name.substr(3) != ".wav") return true;
    }
    return false;
}

TEST(Batch, AnInterruptStopsTheRunAndKeepsWhatWasFinished) {
    TempDir dir;
    std::filesystem::create_directories(dir / "out");
    std::vector<std::string> args = {"resample", "--rate", "48000", "-j", "2", "-o", dir / "out"};
    // Long enough that the last inputs have not started when the first output
    // is finished, however fast a conversion is.
    const int inputs = 8;
    for (int i = 0; i < inputs; ++i) {
        writeBytes(dir / ("in" + std::to_string(i) + ".wav"), sawtoothWav(2, 44100, 44100 * 60));
        args.push_back(dir / ("in" + std::to_string(i) + ".wav"));
    }
    const pid_t pid = spawnTool(args, dir / "stdout", dir / "stderr");
    ASSERT_GT(pid, 0);
    // Interrupt once the first output is finished (unless all are done first).
    bool interrupted = false;
    int wstatus = 0;
    for (;;) {
        if (waitpid(pid, &wstatus, WNOHANG) == pid) break;
        if (!dir.entries().empty() && !std::filesystem::is_empty(dir / "out")) {
            kill(pid, SIGINT);
            interrupted = true;
            ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
            break;
        }
        usleep(500);
    }
    const std::string err = readText(dir / "stderr");
    expectNoSanitizerReport(err);
    ASSERT_TRUE(WIFEXITED(wstatus)) << err;
    if (interrupted) {
        EXPECT_EQ(WEXITSTATUS(wstatus), 130) << err;
        EXPECT_NE(err.find("interrupted"), std::string::npos) << err;
        EXPECT_NE(err.find("not started"), std::string::npos) << err;
    }
    EXPECT_FALSE(hasPartialFile(dir / "out"));
    // Whatever was written is whole.
    for (int i = 0; i < inputs; ++i) {
        const std::string output = dir / ("out/in" + std::to_string(i) + ".wav");
        if (exists(output)) {
            EXPECT_EQ(readBytes(output), resampledByLibrary(dir, dir / ("in" + std::to_string(i) + ".wav"), 48000));
        }
    }
}

}  // namespace
