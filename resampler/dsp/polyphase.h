#pragma once
// The half filter laid out as L rows (phases) of u taps, and the kernel that
// turns a block of input samples into clamped 16-bit output samples. The phase
// accumulator and the u-sample overlap belong to the caller and carry the
// position across blocks, so block seams never show in the output.

#include <cstdint>
#include <memory>

#include "platform/kernel_dispatch.h"

namespace plinth {

// Sizes derived from a ratio (u, the lead-in, the flush count): the
// single-precision quotient, widened to double, its ceiling truncated to int.
int ceilOfFloatQuotient(float numerator, float denominator);

// u = ceil((2m - 1) / L), as ceilOfFloatQuotient.
int polyphaseLength(int m, int upFactor);

// Fills upFactor x u entries; 0 (nothing written) when m < 1 or upFactor < 1.
int buildPolyphaseBank(const float* halfFilter, float* bank, int m, int upFactor);

// The reference kernel, one output at a time: filters input[0 .. count-1] and
// returns the number of samples written to output.
int polyphaseFilterBlock(const float* input, int16_t* output, int count, int* phase,
                         const float* bank, int phaseLength, int upFactor, int downFactor);

// Scratch memory of the vector kernel for one conversion (one bank, one ratio,
// one target), made once before the block loop and used by every call of that
// conversion. Opaque; owned through PolyphaseWorkspacePtr.
struct PolyphaseWorkspace;
struct PolyphaseWorkspaceDeleter {
    void operator()(PolyphaseWorkspace* workspace) const;
};
using PolyphaseWorkspacePtr = std::unique_ptr<PolyphaseWorkspace, PolyphaseWorkspaceDeleter>;

// The same contract and the same output bits as polyphaseFilterBlock (every
// output's sum in tap order, product and sum each rounded to single precision),
// computed many outputs at a time on the workspace's target; a workspace made
// for the reference, or for another ratio, sends the call to the reference.
int polyphaseFilterBlockDispatched(const float* input, int16_t* output, int count, int* phase,
                                   const float* bank, int phaseLength, int upFactor, int downFactor,
                                   PolyphaseWorkspace* workspace);

// Null only when the memory cannot be had. Made for the target that
// polyphaseFilterBlockTargets() chose (the reference with PLINTH_SCALAR=1), or,
// with the second form, for the given target (tests and benchmarks:
// kReferenceTarget or any target not listed gives the reference). A ratio the
// vector code does not take gets a workspace for the reference too.
PolyphaseWorkspacePtr createPolyphaseWorkspace(int phaseLength, int upFactor, int downFactor);
PolyphaseWorkspacePtr createPolyphaseWorkspaceOn(int64_t target, int phaseLength, int upFactor, int downFactor);

// The outputs the vector kernel computes together in its widest groups; 0 for
// a workspace of the reference.
int64_t polyphaseGroupOutputs(const PolyphaseWorkspace* workspace);

// The input count, at most `count`, to filter in one call (starting with
// `phase`) so that the vector kernel spends its time on whole groups: the least
// count whose outputs hold as many whole groups as input[0 .. count) does (its
// last sample may complete a few outputs more when upsampling). The outputs of input[0 .. returned) are the first outputs of
// input[0 .. count), and the rest follow from a next call on
// input[returned - u ..). `count` itself when less than a group fits or the
// workspace runs the reference.
int polyphaseWholeGroupCount(const PolyphaseWorkspace* workspace, int count, int phase);

// The target a workspace runs: kReferenceTarget when it sends every call to
// the reference.
int64_t polyphaseWorkspaceTarget(const PolyphaseWorkspace* workspace);

// The targets of the vector kernel compiled in and run here, best first; each
// one's code sets a workspace up for its vectors (false when out of memory).
using PolyphaseSetUpFunction = bool (*)(PolyphaseWorkspace*);
const KernelTargets<PolyphaseSetUpFunction>& polyphaseFilterBlockTargets();

}  // namespace plinth
