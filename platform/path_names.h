#pragma once
// Splitting a path into its folder and its last name, and the names that
// stand for a descriptor the process already holds.

#include <string>

namespace plinth {

// The folder a path names its file in: "." for a bare name, "/" at the root.
std::string folderOf(const std::string& path);

// The part after the last slash.
std::string baseNameOf(const std::string& path);

enum class StreamDirection { input, output };

// True when the path names a descriptor this process already holds, and which:
// "-" (standard input or output), /dev/stdin for an input, /dev/stdout and
// /dev/stderr for an output, /dev/fd/N and /proc/self/fd/N for either. Such a
// descriptor is read or written as it is, from where it stands, never
// reopened or replaced.
bool namesHeldDescriptor(const std::string& path, StreamDirection direction, int& fd);

}  // namespace plinth
