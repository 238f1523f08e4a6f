#include "platform/output_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/path_names.h"

namespace plinth {
namespace {

std::string resolveSymlink(const std::string& path) {
    struct stat linkInfo;
    if (lstat(path.c_str(), &linkInfo) != 0 || !S_ISLNK(linkInfo.st_mode)) return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return path;  // dangling: replace the link
    return resolved;
}

// A name for a file of our own beside the target. It does not grow with the
// target's name, so any name the file system accepts can be an output.
std::string freshName(const std::string& folder, int attempt) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Time, process, thread and attempt keep concurrent callers apart.
    unsigned long long seed = static_cast<unsigned long long>(now.tv_nsec) ^
                              (static_cast<unsigned long long>(getpid()) << 32) ^
                              (static_cast<unsigned long long>(syscall(SYS_gettid)) << 12) ^
                              static_cast<unsigned long long>(attempt);
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    char name[40];
    std::snprintf(name, sizeof name, "/.plinth-%016llx.part", seed);
    return folder + name;
}

// Creates a fresh named file beside the target. Mode 0666 lets the process
// umask give it the permissions of any newly created file.
int createNamedTempFile(const std::string& folder, std::string& tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = freshName(folder, attempt);
        const int fd = open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// A file with no name at all until it is complete: nothing is left behind,
// whatever ends the process.
int createUnnamedFile(const std::string& folder) {
#ifdef O_TMPFILE
    return open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
#else
    (void)folder;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

// Gives an unnamed file a fresh name in its folder.
bool nameUnnamedFile(int fd, const std::string& folder, std::string& name) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = freshName(folder, attempt);
        if (linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

// Large writes: a system call per default-sized buffer costs more than
// producing the samples.
constexpr std::size_t kBufferBytes = std::size_t{1} << 17;

}  // namespace

// The stream writes through a buffer of our own: the C library takes the size
// asked for only with the memory given. Without the memory, its own will do.
void OutputFile::useLargeBuffer() {
    buffer_.reset(new (std::nothrow) char[kBufferBytes]);
    if (buffer_ != nullptr && std::setvbuf(stream_, buffer_.get(), _IOFBF, kBufferBytes) != 0) buffer_.reset();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : stream_(other.stream_),
      building_(other.building_),
      path_(std::move(other.path_)),
      folder_(std::move(other.folder_)),
      tempPath_(std::move(other.tempPath_)),
      buffer_(std::move(other.buffer_)) {
    other.stream_ = nullptr;
    other.building_ = false;
    other.tempPath_.clear();
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        abandon();
        stream_ = other.stream_;
        building_ = other.building_;
        path_ = std::move(other.path_);
        folder_ = std::move(other.folder_);
        tempPath_ = std::move(other.tempPath_);
        buffer_ = std::move(other.buffer_);
        other.stream_ = nullptr;
        other.building_ = false;
        other.tempPath_.clear();
    }
    return *this;
}

bool OutputFile::open(const std::string& path, int& systemError) {
    abandon();
    systemError = 0;
    int ownDescriptor = -1;
    if (namesHeldDescriptor(path, StreamDirection::output, ownDescriptor)) {
        const int fd = fcntl(ownDescriptor, F_DUPFD_CLOEXEC, 3);
        stream_ = fd >= 0 ? fdopen(fd, "wb") : nullptr;
        if (stream_ == nullptr) {
            systemError = errno;
            if (fd >= 0) close(fd);
            return false;
        }
        useLargeBuffer();
        return true;
    }
    path_ = resolveSymlink(path);

    struct stat existing;
    const bool exists = stat(path_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        if (S_ISDIR(existing.st_mode)) {
            systemError = EISDIR;
            return false;
        }
        stream_ = std::fopen(path_.c_str(), "wb");
        if (stream_ == nullptr) {
            systemError = errno;
            return false;
        }
        useLargeBuffer();
        return true;
    }

    folder_ = folderOf(path_);
    std::string tempPath;
    int fd = createUnnamedFile(folder_);
    const bool unnamed = fd >= 0;
    if (!unnamed) fd = createNamedTempFile(folder_, tempPath);
    if (fd < 0) {
        systemError = errno;
        return false;
    }
    // Replacing a file keeps its read, write and execute bits, as overwriting
    // it would; set-id and sticky bits are not carried over to new contents.
    if (exists) fchmod(fd, existing.st_mode & 0777);
    stream_ = fdopen(fd, "w+b");
    if (stream_ == nullptr) {
        systemError = errno;
        close(fd);
        if (!unnamed) unlink(tempPath.c_str());
        return false;
    }
    useLargeBuffer();
    building_ = true;
    tempPath_ = tempPath;
    return true;
}

bool OutputFile::write(const void* data, std::size_t bytes, int& systemError) {
    if (bytes == 0) return true;
    errno = 0;
    if (stream_ != nullptr && std::fwrite(data, 1, bytes, stream_) == bytes) return true;
    systemError = errno != 0 ? errno : EIO;
    return false;
}

bool OutputFile::rewrite(uint64_t offset, const void* data, std::size_t bytes, int& systemError) {
    errno = 0;
    if (stream_ != nullptr && building_ && fseeko(stream_, static_cast<off_t>(offset), SEEK_SET) == 0 &&
        std::fwrite(data, 1, bytes, stream_) == bytes && fseeko(stream_, 0, SEEK_END) == 0) {
        return true;
    }
    systemError = errno != 0 ? errno : ESPIPE;
    return false;
}

bool OutputFile::commit(int& systemError) {
    systemError = 0;
    if (stream_ == nullptr) {
        systemError = EBADF;
        return false;
    }
    errno = 0;
    bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
    if (!ok) systemError = errno != 0 ? errno : EIO;
    // An unnamed file gets its name before it is closed, then moves into place.
    if (ok && building_ && tempPath_.empty() && !nameUnnamedFile(fileno(stream_), folder_, tempPath_)) {
        ok = false;
        systemError = errno;
        tempPath_.clear();
    }
    if (std::fclose(stream_) != 0 && ok) {
        ok = false;
        systemError = errno;
    }
    stream_ = nullptr;
    buffer_.reset();
    if (ok && building_ && std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        ok = false;
        systemError = errno;
    }
    if (!ok && !tempPath_.empty()) unlink(tempPath_.c_str());
    tempPath_.clear();
    building_ = false;
    return ok;
}

void OutputFile::abandon() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    buffer_.reset();
    if (!tempPath_.empty()) unlink(tempPath_.c_str());
    tempPath_.clear();
    building_ = false;
}

}  // namespace plinth
