#include "output_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
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

bool openOutputFile(const std::string& path, OutputFile& output) {
    output = OutputFile{};
    output.path = resolveSymlink(path);

    struct stat existing;
    const bool exists = stat(output.path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        if (S_ISDIR(existing.st_mode)) {
            errno = EISDIR;
            return false;
        }
        output.stream = std::fopen(output.path.c_str(), "wb");
        return output.stream != nullptr;
    }

    const int fd = createTempFile(output.path, output.tempPath);
    if (fd < 0) {
        output.tempPath.clear();
        return false;
    }
    // Replacing a file keeps its read, write and execute bits, as overwriting
    // it would; set-id and sticky bits are not carried over to new contents.
    if (exists) fchmod(fd, existing.st_mode & 0777);
    output.stream = fdopen(fd, "w+b");
    if (output.stream == nullptr) {
        const int saved = errno;
        close(fd);
        unlink(output.tempPath.c_str());
        output.tempPath.clear();
        errno = saved;
        return false;
    }
    return true;
}

bool commitOutputFile(OutputFile& output) {
    if (output.stream == nullptr) {
        errno = EBADF;
        return false;
    }
    bool ok = std::fflush(output.stream) == 0 && !std::ferror(output.stream);
    int saved = ok ? 0 : (errno != 0 ? errno : EIO);
    if (std::fclose(output.stream) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    output.stream = nullptr;
    if (ok && !output.tempPath.empty() && std::rename(output.tempPath.c_str(), output.path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok && !output.tempPath.empty()) unlink(output.tempPath.c_str());
    output.tempPath.clear();
    errno = saved;
    return ok;
}

void abandonOutputFile(OutputFile& output) {
    if (output.stream != nullptr) std::fclose(output.stream);
    output.stream = nullptr;
    if (!output.tempPath.empty()) unlink(output.tempPath.c_str());
    output.tempPath.clear();
}

}  // namespace plinth
