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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "tracker/module_builder.h"

extern char** environ;

namespace tooltest {

using namespace testsupport;

// A one-order module of four channels: one pattern whose line 0 starts
// sample 1 ("lead", `sampleBytes` bytes of a square wave, no loop) at period
// 428 in channel 1.
inline plinth::ModuleBuilder moduleWithOneNote(uint32_t sampleBytes = 2048) {
    plinth::ModuleBuilder module(4, 1);
    const auto words = static_cast<int>(sampleBytes) / plinth::kBytesPerWord;
    module.sample(1, words, 0, 64, 0, plinth::kSilentWords).sampleName(1, "lead").cell(0, 0, 0, 1, 428, 0, 0);
    std::vector<int8_t> square(sampleBytes);
    for (uint32_t i = 0; i < sampleBytes; ++i) square[i] = (i / 16) % 2 != 0 ? 0x40 : -0x40;
    module.data(square);
    return module;
}

inline Bytes makeModule(uint32_t sampleBytes = 2048) { return moduleWithOneNote(sampleBytes).image(); }

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

// Python that writes WAV files: PCM through the wave module, floats (format
// tag 3) by hand with struct. Test scripts start with it.
inline const char kPythonWavWriters[] = R"PY(
import struct, wave

def write_pcm(path, rate, width, channels, frames):
    with wave.open(path, 'wb') as w:
        w.setnchannels(channels); w.setsampwidth(width); w.setframerate(rate)
        data = bytearray()
        for frame in frames:
            for v in frame:
                data += (v + 128).to_bytes(1, 'little') if width == 1 else v.to_bytes(width, 'little', signed=True)
        w.writeframes(bytes(data))

def write_float(path, rate, code, channels, frames):
    data = b''.join(struct.pack('<' + code, v) for frame in frames for v in frame)
    bits = 8 * struct.calcsize(code)
    fmt = struct.pack('<HHIIHH', 3, channels, rate, rate * channels * bits // 8, channels * bits // 8, bits)
    body = b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt + b'data' + struct.pack('<I', len(data)) + data
    open(path, 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
)PY";

// True when the program is on the PATH.
inline bool have(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// What a shell command prints; "" when it fails.
inline std::string shellOutput(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;) text.append(block, got);
    return pclose(pipe) == 0 ? text : std::string();
}

// A test's Python script: the WAV writers, then its own lines.
inline Bytes pythonScript(const char* own) {
    std::string script = kPythonWavWriters;
    script += own;
    return Bytes(script.begin(), script.end());
}

// Starts the tool with stdout and stderr sent to files (so stderr is no
// terminal) and `stdinFd` as its standard input (-1: /dev/null); returns its
// process id, or -1.
inline pid_t spawnTool(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath,
                       int stdinFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
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
