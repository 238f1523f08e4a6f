// The vectorised polyphase kernel: the same outputs as polyphaseFilterBlock, to
// the bit, computed many outputs per instruction. Compiled once per instruction
// set by Highway (foreach_target) and chosen at run time
// (platform/kernel_dispatch.h).
//
// Why the bits cannot change: each output is still its own chain
//   acc = bank[row][j] * x[q + j] + acc,  j = 0 .. u-1,
// with Mul then Add (never MulAdd: -ffp-contract=off and no fused operation),
// each rounded to single precision, in tap order. Only different outputs share
// an instruction, one per vector lane.
//
// Layout. Outputs k and k + L use the same bank row and their windows start M
// frames apart. With a run factor t, a group of V lanes covers V x R consecutive
// outputs, R = t x L: lane j owns outputs k0 + j R .. k0 + j R + R - 1, and its
// window for run offset r starts t M j frames after lane 0's. The input of a
// group is transposed once, Xt[i][j] = x[base + j t M + i], so that run offset
// r reads Xt[off_r + i] for its taps i: one broadcast coefficient times one
// aligned vector per tap. Several run offsets are summed at once (independent
// chains hide the add latency); the clamp and the truncation run on whole
// vectors; the results are then stored back in output order.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampler/dsp/polyphase_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "platform/kernel_dispatch.h"
#include "resampler/dsp/polyphase.h"

#ifndef PLINTH_POLYPHASE_SIMD_ONCE
#define PLINTH_POLYPHASE_SIMD_ONCE

