// The vectorised polyphase kernel against the reference, bit for bit, on every
// instruction-set target this build has and this machine runs: the same
// returned counts, the same phases, the same samples, and nothing written past
// the samples returned.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "resampler/dsp/lowpass_design.h"
#include "resampler/dsp/polyphase.h"
#include "resampler/stream_resampler.h"
#include "tests/support/kernel_targets.h"

using namespace plinth;

namespace {

struct Filter {
    int up;
    int down;
    int u;
    std::vector<float> bank;
};

// The bank a conversion builds for L:M (taken as given, reduced or not).
Filter makeFilter(int up, int down) {
    Filter filter{up, down, 0, {}};
    const float cutoff = lowpassCutoff(up, down);
    const int m = halfFilterLength(cutoff);
    filter.u = polyphaseLength(m, up);
    std::vector<float> half(static_cast<std::size_t>(m));
    designLowpass(half.data(), cutoff, m, static_cast<float>(up));
    filter.bank.resize(static_cast<std::size_t>(filter.u) * static_cast<std::size_t>(up));
    buildPolyphaseBank(half.data(), filter.bank.data(), m, up);
    return filter;
}

// Runs f once per target this machine runs, with workspaces made for it.
int64_t gTarget = kReferenceTarget;
template <class F>
void forEachTarget(F&& f) {
    testsupport::forEachTarget(polyphaseFilterBlockTargets(), [&](const KernelTarget<PolyphaseSetUpFunction>& target) {
        gTarget = target.target;
        f(target.target);
    });
}
PolyphaseWorkspacePtr workspaceFor(int u, int up, int down) { return createPolyphaseWorkspaceOn(gTarget, u, up, down); }

// Streams `signal` through both kernels in blocks of the given lengths (cycled),
// each block after the first starting on the u-sample overlap of the one
// before, both with their own copy of the same phase; expects every call to
// agree. Returns the number of samples compared.
std::size_t expectSameStream(const Filter& filter, const std::vector<float>& signal, int startPhase,
                             const std::vector<int>& blockLengths, PolyphaseWorkspace* space) {
    const int u = filter.u;
    int referencePhase = startPhase;
    int fastPhase = startPhase;
    std::size_t start = 0;
    std::size_t compared = 0;
    for (std::size_t call = 0;; ++call) {
        const std::size_t wanted = static_cast<std::size_t>(blockLengths[call % blockLengths.size()]);
        const int count = static_cast<int>(std::min(wanted, signal.size() - start));
        const std::size_t room =
            static_cast<std::size_t>(count) * static_cast<std::size_t>(filter.up) / static_cast<std::size_t>(filter.down) + 8;
        std::vector<int16_t> reference(room, int16_t{0x5a5a});
        std::vector<int16_t> fast(room, int16_t{0x5a5a});
        const int expected = polyphaseFilterBlock(signal.data() + start, reference.data(), count, &referencePhase,
                                                  filter.bank.data(), u, filter.up, filter.down);
        const int got = polyphaseFilterBlockDispatched(signal.data() + start, fast.data(), count, &fastPhase,
                                                       filter.bank.data(), u, filter.up, filter.down, space);
        const std::string where = std::to_string(filter.up) + ":" + std::to_string(filter.down) + " phase " +
                                  std::to_string(startPhase) + " call " + std::to_string(call) + " count " +
                                  std::to_string(count);
        EXPECT_EQ(got, expected) << where;
        EXPECT_EQ(fastPhase, referencePhase) << where;
        if (fast != reference) {
            std::size_t first = 0;
            while (fast[first] == reference[first]) ++first;
            ADD_FAILURE() << where << ": sample " << first << " is " << fast[first] << ", reference "
                          << reference[first];
            return compared;
        }
        compared += static_cast<std::size_t>(expected);
        if (count <= u || start + static_cast<std::size_t>(count) >= signal.size()) break;
        start += static_cast<std::size_t>(count - u);
    }
    return compared;
}

std::vector<float> randomSignal(std::size_t length, uint32_t seed, int amplitude = 32768) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(-amplitude, amplitude - 1);
    std::vector<float> signal(length);
    for (float& x : signal) x = static_cast<float>(value(random));
    return signal;
}

