#pragma once
// The command line of `plinth`: commands, options, help texts.

#include <string>
#include <vector>

#include "app/conversion_request.h"

namespace plinth {

enum class Command { Resample, Mod2Wav, Info };

struct Options {
    Command command = Command::Info;
    std::vector<std::string> inputs;
    std::string output;            // the one output of a single conversion
    std::string outputDir;         // -o: every input converted into this folder
    bool batch = false;            // -o was given
    ConversionRequest conversion;  // --rate, --channel, --verbose, --max-duration, --loops, --fade, --loop-points
    std::string stemsDir;          // --stems: each module channel alone into this folder
    int jobs = 1;
    bool force = false;
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

constexpr int kMaxJobs = 256;
constexpr int kMaxChannels = 65535;  // the most a WAV file can have

}  // namespace plinth
