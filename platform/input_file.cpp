#include "platform/input_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/path_names.h"

namespace plinth {
namespace {

// How long a watched wait lasts before the stop request is looked at again:
// short enough for a stop to feel immediate, long enough to cost nothing.
constexpr int kWaitSpellMilliseconds = 100;

bool watched(const Progress* progress) {
    return progress != nullptr && (progress->stop != nullptr || progress->check != nullptr);
}

}  // namespace

std::string describeInputError(InputError error, int systemError) {
    switch (error) {
        case InputError::none: return "no error";
        case InputError::cannotOpen: return std::strerror(systemError != 0 ? systemError : ENOENT);
        case InputError::isFolder: return "is a folder";
        case InputError::notRegular: return "is not a regular file (a pipe or device cannot be read here)";
        case InputError::readFailed: return std::strerror(systemError != 0 ? systemError : EIO);
        case InputError::changedSize: return "changed size while it was read";
        case InputError::tooLarge: return "too large (2 GiB or more)";
        case InputError::outOfMemory: return "not enough memory to hold it";
        case InputError::stopped: return "stopped while waiting for input";
    }
    return "unknown error";
}

InputFile::~InputFile() { close(); }

InputFile::InputFile(InputFile&& other) noexcept { *this = std::move(other); }

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        regular_ = other.regular_;
        size_ = other.size_;
        end_ = other.end_;
        progress_ = other.progress_;
        std::memcpy(peeked_, other.peeked_, sizeof peeked_);
        peekedCount_ = other.peekedCount_;
        peekedTaken_ = other.peekedTaken_;
        other.fd_ = -1;
        other.close();
    }
    return *this;
}

void InputFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    regular_ = false;
    size_ = 0;
    end_ = 0;
    progress_ = nullptr;
    peekedCount_ = 0;
    peekedTaken_ = 0;
}

InputError InputFile::open(const std::string& path, InputPolicy policy, int& systemError, const Progress* progress) {
    close();
    systemError = 0;
    int held = -1;
    if (namesHeldDescriptor(path, StreamDirection::input, held)) {
        const InputError error = openHeldDescriptor(held, systemError);
        if (error == InputError::none) progress_ = progress;
        return error;
    }
    // Judged before opening: a device the policy refuses is never opened.
    struct stat before;
    if (::stat(path.c_str(), &before) != 0) {
        systemError = errno;
        return InputError::cannotOpen;
    }
    if (S_ISDIR(before.st_mode)) return InputError::isFolder;
    const bool regular = S_ISREG(before.st_mode);
    if (!regular && policy == InputPolicy::regularOnly) return InputError::notRegular;

    // Opened without blocking: a named pipe's writer is awaited by the reads,
    // where a stop request is seen, and a regular file swapped for a pipe
    // meanwhile is judged by the descriptor's own status below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        systemError = errno;
        return InputError::cannotOpen;
    }
    struct stat opened;
    if (::fstat(fd, &opened) != 0) {
        systemError = errno;
        ::close(fd);
        return InputError::cannotOpen;
    }
    InputError refusal = InputError::none;
    if (S_ISDIR(opened.st_mode)) {
        refusal = InputError::isFolder;
    } else if (!S_ISREG(opened.st_mode) && (regular || policy == InputPolicy::regularOnly)) {
        refusal = InputError::notRegular;
    }
    if (refusal != InputError::none) {
        ::close(fd);
        return refusal;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    regular_ = S_ISREG(opened.st_mode);
    end_ = regular_ ? static_cast<uint64_t>(opened.st_size) : 0;
    size_ = end_;
    progress_ = progress;
    return InputError::none;
}

InputError InputFile::openHeldDescriptor(int held, int& systemError) {
    // The descriptor is whatever the caller was given: a pipe is read to its
    // end (a caller that needs a whole image reads it whole), a regular file
    // from where it stands.
    const int fd = ::fcntl(held, F_DUPFD_CLOEXEC, 3);
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        systemError = errno;
        if (fd >= 0) ::close(fd);
        return InputError::cannotOpen;
    }
    if (S_ISDIR(status.st_mode)) {
        ::close(fd);
        return InputError::isFolder;
    }
    fd_ = fd;
    regular_ = S_ISREG(status.st_mode);
    if (regular_) {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        end_ = static_cast<uint64_t>(status.st_size);
        const uint64_t start = at > 0 ? static_cast<uint64_t>(at) : 0;
        size_ = end_ > start ? end_ - start : 0;
    }
    return InputError::none;
}

InputError InputFile::awaitData(int& systemError) {
    // Readable, ended or failed: the read that follows tells which. A named
    // pipe whose writer never came reports none of these, so its writer is
    // awaited here as a blocking open would await it.
    for (;;) {
        struct pollfd entry {};
        entry.fd = fd_;
        entry.events = POLLIN;
        const int ready = ::poll(&entry, 1, watched(progress_) ? kWaitSpellMilliseconds : -1);
        if (ready > 0) return InputError::none;
        if (ready < 0 && errno != EINTR) {
            systemError = errno;
            return InputError::readFailed;
        }
        if (stopRequested(progress_)) return InputError::stopped;
    }
}