// Enough input for several full vector groups at the widest vectors (four
// vectors of 16 lanes side by side), bounded so the reference stays quick.
std::size_t lengthFor(const Filter& filter) {
    const std::size_t runFactor = filter.up >= 128 ? 1 : static_cast<std::size_t>(128 / filter.up);
    const std::size_t group = 64 * runFactor * static_cast<std::size_t>(filter.down);
    std::size_t length = 3 * group + 4 * static_cast<std::size_t>(filter.u) + 1000;
    // About 4 million multiply-adds at most for the reference.
    const std::size_t perFrame = static_cast<std::size_t>(filter.u) * static_cast<std::size_t>(filter.up) /
                                     static_cast<std::size_t>(filter.down) + 1;
    length = std::min(length, std::max<std::size_t>(4000000 / perFrame, 4 * static_cast<std::size_t>(filter.u) + 50));
    return length;
}

const int kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000};

TEST(PolyphaseKernelSimd, EveryTargetRunsItsOwnVectors) {
    std::string list;
    forEachTarget([&](int64_t target) {
        const PolyphaseWorkspacePtr space = workspaceFor(30, 160, 147);
        ASSERT_TRUE(space);
        EXPECT_EQ(polyphaseWorkspaceTarget(space.get()), target);
        list += std::string(targetName(target)) + " ";
    });
    const PolyphaseWorkspacePtr best = createPolyphaseWorkspace(30, 160, 147);
    EXPECT_EQ(polyphaseWorkspaceTarget(best.get()), polyphaseFilterBlockTargets().chosenTarget());
    EXPECT_EQ(polyphaseWorkspaceTarget(createPolyphaseWorkspaceOn(kReferenceTarget, 30, 160, 147).get()),
              kReferenceTarget);
    std::printf("kernel targets tested: %s\n", list.c_str());
}

TEST(PolyphaseKernelSimd, EqualsTheReferenceForEveryStandardRatePair) {
    forEachTarget([&](int64_t) {
        for (const int source : kRates) {
            for (const int target : kRates) {
                int up = target, down = source;
                reduceRatio(up, down);
                const Filter filter = makeFilter(up, down);
                const PolyphaseWorkspacePtr space = workspaceFor(filter.u, up, down);
                const ResamplerPlan plan = planResampling(target, source);
                const std::vector<float> signal =
                    randomSignal(lengthFor(filter), static_cast<uint32_t>(source * 7 + target));
                expectSameStream(filter, signal, plan.startPhase, {32768, 65536, 1234 + filter.u}, space.get());
                if (HasFailure()) return;
            }
        }
    });
}

TEST(PolyphaseKernelSimd, EqualsTheReferenceNearTheLargestTermsAndForUnreducedPairs) {
    const std::pair<int, int> ratios[] = {{8192, 8191}, {8191, 8192}, {8192, 1},   {1, 8192},  {4096, 4097},
                                          {8000, 8192}, {1, 1},       {2, 2},      {5, 5},     {2, 4},
                                          {3, 9},       {14, 7},      {4, 6},      {1, 2},     {2, 1},
                                          {1, 3},       {3, 1},       {7, 3},      {1, 441},   {441, 1},
                                          {1000, 999},  {1280, 147},  {147, 1280}, {127, 129}, {129, 127}};
    forEachTarget([&](int64_t) {
        for (const auto& [up, down] : ratios) {
            const Filter filter = makeFilter(up, down);
            const PolyphaseWorkspacePtr space = workspaceFor(filter.u, up, down);
            const std::vector<float> signal = randomSignal(lengthFor(filter), static_cast<uint32_t>(up * 31 + down));
            for (const int phase : {0, up / 2, up - 1}) {
                expectSameStream(filter, signal, phase, {65536, 20000, filter.u + 3}, space.get());
            }
            if (HasFailure()) return;
        }
    });
}

