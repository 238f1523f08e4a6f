#include "files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace plinth {
namespace {

std::string describeErrno(const std::string& path, int error) { return path + ": " + std::strerror(error); }

std::string lastComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::string::size_type slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace

bool readWholeFile(const std::string& path, std::vector<unsigned char>& bytes, std::string& error) {
    bytes.clear();
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        error = describeErrno(path, errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = path + ": is a folder";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = describeErrno(path, errno);
        return false;
    }
    const long long limit = 0x7FFFFFFFLL;  // sizes are 32-bit signed downstream
    unsigned char block[65536];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(block, 1, sizeof block, file);
        if (static_cast<long long>(bytes.size() + got) > limit) {
            error = path + ": too large (2 GiB or more)";
            ok = false;
            break;
        }
        bytes.insert(bytes.end(), block, block + got);
        if (got < sizeof block) {
            if (std::ferror(file)) {
                error = describeErrno(path, errno != 0 ? errno : EIO);
                ok = false;
            }
            break;
        }
    }
    std::fclose(file);
    if (!ok) bytes.clear();
    return ok;
}

std::string outputNameFor(const std::string& input) {
    std::string name = lastComponent(input);
    if (name == "/" || name == "." || name == ".." || name.empty()) name = "output";
    const std::string::size_type dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name + ".wav";
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string fileIdentity(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        return "file:" + std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
               std::to_string(static_cast<unsigned long long>(info.st_ino));
    }
    const std::string folder = folderOf(path);
    const std::string name = baseNameOf(path);
    char* resolved = realpath(folder.c_str(), nullptr);
    std::string key = "path:" + (resolved != nullptr ? std::string(resolved) : folder) + "/" + name;
    std::free(resolved);
    return key;
}

bool makeFolders(const std::string& path, std::string& error) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return true;
        error = path + ": is not a folder";
        return false;
    }
    // Create each missing level in turn.
    for (std::string::size_type end = 0; end != std::string::npos;) {
        end = path.find('/', end + 1);
        const std::string prefix = path.substr(0, end);
        if (prefix.empty() || stat(prefix.c_str(), &info) == 0) continue;
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            error = describeErrno(prefix, errno);
            return false;
        }
    }
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + ": is not a folder";
        return false;
    }
    return true;
}

}  // namespace plinth
