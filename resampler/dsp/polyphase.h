#pragma once
// The half filter laid out as L rows (phases) of u taps, and the kernel that
// turns a block of input samples into clamped 16-bit output samples. The phase
// accumulator and the u-sample overlap belong to the caller and carry the
// position across blocks, so block seams never show in the output.

#include <cstdint>
#include <memory>

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

// Scratch memory of the vectorised kernel for one conversion (one bank, one
// ratio), made once before the block loop and used by every call of that
// conversion. Opaque; owned through PolyphaseWorkspacePtr.
struct PolyphaseWorkspace;
struct PolyphaseWorkspaceDeleter {
    void operator()(PolyphaseWorkspace* workspace) const;
};
using PolyphaseWorkspacePtr = std::unique_ptr<PolyphaseWorkspace, PolyphaseWorkspaceDeleter>;

// Null only when the memory cannot be had. A workspace for a ratio the vector
// path does not take (or with PLINTH_SCALAR=1) is still made and simply sends
// every call to the reference kernel.
PolyphaseWorkspacePtr createPolyphaseWorkspace(int phaseLength, int upFactor, int downFactor);

// The same contract and the same output bits as polyphaseFilterBlock (every
// output's sum in tap order, product and sum each rounded to single precision),
// computed many outputs at a time with the best instruction set of the machine.
int polyphaseFilterBlockFast(const float* input, int16_t* output, int count, int* phase,
                             const float* bank, int phaseLength, int upFactor, int downFactor,
                             PolyphaseWorkspace* workspace);

// True when PLINTH_SCALAR=1 is in the environment: every conversion then uses
// the reference kernel. Read once per process (a function-local constant, so
// safe across threads); the same rule as the platform's PLINTH_SCALAR switch.
bool polyphaseScalarForced();

// The kernel new workspaces use: "reference" when forced, otherwise the name of
// Highway's dispatched target ("AVX3", "AVX2", "SSE4", "SSSE3", "NEON", "SVE",
// ..., or "SCALAR", its one-lane target, which still runs the grouped kernel
// with several independent sums in flight).
const char* polyphaseKernelName();

// The instruction-set targets compiled in that this machine runs, best first
// (index 0 is the one createPolyphaseWorkspace picks), and their names.
int polyphaseTargetCount();
const char* polyphaseTargetName(int index);  // "reference" outside 0 .. count-1

// A workspace for one given target (for tests and benchmarks); an index
// outside 0 .. count-1 gives one that runs the reference kernel.
PolyphaseWorkspacePtr createPolyphaseWorkspaceFor(int targetIndex, int phaseLength, int upFactor, int downFactor);

// The name of the kernel a given workspace runs: "reference" when it sends every
// call to the reference (forced, or a ratio the vector path does not take).
const char* polyphaseKernelName(const PolyphaseWorkspace* workspace);

}  // namespace plinth
