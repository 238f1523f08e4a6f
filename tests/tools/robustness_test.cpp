// What a user or an attacker can do to a run: closed descriptors, signals,
// little memory, long names, descriptors as outputs, huge sparse inputs and
// songs that play for hours. Nothing may be lost, nothing may hang.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/tools/tool_test_support.h"

using namespace tooltest;

namespace {

// Waits up to `seconds` for the process; -1 if it is still running then.
int waitFor(pid_t pid, double seconds, int& wstatus) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &wstatus, WNOHANG) == pid) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

// A module whose eight orders last 64 lines of 31 ticks each at the slowest
// tempo: about 1240 s of sound, 1.9 GB at 384000 frames per second.
Bytes longModule() {
    // Eight orders, each playing pattern 0; line 0 sets speed 31 and tempo 32.
    return moduleWithOneNote().song(8).effect(0, 1, 0xF, 0x1F).effect(0, 2, 0xF, 0x20).image();
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Descriptors, AClosedStandardErrorNeverReceivesMessagesMeantForIt) {
    TempDir dir;
    const Bytes mono = sawtoothWav(1, 8000, 4000);
    writeBytes(dir / "mono.wav", mono);
    // The copy's warning would go to descriptor 2, which the output could take.
    EXPECT_EQ(shell(std::string(PLINTH_TOOL) + " resample '" + dir / "mono.wav" + "' '" + dir / "copy.wav" +
                    "' --rate 8000 2>&-"),
              0);
    EXPECT_EQ(readBytes(dir / "copy.wav"), mono);
    EXPECT_EQ(shell(std::string(PLINTH_TOOL) + " resample '" + dir / "mono.wav" + "' '" + dir / "up.wav" +
                    "' --rate 16000 <&- >&- 2>&-"),
              0);
    const Bytes up = readBytes(dir / "up.wav");
    ASSERT_GE(up.size(), 4u);
    EXPECT_EQ(std::string(up.begin(), up.begin() + 4), "RIFF");
}

TEST(Descriptors, StandardStreamsAreWrittenAsTheyAreAndReadWhole) {
    TempDir dir;
    writeBytes(dir / "in.wav", sawtoothWav(2, 44100, 9000));
    writeBytes(dir / "song.mod", makeModule());
    const std::string tool = PLINTH_TOOL;
    ASSERT_EQ(shell(tool + " resample '" + dir / "in.wav" + "' '" + dir / "ref.wav" + "' --rate 16000"), 0);
    ASSERT_EQ(shell(tool + " mod2wav '" + dir / "song.mod" + "' '" + dir / "ref-song.wav" + "'"), 0);
    const Bytes reference = readBytes(dir / "ref.wav");

    // Appended to a log the shell opened: the log's earlier lines stay.
    for (const std::string output : {"/dev/stdout", "-", "/dev/fd/1"}) {
        writeBytes(dir / "log", Bytes{'f', 'i', 'r', 's', 't', '\n'});
        EXPECT_EQ(shell(tool + " resample '" + dir / "in.wav" + "' " + output + " --rate 16000 -f >> '" + dir / "log" + "'"), 0);
        Bytes expected{'f', 'i', 'r', 's', 't', '\n'};
        expected.insert(expected.end(), reference.begin(), reference.end());
        EXPECT_EQ(readBytes(dir / "log"), expected) << output;
    }
    // "-" as input reads standard input, a pipe or a file.
    EXPECT_EQ(shell("cat '" + dir / "in.wav" + "' | " + tool + " resample - '" + dir / "piped.wav" + "' --rate 16000"), 0);
    EXPECT_EQ(readBytes(dir / "piped.wav"), reference);
    EXPECT_EQ(shell("cat '" + dir / "song.mod" + "' | " + tool + " mod2wav - '" + dir / "piped-song.wav" + "'"), 0);
    EXPECT_EQ(readBytes(dir / "piped-song.wav"), readBytes(dir / "ref-song.wav"));
    EXPECT_EQ(shell(tool + " mod2wav - '" + dir / "redirected.wav" + "' < '" + dir / "song.mod" + "'"), 0);
    EXPECT_EQ(readBytes(dir / "redirected.wav"), readBytes(dir / "ref-song.wav"));
}

