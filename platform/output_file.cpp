#include "output_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "path_names.h"

namespace plinth {
namespace {

std::string resolveSymlink(const std::string& path) {
    struct stat linkInfo;
    if (lstat(path.c_str(), &linkInfo) != 0 || !S_ISLNK(linkInfo.st_mode)) return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return path;  // dangling: replace the link
    return resolved;
}

// Creates a fresh file beside the target. Mode 0666 lets the process umask give
// it the permissions of any newly created file.
int createTempFile(const std::string& target, std::string& tempPath) {
    const std::string stem = folderOf(target) + "/." + baseNameOf(target) + ".part-";
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long long seed = static_cast<unsigned long long>(now.tv_nsec) ^
                              (static_cast<unsigned long long>(getpid()) << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", seed);
        tempPath = stem + suffix;
        const int fd = open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

OutputFile::OutputFile(OutputFile&& other) noexcept
    : stream_(other.stream_), path_(std::move(other.path_)), tempPath_(std::move(other.tempPath_)) {
    other.stream_ = nullptr;
    other.tempPath_.clear();
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        abandon();
        stream_ = other.stream_;
        path_ = std::move(other.path_);
        tempPath_ = std::move(other.tempPath_);
        other.stream_ = nullptr;
        other.tempPath_.clear();
    }
    return *this;
}

bool OutputFile::open(const std::string& path, int& systemError) {
    abandon();
    systemError = 0;
    path_ = resolveSymlink(path);

    struct stat existing;
    const bool exists = stat(path_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        if (S_ISDIR(existing.st_mode)) {
            systemError = EISDIR;
            return false;
        }
        stream_ = std::fopen(path_.c_str(), "wb");
        if (stream_ == nullptr) systemError = errno;
        return stream_ != nullptr;
    }

    std::string tempPath;
    const int fd = createTempFile(path_, tempPath);
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
        unlink(tempPath.c_str());
        return false;
    }
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
    if (stream_ != nullptr && !tempPath_.empty() && fseeko(stream_, static_cast<off_t>(offset), SEEK_SET) == 0 &&
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
    if (std::fclose(stream_) != 0 && ok) {
        ok = false;
        systemError = errno;
    }
    stream_ = nullptr;
    if (ok && !tempPath_.empty() && std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        ok = false;
        systemError = errno;
    }
    if (!ok && !tempPath_.empty()) unlink(tempPath_.c_str());
    tempPath_.clear();
    return ok;
}

void OutputFile::abandon() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    if (!tempPath_.empty()) unlink(tempPath_.c_str());
    tempPath_.clear();
}

}  // namespace plinth