// Ratios of small, prime, power-of-two and unreduced terms on both sides, each
// streamed in blocks of several lengths, so that groups of every width, the
// shorter last group and the reference's last few outputs meet block ends at
// many places.
TEST(PolyphaseKernelSimd, EqualsTheReferenceForManyRatiosAndBlockLengths) {
    const int terms[] = {1, 2, 3, 5, 7, 16, 31, 97, 128, 129, 200};
    forEachTarget([&](int64_t) {
        for (const int up : terms) {
            for (const int down : terms) {
                const Filter filter = makeFilter(up, down);
                const PolyphaseWorkspacePtr space = workspaceFor(filter.u, up, down);
                // About a million multiply-adds for the reference.
                const std::size_t perFrame = static_cast<std::size_t>(filter.u) * static_cast<std::size_t>(up) /
                                                 static_cast<std::size_t>(down) + 1;
                const std::size_t length = std::max<std::size_t>(
                    std::min<std::size_t>(60000, 1000000 / perFrame), 2 * static_cast<std::size_t>(filter.u) + 10);
                const std::vector<float> signal = randomSignal(length, static_cast<uint32_t>(up * 1000 + down));
                const int block = static_cast<int>(length);
                expectSameStream(filter, signal, up / 2,
                                 {std::max(filter.u + 1, block / 3 + 1), std::max(filter.u + 1, block / 5 + 13), block},
                                 space.get());
                if (HasFailure()) return;
            }
        }
    });
}

TEST(PolyphaseKernelSimd, EqualsTheReferenceFromEveryStartPhaseAndPendingAdvance) {
    const std::pair<int, int> ratios[] = {{160, 147}, {147, 160}, {160, 441}, {80, 441}, {2, 1}, {1, 2}, {3, 2}, {12, 1}};
    forEachTarget([&](int64_t) {
        for (const auto& [up, down] : ratios) {
            const Filter filter = makeFilter(up, down);
            const PolyphaseWorkspacePtr space = workspaceFor(filter.u, up, down);
            const std::size_t length = std::min<std::size_t>(lengthFor(filter), 40000);
            const std::vector<float> signal = randomSignal(length, static_cast<uint32_t>(up + down));
            // Every phase of the row cycle, then pending advances of up to a few positions.
            for (int phase = 0; phase < up + 3 * up + down; phase += (phase < up ? 1 : up / 3 + 1)) {
                expectSameStream(filter, signal, phase, {static_cast<int>(length)}, space.get());
                if (HasFailure()) return;
            }
        }
    });
}

TEST(PolyphaseKernelSimd, EqualsTheReferenceAcrossBlockSeamsOfTheStream) {
    // The file reads of a conversion: a lead-in block, then blocks of 65536 (mono) or
    // 32768 (stereo) frames of which u are the overlap, and every odd length.
    const std::pair<int, int> ratios[] = {{160, 147}, {147, 160}, {160, 441}, {80, 441}, {2, 1}, {1, 2}, {1, 1}};
    forEachTarget([&](int64_t) {
        for (const auto& [up, down] : ratios) {
            const Filter filter = makeFilter(up, down);
            const PolyphaseWorkspacePtr space = workspaceFor(filter.u, up, down);
            const std::vector<float> signal = randomSignal(300000, static_cast<uint32_t>(up * down));
            for (const int block : {65536, 32768}) {
                expectSameStream(filter, signal, 0, {block, block}, space.get());
            }
            std::mt19937 random(static_cast<uint32_t>(up));
            std::vector<int> lengths;
            for (int i = 0; i < 40; ++i) lengths.push_back(filter.u + 1 + static_cast<int>(random() % 9000));
            expectSameStream(filter, signal, up / 3, lengths, space.get());
            if (HasFailure()) return;
        }
    });
}

TEST(PolyphaseKernelSimd, EqualsTheReferenceOnSilenceAndFullScaleClippingBothWays) {
    const std::pair<int, int> ratios[] = {{160, 147}, {147, 160}, {80, 441}, {2, 1}, {1, 2}, {1, 1}};
    const std::size_t length = 60000;
    std::vector<std::vector<float>> signals;
    signals.emplace_back(length, 0.0f);
    signals.emplace_back(length, 32767.0f);
    signals.emplace_back(length, -32768.0f);
    std::vector<float> square(length);
    for (std::size_t i = 0; i < length; ++i) square[i] = (i / 7) % 2 ? 32767.0f : -32768.0f;
    signals.push_back(square);
    std::vector<float> steps(length);
    for (std::size_t i = 0; i < length; ++i) steps[i] = (i / 1500) % 2 ? 32767.0f : -32768.0f;
    signals.push_back(steps);
    forEachTarget([&](int64_t) {
        for (const auto& [up, down] : ratios) {
            const Filter filter = makeFilter(up, down);
            const PolyphaseWorkspacePtr space = workspaceFor(filter.u, up, down);
            for (const auto& signal : signals) expectSameStream(filter, signal, 0, {32768}, space.get());
            if (HasFailure()) return;
        }
    });
}

