#pragma once
// Inputs made in code, a scratch folder, and a way to run the plinth tool and
// capture what it says.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

extern char** environ;

namespace tooltest {

using namespace testsupport;

// A one-order "M.K." module: one pattern whose line 0 starts sample 1
// ("lead", `sampleBytes` bytes of a square wave) at period 428 in channel 1.
inline Bytes makeModule(uint32_t sampleBytes = 2048) {
    Bytes bytes(1084 + 1024 + sampleBytes, 0);
    const char name[] = "lead";
    std::copy_n(name, 4, bytes.begin() + 20);
    bytes[20 + 22] = static_cast<unsigned char>((sampleBytes / 2) >> 8);  // length in words, big-endian
    bytes[20 + 23] = static_cast<unsigned char>(sampleBytes / 2);
    bytes[20 + 25] = 64;  // volume
    bytes[20 + 29] = 1;   // loop length of one word: no loop
    bytes[950] = 1;       // song length
    std::copy_n("M.K.", 4, bytes.begin() + 1080);
    const int period = 428, sample = 1;
    bytes[1084] = static_cast<unsigned char>((period >> 8) | (sample & 0xF0));
    bytes[1085] = static_cast<unsigned char>(period & 0xFF);
    bytes[1086] = static_cast<unsigned char>((sample & 0x0F) << 4);
    for (uint32_t i = 0; i < sampleBytes; ++i) bytes[2108 + i] = (i / 16) % 2 != 0 ? 0x40 : 0xC0;
    return bytes;
}

inline bool exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

struct RunResult {
    int status = -1;  // exit status, -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// The tool's path followed by `args`, as exec wants them.
class ToolCommandLine {
public:
    explicit ToolCommandLine(const std::vector<std::string>& args) : words_{PLINTH_TOOL} {
        words_.insert(words_.end(), args.begin(), args.end());
        for (std::string& word : words_) pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// Starts the tool with stdout and stderr sent to files (so stderr is no
// terminal); returns its process id, or -1.
inline pid_t spawnTool(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ToolCommandLine command(args);
    pid_t pid = -1;
    if (posix_spawn(&pid, PLINTH_TOOL, &actions, nullptr, command.argv(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline std::string readText(const std::string& path) {
    const Bytes bytes = readBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// A sanitizer report in the tool fails the test whatever the exit status.
inline void expectNoSanitizerReport(const std::string& err) {
    if (err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos)
        ADD_FAILURE() << "sanitizer report from plinth:\n" << err;
}

// Runs the tool to its end.
inline RunResult runTool(const std::vector<std::string>& args) {
    TempDir capture;
    RunResult result;
    const pid_t pid = spawnTool(args, capture / "out", capture / "err");
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    result.out = readText(capture / "out");
    result.err = readText(capture / "err");
    expectNoSanitizerReport(result.err);
    return result;
}

}  // namespace tooltest
