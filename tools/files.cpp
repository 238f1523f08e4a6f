#include "tools/files.h"

#include <cerrno>
#include <climits>
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