TEST(PolyphaseKernelSimd, EqualsTheReferenceForCountsAroundTheOverlap) {
    const std::pair<int, int> ratios[] = {{160, 147}, {147, 160}, {80, 441}, {2, 1}, {1, 2}, {8192, 1}};
    forEachTarget([&](int64_t) {
        for (const auto& [up, down] : ratios) {
            const Filter filter = makeFilter(up, down);
            const PolyphaseWorkspacePtr space = workspaceFor(filter.u, up, down);
            const std::vector<float> signal = randomSignal(static_cast<std::size_t>(filter.u) + 40, 99);
            for (int count = std::max(0, filter.u - 2); count <= filter.u + 20; ++count) {
                const std::vector<float> head(signal.begin(), signal.begin() + count);
                for (const int phase : {0, up - 1, up, up + down, 3 * up + 1}) {
                    if (head.empty()) {
                        std::vector<float> none;
                        int a = phase, b = phase;
                        int16_t o1[1], o2[1];
                        EXPECT_EQ(polyphaseFilterBlockDispatched(nullptr, o1, 0, &a, filter.bank.data(), filter.u, up,
                                                                 down, space.get()),
                                  polyphaseFilterBlock(nullptr, o2, 0, &b, filter.bank.data(), filter.u, up, down));
                        EXPECT_EQ(a, b);
                        continue;
                    }
                    expectSameStream(filter, head, phase, {count}, space.get());
                }
            }
            if (HasFailure()) return;
        }
    });
}

// Outputs of a call on `count` samples from `phase`, counted as the reference
// kernel advances: output j stands at p + j M, inside while below (count - u) L.
int64_t outputsOf(const Filter& filter, int count, int phase) {
    const int64_t end = static_cast<int64_t>(count - filter.u) * filter.up;
    return end <= phase ? 0 : (end - phase + filter.down - 1) / filter.down;
}