InputError InputFile::readDescriptor(char* out, std::size_t bytes, std::size_t& got, int& systemError) {
    while (got < bytes) {
        if (!regular_) {
            const InputError waited = awaitData(systemError);
            if (waited != InputError::none) return waited;
        }
        const ssize_t n = ::read(fd_, out + got, bytes - got);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) {
            systemError = errno;
            return InputError::readFailed;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return InputError::none;
}

InputError InputFile::read(void* buffer, std::size_t bytes, std::size_t& got, int& systemError) {
    got = 0;
    systemError = 0;
    char* out = static_cast<char*>(buffer);
    const std::size_t kept = peekedCount_ - peekedTaken_;
    if (kept > 0) {
        got = bytes < kept ? bytes : kept;
        std::memcpy(out, peeked_ + peekedTaken_, got);
        peekedTaken_ += got;
    }
    return readDescriptor(out, bytes, got, systemError);
}

InputError InputFile::peek(void* buffer, std::size_t bytes, std::size_t& got, int& systemError) {
    systemError = 0;
    if (bytes > kPeekBytes) bytes = kPeekBytes;
    // What is kept moves to the front, and the rest is read behind it.
    std::memmove(peeked_, peeked_ + peekedTaken_, peekedCount_ - peekedTaken_);
    peekedCount_ -= peekedTaken_;
    peekedTaken_ = 0;
    const InputError error =
        peekedCount_ < bytes ? readDescriptor(reinterpret_cast<char*>(peeked_), bytes, peekedCount_, systemError)
                             : InputError::none;
    got = peekedCount_ < bytes ? peekedCount_ : bytes;
    std::memcpy(buffer, peeked_, got);
    return error;
}

InputError InputFile::skip(uint64_t bytes, uint64_t& skipped, int& systemError) {
    skipped = 0;
    systemError = 0;
    const std::size_t kept = peekedCount_ - peekedTaken_;
    if (kept > 0) {
        const std::size_t taken = bytes < kept ? static_cast<std::size_t>(bytes) : kept;
        peekedTaken_ += taken;
        skipped = taken;
    }
    if (regular_) {
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        if (at < 0) {
            systemError = errno;
            return InputError::readFailed;
        }
        const uint64_t here = static_cast<uint64_t>(at);
        const uint64_t left = end_ > here ? end_ - here : 0;
        const uint64_t wanted = bytes - skipped;
        const uint64_t step = wanted < left ? wanted : left;
        if (::lseek(fd_, static_cast<off_t>(here + step), SEEK_SET) < 0) {
            systemError = errno;
            return InputError::readFailed;
        }
        skipped += step;
        return InputError::none;
    }
    char scratch[4096];
    while (skipped < bytes) {
        const uint64_t left = bytes - skipped;
        std::size_t got = 0;
        const InputError error = read(scratch, left < sizeof scratch ? static_cast<std::size_t>(left) : sizeof scratch,
                                      got, systemError);
        if (error != InputError::none) return error;
        if (got == 0) break;
        skipped += got;
    }
    return InputError::none;
}

InputError InputFile::readRest(std::vector<uint8_t>& bytes, uint64_t limit, int& systemError) {
    bytes.clear();
    systemError = 0;
    try {
        if (regular_) {
            // The size taken at opening is what is read; a file that shrank meanwhile fails.
            const off_t at = ::lseek(fd_, 0, SEEK_CUR);
            if (at < 0) {
                systemError = errno;
                return InputError::readFailed;
            }
            const uint64_t here = static_cast<uint64_t>(at);
            const uint64_t rest = (peekedCount_ - peekedTaken_) + (end_ > here ? end_ - here : 0);
            if (rest > limit) return InputError::tooLarge;
            bytes.resize(static_cast<std::size_t>(rest));
            std::size_t got = 0;
            const InputError error = read(bytes.data(), bytes.size(), got, systemError);
            if (error != InputError::none) return error;
            return got == bytes.size() ? InputError::none : InputError::changedSize;
        }
        constexpr std::size_t kChunk = 1 << 16;
        for (;;) {
            const std::size_t at = bytes.size();
            bytes.resize(at + kChunk);
            std::size_t got = 0;
            const InputError error = read(bytes.data() + at, kChunk, got, systemError);
            bytes.resize(at + got);
            if (error != InputError::none) return error;
            if (bytes.size() > limit) return InputError::tooLarge;
            if (got < kChunk) return InputError::none;
        }
    } catch (const std::bad_alloc&) {
        bytes.clear();
        bytes.shrink_to_fit();
        return InputError::outOfMemory;
    }
}

}  // namespace plinth
