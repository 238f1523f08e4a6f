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

bool bitSet(uint32_t reg, int index) { return ((reg >> index) & 1u) != 0; }

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

uint64_t x86Features(const X86Registers& r) {
    uint64_t features = 0;
    auto add = [&](bool present, uint64_t feature) {
        if (present) features |= feature;
    };
    add(bitSet(r.leaf1Edx, 25), kSse);
    add(bitSet(r.leaf1Edx, 26), kSse2);
    add(bitSet(r.leaf1Ecx, 0), kSse3);
    add(bitSet(r.leaf1Ecx, 1), kClmul);
    add(bitSet(r.leaf1Ecx, 9), kSsse3);
    add(bitSet(r.leaf1Ecx, 12), kFma);
    add(bitSet(r.leaf1Ecx, 19), kSse41);
    add(bitSet(r.leaf1Ecx, 20), kSse42);
    add(bitSet(r.leaf1Ecx, 25), kAes);
    add(bitSet(r.leaf1Ecx, 28), kAvx);
    add(bitSet(r.leaf1Ecx, 29), kF16c);
    add(bitSet(r.extendedEcx, 5), kLzcnt);
    if (r.maxLeaf >= 7) {
        add(bitSet(r.leaf7Ebx, 3), kBmi);
        add(bitSet(r.leaf7Ebx, 5), kAvx2);
        add(bitSet(r.leaf7Ebx, 8), kBmi2);
        add(bitSet(r.leaf7Ebx, 16), kAvx512f);
        add(bitSet(r.leaf7Ebx, 17), kAvx512dq);
        add(bitSet(r.leaf7Ebx, 30), kAvx512bw);
        add(bitSet(r.leaf7Ebx, 31), kAvx512vl);
        add(bitSet(r.leaf7Ecx, 1), kVbmi);
        add(bitSet(r.leaf7Ecx, 6), kVbmi2);
        add(bitSet(r.leaf7Ecx, 9), kVaes);
        add(bitSet(r.leaf7Ecx, 10), kVpclmulqdq);
        add(bitSet(r.leaf7Ecx, 11), kVnni);
        add(bitSet(r.leaf7Ecx, 12), kBitalg);
        add(bitSet(r.leaf7Ecx, 14), kPopcntdq);
    }
    return features;
}

#if HWY_ARCH_X86

void cpuid(uint32_t leaf, uint32_t subleaf, uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d) {
    __cpuid_count(leaf, subleaf, *a, *b, *c, *d);
}

int64_t detectTargets() {
    X86Registers r{};
    uint32_t a, b, c, d;
    cpuid(0, 0, &r.maxLeaf, &b, &c, &d);
    cpuid(1, 0, &a, &b, &r.leaf1Ecx, &r.leaf1Edx);
    if (r.maxLeaf >= 7) cpuid(7, 0, &a, &r.leaf7Ebx, &r.leaf7Ecx, &d);
    cpuid(0x80000001u, 0, &a, &b, &r.extendedEcx, &d);
    if (bitSet(r.leaf1Ecx, 27)) {  // OSXSAVE: xgetbv may be used
        uint32_t high;
        __asm__ volatile("xgetbv" : "=a"(r.xcr0), "=d"(high) : "c"(0));
    }
    return x86TargetsFrom(r);
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

int64_t x86TargetsFrom(const X86Registers& registers) {
    int64_t targets = HWY_SCALAR | HWY_EMU128;
    const uint64_t features = x86Features(registers);
    auto has = [&](uint64_t needed) { return (features & needed) == needed; };
    if (has(kNeedsAvx3Dl)) targets |= HWY_AVX3_DL;
    if (has(kNeedsAvx3)) targets |= HWY_AVX3;
    if (has(kNeedsAvx2)) targets |= HWY_AVX2;
    if (has(kNeedsSse4)) targets |= HWY_SSE4;
    if (has(kNeedsSsse3)) targets |= HWY_SSSE3;

    // Registers the system does not save across context switches cannot be used.
    constexpr int64_t kZmm = HWY_AVX3 | HWY_AVX3_DL;
    constexpr int64_t kYmm = HWY_AVX2 | kZmm;
    if (bitSet(registers.leaf1Ecx, 27)) {  // OSXSAVE: XCR0 tells which state is saved
        const uint32_t xcr0 = registers.xcr0;
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

int64_t runnableVectorTargets() {
    // A function-local constant: computed once, safely across threads.
    static const int64_t targets = detectTargets();
    return targets;
}

}  // namespace plinth
