#pragma once
// `plinth info`: each file's description printed on standard output.

#include <string>
#include <vector>

namespace plinth {

// Describes each file on stdout; returns the exit status (1 when any file
// could not be read or is neither a WAV file nor a playable module).
// closedDescriptors: see Options.
int runInfo(const std::vector<std::string>& files, unsigned closedDescriptors);

}  // namespace plinth
