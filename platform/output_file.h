#pragma once
// An output that appears whole or not at all. A regular (or not yet existing)
// file is written to a temporary file in the same folder and renamed over the
// path only when it is complete, so a failure never leaves a partial file or
// harms what stood there before, and a file may be converted onto itself.
// Anything else at the path (a device such as /dev/null, a pipe) is written
// directly.

#include <cstdio>
#include <string>

namespace plinth {

struct OutputFile {
    std::FILE* stream = nullptr;  // open for reading and writing, positioned at 0
    std::string path;             // where the finished file goes
    std::string tempPath;         // empty when writing directly
};

// Opens the output; on failure returns false with errno set and nothing created.
bool openOutputFile(const std::string& path, OutputFile& output);

// Flushes and closes the stream and moves the file into place. Returns false
// (errno set) when any write, the flush, the close or the rename failed; the
// temporary file is then removed and the path left as it was.
bool commitOutputFile(OutputFile& output);

// Closes the stream and removes the temporary file; the path stays as it was.
void abandonOutputFile(OutputFile& output);

// Closes an output that was not committed; does nothing after commit or abandon.
struct OutputFileGuard {
    OutputFile& output;
    explicit OutputFileGuard(OutputFile& o) : output(o) {}
    ~OutputFileGuard() { abandonOutputFile(output); }
    OutputFileGuard(const OutputFileGuard&) = delete;
    OutputFileGuard& operator=(const OutputFileGuard&) = delete;
};

}  // namespace plinth
