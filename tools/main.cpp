// plinth: the command-line tool over the resampler and the module converter.

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>

#include "tools/cli.h"
#include "tools/info_command.h"
#include "tools/jobs.h"

namespace {

// Descriptors 0 to 2 that the caller left closed are opened on /dev/null, so
// that no file the tool opens can take their place and receive its messages.
// Returns which were closed (bit n for descriptor n): naming one as a file
// ("-" on a closed standard output, say) is refused, not read or written.
unsigned occupyStandardDescriptors() {
    unsigned closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        if (open("/dev/null", O_RDWR) < 0) std::_Exit(plinth::kExitFailure);
        closed |= 1u << fd;
    }
    return closed;
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned closedDescriptors = occupyStandardDescriptors();
    plinth::Options options;
    switch (plinth::parseCommandLine(argc, argv, options)) {
        case plinth::ParseOutcome::Done: return std::fflush(stdout) == 0 ? plinth::kExitSuccess : plinth::kExitFailure;
        case plinth::ParseOutcome::UsageError: return plinth::kExitUsage;
        case plinth::ParseOutcome::Run: break;
    }
    options.closedDescriptors = closedDescriptors;
    int status = options.command == plinth::Command::Info ? plinth::runInfo(options.inputs, options.closedDescriptors)
                                                          : plinth::runConversions(options);
    // Output that could not be written (a full disk, a closed pipe) is a failure.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "plinth: cannot write to standard output\n");
        status = plinth::kExitFailure;
    }
    return status;
}