namespace plinth {

using PolyphaseKernelFn = int (*)(const float*, int16_t*, int, int*, const float*, int, int, int,
                                  PolyphaseWorkspace*);

// Only Highway's headers are used (its library is not linked): hence our own
// aligned buffers.
struct AlignedFree {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using AlignedArray = std::unique_ptr<T[], AlignedFree>;
// Aligned for any vector length up to 2048 bits.
template <typename T>
AlignedArray<T> allocateAligned(std::size_t count) {
    constexpr std::size_t kAlignment = 256;
    const std::size_t bytes = (count * sizeof(T) + kAlignment - 1) / kAlignment * kAlignment;
    return AlignedArray<T>(static_cast<T*>(std::aligned_alloc(kAlignment, bytes)));
}

struct PolyphaseWorkspace {
    int upFactor = 0;
    int downFactor = 0;
    int phaseLength = 0;
    int lanes = 0;      // 0: every call goes to the reference kernel
    int runFactor = 0;  // t
    int run = 0;        // R = t x L outputs per lane
    int64_t target = kReferenceTarget;
    PolyphaseKernelFn kernel = nullptr;
    AlignedArray<float> transposed;                 // lanes x (t M + u)
    AlignedArray<int32_t> results;                  // R x lanes
    std::unique_ptr<int32_t[]> rowOffsets;          // R: bank offset of each run offset's row
    std::unique_ptr<int32_t[]> inputOffsets;        // R: first transposed row of each run offset
    int tableRow = -1;                               // the starting row the two tables are for
};

}  // namespace plinth

namespace plinth::polyphase {

// Outputs per lane aimed at: long enough that the transposition (about M / L + u / R
// floats per output) and the per-group overhead stay small, short enough that the
// transposed input of a group stays in the first-level cache.
constexpr int kTargetRun = 128;

// The largest transposed input a workspace may hold, in floats (beyond it the
// reference kernel runs).
constexpr std::size_t kMaxTransposedFloats = std::size_t{1} << 22;

// Tables of one call for run offsets 0 .. R-1, from the row of the first output.
inline void fillRunTables(PolyphaseWorkspace* ws, int startRow) {
    if (ws->tableRow == startRow) return;
    const int64_t up = ws->upFactor;
    for (int r = 0; r < ws->run; ++r) {
        const int64_t position = startRow + static_cast<int64_t>(r) * ws->downFactor;
        ws->rowOffsets[r] = static_cast<int32_t>((position % up) * ws->phaseLength);
        ws->inputOffsets[r] = static_cast<int32_t>(position / up);
    }
    ws->tableRow = startRow;
}

}  // namespace plinth::polyphase

#endif  // PLINTH_POLYPHASE_SIMD_ONCE

HWY_BEFORE_NAMESPACE();
namespace plinth::polyphase {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// Filters one group: V lanes of R outputs each, starting at output k0, whose
// first window starts at input position base. Lane j's windows start j x stride
// later. Only outputs below `limit` are stored; a group whose lanes all lie
// below it (full) reads its input without bounds checks, since every window of
// an output that exists lies inside the block.
HWY_ATTR void filterGroup(const float* HWY_RESTRICT input, int count, int16_t* HWY_RESTRICT output,
                          int64_t k0, int64_t limit, int64_t base, int run, int stride, bool full,
                          const float* HWY_RESTRICT bank, PolyphaseWorkspace* ws) {
    const hn::ScalableTag<float> d;
    const hn::RebindToSigned<decltype(d)> di;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const int u = ws->phaseLength;
    const int32_t* HWY_RESTRICT rowOffsets = ws->rowOffsets.get();
    const int32_t* HWY_RESTRICT inputOffsets = ws->inputOffsets.get();
    float* HWY_RESTRICT xt = ws->transposed.get();
    int32_t* HWY_RESTRICT results = ws->results.get();
    const int span = inputOffsets[run - 1] + u;

    // Transpose the group's input: xt[i * lanes + j] = x[base + j * stride + i].
    if (full) {
        const auto index = hn::Mul(hn::Iota(di, 0), hn::Set(di, stride));
        const float* from = input + base;
        for (int i = 0; i < span; ++i) {
            hn::Store(hn::GatherIndex(d, from + i, index), d, xt + static_cast<std::ptrdiff_t>(i) * lanes);
        }
    } else {
        for (int j = 0; j < lanes; ++j) {
            const int64_t start = base + static_cast<int64_t>(j) * stride;
            for (int i = 0; i < span; ++i) {
                const int64_t at = start + i;
                xt[static_cast<std::ptrdiff_t>(i) * lanes + j] = at < count ? input[at] : 0.0f;
            }
        }
    }

    const auto top = hn::Set(d, 32767.0f);
    const auto bottom = hn::Set(d, -32767.0f);
    // Clamp as the reference does (greater than 32767, else less than -32767),
    // then truncate toward zero.
    auto finish = [&](decltype(hn::Zero(d)) acc, int r) {
        const auto clamped = hn::IfThenElse(hn::Gt(acc, top), top, hn::IfThenElse(hn::Lt(acc, bottom), bottom, acc));
        hn::Store(hn::ConvertTo(di, clamped), di, results + static_cast<std::ptrdiff_t>(r) * lanes);
    };

    int r = 0;
    for (; r + 4 <= run; r += 4) {
        const float* HWY_RESTRICT c0 = bank + rowOffsets[r];
        const float* HWY_RESTRICT c1 = bank + rowOffsets[r + 1];
        const float* HWY_RESTRICT c2 = bank + rowOffsets[r + 2];
        const float* HWY_RESTRICT c3 = bank + rowOffsets[r + 3];
        const float* HWY_RESTRICT x0 = xt + static_cast<std::ptrdiff_t>(inputOffsets[r]) * lanes;
        const float* HWY_RESTRICT x1 = xt + static_cast<std::ptrdiff_t>(inputOffsets[r + 1]) * lanes;
        const float* HWY_RESTRICT x2 = xt + static_cast<std::ptrdiff_t>(inputOffsets[r + 2]) * lanes;
        const float* HWY_RESTRICT x3 = xt + static_cast<std::ptrdiff_t>(inputOffsets[r + 3]) * lanes;
        auto a0 = hn::Zero(d);
        auto a1 = hn::Zero(d);
        auto a2 = hn::Zero(d);
        auto a3 = hn::Zero(d);
        for (int i = 0; i < u; ++i) {
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i) * lanes;
            a0 = hn::Add(hn::Mul(hn::Set(d, c0[i]), hn::Load(d, x0 + at)), a0);
            a1 = hn::Add(hn::Mul(hn::Set(d, c1[i]), hn::Load(d, x1 + at)), a1);
            a2 = hn::Add(hn::Mul(hn::Set(d, c2[i]), hn::Load(d, x2 + at)), a2);
            a3 = hn::Add(hn::Mul(hn::Set(d, c3[i]), hn::Load(d, x3 + at)), a3);
        }
        finish(a0, r);
        finish(a1, r + 1);
        finish(a2, r + 2);
        finish(a3, r + 3);
    }
    for (; r < run; ++r) {
        const float* HWY_RESTRICT c0 = bank + rowOffsets[r];
        const float* HWY_RESTRICT x0 = xt + static_cast<std::ptrdiff_t>(inputOffsets[r]) * lanes;
        auto a0 = hn::Zero(d);
        for (int i = 0; i < u; ++i) {
            a0 = hn::Add(hn::Mul(hn::Set(d, c0[i]), hn::Load(d, x0 + static_cast<std::ptrdiff_t>(i) * lanes)), a0);
        }
        finish(a0, r);
    }

