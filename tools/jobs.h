#pragma once
// Planning and running the conversions of one invocation: outputs named and
// checked before anything is written, conversions on up to N threads, a
// progress line on a terminal and a summary line for a batch.

#include <string>
#include <vector>

#include "tools/cli.h"

namespace plinth {

struct Job {
    std::string input;
    std::string output;
    std::string refusal;  // "PATH: reason" when the job must not run
};

// Names every output and refuses, before anything is written: an output that
// is one of the inputs of this run (even with --force), an output that an
// earlier job of this run already writes, an existing output without --force,
// and an output that is a folder. Devices and pipes count as no existing file.
std::vector<Job> planJobs(const Options& options);

// Runs the conversions of a resample or mod2wav command; returns the exit status.
int runConversions(const Options& options);

}  // namespace plinth
