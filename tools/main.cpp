// plinth: the command-line tool over the resampler and the module converter.

#include <cstdio>

#include "cli.h"
#include "info.h"
#include "jobs.h"

int main(int argc, char** argv) {
    plinth::Options options;
    switch (plinth::parseCommandLine(argc, argv, options)) {
        case plinth::ParseOutcome::Done: return std::fflush(stdout) == 0 ? plinth::kExitSuccess : plinth::kExitFailure;
        case plinth::ParseOutcome::UsageError: return plinth::kExitUsage;
        case plinth::ParseOutcome::Run: break;
    }
    int status = options.command == plinth::Command::Info ? plinth::runInfo(options.inputs)
                                                          : plinth::runConversions(options);
    // Output that could not be written (a full disk, a closed pipe) is a failure.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "plinth: cannot write to standard output\n");
        status = plinth::kExitFailure;
    }
    return status;
}
