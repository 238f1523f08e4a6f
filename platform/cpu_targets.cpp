#include "platform/cpu_targets.h"

#include <hwy/detect_targets.h>

#if HWY_ARCH_X86
#include <cpuid.h>
#elif HWY_ARCH_ARM_A64
#include <sys/auxv.h>
#endif

namespace plinth {
namespace {

int64_t detectTargets() {
    int64_t targets = HWY_SCALAR | HWY_EMU128;
#if HWY_ARCH_X86
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return targets;
    const unsigned c1 = c;
    unsigned b7 = 0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) b7 = b;
    auto has = [](unsigned reg, int bit) { return (reg >> bit) & 1u; };
    const bool ssse3 = has(c1, 9);
    const bool sse4 = ssse3 && has(c1, 19) && has(c1, 20) && has(c1, 1) && has(c1, 25);  // 4.1 4.2 pclmul aes
    bool avxState = false, zmmState = false;
    if (has(c1, 27)) {  // OSXSAVE: the system saves what xgetbv says
        unsigned lo, hi;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        avxState = (lo & 0x6u) == 0x6u;
        zmmState = (lo & 0xE6u) == 0xE6u;
    }
    const bool avx2 = sse4 && avxState && has(c1, 28) && has(c1, 12) && has(c1, 29) &&  // avx fma f16c
                      has(b7, 5) && has(b7, 3) && has(b7, 8);                            // avx2 bmi bmi2
    const bool avx3 = avx2 && zmmState && has(b7, 16) && has(b7, 17) && has(b7, 30) && has(b7, 31);
    if (ssse3) targets |= HWY_SSSE3;
    if (sse4) targets |= HWY_SSE4;
    if (avx2) targets |= HWY_AVX2;
    if (avx3) targets |= HWY_AVX3;
#elif HWY_ARCH_ARM_A64
    targets |= HWY_NEON;
    const unsigned long hwcap = getauxval(AT_HWCAP);
    const unsigned long hwcap2 = getauxval(AT_HWCAP2);
    if (hwcap & (1ul << 22)) targets |= HWY_SVE;                              // HWCAP_SVE
    if ((hwcap & (1ul << 22)) && (hwcap2 & (1ul << 1))) targets |= HWY_SVE2;  // HWCAP2_SVE2
#endif
    return targets;
}

}  // namespace

int64_t runnableVectorTargets() {
    // A function-local constant: computed once, safely across threads.
    static const int64_t targets = detectTargets();
    return targets;
}

}  // namespace plinth
