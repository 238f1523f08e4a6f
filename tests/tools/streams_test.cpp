// Standard streams, pipes and named pipes as the tool's files: "-" and the
// names of descriptors stand for what they are open on, a signal stops a
// conversion that waits on a pipe, `info` reads a pipe forward, and a closed
// standard descriptor is never taken for a file.

#include <fcntl.h>
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

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// The exit status once the process ends, or -1 if it still runs after
// `seconds` (it is then killed, so that a hang fails the test instead of
// stopping the suite).
int exitStatusWithin(pid_t pid, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int wstatus = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &wstatus, WNOHANG) == pid) return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &wstatus, 0);
    return -1;
}

// Starts the tool, lets it reach its wait, sends `signal` and tells how it ended.
int stoppedBy(int signal, const std::vector<std::string>& args, int stdinFd, const TempDir& dir) {
    const pid_t pid = spawnTool(args, dir / "stdout", dir / "stderr", stdinFd);
    if (pid <= 0) return -3;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, signal);
    const int status = exitStatusWithin(pid, 10.0);
    expectNoSanitizerReport(readText(dir / "stderr"));
    return status;
}

TEST(StandardStreams, DashOnBothSidesAndDescriptorNamesConvertAsFilesDo) {
    TempDir dir;
    writeBytes(dir / "in.wav", sawtoothWav(2, 44100, 9000));
    writeBytes(dir / "song.mod", makeModule());
    const std::string tool = PLINTH_TOOL;
    ASSERT_EQ(shell(tool + " resample " + quoted(dir / "in.wav") + " " + quoted(dir / "ref.wav") + " --rate 16000"), 0);
    ASSERT_EQ(shell(tool + " mod2wav " + quoted(dir / "song.mod") + " " + quoted(dir / "ref-song.wav")), 0);

    // A pipe in, a pipe out.
    EXPECT_EQ(shell("cat " + quoted(dir / "in.wav") + " | " + tool + " resample - - --rate 16000 | cat > " +
                    quoted(dir / "piped.wav")),
              0);
    EXPECT_EQ(readBytes(dir / "piped.wav"), readBytes(dir / "ref.wav"));
    EXPECT_EQ(shell("cat " + quoted(dir / "song.mod") + " | " + tool + " mod2wav - - | cat > " +
                    quoted(dir / "piped-song.wav")),
              0);
    EXPECT_EQ(readBytes(dir / "piped-song.wav"), readBytes(dir / "ref-song.wav"));
    // A file in, a file out, through the shell's redirections.
    EXPECT_EQ(shell(tool + " resample - - --rate 16000 < " + quoted(dir / "in.wav") + " > " +
                    quoted(dir / "redirected.wav")),
              0);
    EXPECT_EQ(readBytes(dir / "redirected.wav"), readBytes(dir / "ref.wav"));

    // /dev/stdout onto an existing file replaces nothing: the shell opened it.
    writeBytes(dir / "existing.wav", Bytes{'o', 'l', 'd'});
    EXPECT_EQ(shell(tool + " resample " + quoted(dir / "in.wav") + " /dev/stdout --rate 16000 > " +
                    quoted(dir / "existing.wav")),
              0);
    EXPECT_EQ(readBytes(dir / "existing.wav"), readBytes(dir / "ref.wav"));

    // /dev/stdin is standard input, a pipe included, for a module as for a WAV file.
    EXPECT_EQ(shell("cat " + quoted(dir / "song.mod") + " | " + tool + " mod2wav /dev/stdin " +
                    quoted(dir / "stdin-song.wav")),
              0);
    EXPECT_EQ(readBytes(dir / "stdin-song.wav"), readBytes(dir / "ref-song.wav"));
    EXPECT_EQ(shell("cat " + quoted(dir / "in.wav") + " | " + tool + " resample /dev/stdin " +
                    quoted(dir / "stdin.wav") + " --rate 16000"),
              0);
    EXPECT_EQ(readBytes(dir / "stdin.wav"), readBytes(dir / "ref.wav"));
}

TEST(StandardStreams, AnOutputOpenOnTheInputIsStillRefused) {
    TempDir dir;
    const Bytes input = sawtoothWav(1, 8000, 3000);
    writeBytes(dir / "in.wav", input);
    // Appending the output to the very file being read.
    EXPECT_EQ(shell(std::string(PLINTH_TOOL) + " resample - /dev/stdout --rate 16000 < " + quoted(dir / "in.wav") +
                    " >> " + quoted(dir / "in.wav") + " 2> " + quoted(dir / "err")),
              1);
    EXPECT_NE(readText(dir / "err").find("would overwrite the input - of this run"), std::string::npos)
        << readText(dir / "err");
    EXPECT_EQ(readBytes(dir / "in.wav"), input);
}

