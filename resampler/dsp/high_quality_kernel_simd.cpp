// The vectorised high-quality stage kernel: the same outputs as
// filterHighQualityStage, to the bit, many outputs per instruction. Compiled
// once per instruction set by Highway (foreach_target), chosen at run time
// (platform/kernel_dispatch.h).
//
// Each output keeps its own chain acc = tap x sample + acc in tap order, with
// Mul then Add (never MulAdd), so only different outputs share an instruction,
// one per vector lane.
//
// Layout. A group is V lanes of R = t L consecutive outputs: lane j owns outputs
// k0 + j R .. k0 + j R + R - 1, whose windows start t M j samples after lane 0's,
// and all lanes of one vector share the bank row. The group's input is
// transposed once, Xt[n][j] = x[base + j t M + n], so that a tap is one
// broadcast coefficient times one aligned vector. Outputs r and r + L of a run
// share their row and their windows lie M rows apart: a tile of four of them
// shares each coefficient load. The taps run in chunks, the partial sums kept
// in memory between chunks (storing a sum and loading it back changes no bit),
// so that the four windows of a tile stay in the first-level cache. Where two
// consecutive outputs r and r + 1 start on the same sample (upsampling), their
// tiles go together and each sample loaded serves both rows. The transpositions
// into Xt and back to output order go by blocks of 4 x 4.
//
// A halving stage (L = 1, M = 2) is laid out otherwise: its input is split into
// its even and odd samples, and a vector is then V consecutive outputs, whose
// tap i reads V consecutive samples of one of the two halves: no transposition.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampler/dsp/high_quality_kernel_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "platform/kernel_dispatch.h"
#include "resampler/dsp/high_quality_kernel.h"
#include "resampler/high_quality_resampler.h"

#ifndef PLINTH_HIGH_QUALITY_SIMD_ONCE
#define PLINTH_HIGH_QUALITY_SIMD_ONCE

namespace plinth {

using HighQualityRunFn = int64_t (*)(HighQualityKernel*, const float*, int64_t, int64_t, int64_t, int64_t, float*, bool);

namespace high_quality {

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

// Outputs of one row summed together (same coefficients, windows M apart).
constexpr int kTile = 4;
// Taps per chunk: four windows of 64 vectors stay in the first-level cache.
constexpr int kChunk = 64;
// Outputs per lane aimed at, at least: the transposition costs about
// (t M + u) / (t L) samples per output.
constexpr int kTargetRun = 512;
// Beyond these sizes (floats) the reference runs.
constexpr std::size_t kMaxBufferFloats = std::size_t{1} << 22;
// Fewer outputs than this left at the end go through the reference, and so do
// fewer than a quarter of a lane's run: a partial group costs a whole one, as
// much as the reference spends on a run of outputs (calls of few outputs each,
// as when many channels run in short rounds, would otherwise pay it every time).
constexpr int64_t kLeastPartialGroup = 64;
// Outputs a halving stage splits the input for at a time.
constexpr int kHalvingBlock = 4096;

}  // namespace high_quality

struct HighQualityKernel {
    const HighQualityStage* stage = nullptr;
    int lanes = 0;      // 0: every call goes to the reference
    int runFactor = 0;  // t, a multiple of kTile
    int run = 0;        // R = t L
    int span = 0;       // rows of transposed input a group reads
    int64_t target = kReferenceTarget;
    HighQualityRunFn function = nullptr;
    high_quality::AlignedArray<float> transposed;  // span x lanes
    high_quality::AlignedArray<float> results;     // R x lanes: the left chains' sums, then the outputs
    high_quality::AlignedArray<float> rightSums;   // R x lanes: the right chains' sums
    std::unique_ptr<int32_t[]> rowOffsets;         // L: bank offset of run offset r's row
    std::unique_ptr<int32_t[]> inputOffsets;       // L: first transposed row of run offset r
    int64_t tableRow = -1;                         // the starting row the tables are for
    high_quality::AlignedArray<float> halves;      // a halving stage: even then odd samples
};

namespace high_quality {

inline void fillTables(HighQualityKernel* kernel, int64_t startRow) {
    if (kernel->tableRow == startRow) return;
    const HighQualityStage& stage = *kernel->stage;
    const int64_t up = stage.upFactor;
    for (int64_t r = 0; r < up; ++r) {
        const int64_t position = startRow + r * stage.downFactor;
        kernel->rowOffsets[r] = static_cast<int32_t>((position % up) * stage.taps);
        kernel->inputOffsets[r] = static_cast<int32_t>(position / up);
    }
    kernel->span = kernel->inputOffsets[up - 1] + (kernel->runFactor - 1) * stage.downFactor + stage.taps;
    kernel->tableRow = startRow;
}

}  // namespace high_quality
}  // namespace plinth

