#pragma once
// Running the conversions of one invocation as planned (see app/batch_plan.h):
// conversions on up to N threads, a progress line on a terminal and a summary
// line for a batch.

#include "tools/cli.h"

namespace plinth {

// Runs the conversions of a resample or mod2wav command; returns the exit status.
int runConversions(const Options& options);

}  // namespace plinth
