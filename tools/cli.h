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
    ConversionRequest conversion;  // --rate, --channel, --quality, --format, --verbose, --max-duration, --loops,
                                   // --fade, --loop-points
    std::string stemsDir;          // --stems: each module channel alone into this folder
    int jobs = 1;
    bool force = false;
    unsigned closedDescriptors = 0;  // bit n: standard descriptor n was closed when the tool started
};

enum class ParseOutcome {
    Run,         // options complete: carry out the command
    Done,        // help or version printed: exit 0
    UsageError,  // message printed on stderr: exit 2
};

// Reads argv (program name first). Prints help, version and usage errors itself.
ParseOutcome parseCommandLine(int argc, char** argv, Options& options);

// Why a file named for a standard descriptor that was closed when the tool
// started cannot be used ("PATH: standard output is closed"), or "".
std::string closedDescriptorRefusal(const std::string& path, bool isInput, unsigned closedDescriptors);

// Exit statuses.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr int kMaxJobs = 256;

}  // namespace plinth