TEST(StandardStreams, AClosedStandardDescriptorIsNoFile) {
    TempDir dir;
    writeBytes(dir / "in.wav", sawtoothWav(1, 8000, 3000));
    const std::string tool = PLINTH_TOOL;
    // Nothing can be written: a failure, said on standard error.
    EXPECT_EQ(shell(tool + " resample " + quoted(dir / "in.wav") + " - --rate 16000 >&- 2> " + quoted(dir / "err")), 1);
    EXPECT_NE(readText(dir / "err").find("-: standard output is closed"), std::string::npos) << readText(dir / "err");
    EXPECT_EQ(shell(tool + " resample - " + quoted(dir / "out.wav") + " --rate 16000 <&- 2> " + quoted(dir / "err")), 1);
    EXPECT_NE(readText(dir / "err").find("-: standard input is closed"), std::string::npos) << readText(dir / "err");
    EXPECT_FALSE(exists(dir / "out.wav"));
    EXPECT_EQ(shell(tool + " info /dev/stdin <&- 2> " + quoted(dir / "err")), 1);
    EXPECT_NE(readText(dir / "err").find("/dev/stdin: standard input is closed"), std::string::npos);
}

TEST(StandardStreams, InfoReadsAPipeForward) {
    TempDir dir;
    writeBytes(dir / "in.wav", sawtoothWav(2, 44100, 9000));
    writeBytes(dir / "song.mod", makeModule());
    const std::string tool = PLINTH_TOOL;
    for (const std::string name : {"in.wav", "song.mod"}) {
        ASSERT_EQ(shell(tool + " info " + quoted(dir / name) + " > " + quoted(dir / "file.txt")), 0);
        ASSERT_EQ(shell("cat " + quoted(dir / name) + " | " + tool + " info - > " + quoted(dir / "pipe.txt") +
                        " 2> " + quoted(dir / "err")),
                  0)
            << readText(dir / "err");
        const std::string fromFile = readText(dir / "file.txt");
        const std::string fromPipe = readText(dir / "pipe.txt");
        if (name == "song.mod") {
            // A module is read whole either way: the same words but for the name.
            EXPECT_EQ(fromPipe, "-" + fromFile.substr(fromFile.find(':')));
        } else {
            EXPECT_NE(fromPipe.find("channels:          2\n"), std::string::npos) << fromPipe;
            EXPECT_NE(fromPipe.find("sample rate:       44100 Hz\n"), std::string::npos) << fromPipe;
            EXPECT_NE(fromPipe.find("frames:            9000\n"), std::string::npos) << fromPipe;
            EXPECT_NE(fromPipe.find("samples at byte 44: yes\n"), std::string::npos) << fromPipe;
        }
    }
}

TEST(Signals, AConversionWaitingOnAPipeStopsAtTheSignal) {
    // Standard input a pipe whose writer stays but never writes.
    for (const std::string command : {"resample", "mod2wav"}) {
        TempDir dir;
        int idle[2];
        ASSERT_EQ(pipe(idle), 0);
        std::vector<std::string> args{command, "-", dir / "out.wav"};
        if (command == "resample") args.insert(args.end(), {"--rate", "16000"});
        EXPECT_EQ(stoppedBy(SIGTERM, args, idle[0], dir), 128 + SIGTERM) << command;
        close(idle[0]);
        close(idle[1]);
        EXPECT_FALSE(exists(dir / "out.wav"));
    }
}

TEST(Signals, AConversionWaitingOnANamedPipeStopsAtTheSignal) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    writeBytes(dir / "in.wav", sawtoothWav(1, 8000, 3000));
    // No writer at all: the wait is for one to come.
    EXPECT_EQ(stoppedBy(SIGINT, {"resample", dir / "fifo", dir / "out.wav", "--rate", "16000"}, -1, dir), 128 + SIGINT);
    EXPECT_EQ(stoppedBy(SIGINT, {"info", dir / "fifo"}, -1, dir), 1);  // refused unopened, never waits
    // A writer that never writes.
    const int writer = open((dir / "fifo").c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(stoppedBy(SIGHUP, {"resample", dir / "fifo", dir / "out.wav", "--rate", "16000"}, -1, dir), 128 + SIGHUP);
    close(writer);
    // An output named pipe that no reader opens.
    EXPECT_EQ(stoppedBy(SIGTERM, {"resample", dir / "in.wav", dir / "fifo", "--rate", "16000"}, -1, dir),
              128 + SIGTERM);
    EXPECT_FALSE(exists(dir / "out.wav"));
}

}  // namespace
