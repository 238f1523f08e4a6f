#pragma once
// Runs a check once with each target of a vector kernel that is compiled in
// and that this machine runs, under the target's name. PLINTH_TEST_TARGETS
// (target names separated by spaces, "SVE_256" say) limits the run to those.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/kernel_dispatch.h"

namespace testsupport {

inline bool targetSelected(int64_t target) {
    const char* selected = std::getenv("PLINTH_TEST_TARGETS");
    if (selected == nullptr) return true;
    std::istringstream names(selected);
    std::string name;
    while (names >> name) {
        if (name == plinth::targetName(target)) return true;
    }
    return false;
}

template <class Function, class Check>
void forEachTarget(const plinth::KernelTargets<Function>& targets, Check&& check) {
    ASSERT_GT(targets.size(), 0);
    int run = 0;
    for (const plinth::KernelTarget<Function>& target : targets) {
        if (!targetSelected(target.target)) continue;
        SCOPED_TRACE(plinth::targetName(target.target));
        check(target);
        ++run;
    }
    ASSERT_GT(run, 0) << "none of PLINTH_TEST_TARGETS runs here";
}

// Runs this test program again with PLINTH_SCALAR=1 and `name`=`value` in its
// environment, only the test `test`; its exit status, or -1.
inline int runTestWithScalarKernels(const char* test, const char* name, const char* value) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        setenv("PLINTH_SCALAR", "1", 1);
        setenv(name, value, 1);
        const std::string filter = std::string("--gtest_filter=") + test;
        execl("/proc/self/exe", "test", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace testsupport
