#pragma once
// One way to open an input, for both libraries and the tool. A regular file is
// opened and its size taken; a pipe or device is opened only where the caller
// streams it (and then waits for a writer as any reader of a pipe would). A
// refusal never opens the file, so it never blocks on a pipe without a writer.
// A stream is waited on in short spells: a caller's stop request ends a wait
// for a writer or for data at once, with InputError::stopped.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/conversion_control.h"

namespace plinth {

enum class InputPolicy {
    regularOnly,      // a file that is read whole or measured before reading
    regularOrStream,  // also pipes and devices, read once from start to end
};

enum class InputError {
    none,
    cannotOpen,   // open or stat failed; systemError says why
    isFolder,
    notRegular,   // a pipe, socket or device where a regular file is needed
    readFailed,   // systemError says why
    changedSize,  // a regular file ended before the size it had when opened
    tooLarge,     // larger than the caller can hold
    outOfMemory,
    stopped,      // the caller asked to stop while the input was awaited
};

// A reason in a few words, such as "is a folder"; systemError completes the
// reasons that carry one.
std::string describeInputError(InputError error, int systemError);

class InputFile {
public:
    // The most bytes peek() keeps.
    static constexpr std::size_t kPeekBytes = 16;

    InputFile() = default;
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    bool isRegular() const { return regular_; }
    // Bytes of a regular file from where reading starts, when it was opened; 0 for a stream.
    uint64_t size() const { return size_; }

    // Opens `path` under `policy`. "-", /dev/stdin, /dev/fd/N and
    // /proc/self/fd/N are the descriptor the process holds, read from where it
    // stands, under any policy. While it waits (for a named pipe's writer, for
    // a stream's data) it looks at `progress`'s stop request, here and in
    // every later read. On failure returns the error and sets systemError.
    InputError open(const std::string& path, InputPolicy policy, int& systemError, const Progress* progress = nullptr);

    // Reads until `bytes` are in or the input ends; `got` tells how many came.
    InputError read(void* buffer, std::size_t bytes, std::size_t& got, int& systemError);

    // Reads up to kPeekBytes without taking them: the next reads give them again.
    InputError peek(void* buffer, std::size_t bytes, std::size_t& got, int& systemError);

    // Passes over `bytes` bytes: a regular file seeks, a stream reads them away.
    // `skipped` tells how many there were before the input ended.
    InputError skip(uint64_t bytes, uint64_t& skipped, int& systemError);

    // Reads the rest of the input whole, at most `limit` bytes.
    InputError readRest(std::vector<uint8_t>& bytes, uint64_t limit, int& systemError);

    void close();

private:
    InputError openHeldDescriptor(int held, int& systemError);
    InputError readDescriptor(char* out, std::size_t bytes, std::size_t& got, int& systemError);
    InputError awaitData(int& systemError);

    int fd_ = -1;
    bool regular_ = false;
    uint64_t size_ = 0;
    uint64_t end_ = 0;  // a regular file's size: the offset where it ends
    const Progress* progress_ = nullptr;
    uint8_t peeked_[kPeekBytes] = {};
    std::size_t peekedCount_ = 0;
    std::size_t peekedTaken_ = 0;
};

}  // namespace plinth
