#pragma once
// An output that appears whole or not at all. A regular (or not yet existing)
// file is written to a temporary file in the same folder and renamed over the
// path only when it is complete, so a failure never leaves a partial file or
// harms what stood there before, and a file may be converted onto itself.
// Where the file system allows, that file has no name until it is complete,
// so nothing is left behind even when the process is killed. Anything else at
// the path (a device such as /dev/null, a pipe) is written directly, and so is
// a descriptor the process holds ("-", /dev/stdout, /dev/fd/N), as it is. An
// output that is not committed is removed when it goes out of scope.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace plinth {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { abandon(); }
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file (or opens the device). On failure returns
    // false with systemError set and nothing created.
    bool open(const std::string& path, int& systemError);

    // True when the output is a file being built beside its path, which can
    // be rewritten in place before it is committed.
    bool isRegular() const { return building_; }

    bool write(const void* data, std::size_t bytes, int& systemError);

    // Overwrites bytes already written (a regular output only).
    bool rewrite(uint64_t offset, const void* data, std::size_t bytes, int& systemError);

    // Flushes and closes the stream and moves the file into place. On failure
    // (any write, the flush, the close or the rename) the temporary file is
    // removed and the path left as it was.
    bool commit(int& systemError);

    // Closes the stream and removes the temporary file; the path stays as it was.
    void abandon();

private:
    std::FILE* stream_ = nullptr;
    bool building_ = false;  // a file built beside its path, not written directly
    std::string path_;       // where the finished file goes
    std::string folder_;
    std::string tempPath_;   // the file's name while it is built; empty while it has none
    std::unique_ptr<char[]> buffer_;  // the stream's buffer, freed after the stream is closed

    void useLargeBuffer();
};

}  // namespace plinth
