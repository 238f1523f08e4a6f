#pragma once
// Splitting a path into its folder and its last name.

#include <string>

namespace plinth {

// The folder a path names its file in: "." for a bare name, "/" at the root.
std::string folderOf(const std::string& path);

// The part after the last slash.
std::string baseNameOf(const std::string& path);

}  // namespace plinth
