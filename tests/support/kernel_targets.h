#pragma once
// Runs a check once with each target of a vector kernel that is compiled in
// and that this machine runs, under the target's name.

#include <gtest/gtest.h>

#include "platform/kernel_dispatch.h"

namespace testsupport {

template <class Function, class Check>
void forEachTarget(const plinth::KernelTargets<Function>& targets, Check&& check) {
    ASSERT_GT(targets.size(), 0);
    for (const plinth::KernelTarget<Function>& target : targets) {
        SCOPED_TRACE(plinth::targetName(target.target));
        check(target);
    }
}

}  // namespace testsupport
