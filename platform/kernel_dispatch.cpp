#include "platform/kernel_dispatch.h"

#include <cstdio>
#include <cstdlib>

namespace plinth {

const char* targetName(int64_t target) {
    return target == kReferenceTarget ? "reference" : hwy::TargetName(target);
}

bool scalarKernelsForced() {
    // A function-local constant: initialised once, safely across threads.
    static const bool forced = [] {
        const char* value = std::getenv("PLINTH_SCALAR");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return forced;
}

KernelValueText kernelValueText(long long value) {
    KernelValueText result;
    std::snprintf(result.text, sizeof result.text, "%lld", value);
    return result;
}

KernelValueText kernelValueText(double value) {
    KernelValueText result;
    std::snprintf(result.text, sizeof result.text, "%a", value);
    return result;
}

void reportKernelDifference(const char* kernel, int64_t target, const char* what, std::ptrdiff_t index,
                            const KernelValueText& vector, const KernelValueText& reference) {
    if (index < 0) {
        std::fprintf(stderr, "plinth: kernel check: %s on %s differs from its reference: %s is %s, the reference's %s\n",
                     kernel, targetName(target), what, vector.text, reference.text);
    } else {
        std::fprintf(stderr,
                     "plinth: kernel check: %s on %s differs from its reference: %s[%td] is %s, the reference's %s\n",
                     kernel, targetName(target), what, index, vector.text, reference.text);
    }
    std::fflush(stderr);
    std::abort();
}

}  // namespace plinth