// A stream cut where polyphaseWholeGroupCount says, each call starting on the
// u-sample overlap of the one before and the last taking all that is left,
// gives one reference call's samples over the whole signal.
TEST(PolyphaseKernelSimd, CutsAtWholeGroupsGiveTheSamplesOfOneCall) {
    const std::pair<int, int> ratios[] = {{160, 147}, {147, 160}, {80, 441}, {160, 441}, {2, 1},  {1, 2},
                                          {441, 320}, {1, 6},     {3, 1},    {8192, 8191}, {1, 1}, {5, 7}};
    forEachTarget([&](int64_t) {
        int cuts = 0;
        for (const auto& [up, down] : ratios) {
            const Filter filter = makeFilter(up, down);
            const int u = filter.u;
            const PolyphaseWorkspacePtr space = workspaceFor(u, up, down);
            const std::vector<float> signal = randomSignal(lengthFor(filter), static_cast<uint32_t>(up * 3 + down));
            const int length = static_cast<int>(signal.size());
            // Blocks of at most so many samples, as a stream's work buffer holds.
            for (const int block : {std::max(4 * u + 64, length / 3), std::max(4 * u + 64, length / 2 + 7)}) {
                for (const int startPhase : {0, up - 1, up + down / 2}) {
                    const std::string where = std::to_string(up) + ":" + std::to_string(down) + " block " +
                                              std::to_string(block) + " phase " + std::to_string(startPhase);
                    std::vector<int16_t> whole(signal.size() * static_cast<std::size_t>(up) /
                                               static_cast<std::size_t>(down) + 8);
                    int referencePhase = startPhase;
                    whole.resize(static_cast<std::size_t>(polyphaseFilterBlock(
                        signal.data(), whole.data(), length, &referencePhase, filter.bank.data(), u, up, down)));
                    std::vector<int16_t> pieces;
                    int phase = startPhase;
                    for (int start = 0;;) {
                        const int available = std::min(block, length - start);
                        const bool last = start + available == length;
                        const int count = last ? available : polyphaseWholeGroupCount(space.get(), available, phase);
                        ASSERT_LE(count, available) << where;
                        ASSERT_GT(count, u) << where;
                        if (count < available) {
                            // As many whole groups as fit, not one sample more than they need
                            // (whose window may also hold a few outputs beyond them).
                            ++cuts;
                            const int64_t group = polyphaseGroupOutputs(space.get());
                            const int64_t outputs = outputsOf(filter, count, phase);
                            const int64_t grouped = outputs / group * group;
                            const std::string counts = where + ", " + std::to_string(outputs) +
                                                       " outputs, groups of " + std::to_string(group);
                            EXPECT_GT(grouped, 0) << counts;
                            EXPECT_LT(outputs - grouped, (up + down - 1) / down) << counts;
                            EXPECT_LT(outputsOf(filter, count - 1, phase), grouped) << counts;
                            EXPECT_LT(outputsOf(filter, available, phase), grouped + group) << counts;
                        }
                        std::vector<int16_t> out(static_cast<std::size_t>(count) * static_cast<std::size_t>(up) /
                                                     static_cast<std::size_t>(down) + 8);
                        const int written = polyphaseFilterBlockDispatched(signal.data() + start, out.data(), count,
                                                                           &phase, filter.bank.data(), u, up, down,
                                                                           space.get());
                        pieces.insert(pieces.end(), out.begin(), out.begin() + written);
                        if (last) break;
                        start += count - u;
                    }
                    EXPECT_EQ(phase, referencePhase) << where;
                    EXPECT_EQ(pieces, whole) << where;
                }
            }
            if (HasFailure()) return;
        }
        // The vector code cuts the longer signals into whole groups.
        EXPECT_GT(cuts, 0);
    });
    // A workspace of the reference leaves every count as it is.
    const Filter filter = makeFilter(160, 147);
    const PolyphaseWorkspacePtr reference = createPolyphaseWorkspaceOn(kReferenceTarget, filter.u, 160, 147);
    EXPECT_EQ(polyphaseWholeGroupCount(reference.get(), 65536, 3), 65536);
    EXPECT_EQ(polyphaseWholeGroupCount(nullptr, 65536, 3), 65536);
    EXPECT_EQ(polyphaseGroupOutputs(reference.get()), 0);
}

TEST(PolyphaseKernelSimd, WorkspaceIsReusableAcrossConversionsOfItsRatio) {
    const Filter filter = makeFilter(147, 160);
    const PolyphaseWorkspacePtr space = createPolyphaseWorkspace(filter.u, 147, 160);
    for (uint32_t seed = 0; seed < 3; ++seed) {
        expectSameStream(filter, randomSignal(100000, seed), static_cast<int>(seed * 40), {32768}, space.get());
    }
    // Another ratio's filter through this workspace still gets the reference.
    const Filter other = makeFilter(160, 147);
    expectSameStream(other, randomSignal(50000, 5), 0, {32768}, space.get());
}

// PLINTH_SCALAR=1 selects the reference: checked in a child process, since the
// variable is read once per process.
TEST(PolyphaseKernelSelection, ChildReportsTheKernelItWasToldOf) {
    const char* expected = std::getenv("PLINTH_TEST_EXPECT_KERNEL");
    if (expected == nullptr) return;  // run only as the child of the test below
    EXPECT_TRUE(scalarKernelsForced());
    EXPECT_STREQ(targetName(polyphaseFilterBlockTargets().chosenTarget()), expected);
    const PolyphaseWorkspacePtr space = createPolyphaseWorkspace(30, 160, 147);
    ASSERT_TRUE(space);
    EXPECT_STREQ(targetName(polyphaseWorkspaceTarget(space.get())), expected);
}

TEST(PolyphaseKernelSelection, ScalarEnvironmentVariableSelectsTheReference) {
    EXPECT_EQ(testsupport::runTestWithScalarKernels("PolyphaseKernelSelection.ChildReportsTheKernelItWasToldOf",
                                                    "PLINTH_TEST_EXPECT_KERNEL", "reference"),
              0);
    if (!scalarKernelsForced()) {
        EXPECT_NE(polyphaseFilterBlockTargets().chosenTarget(), kReferenceTarget);
    }
}

}  // namespace
