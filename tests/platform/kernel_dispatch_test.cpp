// The dispatch facility against Highway's own run-time library, which only
// this test links: the targets this machine runs as Highway detects them, the
// choice its dispatch makes, the table of every kernel of both libraries;
// PLINTH_SCALAR=1 (ctest runs this test a second time with it set); the check
// build's report of a difference; and the shared libraries, which must not
// load Highway's library.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tests/platform/kernel_dispatch_test.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "platform/kernel_dispatch.h"
#include "resampler/dsp/frame_input.h"
#include "resampler/dsp/polyphase.h"
#include "tracker/mod_mix.h"
#include "tracker/pcm_block.h"

HWY_BEFORE_NAMESPACE();
namespace probe {
namespace HWY_NAMESPACE {

// Tells which target's code ran.
int64_t runningTarget() { return HWY_TARGET; }

}  // namespace HWY_NAMESPACE
}  // namespace probe
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace probe {
HWY_EXPORT(runningTarget);  // Highway's own table and dispatch
}  // namespace probe

PLINTH_KERNEL_TARGETS(probeTargets, probe, runningTarget)

namespace {

using namespace plinth;

std::string names(int64_t targets) {
    std::string list;
    for (int bit = 0; bit < 63; ++bit) {
        const int64_t target = int64_t{1} << bit;
        if (targets & target) list += std::string(list.empty() ? "" : " ") + targetName(target);
    }
    return list;
}

bool forcedByEnvironment() {
    const char* value = std::getenv("PLINTH_SCALAR");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

TEST(CpuTargets, AreThoseHighwayDetects) {
    EXPECT_EQ(names(runnableVectorTargets()), names(hwy::SupportedTargets()));
    std::printf("runnable here: %s\n", names(runnableVectorTargets()).c_str());
}

#if HWY_ARCH_X86  // where Highway names the x86 targets
// What each x86 target requires, by CPUID bit (Intel's numbering) and by the
// state the system saves (XCR0), per Highway 1.0.3: SSSE3 needs SSE, SSE2,
// SSE3 and SSSE3; SSE4 adds SSE4.1, SSE4.2, PCLMULQDQ and AES; AVX2 adds AVX,
// AVX2, FMA, F16C, BMI1, BMI2 and LZCNT; AVX3 adds AVX512 F, DQ, BW and VL (not
// CD); AVX3_DL adds VNNI, VPCLMULQDQ, VBMI, VBMI2, VAES, VPOPCNTDQ and BITALG.
X86Registers everyFeature() {
    X86Registers r{};
    r.maxLeaf = 0xd;
    r.leaf1Edx = 1u << 25 | 1u << 26;
    r.leaf1Ecx = 1u << 0 | 1u << 1 | 1u << 9 | 1u << 12 | 1u << 19 | 1u << 20 | 1u << 25 | 1u << 27 | 1u << 28 |
                 1u << 29;
    r.leaf7Ebx = 1u << 3 | 1u << 5 | 1u << 8 | 1u << 16 | 1u << 17 | 1u << 30 | 1u << 31;
    r.leaf7Ecx = 1u << 1 | 1u << 6 | 1u << 9 | 1u << 10 | 1u << 11 | 1u << 12 | 1u << 14;
    r.extendedEcx = 1u << 5;
    r.xcr0 = 0xe7;  // x87, SSE, AVX, opmask, ZMM upper halves, ZMM16-31
    return r;
}

TEST(CpuTargets, X86TargetsNeedEveryFeatureOfTheirGroup) {
    const std::string all = "AVX3_DL AVX3 AVX2 SSE4 SSSE3 EMU128 SCALAR";
    const std::string sse4 = "SSE4 SSSE3 EMU128 SCALAR";
    const std::string none = "EMU128 SCALAR";
    EXPECT_EQ(names(x86TargetsFrom(everyFeature())), all);
    struct Case {
        const char* without;
        uint32_t X86Registers::*reg;
        int bit;
        std::string expected;
    };
    const Case cases[] = {
        {"SSE2", &X86Registers::leaf1Edx, 26, none},
        {"SSE3", &X86Registers::leaf1Ecx, 0, none},
        {"AES", &X86Registers::leaf1Ecx, 25, "SSSE3 EMU128 SCALAR"},
        {"PCLMULQDQ", &X86Registers::leaf1Ecx, 1, "SSSE3 EMU128 SCALAR"},
        {"FMA", &X86Registers::leaf1Ecx, 12, sse4},
        {"F16C", &X86Registers::leaf1Ecx, 29, sse4},
        {"LZCNT", &X86Registers::extendedEcx, 5, sse4},
        {"BMI1", &X86Registers::leaf7Ebx, 3, sse4},
        {"BMI2", &X86Registers::leaf7Ebx, 8, sse4},
        {"AVX512BW", &X86Registers::leaf7Ebx, 30, "AVX2 " + sse4},
        {"AVX512VL", &X86Registers::leaf7Ebx, 31, "AVX2 " + sse4},
        {"VNNI", &X86Registers::leaf7Ecx, 11, "AVX3 AVX2 " + sse4},
        {"BITALG", &X86Registers::leaf7Ecx, 12, "AVX3 AVX2 " + sse4},
    };
    for (const Case& c : cases) {
        X86Registers r = everyFeature();
        r.*c.reg &= ~(1u << c.bit);
        EXPECT_EQ(names(x86TargetsFrom(r)), c.expected) << "without " << c.without;
    }
    X86Registers old = everyFeature();
    old.maxLeaf = 6;  // no leaf 7
    EXPECT_EQ(names(x86TargetsFrom(old)), sse4);
}

TEST(CpuTargets, X86TargetsNeedTheirRegistersSavedBySystem) {
    X86Registers r = everyFeature();
    r.xcr0 = 0x7;  // no AVX-512 state
    EXPECT_EQ(names(x86TargetsFrom(r)), "AVX2 SSE4 SSSE3 EMU128 SCALAR");
    r.xcr0 = 0x3;  // no upper halves of the 256-bit registers
    EXPECT_EQ(names(x86TargetsFrom(r)), "SSE4 SSSE3 EMU128 SCALAR");
    r.xcr0 = 0x1;
    EXPECT_EQ(names(x86TargetsFrom(r)), "EMU128 SCALAR");
    // Without OSXSAVE the system has enabled no AVX state at all: AVX
    // instructions would fault. (Highway 1.0.3 keeps the AVX targets here.)
    r = everyFeature();
    r.leaf1Ecx &= ~(1u << 27);
    r.xcr0 = 0;
    EXPECT_EQ(names(x86TargetsFrom(r)), "SSE4 SSSE3 EMU128 SCALAR");
}
#endif

// One table, checked against the targets Highway runs: the compiled targets
// this machine runs, each once, best (lowest bit) first, and the choice.
template <class Function>
void expectTableOfRunnableTargets(const KernelTargets<Function>& targets) {
    int64_t expected = targets.compiled() & hwy::SupportedTargets();
    if (expected == 0) expected = HWY_STATIC_TARGET;  // as Highway falls back
    EXPECT_EQ(names(targets.runnable()), names(expected));
    int64_t previous = 0;
    for (const KernelTarget<Function>& entry : targets) {
        EXPECT_GT(entry.target, previous) << "not best first, or listed twice";
        EXPECT_NE(entry.function, nullptr);
        previous = entry.target;
    }
    const int64_t best = expected & -expected;
    EXPECT_STREQ(targetName(targets.chosenTarget()), targetName(forcedByEnvironment() ? kReferenceTarget : best));
    EXPECT_EQ(targets.chosen() == nullptr, forcedByEnvironment());
}

TEST(KernelTargets, EverySlotHoldsItsOwnTargetsCode) {
    ASSERT_GT(probeTargets().size(), 0);
    for (const auto& entry : probeTargets()) {
        EXPECT_STREQ(targetName(entry.function()), targetName(entry.target));
    }
}

TEST(KernelTargets, ListTheTargetsCompiledInThatThisMachineRuns) {
    {
        SCOPED_TRACE("probe");
        expectTableOfRunnableTargets(probeTargets());
    }
    {
        SCOPED_TRACE("polyphaseFilterBlock");
        expectTableOfRunnableTargets(polyphaseFilterBlockTargets());
    }
    {
        SCOPED_TRACE("framesToFilterInput");
        expectTableOfRunnableTargets(framesToFilterInputTargets());
    }
    {
        SCOPED_TRACE("mixStretch");
        expectTableOfRunnableTargets(mixStretchTargets());
    }
    {
        SCOPED_TRACE("floatsToSamples");
        expectTableOfRunnableTargets(floatsToSamplesTargets());
    }
}

TEST(KernelTargets, ChooseAsHighwaysDispatch) {
    if (forcedByEnvironment()) {
        EXPECT_EQ(probeTargets().chosen(), nullptr);
        return;
    }
    // Calling SupportedTargets() directly, as other tests do, leaves Highway's
    // choice as it stood before the targets of one vector length were added:
    // start afresh, as the first dispatch of a program does.
    hwy::GetChosenTarget().DeInit();
    const int64_t highways = HWY_DYNAMIC_DISPATCH(probe::runningTarget)();
    ASSERT_NE(probeTargets().chosen(), nullptr);
    EXPECT_STREQ(targetName(probeTargets().chosen()()), targetName(highways));
    EXPECT_STREQ(targetName(probeTargets().chosenTarget()), targetName(highways));
}

TEST(KernelTargets, FindOnlyTheListedTargets) {
    for (const auto& entry : probeTargets()) EXPECT_EQ(probeTargets().find(entry.target), entry.function);
    EXPECT_EQ(probeTargets().find(kReferenceTarget), nullptr);
    const int64_t unlisted = ~probeTargets().runnable() & ((int64_t{1} << 62) - 1);
    EXPECT_EQ(probeTargets().find(unlisted & -unlisted), nullptr);
}

TEST(KernelTargets, NameTheirTargetsAndTheReference) {
    EXPECT_STREQ(targetName(kReferenceTarget), "reference");
    EXPECT_STREQ(targetName(HWY_SCALAR), "SCALAR");
    EXPECT_STREQ(targetName(HWY_EMU128), "EMU128");
#if HWY_ARCH_X86
    EXPECT_STREQ(targetName(HWY_AVX2), "AVX2");
#elif HWY_ARCH_ARM
    EXPECT_STREQ(targetName(HWY_NEON), "NEON");
#endif
}

// The check build's report: kernel, target, what, the first index whose bits
// differ, both values, then abort.
TEST(KernelCheck, ReportsTheFirstDifferenceAndAborts) {
    const float vector[] = {1.0f, 0.5f, 0.0f, 7.0f};
    const float reference[] = {1.0f, 0.5f, -0.0f, 8.0f};
    EXPECT_EXIT(checkSameBits("mixStretch", HWY_SCALAR, "frame values", vector, reference, 4),
                testing::KilledBySignal(SIGABRT),
                "kernel check: mixStretch on SCALAR differs from its reference: frame values\\[2\\] is 0x0p\\+0, "
                "the reference's -0x0p\\+0");
    const int16_t samples[] = {5, -3};
    const int16_t referenceSamples[] = {5, -4};
    EXPECT_EXIT(checkSameBits("floatsToSamples", HWY_SCALAR, "samples", samples, referenceSamples, 2),
                testing::KilledBySignal(SIGABRT), "floatsToSamples on SCALAR .*samples\\[1\\] is -3, the reference's -4");
    EXPECT_EXIT(checkSameValue("polyphaseFilterBlock", kReferenceTarget, "samples written", 7, 8),
                testing::KilledBySignal(SIGABRT),
                "polyphaseFilterBlock on reference differs from its reference: samples written is 7, the reference's 8");
}

TEST(KernelCheck, PassesEqualBits) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {nan, -0.0f, 1e-45f};
    const float same[] = {nan, -0.0f, 1e-45f};
    checkSameBits("mixStretch", HWY_SCALAR, "frame values", values, same, 3);
    checkSameBits("mixStretch", HWY_SCALAR, "frame values", values, values, 0);
    checkSameValue("polyphaseFilterBlock", HWY_SCALAR, "phase after", 3, 3);
}

// The libraries choose their targets without Highway's run-time library.
TEST(SharedLibraries, DoNotLoadHighway) {
    for (const char* library : {PLINTH_RATECONV_LIBRARY, PLINTH_TRACKER_LIBRARY}) {
        FILE* pipe = popen(("readelf -d '" + std::string(library) + "'").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string dynamic;
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) dynamic += buffer;
        EXPECT_EQ(pclose(pipe), 0);
        EXPECT_NE(dynamic.find("(NEEDED)"), std::string::npos) << library;
        EXPECT_EQ(dynamic.find("libhwy"), std::string::npos) << library << "\n" << dynamic;
    }
}

}  // namespace

#endif  // HWY_ONCE
