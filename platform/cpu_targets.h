#pragma once
// Which of Highway's instruction-set targets this processor and its operating
// system can run. The libraries use Highway's headers only and choose among
// their compiled targets themselves: loading Highway's run-time library would
// cost every process a few milliseconds of start-up.

#include <cstddef>
#include <cstdint>

namespace plinth {

// A mask of Highway target bits (HWY_AVX3, HWY_AVX2, HWY_SSE4, HWY_SSSE3,
// HWY_NEON, HWY_SVE, HWY_SVE2, and always HWY_EMU128 and HWY_SCALAR): the
// instruction sets each target's code is compiled for, checked with cpuid and
// xgetbv, or the auxiliary vector. Computed once.
int64_t runnableVectorTargets();

}  // namespace plinth

namespace plinth {

// One function compiled for one target.
template <typename Function>
struct TargetEntry {
    int64_t bits;
    Function function;
};

// The entries of a table (best first) that this machine runs.
template <typename Function, std::size_t N>
struct RunnableEntries {
    const TargetEntry<Function>* entries[N] = {};
    int count = 0;
};

template <typename Function, std::size_t N>
RunnableEntries<Function, N> runnableEntries(const TargetEntry<Function> (&table)[N]) {
    RunnableEntries<Function, N> runnable;
    const int64_t targets = runnableVectorTargets();
    for (const TargetEntry<Function>& entry : table) {
        if ((entry.bits & targets) != 0) runnable.entries[runnable.count++] = &entry;
    }
    return runnable;
}

}  // namespace plinth