#endif  // PLINTH_HIGH_QUALITY_SIMD_ONCE

HWY_BEFORE_NAMESPACE();
namespace plinth::high_quality {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// Whether the group's transpositions go by blocks of 4 x 4 (any vector of a
// multiple of 4 lanes), rather than one sample at a time.
#if HWY_TARGET != HWY_SCALAR
constexpr bool kBlockTranspose = true;

// Rows k = 0..3 of four floats at from + k x fromStride become the columns
// written to to + k' x toStride.
HWY_ATTR HWY_INLINE void transpose4x4(const float* HWY_RESTRICT from, std::ptrdiff_t fromStride,
                                      float* HWY_RESTRICT to, std::ptrdiff_t toStride) {
    const hn::Full128<float> d4;
    const auto p0 = hn::LoadU(d4, from);
    const auto p1 = hn::LoadU(d4, from + fromStride);
    const auto p2 = hn::LoadU(d4, from + 2 * fromStride);
    const auto p3 = hn::LoadU(d4, from + 3 * fromStride);
    const auto t0 = hn::InterleaveLower(d4, p0, p1);  // p0[0] p1[0] p0[1] p1[1]
    const auto t1 = hn::InterleaveLower(d4, p2, p3);
    const auto t2 = hn::InterleaveUpper(d4, p0, p1);  // p0[2] p1[2] p0[3] p1[3]
    const auto t3 = hn::InterleaveUpper(d4, p2, p3);
    hn::StoreU(hn::ConcatLowerLower(d4, t1, t0), d4, to);
    hn::StoreU(hn::ConcatUpperUpper(d4, t1, t0), d4, to + toStride);
    hn::StoreU(hn::ConcatLowerLower(d4, t3, t2), d4, to + 2 * toStride);
    hn::StoreU(hn::ConcatUpperUpper(d4, t3, t2), d4, to + 3 * toStride);
}
#else
constexpr bool kBlockTranspose = false;
HWY_ATTR HWY_INLINE void transpose4x4(const float*, std::ptrdiff_t, float*, std::ptrdiff_t) {}
#endif

// One group from output k0; `base` is lane 0's first sample in the input. Only
// the first `limit` outputs are stored; a full group (every lane's outputs
// wanted) reads its input without bounds checks.
HWY_ATTR void filterGroup(HighQualityKernel* kernel, const float* HWY_RESTRICT input, int64_t inputCount,
                          int64_t base, int64_t limit, bool full, float* HWY_RESTRICT output) {
    const hn::ScalableTag<float> d;
    const hn::RebindToSigned<decltype(d)> di;
    const HighQualityStage& stage = *kernel->stage;
    const std::ptrdiff_t lanes = kernel->lanes;
    const int up = stage.upFactor;
    const int t = kernel->runFactor;
    const int run = kernel->run;
    const int span = kernel->span;
    const int64_t stride = static_cast<int64_t>(t) * stage.downFactor;
    const std::ptrdiff_t windowStep = static_cast<std::ptrdiff_t>(stage.downFactor) * lanes;
    float* HWY_RESTRICT xt = kernel->transposed.get();
    float* HWY_RESTRICT results = kernel->results.get();
    const float* HWY_RESTRICT bank = stage.bank.data();
    const int32_t* HWY_RESTRICT rowOffsets = kernel->rowOffsets.get();
    const int32_t* HWY_RESTRICT inputOffsets = kernel->inputOffsets.get();

    // xt[n * lanes + j] = x[base + j * stride + n].
    const bool blocks = kBlockTranspose && lanes % 4 == 0;
    if (full && blocks) {
        int n = 0;
        for (; n + 4 <= span; n += 4) {
            for (std::ptrdiff_t j = 0; j < lanes; j += 4) {
                transpose4x4(input + base + j * stride + n, stride, xt + n * lanes + j, lanes);
            }
        }
        for (; n < span; ++n) {
            for (std::ptrdiff_t j = 0; j < lanes; ++j) xt[n * lanes + j] = input[base + j * stride + n];
        }
    } else if (full) {
        const auto index = hn::Mul(hn::Iota(di, 0), hn::Set(di, static_cast<int32_t>(stride)));
        const float* from = input + base;
        for (int n = 0; n < span; ++n) hn::Store(hn::GatherIndex(d, from + n, index), d, xt + n * lanes);
    } else {
        for (std::ptrdiff_t j = 0; j < lanes; ++j) {
            const int64_t start = base + j * stride;
            for (int n = 0; n < span; ++n) {
                const int64_t at = start + n;
                xt[n * lanes + j] = at >= 0 && at < inputCount ? input[at] : 0.0f;
            }
        }
    }

    // One chain of every output: its taps in `active` order, its sums in `chainSums`.
    const std::ptrdiff_t sumStep = static_cast<std::ptrdiff_t>(up) * lanes;
    // tapOf(a) is the chain's a-th tap.
    const auto sumChainWith = [&](auto tapOf, int activeCount, float* HWY_RESTRICT chainSums) {
        if (activeCount == 0) {
            for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(run) * lanes; ++i) chainSums[i] = 0.0f;
            return;
        }
        for (int i0 = 0; i0 < activeCount; i0 += kChunk) {
            const int i1 = std::min(activeCount, i0 + kChunk);
            for (int r = 0; r < up;) {
                const float* HWY_RESTRICT taps = bank + rowOffsets[r];
                if (r + 1 < up && inputOffsets[r + 1] == inputOffsets[r]) {
                    // Run offsets r and r + 1 read the same windows with two rows.
                    const float* HWY_RESTRICT taps1 = bank + rowOffsets[r + 1];
                    for (int j = 0; j < t; j += kTile) {
                        float* HWY_RESTRICT sums = chainSums + (static_cast<std::ptrdiff_t>(r) + static_cast<std::ptrdiff_t>(j) * up) * lanes;
                        float* HWY_RESTRICT sums1 = sums + lanes;
                        const float* HWY_RESTRICT x0 =
                            xt + (static_cast<std::ptrdiff_t>(inputOffsets[r]) + static_cast<std::ptrdiff_t>(j) * stage.downFactor) * lanes;
                        const float* HWY_RESTRICT x1 = x0 + windowStep;
                        const float* HWY_RESTRICT x2 = x1 + windowStep;
                        const float* HWY_RESTRICT x3 = x2 + windowStep;
                        auto a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
                        auto b0 = hn::Zero(d), b1 = hn::Zero(d), b2 = hn::Zero(d), b3 = hn::Zero(d);
                        if (i0 > 0) {
                            a0 = hn::Load(d, sums); a1 = hn::Load(d, sums + sumStep);
                            a2 = hn::Load(d, sums + 2 * sumStep); a3 = hn::Load(d, sums + 3 * sumStep);
                            b0 = hn::Load(d, sums1); b1 = hn::Load(d, sums1 + sumStep);
                            b2 = hn::Load(d, sums1 + 2 * sumStep); b3 = hn::Load(d, sums1 + 3 * sumStep);
                        }
                        for (int a = i0; a < i1; ++a) {
                            const int i = tapOf(a);
                            const auto c = hn::Set(d, taps[i]);
                            const auto e = hn::Set(d, taps1[i]);
                            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i) * lanes;
                            const auto v0 = hn::Load(d, x0 + at);
                            a0 = hn::Add(hn::Mul(c, v0), a0); b0 = hn::Add(hn::Mul(e, v0), b0);
                            const auto v1 = hn::Load(d, x1 + at);
                            a1 = hn::Add(hn::Mul(c, v1), a1); b1 = hn::Add(hn::Mul(e, v1), b1);
                            const auto v2 = hn::Load(d, x2 + at);
                            a2 = hn::Add(hn::Mul(c, v2), a2); b2 = hn::Add(hn::Mul(e, v2), b2);
                            const auto v3 = hn::Load(d, x3 + at);
                            a3 = hn::Add(hn::Mul(c, v3), a3); b3 = hn::Add(hn::Mul(e, v3), b3);
                        }
                        hn::Store(a0, d, sums); hn::Store(a1, d, sums + sumStep);
                        hn::Store(a2, d, sums + 2 * sumStep); hn::Store(a3, d, sums + 3 * sumStep);
                        hn::Store(b0, d, sums1); hn::Store(b1, d, sums1 + sumStep);
                        hn::Store(b2, d, sums1 + 2 * sumStep); hn::Store(b3, d, sums1 + 3 * sumStep);
                    }
                    r += 2;
                    continue;
                }
                for (int j = 0; j < t; j += kTile) {
                    float* HWY_RESTRICT sums = chainSums + (static_cast<std::ptrdiff_t>(r) + static_cast<std::ptrdiff_t>(j) * up) * lanes;
                    const float* HWY_RESTRICT x0 =
                        xt + (static_cast<std::ptrdiff_t>(inputOffsets[r]) + static_cast<std::ptrdiff_t>(j) * stage.downFactor) * lanes;
                    const float* HWY_RESTRICT x1 = x0 + windowStep;
                    const float* HWY_RESTRICT x2 = x1 + windowStep;
                    const float* HWY_RESTRICT x3 = x2 + windowStep;
                    auto a0 = hn::Zero(d);
                    auto a1 = hn::Zero(d);
                    auto a2 = hn::Zero(d);
                    auto a3 = hn::Zero(d);
                    if (i0 > 0) {
                        a0 = hn::Load(d, sums);
                        a1 = hn::Load(d, sums + sumStep);
                        a2 = hn::Load(d, sums + 2 * sumStep);
                        a3 = hn::Load(d, sums + 3 * sumStep);
                    }
                    for (int a = i0; a < i1; ++a) {
                        const int i = tapOf(a);
                        const auto c = hn::Set(d, taps[i]);
                        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i) * lanes;
                        a0 = hn::Add(hn::Mul(c, hn::Load(d, x0 + at)), a0);
                        a1 = hn::Add(hn::Mul(c, hn::Load(d, x1 + at)), a1);
                        a2 = hn::Add(hn::Mul(c, hn::Load(d, x2 + at)), a2);
                        a3 = hn::Add(hn::Mul(c, hn::Load(d, x3 + at)), a3);
                    }
                    hn::Store(a0, d, sums);
                    hn::Store(a1, d, sums + sumStep);
                    hn::Store(a2, d, sums + 2 * sumStep);
                    hn::Store(a3, d, sums + 3 * sumStep);
                }
                ++r;
            }
        }
    };
    // A chain of consecutive taps walks them by its index; any other reads its list.
    const auto sumChain = [&](const int* HWY_RESTRICT active, int activeCount, float* HWY_RESTRICT chainSums) {
        const int first = activeCount > 0 ? active[0] : 0;
        const int step = activeCount > 1 ? active[1] - active[0] : 1;
        bool consecutive = step == 1 || step == -1;
        for (int a = 1; a < activeCount && consecutive; ++a) consecutive = active[a] == first + step * a;
        if (consecutive) {
            sumChainWith([first, step](int a) { return first + step * a; }, activeCount, chainSums);
        } else {
            sumChainWith([active](int a) { return active[a]; }, activeCount, chainSums);
        }
    };
    const int* HWY_RESTRICT order = stage.sumOrder.data();
    const int leftTaps = stage.leftTaps;
    sumChain(order, leftTaps, results);
    float* HWY_RESTRICT rightSums = kernel->rightSums.get();
    sumChain(order + leftTaps, static_cast<int>(stage.sumOrder.size()) - leftTaps, rightSums);
    for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(run) * lanes; i += lanes) {
        hn::Store(hn::Add(hn::Load(d, results + i), hn::Load(d, rightSums + i)), d, results + i);
    }

    // Back to output order: lane j's run offset rr is output k0 + j R + rr.
    if (full && blocks) {
        for (int rr = 0; rr < run; rr += 4) {  // R = t L, t a multiple of 4
            for (std::ptrdiff_t j = 0; j < lanes; j += 4) {
                transpose4x4(results + rr * lanes + j, lanes, output + j * run + rr, run);
            }
        }
        return;
    }
    for (std::ptrdiff_t j = 0; j < lanes; ++j) {
        const int64_t first = j * run;
        if (first >= limit) break;
        const int n = full ? run : static_cast<int>(std::min<int64_t>(limit - first, run));
        float* HWY_RESTRICT to = output + first;
        for (int rr = 0; rr < n; ++rr) to[rr] = results[static_cast<std::ptrdiff_t>(rr) * lanes + j];
    }
}

