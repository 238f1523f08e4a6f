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
// aligned vector per tap. A wide group has four vectors of lanes side by side,
// so that each coefficient loaded serves four vectors; two run offsets are
// summed at once (eight independent chains hide the add latency). What is left
// of a call after its wide groups goes through groups of one vector, the last
// of them shorter (the stream cuts its blocks so that little is left, see
// polyphaseWholeGroupCount). The transposition turns square blocks in
// registers; the clamp and the truncation run on whole vectors, and the
// results are turned back into runs of output samples the same way.

#include <algorithm>
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
#include "platform/vector_exit-inl.h"
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
    int lanes = 0;            // of one vector; 0: every call goes to the reference kernel
    int runFactor = 0;        // t
    int run = 0;              // R = t x L outputs per lane
    int64_t wideOutputs = 0;  // outputs of one wide group
    int64_t target = kReferenceTarget;
    PolyphaseKernelFn kernel = nullptr;
    AlignedArray<float> transposed;                 // a wide group's lanes x (t M + u + lanes)
    AlignedArray<int32_t> results;                  // R x a wide group's lanes
    std::unique_ptr<int32_t[]> rowOffsets;          // R: bank offset of each run offset's row
    std::unique_ptr<int32_t[]> inputOffsets;        // R: first transposed row of each run offset
    int tableRow = -1;                               // the starting row the two tables are for
};

}  // namespace plinth

