// The vectorised high-quality kernel against the reference, bit for bit, on
// every instruction-set target this build has and this machine runs, for
// whole groups, partial groups and every way a stream may call it; and the
// whole resampler with the reference kernels against the dispatched ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "resampler/dsp/high_quality_kernel.h"
#include "resampler/high_quality_resampler.h"
#include "tests/support/kernel_targets.h"

using namespace plinth;

namespace {

std::vector<float> randomSignal(std::size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> signal(length);
    for (float& x : signal) x = value(random);
    return signal;
}

// Runs f once per target this machine runs, with its target bit.
template <class F>
void forEachTarget(F&& f) {
    testsupport::forEachTarget(filterHighQualityStageTargets(),
                               [&](const KernelTarget<HighQualitySetUpFunction>& target) { f(target.target); });
}

// Computes outputs first .. first + count - 1 of a stage with the reference
// and with a kernel, from an input that starts at the first window and ends
// at the last; expects the same bits and nothing written past them.
void expectSameOutputs(const HighQualityStage& stage, HighQualityKernel* kernel, int64_t first, int64_t count,
                       uint32_t seed) {
    const int64_t start = windowStart(stage, first);
    const int64_t end = windowStart(stage, first + count - 1) + stage.taps;
    const std::vector<float> input = randomSignal(static_cast<std::size_t>(end - start), seed);
    std::vector<float> reference(static_cast<std::size_t>(count) + 8, 7.0f);
    std::vector<float> fast(static_cast<std::size_t>(count) + 8, 7.0f);
    filterHighQualityStage(stage, input.data(), start, first, count, reference.data());
    const int64_t done =
        filterHighQualityStageDispatched(kernel, input.data(), start, end - start, first, count, fast.data(), false);
    ASSERT_EQ(done, count);
    const std::string where = std::to_string(stage.upFactor) + ":" + std::to_string(stage.downFactor) + " from " +
                              std::to_string(first) + ", " + std::to_string(count) + " outputs";
    if (std::memcmp(fast.data(), reference.data(), fast.size() * sizeof(float)) != 0) {
        std::size_t at = 0;
        while (std::memcmp(&fast[at], &reference[at], sizeof(float)) == 0) ++at;
        FAIL() << where << ": output " << at << " is " << fast[at] << ", reference " << reference[at];
    }
}

const std::pair<int, int> kPairs[] = {{48000, 44100}, {16000, 44100}, {8000, 44100}, {44100, 48000},
                                      {16000, 8000},  {96000, 8000},  {8000, 96000}, {22050, 44100},
                                      {11025, 8000},  {8191, 8192},   {8192, 8191},  {3, 7}};

TEST(HighQualityKernel, EveryTargetRunsItsOwnVectors) {
    HighQualityFilter filter;
    ASSERT_TRUE(designHighQualityFilter(48000, 44100, filter));
    std::string list;
    forEachTarget([&](int64_t target) {
        const HighQualityKernelPtr kernel = createHighQualityKernelOn(target, filter.stages[0]);
        ASSERT_TRUE(kernel);
        EXPECT_EQ(highQualityKernelTarget(kernel.get()), target);
        EXPECT_GE(highQualityGroupOutputs(kernel.get()), 160);
        list += std::string(targetName(target)) + " ";
    });
    const HighQualityKernelPtr best = createHighQualityKernel(filter.stages[0]);
    EXPECT_EQ(highQualityKernelTarget(best.get()), filterHighQualityStageTargets().chosenTarget());
    const HighQualityKernelPtr reference = createHighQualityKernelOn(kReferenceTarget, filter.stages[0]);
    EXPECT_EQ(highQualityKernelTarget(reference.get()), kReferenceTarget);
    EXPECT_EQ(highQualityGroupOutputs(reference.get()), 1);
    std::printf("high-quality kernel targets tested: %s\n", list.c_str());
}

TEST(HighQualityKernel, EqualsTheReferenceOnEveryStageOfEveryPair) {
    forEachTarget([&](int64_t target) {
        for (const auto& [to, from] : kPairs) {
            HighQualityFilter filter;
            ASSERT_TRUE(designHighQualityFilter(to, from, filter));
            for (const HighQualityStage& stage : filter.stages) {
                const HighQualityKernelPtr kernel = createHighQualityKernelOn(target, stage);
                ASSERT_TRUE(kernel);
                const int64_t group = highQualityGroupOutputs(kernel.get());
                // Whole groups with a partial one behind, from negative and positive starts
                // (every starting row), a partial group alone, and a few outputs.
                const int64_t many = std::min<int64_t>(2 * group + group / 3 + 5, 3000000 / stage.taps + 1);
                expectSameOutputs(stage, kernel.get(), -7, many, 1);
                expectSameOutputs(stage, kernel.get(), 12345, std::min<int64_t>(group + 1, many), 2);
                expectSameOutputs(stage, kernel.get(), 3, 70, 3);
                expectSameOutputs(stage, kernel.get(), 0, 1, 4);
                expectSameOutputs(stage, kernel.get(), stage.upFactor - 1, 200, 5);
                if (HasFailure()) return;
            }
        }
    });
}

TEST(HighQualityKernel, WholeGroupsOnlyLeavesTheRestUntouched) {
    HighQualityFilter filter;
    ASSERT_TRUE(designHighQualityFilter(16000, 8000, filter));
    const HighQualityStage& stage = filter.stages[0];
    forEachTarget([&](int64_t target) {
        const HighQualityKernelPtr kernel = createHighQualityKernelOn(target, stage);
        const int64_t group = highQualityGroupOutputs(kernel.get());
        const int64_t count = 3 * group - 1;
        const int64_t start = windowStart(stage, 0);
        const int64_t end = windowStart(stage, count - 1) + stage.taps;
        const std::vector<float> input = randomSignal(static_cast<std::size_t>(end - start), 8);
        std::vector<float> out(static_cast<std::size_t>(count), 7.0f);
        EXPECT_EQ(filterHighQualityStageDispatched(kernel.get(), input.data(), start, end - start, 0, count, out.data(),
                                                   true),
                  2 * group);
        for (std::size_t k = static_cast<std::size_t>(2 * group); k < out.size(); ++k) ASSERT_EQ(out[k], 7.0f);
    });
}

// Interleaved stereo through the whole resampler, block by block.
std::vector<float> convertStereo(int to, int from, const std::vector<float>& items, bool reference) {
    HighQualityResampler resampler;
    EXPECT_EQ(startHighQualityResampler(resampler, to, from, 2), StreamError::none);
    if (reference) {
        for (std::size_t s = 0; s < resampler.stages.size(); ++s) {
            resampler.stages[s].kernel = createHighQualityKernelOn(kReferenceTarget, resampler.filter.stages[s]);
        }
    }
    std::vector<float> out;
    const FloatSampleSink sink{[](void* context, const float* samples, std::size_t count) {
                                   auto& into = *static_cast<std::vector<float>*>(context);
                                   into.insert(into.end(), samples, samples + count);
                                   return true;
                               },
                               &out};
    for (std::size_t at = 0; at < items.size(); at += 2 * 20000) {
        feedHighQualityResampler(resampler, items.data() + at, std::min<std::size_t>(20000, (items.size() - at) / 2), sink);
    }
    finishHighQualityResampler(resampler, sink);
    return out;
}

TEST(HighQualityKernel, TheDispatchedResamplerEqualsItsReferenceForm) {
    for (const auto& [to, from] : kPairs) {
        const std::vector<float> items = randomSignal(2 * static_cast<std::size_t>(std::min(from, 60000)), 11);
        const std::vector<float> dispatched = convertStereo(to, from, items, false);
        const std::vector<float> reference = convertStereo(to, from, items, true);
        ASSERT_EQ(dispatched.size(), reference.size());
        EXPECT_EQ(std::memcmp(dispatched.data(), reference.data(), dispatched.size() * sizeof(float)), 0)
            << from << " -> " << to;
    }
}

// PLINTH_SCALAR=1 selects the reference: checked in a child process, since the
// variable is read once per process.
TEST(HighQualityKernelSelection, ChildReportsTheReference) {
    if (std::getenv("PLINTH_TEST_EXPECT_REFERENCE") == nullptr) return;  // only as the child below
    EXPECT_TRUE(scalarKernelsForced());
    HighQualityResampler resampler;
    ASSERT_EQ(startHighQualityResampler(resampler, 48000, 44100, 2), StreamError::none);
    EXPECT_EQ(highQualityResamplerTarget(resampler), kReferenceTarget);
    EXPECT_EQ(highQualitySamplesToInt16Targets().chosen(), nullptr);
}

TEST(HighQualityKernelSelection, ScalarEnvironmentVariableSelectsTheReference) {
    EXPECT_EQ(testsupport::runTestWithScalarKernels("HighQualityKernelSelection.ChildReportsTheReference",
                                                    "PLINTH_TEST_EXPECT_REFERENCE", "1"),
              0);
    if (!scalarKernelsForced()) {
        HighQualityResampler resampler;
        ASSERT_EQ(startHighQualityResampler(resampler, 48000, 44100, 2), StreamError::none);
        EXPECT_EQ(highQualityResamplerTarget(resampler), filterHighQualityStageTargets().chosenTarget());
        EXPECT_NE(highQualityResamplerTarget(resampler), kReferenceTarget);
    }
}

}  // namespace
