#include "platform/path_names.h"

#include <cstdlib>

namespace plinth {

std::string folderOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool namesHeldDescriptor(const std::string& path, StreamDirection direction, int& fd) {
    const bool input = direction == StreamDirection::input;
    if (path == "-") {
        fd = input ? 0 : 1;
        return true;
    }
    if (input ? path == "/dev/stdin" : path == "/dev/stdout" || path == "/dev/stderr") {
        fd = path == "/dev/stdin" ? 0 : path == "/dev/stdout" ? 1 : 2;
        return true;
    }
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size()) continue;
        const std::string number = path.substr(prefix.size());
        if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 9) return false;
        fd = std::atoi(number.c_str());
        return true;
    }
    return false;
}

}  // namespace plinth
