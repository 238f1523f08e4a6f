#pragma once
// The one dispatch facility of the vector kernels.
//
// A kernel is written once with Highway's headers, compiled for every target
// by foreach_target, and keeps beside it its plain reference, a function of
// its own that it equals bit for bit. Names: the reference `xxx`, the
// function every caller uses `xxxDispatched` (the best target this machine
// runs, or the reference with PLINTH_SCALAR=1), its table of targets
// `xxxTargets()`, the per-target code `xxxVectors` in the kernel's
// HWY_NAMESPACE (or, for a kernel that needs scratch memory laid out for its
// vectors, the function that sets that up). The kernel's file defines the
// table with one line, inside namespace plinth and under HWY_ONCE:
//
//     PLINTH_KERNEL_TARGETS(floatsToSamplesTargets, pcm, floatsToSamplesVectors)
//
// where `pcm` is the namespace holding the kernel's HWY_NAMESPACE, and its
// dispatched function calls `floatsToSamplesTargets().chosen()`, or the
// reference where that is null. Built with PLINTH_CHECK_KERNELS, the
// dispatched function also runs the reference on the same input and compares
// with checkSameBits/checkSameValue, which abort at the first difference.
//
// A kernel's file compiles the targets Highway compiles by default, unless it
// defines HWY_DISABLED_TARGETS before including Highway (the tracker's do, in
// tracker/vector_targets.h): so each table has its own targets.
//
// The same tables tell tests and benchmarks which targets are compiled in and
// run here, and give each target's code to call. Only Highway's headers are
// used; which targets the machine runs comes from platform/cpu_targets.h.

#if defined(__FAST_MATH__)
#error "The vector kernels must equal their references bit for bit: never compile them with -ffast-math"
#endif

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <hwy/targets.h>

#include "platform/cpu_targets.h"

namespace plinth {

// The target of the plain reference code, in place of a Highway target bit.
inline constexpr int64_t kReferenceTarget = 0;

// "AVX2", "SSE4", "NEON", "SVE", ..., "SCALAR" (Highway's one-lane target), or
// "reference" for kReferenceTarget.
const char* targetName(int64_t target);

// True when PLINTH_SCALAR=1 is in the environment: every kernel then runs its
// reference. Read once per process.
bool scalarKernelsForced();

// A kernel's code for one target.
template <typename Function>
struct KernelTarget {
    int64_t target;  // a Highway target bit
    Function function;
};

// The targets of one kernel that are compiled in and that this machine runs,
// best first; made by PLINTH_KERNEL_TARGETS.
template <typename Function>
class KernelTargets {
public:
    // `dynamic`: Highway's table for this architecture (HWY_CHOOSE_TARGET_LIST:
    // slot i holds the code for the i-th target bit of the architecture's
    // range, best first, or null where not compiled); `fallback`: the code for
    // `fallbackTarget`, which every machine runs; `compiled`: HWY_TARGETS.
    KernelTargets(const std::array<Function, HWY_MAX_DYNAMIC_TARGETS>& dynamic, Function fallback,
                  int64_t fallbackTarget, int64_t compiled, int64_t runnable, bool forced)
        : compiled_(compiled) {
        for (int slot = 0; slot < HWY_MAX_DYNAMIC_TARGETS; ++slot) {
            const int64_t target = int64_t{1} << (HWY_HIGHEST_TARGET_BIT + 1 - HWY_MAX_DYNAMIC_TARGETS + slot);
            if (dynamic[static_cast<std::size_t>(slot)] != nullptr && (runnable & target) != 0) {
                add(target, dynamic[static_cast<std::size_t>(slot)]);
            }
        }
        if ((listed_ & fallbackTarget) == 0) add(fallbackTarget, fallback);
        if (!forced) chosen_ = entries_[0];
    }

    const KernelTarget<Function>* begin() const { return entries_; }
    const KernelTarget<Function>* end() const { return entries_ + count_; }
    int size() const { return count_; }
    // Every target compiled in, and those of them listed here.
    int64_t compiled() const { return compiled_; }
    int64_t runnable() const { return listed_; }
    // The code for one target; null unless it is listed here.
    Function find(int64_t target) const {
        for (const KernelTarget<Function>& entry : *this) {
            if (entry.target == target) return entry.function;
        }
        return nullptr;
    }
    // What the dispatched function calls: the best listed target's code, or
    // null (and kReferenceTarget) when PLINTH_SCALAR=1 forces the reference.
    Function chosen() const { return chosen_.function; }
    int64_t chosenTarget() const { return chosen_.target; }

private:
    void add(int64_t target, Function function) {
        entries_[count_++] = {target, function};
        listed_ |= target;
    }