HWY_ATTR int64_t runKernel(HighQualityKernel* kernel, const float* input, int64_t inputStart, int64_t inputCount,
                           int64_t first, int64_t count, float* output, bool wholeGroupsOnly) {
    const HighQualityStage& stage = *kernel->stage;
    const int64_t up = stage.upFactor;
    const int64_t position = first * stage.downFactor;
    const int64_t startRow = position - floorDivide64(position, up) * up;
    fillTables(kernel, startRow);
    const int64_t group = static_cast<int64_t>(kernel->lanes) * kernel->run;
    int64_t done = 0;
    for (; count - done >= group; done += group) {
        filterGroup(kernel, input, inputCount, windowStart(stage, first + done) - inputStart, group, true,
                    output + done);
    }
    if (wholeGroupsOnly || done == count) return done;
    const int64_t rest = count - done;
    if (rest >= kLeastPartialGroup && 4 * rest >= kernel->run) {
        filterGroup(kernel, input, inputCount, windowStart(stage, first + done) - inputStart, rest, false,
                    output + done);
    } else {
        filterHighQualityStage(stage, input, inputStart, first + done, rest, output + done);
    }
    return count;
}

// A halving stage: outputs k0 + j, j < n (n a multiple of 4 V), from input
// index `base` (output k0's window start, relative to the input array).
HWY_ATTR void halveBlock(HighQualityKernel* kernel, const float* HWY_RESTRICT input, int64_t base, int n,
                         float* HWY_RESTRICT output) {
    const hn::ScalableTag<float> d;
    const std::ptrdiff_t lanes = kernel->lanes;
    const HighQualityStage& stage = *kernel->stage;
    const float* HWY_RESTRICT taps = stage.bank.data();
    const int* HWY_RESTRICT order = stage.sumOrder.data();
    const int leftTaps = stage.leftTaps;
    const int summed = static_cast<int>(stage.sumOrder.size());
    // even[m] = x[base + 2m], odd[m] = x[base + 2m + 1], for every m a window of
    // the block reads: x up to base + last, m up to n - 1 + (u - 1) / 2.
    const int last = 2 * (n - 1) + stage.taps - 1;
    const int halfLength = n + (stage.taps - 1) / 2;
    float* HWY_RESTRICT even = kernel->halves.get();
    float* HWY_RESTRICT odd = even + kHalvingBlock + stage.taps + static_cast<int>(lanes);
    const float* HWY_RESTRICT from = input + base;
    int m = 0;
    for (; m + lanes <= halfLength && 2 * (m + lanes) - 1 <= last; m += static_cast<int>(lanes)) {
        auto e = hn::Zero(d);
        auto o = hn::Zero(d);
        hn::LoadInterleaved2(d, from + 2 * m, e, o);
        hn::StoreU(e, d, even + m);
        hn::StoreU(o, d, odd + m);
    }
    for (; m < halfLength; ++m) {
        even[m] = from[2 * m];
        odd[m] = 2 * m + 1 <= last ? from[2 * m + 1] : 0.0f;
    }
    const std::ptrdiff_t step = lanes;
    for (int j = 0; j < n; j += static_cast<int>(4 * lanes)) {
        // The left chain, then the right one, each over four vectors of outputs.
        const auto chain = [&](int begin, int end, decltype(hn::Zero(d))& a0, decltype(hn::Zero(d))& a1,
                               decltype(hn::Zero(d))& a2, decltype(hn::Zero(d))& a3) {
            for (int a = begin; a < end; ++a) {
                const int i = order[a];
                const float* HWY_RESTRICT half = ((i & 1) == 0 ? even : odd) + j + (i >> 1);
                const auto c = hn::Set(d, taps[i]);
                a0 = hn::Add(hn::Mul(c, hn::LoadU(d, half)), a0);
                a1 = hn::Add(hn::Mul(c, hn::LoadU(d, half + step)), a1);
                a2 = hn::Add(hn::Mul(c, hn::LoadU(d, half + 2 * step)), a2);
                a3 = hn::Add(hn::Mul(c, hn::LoadU(d, half + 3 * step)), a3);
            }
        };
        auto l0 = hn::Zero(d), l1 = hn::Zero(d), l2 = hn::Zero(d), l3 = hn::Zero(d);
        auto r0 = hn::Zero(d), r1 = hn::Zero(d), r2 = hn::Zero(d), r3 = hn::Zero(d);
        chain(0, leftTaps, l0, l1, l2, l3);
        chain(leftTaps, summed, r0, r1, r2, r3);
        hn::StoreU(hn::Add(l0, r0), d, output + j);
        hn::StoreU(hn::Add(l1, r1), d, output + j + step);
        hn::StoreU(hn::Add(l2, r2), d, output + j + 2 * step);
        hn::StoreU(hn::Add(l3, r3), d, output + j + 3 * step);
    }
}

