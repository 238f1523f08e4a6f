#include "platform/input_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace plinth {

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
    }
    return "unknown error";
}

InputFile::~InputFile() { close(); }

InputFile::InputFile(InputFile&& other) noexcept : fd_(other.fd_), regular_(other.regular_), size_(other.size_) {
    other.fd_ = -1;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        regular_ = other.regular_;
        size_ = other.size_;
        other.fd_ = -1;
    }
    return *this;
}

void InputFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    regular_ = false;
    size_ = 0;
}

InputError InputFile::open(const std::string& path, InputPolicy policy, int& systemError) {
    close();
    systemError = 0;
    if (path == "-") return openStandardInput(systemError);
    // Judged before opening: opening a pipe that has no writer would block.
    struct stat before;
    if (::stat(path.c_str(), &before) != 0) {
        systemError = errno;
        return InputError::cannotOpen;
    }
    if (S_ISDIR(before.st_mode)) return InputError::isFolder;
    const bool regular = S_ISREG(before.st_mode);
    if (!regular && policy == InputPolicy::regularOnly) return InputError::notRegular;

    // A regular file is opened without blocking in case it was swapped for a
    // pipe meanwhile; the descriptor's own status below decides.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (regular ? O_NONBLOCK : 0));
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
    if (regular) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    regular_ = S_ISREG(opened.st_mode);
    size_ = regular_ ? static_cast<uint64_t>(opened.st_size) : 0;
    return InputError::none;
}

InputError InputFile::openStandardInput(int& systemError) {
    // Standard input is whatever the caller was given: a pipe is read to its
    // end (a caller that needs a whole image reads it whole).
    const int fd = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
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
        size_ = static_cast<uint64_t>(status.st_size - (at > 0 ? at : 0));
    }
    return InputError::none;
}

InputError InputFile::read(void* buffer, std::size_t bytes, std::size_t& got, int& systemError) {
    got = 0;
    systemError = 0;
    char* out = static_cast<char*>(buffer);
    while (got < bytes) {
        const ssize_t n = ::read(fd_, out + got, bytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            systemError = errno;
            return InputError::readFailed;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return InputError::none;
}

InputError InputFile::skip(uint64_t bytes, uint64_t& skipped, int& systemError) {
    skipped = 0;
    systemError = 0;
    if (regular_) {
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        if (at < 0) {
            systemError = errno;
            return InputError::readFailed;
        }
        const uint64_t here = static_cast<uint64_t>(at);
        const uint64_t left = size_ > here ? size_ - here : 0;
        skipped = bytes < left ? bytes : left;
        if (::lseek(fd_, static_cast<off_t>(here + skipped), SEEK_SET) < 0) {
            systemError = errno;
            skipped = 0;
            return InputError::readFailed;
        }
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
            if (size_ > limit) return InputError::tooLarge;
            bytes.resize(static_cast<std::size_t>(size_));
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