namespace plinth::polyphase {

// Vectors side by side in a wide group.
constexpr int kWideVectors = 4;

// Outputs per lane aimed at: long enough that the transposition (about M / L + u / R
// floats per output) and the per-group overhead stay small, short enough that the
// transposed input of a group stays in the caches.
constexpr int kTargetRun = 128;

// The largest transposed input a workspace may hold, in floats: the run factor
// shrinks to fit it, and the reference kernel runs where even t = 1 does not.
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

// Square blocks of the transposition are turned in registers where the vector
// length is fixed at compile time (an array of vectors); scalable vectors and
// the one-lane target gather instead.
#undef PLINTH_POLYPHASE_REGISTER_TRANSPOSE
#if HWY_HAVE_SCALABLE || HWY_TARGET == HWY_SCALAR
#define PLINTH_POLYPHASE_REGISTER_TRANSPOSE 0
#else
#define PLINTH_POLYPHASE_REGISTER_TRANSPOSE 1
#endif

#if PLINTH_POLYPHASE_REGISTER_TRANSPOSE
// Transposes an n x n block of 32-bit values, n the vector's lanes (a multiple
// of 4): vector j is read from from + j x fromStride, and lane j of the vector
// stored at to + i x toStride is element i of vector j. Four elements at a time
// of four vectors are loaded into each 128-bit block (loads and blends, no
// shuffles across blocks), then each block's 4 x 4 is turned by two rounds of
// interleaving.
template <class D, typename T = hn::TFromD<D>>
HWY_INLINE void transposeSquare(D d, const T* HWY_RESTRICT from, std::ptrdiff_t fromStride, T* HWY_RESTRICT to,
                                std::ptrdiff_t toStride) {
    constexpr std::size_t n = hn::MaxLanes(D());
    constexpr std::size_t blocks = n / 4;
    static_assert(n % 4 == 0 && sizeof(T) == 4, "whole 128-bit blocks of 32-bit lanes");
    const hn::Repartition<uint64_t, D> d64;
    using V = hn::Vec<D>;
    for (std::size_t quad = 0; quad < n; quad += 4) {
        // v[k], block b: elements quad .. quad + 3 of vector 4 b + k.
        V v[4];
        for (std::size_t k = 0; k < 4; ++k) {
            V gathered = hn::LoadDup128(d, from + static_cast<std::ptrdiff_t>(n - 4 + k) * fromStride + quad);
            for (std::size_t b = blocks - 1; b-- > 0;) {
                const auto loaded = hn::LoadDup128(d, from + static_cast<std::ptrdiff_t>(4 * b + k) * fromStride + quad);
                gathered = hn::IfThenElse(hn::FirstN(d, 4 * (b + 1)), loaded, gathered);
            }
            v[k] = gathered;
        }
        const V low01 = hn::InterleaveLower(d, v[0], v[1]);
        const V high01 = hn::InterleaveUpper(d, v[0], v[1]);
        const V low23 = hn::InterleaveLower(d, v[2], v[3]);
        const V high23 = hn::InterleaveUpper(d, v[2], v[3]);
        T* HWY_RESTRICT row = to + static_cast<std::ptrdiff_t>(quad) * toStride;
        hn::Store(hn::BitCast(d, hn::InterleaveLower(d64, hn::BitCast(d64, low01), hn::BitCast(d64, low23))), d, row);
        hn::Store(hn::BitCast(d, hn::InterleaveUpper(d64, hn::BitCast(d64, low01), hn::BitCast(d64, low23))), d,
                  row + toStride);
        hn::Store(hn::BitCast(d, hn::InterleaveLower(d64, hn::BitCast(d64, high01), hn::BitCast(d64, high23))), d,
                  row + 2 * toStride);
        hn::Store(hn::BitCast(d, hn::InterleaveUpper(d64, hn::BitCast(d64, high01), hn::BitCast(d64, high23))), d,
                  row + 3 * toStride);
    }
}
#endif

// Transposes a group's input into xt: xt[i * lanes + j] = x[base + j * stride + i]
// for rows i below span (rounded up to whole blocks where the input allows),
// where lanes = width vectors; samples past count read as zeros.
template <int width>
HWY_INLINE void transposeInput(const float* HWY_RESTRICT input, int count, int64_t base, int stride, int span,
                               [[maybe_unused]] bool full, float* HWY_RESTRICT xt) {
    const hn::ScalableTag<float> d;
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(hn::Lanes(d));
    const std::ptrdiff_t lanes = width * n;
    for (int block = 0; block < width; ++block) {
        const int64_t first = base + static_cast<int64_t>(block) * n * stride;  // lane block * n
        float* HWY_RESTRICT to = xt + block * n;
        int i = 0;
#if PLINTH_POLYPHASE_REGISTER_TRANSPOSE
        // Blocks of n rows whose every read lies inside the input.
        const int64_t lastLane = first + (n - 1) * static_cast<int64_t>(stride);
        for (; i < span && lastLane + i + n <= count; i += static_cast<int>(n)) {
            transposeSquare(d, input + first + i, stride, to + i * lanes, lanes);
        }
#else
        if (full) {
            const hn::RebindToSigned<decltype(d)> di;
            const auto index = hn::Mul(hn::Iota(di, 0), hn::Set(di, stride));
            for (; i < span; ++i) hn::Store(hn::GatherIndex(d, input + first + i, index), d, to + i * lanes);
        }
#endif
        for (; i < span; ++i) {
            for (std::ptrdiff_t j = 0; j < n; ++j) {
                const int64_t at = first + j * stride + i;
                to[i * lanes + j] = at < count ? input[at] : 0.0f;
            }
        }
    }
}

// Stores the group's results (R x lanes, lane j's run offset r at r * lanes + j)
// as outputs k0 + j R + r, those below limit.
template <int width>
HWY_INLINE void storeResults(const int32_t* HWY_RESTRICT results, int16_t* HWY_RESTRICT output, int64_t k0,
                             int64_t limit, int run) {
    const hn::ScalableTag<int32_t> di;
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(hn::Lanes(di));
    const std::ptrdiff_t lanes = width * n;
    for (int block = 0; block < width; ++block) {
        const int64_t firstLane = block * n;
        int r = 0;
#if PLINTH_POLYPHASE_REGISTER_TRANSPOSE
        // n lanes' n run offsets at a time, turned so that each lane's are in one vector.
        const hn::Rebind<int16_t, decltype(di)> d16;
        HWY_ALIGN int32_t turned[hn::MaxLanes(di) * hn::MaxLanes(di)];
        const int64_t lastLaneEnd = k0 + (firstLane + n - 1) * run;
        for (; r + n <= run && lastLaneEnd + r + n <= limit; r += static_cast<int>(n)) {
            transposeSquare(di, results + r * lanes + firstLane, lanes, turned, n);
            for (std::ptrdiff_t j = 0; j < n; ++j) {
                hn::StoreU(hn::DemoteTo(d16, hn::Load(di, turned + j * n)), d16,
                           output + k0 + (firstLane + j) * run + r);
            }
        }
#endif
        for (std::ptrdiff_t j = 0; j < n; ++j) {
            const int64_t first = k0 + (firstLane + j) * run;
            for (int rr = r; rr < run && first + rr < limit; ++rr) {
                output[first + rr] = static_cast<int16_t>(results[rr * lanes + firstLane + j]);
            }
        }
    }
}

// Filters one group: lanes = width vectors' lanes, of R outputs each, starting
// at output k0, whose first window starts at input position base. Lane j's
// windows start j x stride later. Only outputs below `limit` are stored; a
// group whose lanes all lie below it (full) reads only inside the block, since
// every window of an output that exists does.
template <int width>
HWY_ATTR void filterGroup(const float* HWY_RESTRICT input, int count, int16_t* HWY_RESTRICT output, int64_t k0,
                          int64_t limit, int64_t base, int run, int stride, bool full,
                          const float* HWY_RESTRICT bank, PolyphaseWorkspace* ws) {
    const hn::ScalableTag<float> d;
    const hn::RebindToSigned<decltype(d)> di;
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(hn::Lanes(d));
    const std::ptrdiff_t lanes = width * n;
    const int u = ws->phaseLength;
    const int32_t* HWY_RESTRICT rowOffsets = ws->rowOffsets.get();
    const int32_t* HWY_RESTRICT inputOffsets = ws->inputOffsets.get();
    float* HWY_RESTRICT xt = ws->transposed.get();
    int32_t* HWY_RESTRICT results = ws->results.get();
    transposeInput<width>(input, count, base, stride, inputOffsets[run - 1] + u, full, xt);

    const auto top = hn::Set(d, 32767.0f);
    const auto bottom = hn::Set(d, -32767.0f);
    // Clamped to -32767..32767 (as the reference's two comparisons clamp any
    // sum, all of them finite), then truncated toward zero.
    auto finish = [&](decltype(hn::Zero(d)) acc, int r, std::ptrdiff_t lane) {
        const auto clamped = hn::Min(hn::Max(acc, bottom), top);
        hn::Store(hn::ConvertTo(di, clamped), di, results + r * lanes + lane);
    };

    int r = 0;
    if constexpr (width == 4) {
        // Two run offsets at a time, each on four vectors sharing its coefficient.
        for (; r + 2 <= run; r += 2) {
            const float* HWY_RESTRICT c0 = bank + rowOffsets[r];
            const float* HWY_RESTRICT c1 = bank + rowOffsets[r + 1];
            const float* HWY_RESTRICT x0 = xt + inputOffsets[r] * lanes;
            const float* HWY_RESTRICT x1 = xt + inputOffsets[r + 1] * lanes;
            auto a0 = hn::Zero(d);
            auto a1 = hn::Zero(d);
            auto a2 = hn::Zero(d);
            auto a3 = hn::Zero(d);
            auto b0 = hn::Zero(d);
            auto b1 = hn::Zero(d);
            auto b2 = hn::Zero(d);
            auto b3 = hn::Zero(d);
            for (int i = 0; i < u; ++i) {
                const std::ptrdiff_t at = i * lanes;
                const auto k0v = hn::Set(d, c0[i]);
                const auto k1v = hn::Set(d, c1[i]);
                a0 = hn::Add(hn::Mul(k0v, hn::Load(d, x0 + at)), a0);
                a1 = hn::Add(hn::Mul(k0v, hn::Load(d, x0 + at + n)), a1);
                a2 = hn::Add(hn::Mul(k0v, hn::Load(d, x0 + at + 2 * n)), a2);
                a3 = hn::Add(hn::Mul(k0v, hn::Load(d, x0 + at + 3 * n)), a3);
                b0 = hn::Add(hn::Mul(k1v, hn::Load(d, x1 + at)), b0);
                b1 = hn::Add(hn::Mul(k1v, hn::Load(d, x1 + at + n)), b1);
                b2 = hn::Add(hn::Mul(k1v, hn::Load(d, x1 + at + 2 * n)), b2);
                b3 = hn::Add(hn::Mul(k1v, hn::Load(d, x1 + at + 3 * n)), b3);
            }
            finish(a0, r, 0);
            finish(a1, r, n);
            finish(a2, r, 2 * n);
            finish(a3, r, 3 * n);
            finish(b0, r + 1, 0);
            finish(b1, r + 1, n);
            finish(b2, r + 1, 2 * n);
            finish(b3, r + 1, 3 * n);
        }
    }
    // Groups of one vector: four run offsets at a time.
    for (; r + 4 <= run && width == 1; r += 4) {
        const float* HWY_RESTRICT c0 = bank + rowOffsets[r];
        const float* HWY_RESTRICT c1 = bank + rowOffsets[r + 1];
        const float* HWY_RESTRICT c2 = bank + rowOffsets[r + 2];
        const float* HWY_RESTRICT c3 = bank + rowOffsets[r + 3];
        const float* HWY_RESTRICT x0 = xt + inputOffsets[r] * lanes;
        const float* HWY_RESTRICT x1 = xt + inputOffsets[r + 1] * lanes;
        const float* HWY_RESTRICT x2 = xt + inputOffsets[r + 2] * lanes;
        const float* HWY_RESTRICT x3 = xt + inputOffsets[r + 3] * lanes;
        auto a0 = hn::Zero(d);
        auto a1 = hn::Zero(d);
        auto a2 = hn::Zero(d);
        auto a3 = hn::Zero(d);
        for (int i = 0; i < u; ++i) {
            const std::ptrdiff_t at = i * lanes;
            a0 = hn::Add(hn::Mul(hn::Set(d, c0[i]), hn::Load(d, x0 + at)), a0);
            a1 = hn::Add(hn::Mul(hn::Set(d, c1[i]), hn::Load(d, x1 + at)), a1);
            a2 = hn::Add(hn::Mul(hn::Set(d, c2[i]), hn::Load(d, x2 + at)), a2);
            a3 = hn::Add(hn::Mul(hn::Set(d, c3[i]), hn::Load(d, x3 + at)), a3);
        }
        finish(a0, r, 0);
        finish(a1, r + 1, 0);
        finish(a2, r + 2, 0);
        finish(a3, r + 3, 0);
    }
    for (; r < run; ++r) {
        const float* HWY_RESTRICT c0 = bank + rowOffsets[r];
        const float* HWY_RESTRICT x0 = xt + inputOffsets[r] * lanes;
        for (int w = 0; w < width; ++w) {
            auto a0 = hn::Zero(d);
            for (int i = 0; i < u; ++i) {
                a0 = hn::Add(hn::Mul(hn::Set(d, c0[i]), hn::Load(d, x0 + i * lanes + w * n)), a0);
            }
            finish(a0, r, w * n);
        }
    }
    storeResults<width>(results, output, k0, limit, run);
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
    const int stride = ws->runFactor * downFactor;
    // Wide groups while they fill, then groups of one vector.
    const int64_t wideOutputs = kWideVectors * static_cast<int64_t>(lanes) * run;
    for (; total - k0 >= wideOutputs; k0 += wideOutputs) {
        const int64_t base = (p0 + k0 * down) / up;
        filterGroup<kWideVectors>(input, count, output, k0, total, base, run, stride, true, bank, ws);
    }
    const int64_t groupOutputs = static_cast<int64_t>(lanes) * run;
    for (; total - k0 >= groupOutputs; k0 += groupOutputs) {
        const int64_t base = (p0 + k0 * down) / up;
        filterGroup<1>(input, count, output, k0, total, base, run, stride, true, bank, ws);
    }
    int64_t rest = total - k0;
    if (rest > 0 && rest * 4 > up) {
        // One shorter group (a run of t' L per lane) covers what is left;
        // lanes past the end read zeros and store nothing.
        const int64_t perLane = static_cast<int64_t>(lanes) * up;
        const int runFactor = static_cast<int>((rest + perLane - 1) / perLane);
        const int64_t base = (p0 + k0 * down) / up;
        filterGroup<1>(input, count, output, k0, total, base, runFactor * upFactor, runFactor * downFactor, false,
                       bank, ws);
        k0 = total;
        rest = 0;
    }
    vectors::HWY_NAMESPACE::leaveVectorCode();
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
    const int64_t lanes = static_cast<int64_t>(hn::Lanes(d));
    const int up = ws->upFactor;
    // A wide group's rows are t M + u, and up to a square block more where the
    // last block is rounded up; t shrinks where they would not fit the bound.
    const int64_t roomRows = static_cast<int64_t>(polyphase::kMaxTransposedFloats) / (kWideVectors * lanes);
    const int64_t fitting = (roomRows - ws->phaseLength - lanes) / ws->downFactor;
    if (lanes < 1 || fitting < 1) return true;  // reference
    const int runFactor =
        static_cast<int>(std::min<int64_t>(up >= polyphase::kTargetRun ? 1 : polyphase::kTargetRun / up, fitting));
    const int64_t run = static_cast<int64_t>(runFactor) * up;
    const std::size_t transposedFloats =
        static_cast<std::size_t>(kWideVectors * lanes * (runFactor * static_cast<int64_t>(ws->downFactor) +
                                                         ws->phaseLength + lanes));
    ws->transposed = allocateAligned<float>(transposedFloats);
    ws->results = allocateAligned<int32_t>(static_cast<std::size_t>(kWideVectors * run * lanes));
    ws->rowOffsets.reset(new (std::nothrow) int32_t[static_cast<std::size_t>(run)]);
    ws->inputOffsets.reset(new (std::nothrow) int32_t[static_cast<std::size_t>(run)]);
    if (!ws->transposed || !ws->results || !ws->rowOffsets || !ws->inputOffsets) return false;
    ws->lanes = static_cast<int>(lanes);
    ws->runFactor = runFactor;
    ws->run = static_cast<int>(run);
    ws->wideOutputs = kWideVectors * static_cast<int64_t>(lanes) * run;
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

int64_t polyphaseGroupOutputs(const PolyphaseWorkspace* workspace) {
    return workspace == nullptr || workspace->kernel == nullptr ? 0 : workspace->wideOutputs;
}

int polyphaseWholeGroupCount(const PolyphaseWorkspace* workspace, int count, int phase) {
    if (workspace == nullptr || workspace->kernel == nullptr) return count;
    const int64_t up = workspace->upFactor;
    const int64_t down = workspace->downFactor;
    const int64_t end = static_cast<int64_t>(count - workspace->phaseLength) * up;
    if (end <= phase) return count;
    const int64_t total = (end - phase + down - 1) / down;
    const int64_t wanted = total / workspace->wideOutputs * workspace->wideOutputs;
    if (wanted == 0) return count;
    // The least count whose last window holds output wanted - 1: p + (wanted - 1) M < (count - u) L.
    return static_cast<int>(workspace->phaseLength + (phase + (wanted - 1) * down) / up + 1);
}

int64_t polyphaseWorkspaceTarget(const PolyphaseWorkspace* workspace) {
    return workspace == nullptr ? kReferenceTarget : workspace->target;
}

namespace {

// The check build's comparison: the reference on the same input and phase.
[[maybe_unused]] void checkAgainstReference(const float* input, const int16_t* output, int count, int phaseBefore,
                                            int phaseAfter, int written, const float* bank, int phaseLength,
                                            int upFactor, int downFactor, int64_t target) {
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
