#pragma once
// The fuzzers hand their input to the real file entries: the bytes go to a
// file in memory (tmpfs where there is one), named per process so that
// parallel fuzzers never share one.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzzsupport {

inline std::string scratchPath(const char* name) {
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(folder) + "/plinth-fuzz-" + std::to_string(getpid()) + "-" + name;
}

inline bool writeScratch(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = (size == 0 || std::fwrite(data, 1, size, file) == size) && std::fclose(file) == 0;
    if (!ok) std::remove(path.c_str());
    return ok;
}

}  // namespace fuzzsupport