TEST(Signals, TheFirstSignalStopsEveryConversionAtOnceAndLeavesNothingHalfDone) {
    for (const int signal : {SIGINT, SIGTERM}) {
        TempDir dir;
        writeBytes(dir / "long.mod", longModule());
        writeBytes(dir / "old.wav", Bytes{'o', 'l', 'd'});
        const pid_t pid = spawnTool({"mod2wav", dir / "long.mod", dir / "old.wav", "--rate", "384000", "-f",
                                     "--max-duration", "0"},
                                    dir / "stdout", dir / "stderr");
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        kill(pid, signal);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        kill(pid, signal);  // a second signal changes nothing
        int wstatus = 0;
        ASSERT_EQ(waitFor(pid, 2.0, wstatus), 0) << "still running 2 s after the signal";
        ASSERT_TRUE(WIFEXITED(wstatus));
        EXPECT_EQ(WEXITSTATUS(wstatus), 128 + signal);
        expectNoSanitizerReport(readText(dir / "stderr"));
        EXPECT_EQ(readBytes(dir / "old.wav"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"long.mod", "old.wav", "stderr", "stdout"}));
    }
}

TEST(Signals, AKilledConversionLeavesNoFileBehind) {
    TempDir dir;
    writeBytes(dir / "long.mod", longModule());
    const pid_t pid = spawnTool({"mod2wav", dir / "long.mod", dir / "out.wav", "--rate", "384000", "--max-duration", "0"},
                                dir / "stdout", dir / "stderr");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    kill(pid, SIGKILL);
    int wstatus = 0;
    ASSERT_EQ(waitFor(pid, 2.0, wstatus), 0);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"long.mod", "stderr", "stdout"}));
}

TEST(Limits, LongSongsFailAtTheDurationLimitAndLongNamesWork) {
    TempDir dir;
    writeBytes(dir / "long.mod", longModule());
    writeBytes(dir / "out.wav", Bytes{'o', 'l', 'd'});
    RunResult run = runTool({"mod2wav", dir / "long.mod", dir / "out.wav", "-f", "--max-duration", "60"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("plinth: " + dir / "long.mod" + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--max-duration"), std::string::npos) << run.err;
    EXPECT_EQ(readBytes(dir / "out.wav"), (Bytes{'o', 'l', 'd'}));
    // The default limit is an hour; the song lasts less.
    EXPECT_EQ(runTool({"mod2wav", dir / "long.mod", dir / "out.wav", "-f", "--rate", "1000"}).status, 0);
    EXPECT_EQ(runTool({"mod2wav", dir / "long.mod", ""}).status, 2);

    writeBytes(dir / "in.wav", sawtoothWav(1, 8000, 800));
    std::string accents;
    for (int i = 0; i < 120; ++i) accents += "\xC3\xA9";
    for (const std::string& name : {std::string(251, 'n') + ".wav", accents + ".wav"}) {
        run = runTool({"resample", dir / "in.wav", dir / name, "--rate", "16000"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(exists(dir / name)) << name.size();
    }
}

TEST(Limits, HugeSparseInputsAreJudgedWithoutReadingThemThrough) {
    TempDir dir;
    // A WAV header followed by a terabyte of zeros (a sparse file): the chunk
    // walk ends where the real chunks end.
    Bytes header = sawtoothWav(1, 8000, 0);
    header[36] = 'L';  // no "data" chunk: a walk would go on through the zeros
    writeBytes(dir / "sparse.wav", header);
    ASSERT_EQ(truncate((dir / "sparse.wav").c_str(), 1LL << 40), 0);
    const auto start = std::chrono::steady_clock::now();
    const RunResult run = runTool({"info", dir / "sparse.wav"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

#ifndef PLINTH_SANITIZED
// Memory is limited for the tool alone; a sanitizer's runtime needs far more address space.
TEST(Limits, RunningOutOfMemoryFailsOneFileCleanly) {
    TempDir dir;
    writeBytes(dir / "big.mod", makeModule());
    ASSERT_EQ(truncate((dir / "big.mod").c_str(), 1500000000LL), 0);
    writeBytes(dir / "song.mod", makeModule());
    const std::string limit = "ulimit -v 600000; ";
    const std::string tool = PLINTH_TOOL;
    EXPECT_EQ(shell(limit + tool + " info '" + dir / "big.mod" + "' 2>'" + dir / "err" + "'"), 1);
    EXPECT_NE(readText(dir / "err").find("not enough memory"), std::string::npos) << readText(dir / "err");
    EXPECT_EQ(shell(limit + tool + " mod2wav -o '" + dir / "out" + "' '" + dir / "big.mod" + "' '" + dir / "song.mod" +
                    "' 2>'" + dir / "err" + "'"),
              1);
    EXPECT_NE(readText(dir / "err").find("1 converted, 1 failed"), std::string::npos) << readText(dir / "err");
    EXPECT_EQ(shell("ls -A '" + dir / "out" + "' | grep -qv '^song.wav$'"), 1) << "a file besides song.wav";
}
#endif

}  // namespace