HWY_ATTR int64_t runHalving(HighQualityKernel* kernel, const float* input, int64_t inputStart, int64_t inputCount,
                            int64_t first, int64_t count, float* output, bool wholeGroupsOnly) {
    (void)inputCount;
    const HighQualityStage& stage = *kernel->stage;
    const int64_t group = 4 * static_cast<int64_t>(kernel->lanes);
    const int64_t whole = count / group * group;
    int64_t done = 0;
    while (done < whole) {
        const int n = static_cast<int>(std::min<int64_t>(whole - done, kHalvingBlock));
        halveBlock(kernel, input, windowStart(stage, first + done) - inputStart, n, output + done);
        done += n;
    }
    if (wholeGroupsOnly || done == count) return done;
    filterHighQualityStage(stage, input, inputStart, first + done, count - done, output + done);
    return count;
}

// 16-bit samples: the steps of highQualitySampleToInt16, each exact, on whole vectors.
HWY_ATTR void highQualitySamplesToInt16Vectors(const float* HWY_RESTRICT samples, int16_t* HWY_RESTRICT out, std::size_t count) {
    const hn::ScalableTag<float> d;
    const hn::RebindToSigned<decltype(d)> di;
    const hn::Rebind<int16_t, decltype(d)> d16;
    const std::size_t lanes = hn::Lanes(d);
    const auto scale = hn::Set(d, 32768.0f);
    const auto lowest = hn::Set(d, -32768.0f);
    const auto highest = hn::Set(d, 32767.0f);
    const auto half = hn::Set(d, 0.5f);
    const auto minusHalf = hn::Set(d, -0.5f);
    const auto one = hn::Set(di, 1);
    std::size_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        auto scaled = hn::Mul(hn::LoadU(d, samples + i), scale);
        scaled = hn::IfThenElseZero(hn::Eq(scaled, scaled), scaled);
        scaled = hn::IfThenElse(hn::Lt(scaled, lowest), lowest, scaled);
        scaled = hn::IfThenElse(hn::Gt(scaled, highest), highest, scaled);
        const auto whole = hn::ConvertTo(di, scaled);
        const auto fraction = hn::Sub(scaled, hn::ConvertTo(d, whole));
        auto rounded = hn::Add(whole, hn::IfThenElseZero(hn::RebindMask(di, hn::Ge(fraction, half)), one));
        rounded = hn::Sub(rounded, hn::IfThenElseZero(hn::RebindMask(di, hn::Le(fraction, minusHalf)), one));
        hn::StoreU(hn::DemoteTo(d16, rounded), d16, out + i);
    }
    highQualitySamplesToInt16(samples + i, out + i, count - i);
}

