#pragma once
// The command line of `plinth`: commands, options, help texts.

#include <string>
#include <vector>

#include "resampler/stream_resampler.h"

namespace plinth {

enum class Command { Resample, Mod2Wav, Info };

struct Options {
    Command command = Command::Info;
    std::vector<std::string> inputs;
    std::string output;     // the one output of a single conversion
    std::string outputDir;  // -o: every input converted into this folder
    bool batch = false;     // -o was given
    int rate = 0;           // 0: none given
    ChannelChoice channel{};  // --channel: first (the default), a number, or mix
    bool verbose = false;     // say how a file off the canonical layout was read
    int jobs = 1;
    bool force = false;
    int maxDurationSeconds = 3600;  // mod2wav: longer songs fail; 0 for no limit
};

enum class ParseOutcome {
    Run,         // options complete: carry out the command
    Done,        // help or version printed: exit 0
    UsageError,  // message printed on stderr: exit 2
};

// Reads argv (program name first). Prints help, version and usage errors itself.
ParseOutcome parseCommandLine(int argc, char** argv, Options& options);

// Exit statuses.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Accepted --rate values; outside them a conversion is a usage error.
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 384000;
constexpr int kMaxJobs = 256;
constexpr int kMaxChannels = 65535;  // the most a WAV file can have

}  // namespace plinth