    // Back to output order: lane j's run offset r is output k0 + j R + r.
    for (int j = 0; j < lanes; ++j) {
        const int64_t first = k0 + static_cast<int64_t>(j) * run;
        if (first >= limit) break;
        const int n = full ? run : static_cast<int>(limit - first < run ? limit - first : run);
        int16_t* HWY_RESTRICT to = output + first;
        for (int rr = 0; rr < n; ++rr) {
            to[rr] = static_cast<int16_t>(results[static_cast<std::ptrdiff_t>(rr) * lanes + j]);
        }
    }
}

HWY_ATTR int polyphaseFilterBlockVectors(const float* input, int16_t* output, int count, int* phase, const float* bank,
                         int phaseLength, int upFactor, int downFactor, PolyphaseWorkspace* ws) {
    const int u = phaseLength;
    if (count <= u) return 0;
    const int64_t up = upFactor;
    const int64_t down = downFactor;
    const int64_t p0 = *phase;
    const int64_t end = static_cast<int64_t>(count - u) * up;  // P x L
    if (p0 >= end) {
        // Only (part of) a pending advance fits: the reference stops at q = P.
        *phase = static_cast<int>(p0 - end);
        return 0;
    }
    // Outputs j = 0 .. K-1 with p0 + j M < P L; output j stands on row
    // (p0 + j M) mod L at input position (p0 + j M) div L.
    const int64_t total = (end - p0 + down - 1) / down;
    const int lanes = ws->lanes;
    const int startRow = static_cast<int>(p0 % up);
    polyphase::fillRunTables(ws, startRow);

    int64_t k0 = 0;
    const int run = ws->run;
    const int64_t groupOutputs = static_cast<int64_t>(lanes) * run;
    const int stride = ws->runFactor * downFactor;
    for (; total - k0 >= groupOutputs; k0 += groupOutputs) {
        const int64_t base = (p0 + k0 * down) / up;
        filterGroup(input, count, output, k0, total, base, run, stride, true, bank, ws);
    }
    int64_t rest = total - k0;
    if (rest > 0 && rest * 4 > up) {
        // One shorter group (a run of t' L per lane) covers what is left;
        // lanes past the end read zeros and store nothing.
        const int64_t perLane = static_cast<int64_t>(lanes) * up;
        const int runFactor = static_cast<int>((rest + perLane - 1) / perLane);
        const int64_t base = (p0 + k0 * down) / up;
        filterGroup(input, count, output, k0, total, base, runFactor * upFactor, runFactor * downFactor, false,
                    bank, ws);
        k0 = total;
        rest = 0;
    }
    if (rest > 0) {
        // A few outputs: the reference kernel, started on the first of them.
        const int64_t position = p0 + k0 * down;
        const int64_t q = position / up;
        int tailPhase = static_cast<int>(position % up);
        polyphaseFilterBlock(input + q, output + k0, count - static_cast<int>(q), &tailPhase, bank, u, upFactor,
                             downFactor);
    }
    *phase = static_cast<int>(p0 + total * down - end);
    return static_cast<int>(total);
}

// Sets the workspace up for this target's vectors; false when out of memory.
HWY_ATTR bool setUpWorkspace(PolyphaseWorkspace* ws) {
    const hn::ScalableTag<float> d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const int up = ws->upFactor;
    const int runFactor = up >= polyphase::kTargetRun ? 1 : polyphase::kTargetRun / up;
    const int64_t run = static_cast<int64_t>(runFactor) * up;
    const std::size_t transposedFloats =
        static_cast<std::size_t>(lanes) *
        (static_cast<std::size_t>(runFactor) * static_cast<std::size_t>(ws->downFactor) + ws->phaseLength);
    if (lanes < 1 || transposedFloats > polyphase::kMaxTransposedFloats) return true;  // reference
    ws->transposed = allocateAligned<float>(transposedFloats);
    ws->results = allocateAligned<int32_t>(static_cast<std::size_t>(run) * lanes);
    ws->rowOffsets.reset(new (std::nothrow) int32_t[run]);
    ws->inputOffsets.reset(new (std::nothrow) int32_t[run]);
    if (!ws->transposed || !ws->results || !ws->rowOffsets || !ws->inputOffsets) return false;
    ws->lanes = lanes;
    ws->runFactor = runFactor;
    ws->run = static_cast<int>(run);
    ws->kernel = &polyphaseFilterBlockVectors;
    return true;
}

}  // namespace HWY_NAMESPACE
}  // namespace plinth::polyphase
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace plinth {

PLINTH_KERNEL_TARGETS(polyphaseFilterBlockTargets, polyphase, setUpWorkspace)

void PolyphaseWorkspaceDeleter::operator()(PolyphaseWorkspace* workspace) const { delete workspace; }

PolyphaseWorkspacePtr createPolyphaseWorkspaceOn(int64_t target, int phaseLength, int upFactor, int downFactor) {
    PolyphaseWorkspacePtr workspace(new (std::nothrow) PolyphaseWorkspace);
    if (!workspace) return nullptr;
    workspace->upFactor = upFactor;
    workspace->downFactor = downFactor;
    workspace->phaseLength = phaseLength;
    const PolyphaseSetUpFunction setUp = polyphaseFilterBlockTargets().find(target);
    if (setUp == nullptr || phaseLength < 1 || upFactor < 1 || downFactor < 1) return workspace;
    if (!setUp(workspace.get())) return nullptr;
    if (workspace->kernel != nullptr) workspace->target = target;
    return workspace;
}

PolyphaseWorkspacePtr createPolyphaseWorkspace(int phaseLength, int upFactor, int downFactor) {
    return createPolyphaseWorkspaceOn(polyphaseFilterBlockTargets().chosenTarget(), phaseLength, upFactor,
                                      downFactor);
}

int64_t polyphaseWorkspaceTarget(const PolyphaseWorkspace* workspace) {
    return workspace == nullptr ? kReferenceTarget : workspace->target;
}

namespace {

// The check build's comparison: the reference on the same input and phase.
void checkAgainstReference(const float* input, const int16_t* output, int count, int phaseBefore, int phaseAfter,
                           int written, const float* bank, int phaseLength, int upFactor, int downFactor,
                           int64_t target) {
    // Every output stands before input position count - u: at most
    // count x L / M + 1 of them.
    const int64_t room = static_cast<int64_t>(count > 0 ? count : 0) * upFactor / downFactor + 2;
    std::vector<int16_t> reference(static_cast<std::size_t>(room));
    int referencePhase = phaseBefore;
    const int expected = polyphaseFilterBlock(input, reference.data(), count, &referencePhase, bank, phaseLength,
                                              upFactor, downFactor);
    checkSameValue("polyphaseFilterBlock", target, "samples written", written, expected);
    checkSameValue("polyphaseFilterBlock", target, "phase after", phaseAfter, referencePhase);
    checkSameBits("polyphaseFilterBlock", target, "output", output, reference.data(),
                  static_cast<std::size_t>(written));
}

}  // namespace

int polyphaseFilterBlockDispatched(const float* input, int16_t* output, int count, int* phase, const float* bank,
                                   int phaseLength, int upFactor, int downFactor, PolyphaseWorkspace* workspace) {
    if (workspace == nullptr || workspace->kernel == nullptr || workspace->upFactor != upFactor ||
        workspace->downFactor != downFactor || workspace->phaseLength != phaseLength) {
        return polyphaseFilterBlock(input, output, count, phase, bank, phaseLength, upFactor, downFactor);
    }
    const int phaseBefore = *phase;
    const int written =
        workspace->kernel(input, output, count, phase, bank, phaseLength, upFactor, downFactor, workspace);
    if constexpr (kCheckKernels) {
        checkAgainstReference(input, output, count, phaseBefore, *phase, written, bank, phaseLength, upFactor,
                              downFactor, workspace->target);
    }
    return written;
}

}  // namespace plinth

#endif  // HWY_ONCE
