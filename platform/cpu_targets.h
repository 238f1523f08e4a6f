#pragma once
// Which of Highway's instruction-set targets this processor and its operating
// system can run. The libraries use Highway's headers only and choose among
// their compiled targets themselves (platform/kernel_dispatch.h): loading
// Highway's run-time library would cost every process a few milliseconds of
// start-up. The rules are those of Highway 1.0.3's own detection, feature for
// feature, so that both choose alike; a test compares the two.

#include <cstdint>

namespace plinth {

// A mask of Highway target bits (HWY_AVX3_DL, HWY_AVX3, HWY_AVX2, HWY_SSE4,
// HWY_SSSE3; HWY_SVE2_128, HWY_SVE_256, HWY_SVE2, HWY_SVE, HWY_NEON), always
// with HWY_EMU128 and HWY_SCALAR. Computed once.
int64_t runnableVectorTargets();

// What an x86 processor reports: CPUID leaf 0 (eax), leaf 1 (ecx, edx),
// leaf 7 subleaf 0 (ebx, ecx), leaf 0x80000001 (ecx), and XCR0 (read only
// where leaf 1 reports OSXSAVE).
struct X86Registers {
    uint32_t maxLeaf;
    uint32_t leaf1Ecx;
    uint32_t leaf1Edx;
    uint32_t leaf7Ebx;
    uint32_t leaf7Ecx;
    uint32_t extendedEcx;
    uint32_t xcr0;
};

// The targets such a processor runs; on x86 runnableVectorTargets() is this
// for the processor it runs on.
int64_t x86TargetsFrom(const X86Registers& registers);

}  // namespace plinth
