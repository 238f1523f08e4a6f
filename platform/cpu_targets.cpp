#include "platform/cpu_targets.h"

#include <hwy/detect_targets.h>

#if HWY_ARCH_X86
#include <cpuid.h>
#elif HWY_ARCH_ARM && HWY_HAVE_RUNTIME_DISPATCH
#include <sys/auxv.h>
#include <sys/prctl.h>
#endif

namespace plinth {
namespace {

#if HWY_ARCH_X86

bool bitSet(uint32_t reg, int index) { return ((reg >> index) & 1u) != 0; }

struct Cpuid {
    uint32_t a, b, c, d;
};

Cpuid cpuid(uint32_t leaf, uint32_t subleaf) {
    Cpuid r{};
    __cpuid_count(leaf, subleaf, r.a, r.b, r.c, r.d);
    return r;
}

// The state components the system saves (XCR0); only valid with OSXSAVE.
uint32_t readXcr0() {
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return low;
}

// The instruction-set features each target requires.
enum : uint64_t {
    kSse = 1u << 0,
    kSse2 = 1u << 1,
    kSse3 = 1u << 2,
    kSsse3 = 1u << 3,
    kSse41 = 1u << 4,
    kSse42 = 1u << 5,
    kClmul = 1u << 6,
    kAes = 1u << 7,
    kAvx = 1u << 8,
    kAvx2 = 1u << 9,
    kF16c = 1u << 10,
    kFma = 1u << 11,
    kLzcnt = 1u << 12,
    kBmi = 1u << 13,
    kBmi2 = 1u << 14,
    kAvx512f = 1u << 15,
    kAvx512vl = 1u << 16,
    kAvx512dq = 1u << 17,
    kAvx512bw = 1u << 18,
    kVnni = 1u << 19,
    kVpclmulqdq = 1u << 20,
    kVbmi = 1u << 21,
    kVbmi2 = 1u << 22,
    kVaes = 1u << 23,
    kPopcntdq = 1u << 24,
    kBitalg = 1u << 25,
};

constexpr uint64_t kNeedsSsse3 = kSse | kSse2 | kSse3 | kSsse3;
constexpr uint64_t kNeedsSse4 = kNeedsSsse3 | kSse41 | kSse42 | kClmul | kAes;
constexpr uint64_t kNeedsAvx2 = kNeedsSse4 | kAvx | kAvx2 | kLzcnt | kBmi | kBmi2 | kFma | kF16c;
constexpr uint64_t kNeedsAvx3 = kNeedsAvx2 | kAvx512f | kAvx512vl | kAvx512dq | kAvx512bw;
constexpr uint64_t kNeedsAvx3Dl = kNeedsAvx3 | kVnni | kVpclmulqdq | kVbmi | kVbmi2 | kVaes | kPopcntdq | kBitalg;

uint64_t processorFeatures() {
    uint64_t features = 0;
    auto add = [&](bool present, uint64_t feature) {
        if (present) features |= feature;
    };
    const uint32_t maxLeaf = cpuid(0, 0).a;
    const Cpuid leaf1 = cpuid(1, 0);
    add(bitSet(leaf1.d, 25), kSse);
    add(bitSet(leaf1.d, 26), kSse2);
    add(bitSet(leaf1.c, 0), kSse3);
    add(bitSet(leaf1.c, 1), kClmul);
    add(bitSet(leaf1.c, 9), kSsse3);
    add(bitSet(leaf1.c, 12), kFma);
    add(bitSet(leaf1.c, 19), kSse41);
    add(bitSet(leaf1.c, 20), kSse42);
    add(bitSet(leaf1.c, 25), kAes);
    add(bitSet(leaf1.c, 28), kAvx);
    add(bitSet(leaf1.c, 29), kF16c);
    add(bitSet(cpuid(0x80000001u, 0).c, 5), kLzcnt);
    if (maxLeaf >= 7) {
        const Cpuid leaf7 = cpuid(7, 0);
        add(bitSet(leaf7.b, 3), kBmi);
        add(bitSet(leaf7.b, 5), kAvx2);
        add(bitSet(leaf7.b, 8), kBmi2);
        add(bitSet(leaf7.b, 16), kAvx512f);
        add(bitSet(leaf7.b, 17), kAvx512dq);
        add(bitSet(leaf7.b, 30), kAvx512bw);
        add(bitSet(leaf7.b, 31), kAvx512vl);
        add(bitSet(leaf7.c, 1), kVbmi);
        add(bitSet(leaf7.c, 6), kVbmi2);
        add(bitSet(leaf7.c, 9), kVaes);
        add(bitSet(leaf7.c, 10), kVpclmulqdq);
        add(bitSet(leaf7.c, 11), kVnni);
        add(bitSet(leaf7.c, 12), kBitalg);
        add(bitSet(leaf7.c, 14), kPopcntdq);
    }
    return features;
}

int64_t detectTargets() {
    int64_t targets = HWY_SCALAR | HWY_EMU128;
    const uint64_t features = processorFeatures();
    auto has = [&](uint64_t needed) { return (features & needed) == needed; };
    if (has(kNeedsAvx3Dl)) targets |= HWY_AVX3_DL;
    if (has(kNeedsAvx3)) targets |= HWY_AVX3;
    if (has(kNeedsAvx2)) targets |= HWY_AVX2;
    if (has(kNeedsSse4)) targets |= HWY_SSE4;
    if (has(kNeedsSsse3)) targets |= HWY_SSSE3;

    // Registers the system does not save across context switches cannot be used.
    constexpr int64_t kZmm = HWY_AVX3 | HWY_AVX3_DL;
    constexpr int64_t kYmm = HWY_AVX2 | kZmm;
    if (bitSet(cpuid(1, 0).c, 27)) {  // OSXSAVE: XCR0 tells which state is saved
        const uint32_t xcr0 = readXcr0();
        if (!bitSet(xcr0, 1)) targets &= ~(HWY_SSSE3 | HWY_SSE4 | kYmm);
        if (!bitSet(xcr0, 2)) targets &= ~kYmm;
        if (!bitSet(xcr0, 5) || !bitSet(xcr0, 6) || !bitSet(xcr0, 7)) targets &= ~kZmm;
    } else {
        // Without it the system has not enabled the AVX state, and AVX
        // instructions fault. (Highway 1.0.3 keeps these targets here.)
        targets &= ~kYmm;
    }
    return targets;
}

#elif HWY_ARCH_ARM && HWY_HAVE_RUNTIME_DISPATCH

int64_t detectTargets() {
    int64_t targets = HWY_SCALAR | HWY_EMU128;
    const unsigned long hwcap = getauxval(AT_HWCAP);
    (void)hwcap;
#if HWY_ARCH_ARM_A64
#if defined(HWCAP_AES)
    // Every ARM64 processor has NEON; Highway's NEON target also requires AES.
    if (hwcap & HWCAP_AES) targets |= HWY_NEON;
#endif
#if defined(HWCAP_SVE)
    if (hwcap & HWCAP_SVE) targets |= HWY_SVE;
#endif
#if defined(HWCAP2_SVE2) && defined(HWCAP2_SVEAES)
    const unsigned long hwcap2 = getauxval(AT_HWCAP2);
    if ((hwcap2 & HWCAP2_SVE2) && (hwcap2 & HWCAP2_SVEAES)) targets |= HWY_SVE2;
#endif
    // The targets for one vector length: SVE at 256 bits, SVE2 at 128.
#if defined(PR_SVE_GET_VL)
    if (targets & (HWY_SVE | HWY_SVE2)) {
        const int vectorBytes = prctl(PR_SVE_GET_VL) & PR_SVE_VL_LEN_MASK;
        if ((targets & HWY_SVE) && vectorBytes == 32) targets |= HWY_SVE_256;
        if ((targets & HWY_SVE2) && vectorBytes == 16) targets |= HWY_SVE2_128;
    }
#endif
#else  // 32-bit ARM
#if defined(HWCAP_NEON) && defined(HWCAP_VFPv4)
    if ((hwcap & HWCAP_NEON) && (hwcap & HWCAP_VFPv4)) targets |= HWY_NEON;
#endif
#endif
    return targets;
}

#else

// No detection here: what the compiler was told the processor has.
int64_t detectTargets() { return HWY_SCALAR | HWY_EMU128 | HWY_ENABLED_BASELINE; }

#endif

}  // namespace

int64_t runnableVectorTargets() {
    // A function-local constant: computed once, safely across threads.
    static const int64_t targets = detectTargets();
    return targets;
}

}  // namespace plinth