// Sets the kernel up for this target's vectors; false when out of memory.
HWY_ATTR bool setUpKernel(HighQualityKernel* kernel) {
    const hn::ScalableTag<float> d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const HighQualityStage& stage = *kernel->stage;
    const int up = stage.upFactor;
    if (up == 1 && stage.downFactor == 2 && lanes >= 1) {
        const std::size_t half = static_cast<std::size_t>(kHalvingBlock + stage.taps + lanes);
        kernel->halves = allocateAligned<float>(2 * half);
        if (!kernel->halves) return false;
        kernel->lanes = lanes;
        kernel->run = 4;
        kernel->function = &runHalving;
        return true;
    }
    const int perLane = up >= kTargetRun ? 1 : (kTargetRun + up - 1) / up;
    const int runFactor = (perLane + kTile - 1) / kTile * kTile;
    const std::size_t run = static_cast<std::size_t>(runFactor) * static_cast<std::size_t>(up);
    const std::size_t spanBound = static_cast<std::size_t>(runFactor) * static_cast<std::size_t>(stage.downFactor) +
                                  static_cast<std::size_t>(stage.taps);
    if (lanes < 1 || run * static_cast<std::size_t>(lanes) > kMaxBufferFloats ||
        spanBound * static_cast<std::size_t>(lanes) > kMaxBufferFloats) {
        return true;  // the reference
    }
    kernel->transposed = allocateAligned<float>(spanBound * static_cast<std::size_t>(lanes));
    kernel->results = allocateAligned<float>(run * static_cast<std::size_t>(lanes));
    kernel->rightSums = allocateAligned<float>(run * static_cast<std::size_t>(lanes));
    kernel->rowOffsets.reset(new (std::nothrow) int32_t[static_cast<std::size_t>(up)]);
    kernel->inputOffsets.reset(new (std::nothrow) int32_t[static_cast<std::size_t>(up)]);
    if (!kernel->transposed || !kernel->results || !kernel->rightSums || !kernel->rowOffsets || !kernel->inputOffsets) {
        return false;
    }
    kernel->lanes = lanes;
    kernel->runFactor = runFactor;
    kernel->run = static_cast<int>(run);
    kernel->function = &runKernel;
    return true;
}

}  // namespace HWY_NAMESPACE
}  // namespace plinth::high_quality
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace plinth {

PLINTH_KERNEL_TARGETS(filterHighQualityStageTargets, high_quality, setUpKernel)
PLINTH_KERNEL_TARGETS(highQualitySamplesToInt16Targets, high_quality, highQualitySamplesToInt16Vectors)

void HighQualityKernelDeleter::operator()(HighQualityKernel* kernel) const { delete kernel; }

HighQualityKernelPtr createHighQualityKernelOn(int64_t target, const HighQualityStage& stage) {
    HighQualityKernelPtr kernel(new (std::nothrow) HighQualityKernel);
    if (!kernel) return nullptr;
    kernel->stage = &stage;
    const HighQualitySetUpFunction setUp = filterHighQualityStageTargets().find(target);
    if (setUp == nullptr || stage.taps < 1 || stage.upFactor < 1) return kernel;
    if (!setUp(kernel.get())) return nullptr;
    if (kernel->function != nullptr) kernel->target = target;
    return kernel;
}

HighQualityKernelPtr createHighQualityKernel(const HighQualityStage& stage) {
    return createHighQualityKernelOn(filterHighQualityStageTargets().chosenTarget(), stage);
}

int64_t highQualityKernelTarget(const HighQualityKernel* kernel) {
    return kernel == nullptr ? kReferenceTarget : kernel->target;
}

int64_t highQualityGroupOutputs(const HighQualityKernel* kernel) {
    if (kernel == nullptr || kernel->function == nullptr) return 1;
    return static_cast<int64_t>(kernel->lanes) * kernel->run;
}

int64_t filterHighQualityStageDispatched(HighQualityKernel* kernel, const float* input, int64_t inputStart,
                                         int64_t inputCount, int64_t first, int64_t count, float* output,
                                         bool wholeGroupsOnly) {
    if (count <= 0) return 0;
    if (kernel->function == nullptr) {
        filterHighQualityStage(*kernel->stage, input, inputStart, first, count, output);
        return count;
    }
    const int64_t done =
        kernel->function(kernel, input, inputStart, inputCount, first, count, output, wholeGroupsOnly);
    if constexpr (kCheckKernels) {
        std::vector<float> reference(static_cast<std::size_t>(done));
        filterHighQualityStage(*kernel->stage, input, inputStart, first, done, reference.data());
        checkSameBits("filterHighQualityStage", kernel->target, "output", output, reference.data(),
                      static_cast<std::size_t>(done));
    }
    return done;
}

void highQualitySamplesToInt16Dispatched(const float* samples, int16_t* out, std::size_t count) {
    const KernelTargets<HighQualityToInt16Function>& targets = highQualitySamplesToInt16Targets();
    if (targets.chosen() == nullptr) return highQualitySamplesToInt16(samples, out, count);
    targets.chosen()(samples, out, count);
    if constexpr (kCheckKernels) {
        std::vector<int16_t> reference(count);
        highQualitySamplesToInt16(samples, reference.data(), count);
        checkSameBits("highQualitySamplesToInt16", targets.chosenTarget(), "samples", out, reference.data(), count);
    }
}

}  // namespace plinth

#endif  // HWY_ONCE
