#pragma once
// The functions a shared library exports, as `nm -D --defined-only` lists them.

#include <cstdio>
#include <set>
#include <string>

namespace testsupport {

inline std::set<std::string> exportedFunctions(const std::string& library) {
    std::set<std::string> functions;
    FILE* pipe = popen(("nm -D --defined-only '" + library + "'").c_str(), "r");
    if (pipe == nullptr) return functions;
    char address[64], type[8], name[400];
    while (std::fscanf(pipe, "%63s %7s %399s", address, type, name) == 3) {
        if (std::string("TWi").find(type[0]) != std::string::npos) functions.insert(name);
    }
    if (pclose(pipe) != 0) functions.insert("(nm failed)");
    return functions;
}

}  // namespace testsupport
