#pragma once
// The kernel of one high-quality stage: outputs k = first .. first + count - 1
// from input samples that stand at absolute indices inputStart onwards. Each
// output is its own sum in tap order,
//   acc = 0;  acc = bank[row][i] x x[q - a + i] + acc  for i in the stage's activeTaps,
// each product and each sum rounded to single precision (no fused
// multiply-add), so that every kernel below gives the same bits.

#include <cstdint>
#include <memory>

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
void highQualityFilterReference(const HighQualityStage& stage, const float* input, int64_t inputStart, int64_t first,
                                int64_t count, float* output);

// Scratch memory of the vectorised kernel for one stage, made once per
// conversion and channel. Opaque; owned through HighQualityKernelPtr.
struct HighQualityKernel;
struct HighQualityKernelDeleter {
    void operator()(HighQualityKernel* kernel) const;
};
using HighQualityKernelPtr = std::unique_ptr<HighQualityKernel, HighQualityKernelDeleter>;

// For the machine's best instruction set, or the reference with PLINTH_SCALAR=1.
// Null only when the memory cannot be had. The stage must outlive the kernel.
HighQualityKernelPtr createHighQualityKernel(const HighQualityStage& stage);

// For one given target of highQualityTargetName's list (tests and benchmarks);
// an index outside it gives one that runs the reference.
HighQualityKernelPtr createHighQualityKernelFor(int targetIndex, const HighQualityStage& stage);

int highQualityTargetCount();
const char* highQualityTargetName(int index);  // "reference" outside 0 .. count-1
const char* highQualityKernelName(const HighQualityKernel* kernel);

// Outputs the kernel computes together; a call that may leave some for later
// computes a multiple of it (1 for the reference).
int64_t highQualityGroupOutputs(const HighQualityKernel* kernel);

// Computes outputs first .. first + count - 1 (their windows inside the input,
// which holds inputCount samples) into output, and returns how many it
// computed: all of them, or with wholeGroupsOnly the largest multiple of the
// group size not above count (the rest wait for more input).
int64_t runHighQualityKernel(HighQualityKernel* kernel, const float* input, int64_t inputStart, int64_t inputCount,
                             int64_t first, int64_t count, float* output, bool wholeGroupsOnly);

}  // namespace plinth