    KernelTarget<Function> entries_[HWY_MAX_DYNAMIC_TARGETS + 1] = {};
    int count_ = 0;
    int64_t compiled_ = 0;
    int64_t listed_ = 0;
    KernelTarget<Function> chosen_ = {kReferenceTarget, nullptr};
};

#ifdef HWY_CHOOSE_TARGET_LIST
#define PLINTH_DYNAMIC_TARGETS(function) HWY_CHOOSE_TARGET_LIST(function)
#else  // an architecture without dynamic targets
#define PLINTH_DYNAMIC_TARGETS(function) nullptr
#endif

// The target HWY_CHOOSE_FALLBACK's code is for.
#define PLINTH_FALLBACK_TARGET \
    ((HWY_TARGETS & HWY_EMU128) ? HWY_EMU128 : (HWY_TARGETS & HWY_SCALAR) ? HWY_SCALAR : HWY_STATIC_TARGET)

// Defines `accessor()`, the table of `kernelNamespace::HWY_NAMESPACE::function`,
// made on first use. For a kernel's file, after its per-target code.
#define PLINTH_KERNEL_TARGETS(accessor, kernelNamespace, function)                                             \
    auto accessor()->const ::plinth::KernelTargets<decltype(&kernelNamespace::HWY_STATIC_DISPATCH(function))>& { \
        using namespace kernelNamespace;                                                                         \
        static const ::plinth::KernelTargets<decltype(&HWY_STATIC_DISPATCH(function))> targets(                \
            {PLINTH_DYNAMIC_TARGETS(function)}, HWY_CHOOSE_FALLBACK(function), PLINTH_FALLBACK_TARGET,          \
            HWY_TARGETS, ::plinth::runnableVectorTargets(), ::plinth::scalarKernelsForced());                    \
        return targets;                                                                                          \
    }

// Whether every dispatched call also runs the reference and compares: a build
// for finding a kernel's fault, configured with PLINTH_CHECK_KERNELS=ON.
#ifdef PLINTH_CHECK_KERNELS
inline constexpr bool kCheckKernels = true;
#else
inline constexpr bool kCheckKernels = false;
#endif

// A value as a difference report shows it: integers in decimal, floating-point
// values exactly (hexadecimal significand).
struct KernelValueText {
    char text[48];
};
KernelValueText kernelValueText(long long value);
KernelValueText kernelValueText(double value);

// Prints on standard error which kernel on which target differs from its
// reference, in what (and at which index, unless negative), and aborts.
[[noreturn]] void reportKernelDifference(const char* kernel, int64_t target, const char* what, std::ptrdiff_t index,
                                         const KernelValueText& vector, const KernelValueText& reference);

template <typename T>
KernelValueText kernelValueTextOf(const T& value) {
    if constexpr (std::is_floating_point_v<T>) {
        return kernelValueText(static_cast<double>(value));
    } else {
        return kernelValueText(static_cast<long long>(value));
    }
}

// Aborts at the first of `count` values whose bits differ (so -0.0 is not 0.0).
template <typename T>
void checkSameBits(const char* kernel, int64_t target, const char* what, const T* vector, const T* reference,
                   std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (std::memcmp(&vector[i], &reference[i], sizeof(T)) != 0) {
            reportKernelDifference(kernel, target, what, static_cast<std::ptrdiff_t>(i),
                                   kernelValueTextOf(vector[i]), kernelValueTextOf(reference[i]));
        }
    }
}

template <typename T>
void checkSameValue(const char* kernel, int64_t target, const char* what, const T& vector, const T& reference) {
    if (std::memcmp(&vector, &reference, sizeof(T)) != 0) {
        reportKernelDifference(kernel, target, what, -1, kernelValueTextOf(vector), kernelValueTextOf(reference));
    }
}

}  // namespace plinth
