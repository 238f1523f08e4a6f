#pragma once
// One conversion of the tool, through the libraries' entries.

#include <string>

#include "cli.h"

namespace plinth {

// Converts input into output as the options say: resample through
// ResampleWav; mod2wav through MODWAV, or at another rate through the
// converter's internal entry. The libraries print their own messages; on
// failure `error` says, as "PATH: reason", what the tool can tell about it.
bool convertFile(const Options& options, const std::string& input, const std::string& output, std::string& error);

}  // namespace plinth
