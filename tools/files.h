#pragma once
// File helpers of the tool: names of batch outputs, and the
// identity of paths, so that two names of one file are recognised.

#include <string>

#include "platform/path_names.h"

namespace plinth {

// The output name for an input in a batch: its last path component with the
// extension (the part from the last dot, unless the name starts with it)
// replaced by ".wav".
std::string outputNameFor(const std::string& input);

// Joins a folder and a name with one slash between them.
std::string joinPath(const std::string& folder, const std::string& name);

// A key that is equal for two paths of the same file: device and inode for a
// file that exists, otherwise the resolved folder and the name.
std::string fileIdentity(const std::string& path);

// Creates a folder and its missing parents; false with "PATH: reason".
bool makeFolders(const std::string& path, std::string& error);

}  // namespace plinth
