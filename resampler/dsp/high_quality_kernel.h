#pragma once
// The kernel of one high-quality stage: outputs k = first .. first + count - 1
// from input samples that stand at absolute indices inputStart onwards. Each
// output is its own sum of two chains,
//   left = 0;   left = bank[row][i] x x[q - a + i] + left    for i in sumOrder[0 .. leftTaps)
//   right = 0;  right = bank[row][i] x x[q - a + i] + right  for i in sumOrder[leftTaps ..)
//   y = left + right,
// each product and each sum rounded to single precision (no fused
// multiply-add), so that every kernel below gives the same bits.

#include <cstdint>
#include <memory>

#include "platform/kernel_dispatch.h"
#include "resampler/dsp/high_quality_design.h"

namespace plinth {

// floor(a / b) for b > 0, a of either sign.
inline int64_t floorDivide64(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The first input index output k's window reads: floor(k M / L) - a.
inline int64_t windowStart(const HighQualityStage& stage, int64_t k) {
    return floorDivide64(k * stage.downFactor, stage.upFactor) - stage.tapsBefore;
}

// The reference, one output at a time. The input must hold every window:
// windowStart(first) >= inputStart and windowStart(first + count - 1) + u <= the input's end.
void filterHighQualityStage(const HighQualityStage& stage, const float* input, int64_t inputStart, int64_t first,
                            int64_t count, float* output);

// Scratch memory of the vector kernel for one stage on one target, made once
// per conversion and channel. Opaque; owned through HighQualityKernelPtr.
struct HighQualityKernel;
struct HighQualityKernelDeleter {
    void operator()(HighQualityKernel* kernel) const;
};
using HighQualityKernelPtr = std::unique_ptr<HighQualityKernel, HighQualityKernelDeleter>;

// Null only when the memory cannot be had. Made for the target that
// filterHighQualityStageTargets() chose (the reference with PLINTH_SCALAR=1),
// or, with the second form, for the given target (tests and benchmarks:
// kReferenceTarget or any target not listed gives the reference). The stage
// must outlive the kernel.
HighQualityKernelPtr createHighQualityKernel(const HighQualityStage& stage);
HighQualityKernelPtr createHighQualityKernelOn(int64_t target, const HighQualityStage& stage);

// The target a kernel runs: kReferenceTarget when every call goes to the reference.
int64_t highQualityKernelTarget(const HighQualityKernel* kernel);

// Outputs the kernel computes together; a call that may leave some for later
// computes a multiple of it (1 for the reference).
int64_t highQualityGroupOutputs(const HighQualityKernel* kernel);

// The same outputs as filterHighQualityStage, to the bit, on the kernel's
// target: outputs first .. first + count - 1 (their windows inside the input,
// which holds inputCount samples from absolute index inputStart) into output.
// Returns how many it computed: all of them, or with wholeGroupsOnly the
// largest multiple of the group size not above count (the rest wait for more
// input).
int64_t filterHighQualityStageDispatched(HighQualityKernel* kernel, const float* input, int64_t inputStart,
                                         int64_t inputCount, int64_t first, int64_t count, float* output,
                                         bool wholeGroupsOnly);

// The targets of the vector kernel compiled in and run here, best first; each
// one's code sets a kernel up for its vectors (false when out of memory).
using HighQualitySetUpFunction = bool (*)(HighQualityKernel*);
const KernelTargets<HighQualitySetUpFunction>& filterHighQualityStageTargets();

}  // namespace plinth
