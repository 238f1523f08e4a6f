// The vector mixer. A stretch is mixed a chunk of frames at a time, one
// vector of frames. The positions of each group of four channels are stepped
// as one vector, a lane per channel, and turned into a vector of frames per
// channel; then each channel's frames are interpolated, scaled and added to
// the chunk's sums, held in registers, the channels in order. Every value is
// computed by the same operations in the same order as in the plain
// mixChannel, so the frames equal it to the bit.

#include "tracker/vector_targets.h"  // first: it sets the targets

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/kernel_dispatch.h"
#include "tracker/mod_mix.h"

// Built once, not per instruction set: the passes of each channel.
#ifndef PLINTH_MOD_MIX_SIMD_ONCE
#define PLINTH_MOD_MIX_SIMD_ONCE
namespace plinth::mix {

// Channels whose positions are stepped side by side, one lane each.
constexpr int kGroupChannels = 4;
constexpr int kNever = 0x7FFFFFFF;  // a frame index no stretch reaches
// Below this a float's whole part is exact after adding it.
constexpr uint32_t kExactWholeLimit = 1u << 23;
// Below this a float's rounding error is at most 2^-7.
constexpr uint32_t kRoundingLimit = 1u << 17;
// Frames stepped and mixed at a time.
constexpr int kStepFrames = 256;
// Read in place of a window that would not lie inside the image.
alignas(64) constexpr int8_t kNoBytes[128] = {};

// One channel's mixChannel call over a stretch: its passes, taken up as the
// frames are stepped, exactly as the plain mixer takes them, and the values
// of its sample that each frame's interpolation reads.
struct PositionWalker {
    ModChannel* channel;
    ChannelMix mix;
    float position;
    float increment;
    int left;  // frames left in the call, as mixChannel counts them
    int pass;  // frames of the current pass
    bool done;
    bool silent;  // both gains 0: it adds nothing to any frame
    // Derived from mix for the byte windows of the vector code.
    int loopStart;
    uint32_t windowLimit;   // a window at i lies inside the image when i is below
    bool loopWindowInside;  // a window from the loop start lies inside the image
    // Below this position no i + 1 reaches the loop end, a window at i lies
    // inside the image, and the chain's adds round by at most 2^-7.
    float windowsBelow;
    int windows;  // how its frames read from windows, for the vector code
};

inline void startPass(PositionWalker& walker) {
    walker.pass = passFrames(walker.mix, walker.position, walker.increment, walker.left);
    if (walker.pass == 0) {
        // Mixes nothing, still checks once, and ends the call.
        endOfPass(walker.mix, walker.position);
        walker.done = true;
    }
}

inline void finishPass(PositionWalker& walker) {
    if (!endOfPass(walker.mix, walker.position)) {
        walker.done = true;
        return;
    }
    walker.left -= walker.pass;
    startPass(walker);
}

// Fills the walker in place: built elsewhere and copied, its mixed-width
// fields would be stored and read back in pieces that the processor cannot
// forward.
inline void startWalker(PositionWalker& walker, ModPlayer& player, ModChannel& channel, int frames) {
    walker.channel = &channel;
    walker.mix = channelMix(player, channel);
    walker.position = channel.position;
    walker.increment = channel.increment;
    walker.left = frames;
    walker.done = false;
    // Adding a product of 0 leaves every sum as it was: a sum that starts
    // from +0 never becomes -0 (a rounded sum is -0 only from -0 + -0).
    walker.silent = walker.mix.leftGain == 0.0f && walker.mix.rightGain == 0.0f;
    walker.loopStart = walker.mix.loopEnd - walker.mix.loopLength;
    startPass(walker);
}

// Up to kGroupChannels walkers stepped as one vector: lane g holds walker g's
// position and step. A pass ends in one lane at a time, at an event, where
// the lane's walker takes it up as mixChannel would and the lane goes on from
// there; the frames between events are plain adds, the same in every lane as
// in that channel's own chain.
struct WalkerGroup {
    PositionWalker* walkers;
    int size;
    alignas(16) float position[kGroupChannels];
    alignas(16) float step[kGroupChannels];  // 0 in lanes that have ended
    int passEnd[kGroupChannels];  // the frame at which each lane's pass ends
    int yielded[kGroupChannels];  // frames the lane's walker mixes: kNever until it ends
    int nextEvent;                // the first of passEnd
};

inline void findNextEvent(WalkerGroup& group) {
    static_assert(kGroupChannels == 4, "four lanes");
    group.nextEvent = modMin(modMin(group.passEnd[0], group.passEnd[1]), modMin(group.passEnd[2], group.passEnd[3]));
}

inline void startGroup(WalkerGroup& group, PositionWalker* walkers, int size) {
    group.walkers = walkers;
    group.size = size;
    for (int g = 0; g < kGroupChannels; ++g) {
        const bool live = g < size && !walkers[g].done;
        group.position[g] = g < size ? walkers[g].position : 0.0f;
        group.step[g] = live ? walkers[g].increment : 0.0f;
        group.passEnd[g] = live ? walkers[g].pass : kNever;
        group.yielded[g] = live ? kNever : 0;
    }
    findNextEvent(group);
}

// Lane g's pass ends at `frame`, at `position`: its walker takes up the next
// pass, or ends. Returns the lane's position from there.
HWY_INLINE float takeUpPass(WalkerGroup& group, int g, int frame, float position) {
    PositionWalker& walker = group.walkers[g];
    walker.position = position;
    finishPass(walker);
    if (walker.done) {
        group.step[g] = 0.0f;
        group.passEnd[g] = kNever;
        group.yielded[g] = frame;
    } else {
        group.passEnd[g] = frame + walker.pass;
    }
    return walker.position;
}

}  // namespace plinth::mix
#endif  // PLINTH_MOD_MIX_SIMD_ONCE

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tracker/mod_mix_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace plinth::mix {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using FloatTag = hn::ScalableTag<float>;
using IntTag = hn::RebindToSigned<FloatTag>;
using UintTag = hn::RebindToUnsigned<FloatTag>;
using ByteTag = hn::Repartition<int8_t, FloatTag>;
// A group's positions, one lane per channel (one channel on a one-lane target).
using GroupTag = hn::CappedTag<float, kGroupChannels>;
constexpr int kGroupLanes = static_cast<int>(hn::MaxLanes(GroupTag()));
// Frames mixed at a time: one vector of each channel's frames.
constexpr int kChunkFrames = static_cast<int>(hn::MaxLanes(FloatTag()));
constexpr int kMaxGroups = (kMaxModuleChannels + kGroupLanes - 1) / kGroupLanes;
static_assert(kStepFrames % kChunkFrames == 0, "parts are whole vectors");
// Frames the stepping may run past a pass's end, to be stepped again from it.
constexpr int kMaxOverrun = 3;
// The rows of a group's positions in a part, and room for a vector or an
// overrun after them.
constexpr int kRowFloats = (kStepFrames + (kChunkFrames > kMaxOverrun ? kChunkFrames : kMaxOverrun)) * kGroupLanes;
static_assert(kGroupLanes == kGroupChannels || kGroupLanes == 1, "a group's positions load as one transposition");

// The sample bytes at j and i of each lane, read one by one with the plain
// mixer's bounds test.
void readLanes(const ChannelMix& mix, hn::Vec<IntTag> i, hn::Vec<IntTag> j, hn::Vec<FloatTag>& a,
               hn::Vec<FloatTag>& b) {
    const FloatTag d;
    const IntTag di;
    HWY_ALIGN int32_t iLanes[kChunkFrames];
    HWY_ALIGN int32_t jLanes[kChunkFrames];
    HWY_ALIGN float aLanes[kChunkFrames];
    HWY_ALIGN float bLanes[kChunkFrames];
    hn::Store(i, di, iLanes);
    hn::Store(j, di, jLanes);
    for (size_t lane = 0; lane < hn::Lanes(d); ++lane) {
        aLanes[lane] = sampleByte(mix.data, mix.readable, jLanes[lane]);
        bLanes[lane] = sampleByte(mix.data, mix.readable, iLanes[lane]);
    }
    a = hn::Load(d, aLanes);
    b = hn::Load(d, bLanes);
}

#if HWY_TARGET != HWY_SCALAR
// Sixteen sample bytes into each 128-bit block of the vector, starting at the
// byte of the block's first lane (firsts holds i of every lane).
template <class D>
hn::Vec<D> blockWindows(D d, const int8_t* data, const int32_t* firsts) {
    if constexpr (hn::MaxLanes(D()) <= 16) {
        return hn::LoadU(d, data + firsts[0]);
    } else {
        const hn::Half<D> half;
        constexpr size_t kHalfLanes = hn::MaxLanes(D()) / 2 / sizeof(int32_t);
        return hn::Combine(d, blockWindows(half, data, firsts + kHalfLanes), blockWindows(half, data, firsts));
    }
}

template <class D>
hn::Vec<D> blockWindows(D d, const int8_t* data, hn::Vec<IntTag> i) {
    HWY_ALIGN int32_t firsts[kChunkFrames];
    hn::Store(i, IntTag(), firsts);
    return blockWindows(d, data, firsts);
}
#endif

// The bytes a vector of frames reads, held in registers: on targets that
// permute bytes across the whole vector one window of kWindowBytes serves
// every lane, elsewhere a 16-byte window serves each 128-bit block.
#if HWY_TARGET == HWY_AVX3_DL
constexpr uint32_t kWindowBytes = 128;
struct ByteWindow {
    hn::Vec<ByteTag> low;
    hn::Vec<ByteTag> high;
};
HWY_INLINE ByteWindow loadWindow(const int8_t* bytes) {
    const ByteTag d8;
    return {hn::LoadU(d8, bytes), hn::LoadU(d8, bytes + 64)};
}
// The window of each lane starts at this lane's byte.
HWY_INLINE hn::Vec<IntTag> windowFirsts(hn::Vec<IntTag> i) { return hn::Set(IntTag(), hn::GetLane(i)); }
HWY_INLINE ByteWindow ownWindows(const int8_t* data, hn::Vec<IntTag> i) { return loadWindow(data + hn::GetLane(i)); }
// The byte in each lane's window at the offset in the top byte of its index,
// sign-extended.
HWY_INLINE hn::Vec<IntTag> lookUpIndex(const ByteWindow& window, hn::Vec<IntTag> index) {
    const hn::Vec<ByteTag> bytes{
        _mm512_permutex2var_epi8(window.low.raw, hn::BitCast(ByteTag(), index).raw, window.high.raw)};
    return hn::ShiftRight<24>(hn::BitCast(IntTag(), bytes));
}
// The byte at `offset` (below kWindowBytes) in each lane's window, sign-extended.
HWY_INLINE hn::Vec<IntTag> lookUp(const ByteWindow& window, hn::Vec<IntTag> offset) {
    return lookUpIndex(window, hn::ShiftLeft<24>(offset));
}
#elif HWY_TARGET != HWY_SCALAR
constexpr uint32_t kWindowBytes = 16;
using ByteWindow = hn::Vec<IntTag>;
HWY_INLINE ByteWindow loadWindow(const int8_t* bytes) {
    return hn::BitCast(IntTag(), hn::LoadDup128(ByteTag(), bytes));
}
HWY_INLINE hn::Vec<IntTag> windowFirsts(hn::Vec<IntTag> i) { return hn::Broadcast<0>(i); }
HWY_INLINE ByteWindow ownWindows(const int8_t* data, hn::Vec<IntTag> i) {
    return hn::BitCast(IntTag(), blockWindows(ByteTag(), data, i));
}
// As on the wide target; the index's other bytes must be 0x80, which give 0.
HWY_INLINE hn::Vec<IntTag> lookUpIndex(const ByteWindow& window, hn::Vec<IntTag> index) {
    return hn::ShiftRight<24>(hn::TableLookupBytesOr0(window, index));
}
HWY_INLINE hn::Vec<IntTag> lookUp(const ByteWindow& window, hn::Vec<IntTag> offset) {
    return lookUpIndex(window, hn::Or(hn::ShiftLeft<24>(offset), hn::Set(IntTag(), 0x00808080)));
}
#else
constexpr uint32_t kWindowBytes = 16;
#endif

// Adds one channel into left and right at frames 0..frames-1, given the
// position of each frame, testing each vector of frames for a wrap to the
// loop start and for bytes beyond the windows. positions holds a whole
// vector past `frames`.
HWY_NOINLINE void mixTested(const PositionWalker& walker, const float* positions, int frames, float* left,
                            float* right) {
    const ChannelMix& mix = walker.mix;
    const FloatTag d;
    const IntTag di;
    const size_t lanes = hn::Lanes(d);
    const size_t count = static_cast<size_t>(frames);

    const auto one = hn::Set(d, 1.0f);
    const auto leftGain = hn::Set(d, mix.leftGain);
    const auto rightGain = hn::Set(d, mix.rightGain);
    const auto oneInt = hn::Set(di, 1);
    const auto lastBeforeLoopEnd = hn::Set(di, mix.loopEnd - 1);
    const auto loopLength = hn::Set(di, mix.loopLength);
#if HWY_TARGET != HWY_SCALAR
    const UintTag du;
    // Bytes come from windows inside the image: one from the first lane's
    // byte of each window, and for a looped sample one from the loop start,
    // where a wrapped j and the frames after a jump back read. A lane whose
    // bytes lie in neither is read on its own.
    const auto windowSpan = hn::Set(du, kWindowBytes - 1);  // i and i + 1 both inside
    const auto windowBytes = hn::Set(du, kWindowBytes);
    const auto windowLimit = hn::Set(du, walker.windowLimit);
    const int loopStart = walker.loopStart;
    const bool loopWindowInside = walker.loopWindowInside;
    const ByteWindow loopWindow = loadWindow(loopWindowInside ? mix.data + loopStart : kNoBytes);
    const auto loopStartInt = hn::Set(di, loopStart);
    // A loop that fits its window with the byte after it: frames inside it
    // read every byte there, wrapped or not.
    const bool loopFitsWindow = loopWindowInside && static_cast<uint32_t>(mix.loopLength) < kWindowBytes;
    const auto pastLoop = hn::Set(du, static_cast<uint32_t>(mix.loopLength) + 1u);  // from the loop start
#endif

    for (size_t k = 0; k < count; k += lanes) {
        const auto p = hn::Load(d, positions + k);
        const auto i = hn::ConvertTo(di, p);  // toward zero
        const auto f = hn::Sub(p, hn::ConvertTo(d, i));
        const auto next = hn::Add(i, oneInt);
        const auto wraps = hn::Gt(next, lastBeforeLoopEnd);
        const auto j = hn::IfThenElse(wraps, hn::Sub(next, loopLength), next);

        hn::Vec<FloatTag> a;
        hn::Vec<FloatTag> b;
#if HWY_TARGET != HWY_SCALAR
        const auto fromLoop = hn::Sub(i, loopStartInt);
        if (loopFitsWindow && hn::AllTrue(du, hn::Lt(hn::BitCast(du, fromLoop), pastLoop))) {
            a = hn::ConvertTo(d, lookUp(loopWindow, hn::Sub(j, loopStartInt)));
            b = hn::ConvertTo(d, lookUp(loopWindow, fromLoop));
        } else {
            const auto first = windowFirsts(i);
            const auto offset = hn::Sub(i, first);
            const auto inWindow =
                hn::And(hn::Lt(hn::BitCast(du, offset), windowSpan), hn::Lt(hn::BitCast(du, i), windowLimit));
            const bool allInWindow = hn::AllTrue(du, inWindow);
            const bool anyWraps = !hn::AllFalse(di, wraps);
            if (allInWindow && !anyWraps) {
                const ByteWindow window = ownWindows(mix.data, i);
                a = hn::ConvertTo(d, lookUp(window, hn::Add(offset, oneInt)));
                b = hn::ConvertTo(d, lookUp(window, offset));
            } else if (loopWindowInside && hn::AllTrue(du, hn::Lt(hn::BitCast(du, first), windowLimit))) {
                const auto wrappedFromLoop = hn::Sub(j, loopStartInt);
                const auto inLoopWindow = hn::Lt(hn::BitCast(du, fromLoop), windowSpan);
                const auto wrappedInLoopWindow = hn::Lt(hn::BitCast(du, wrappedFromLoop), windowBytes);
                const auto found = hn::And(hn::Or(inWindow, inLoopWindow),
                                           hn::Or(hn::Not(hn::RebindMask(du, wraps)), wrappedInLoopWindow));
                if (hn::AllTrue(du, found)) {
                    const ByteWindow window = ownWindows(mix.data, i);
                    const auto ownWindow = hn::RebindMask(di, inWindow);
                    const auto atI = hn::IfThenElse(ownWindow, lookUp(window, offset), lookUp(loopWindow, fromLoop));
                    const auto atNext = hn::IfThenElse(ownWindow, lookUp(window, hn::Add(offset, oneInt)),
                                                       lookUp(loopWindow, hn::Add(fromLoop, oneInt)));
                    a = hn::ConvertTo(d, hn::IfThenElse(wraps, lookUp(loopWindow, wrappedFromLoop), atNext));
                    b = hn::ConvertTo(d, atI);
                } else {
                    readLanes(mix, i, j, a, b);
                }
            } else {
                readLanes(mix, i, j, a, b);
            }
        }
#else
        readLanes(mix, i, j, a, b);
#endif

        const auto v = hn::Add(hn::Mul(a, f), hn::Mul(b, hn::Sub(one, f)));
        const auto oldLeft = hn::Load(d, left + k);
        const auto oldRight = hn::Load(d, right + k);
        auto newLeft = hn::Add(oldLeft, hn::Mul(v, leftGain));
        auto newRight = hn::Add(oldRight, hn::Mul(v, rightGain));
        if (k + lanes > count) {
            const auto mine = hn::FirstN(d, count - k);
            newLeft = hn::IfThenElse(mine, newLeft, oldLeft);
            newRight = hn::IfThenElse(mine, newRight, oldRight);
        }
        hn::Store(newLeft, d, left + k);
        hn::Store(newRight, d, right + k);
    }
}

// Where the bytes of a vector of frames come from when its positions allow:
// a window at the first lane's byte, for the whole vector, or (16-byte
// windows) for each half of it (vectors of 16 lanes) or each 128-bit block.
enum class Windows { whole, halves, blocks, none };

// The lanes each window serves.
template <Windows kWindows>
constexpr int windowLanes() {
    constexpr int kLanes = static_cast<int>(hn::MaxLanes(FloatTag()));
    return kWindows == Windows::whole ? kLanes : kWindows == Windows::halves ? kLanes / 2 : 4;
}

// The interpolated value of each frame of a vector of positions that needs
// no test: the positions are below walker.windowsBelow and rise lane by lane,
// and those of a window's lanes lie less than kWindowBytes - 3 bytes apart,
// so that each lane's i and i + 1 lie in the window at its first lane.
template <Windows kWindows>
HWY_INLINE hn::Vec<FloatTag> interpolateInWindows(const ChannelMix& mix, hn::Vec<FloatTag> p) {
    const FloatTag d;
    const IntTag di;
#if HWY_TARGET != HWY_SCALAR
    const ByteTag d8;
    const auto whole = hn::Floor(p);  // positions are never negative: (float)(int)p
    const auto f = hn::Sub(p, whole);
    // The whole part of a position below 2^23, from the bits of the sum
    // (exact) of its floor and 2^23.
    const auto exactWhole = hn::Set(d, static_cast<float>(kExactWholeLimit));
#if HWY_TARGET == HWY_AVX3_DL
    // One window serves every lane. The offsets from its first byte are
    // those of the sums' bits, which differ as the whole parts do.
    const auto wholeBits = hn::BitCast(di, hn::Add(whole, exactWhole));
    const int32_t firstBits = hn::GetLane(wholeBits);
    const int32_t first = firstBits - hn::GetLane(hn::BitCast(di, exactWhole));
    const ByteWindow window = loadWindow(mix.data + first);
    // Each lane's offset into the top byte of its table index.
    const auto firstIndex = hn::Set(di, static_cast<int32_t>(static_cast<uint32_t>(firstBits) << 24));
    const auto index = hn::Sub(hn::ShiftLeft<24>(wholeBits), firstIndex);
#else
    const auto i = hn::Sub(hn::BitCast(di, hn::Add(whole, exactWhole)), hn::BitCast(di, exactWhole));
    ByteWindow window;
    hn::Vec<IntTag> offset;
    if constexpr (kWindows == Windows::whole) {
        const int32_t first = hn::GetLane(i);
        window = loadWindow(mix.data + first);
        offset = hn::Sub(i, hn::Set(di, first));
    } else if constexpr (kWindows == Windows::halves && windowLanes<Windows::halves>() > 4) {
        const hn::Half<IntTag> dh;
        const hn::Half<ByteTag> dh8;
        const int32_t first = hn::GetLane(i);
        const int32_t upperFirst = hn::GetLane(hn::UpperHalf(dh, i));
        window = hn::BitCast(di, hn::Combine(d8, hn::LoadDup128(dh8, mix.data + upperFirst),
                                             hn::LoadDup128(dh8, mix.data + first)));
        offset = hn::Sub(i, hn::Combine(di, hn::Set(dh, upperFirst), hn::Set(dh, first)));
    } else {
        window = hn::BitCast(di, blockWindows(d8, mix.data, i));
        offset = hn::Sub(i, hn::Broadcast<0>(i));
    }
    // Each lane's offset into the top byte of its table index; the other
    // bytes give 0.
    const auto index = hn::Or(hn::ShiftLeft<24>(offset), hn::Set(di, 0x00808080));
#endif
    // The byte at each lane's offset, and the one after it.
    const auto a = hn::ConvertTo(d, lookUpIndex(window, hn::Add(index, hn::Set(di, 1 << 24))));
    const auto b = hn::ConvertTo(d, lookUpIndex(window, index));
#else
    const auto i = hn::ConvertTo(di, p);
    const auto f = hn::Sub(p, hn::ConvertTo(d, i));
    const auto a = hn::Set(d, static_cast<float>(mix.data[hn::GetLane(i) + 1]));
    const auto b = hn::Set(d, static_cast<float>(mix.data[hn::GetLane(i)]));
#endif
    return hn::Add(hn::Mul(a, f), hn::Mul(b, hn::Sub(hn::Set(d, 1.0f), f)));
}

// Whether the vector of positions at `positions` can read from its windows:
// below `below` and rising lane by lane (the lane after it is there).
HWY_INLINE bool inWindows(const float* positions, hn::Vec<FloatTag> below) {
    const FloatTag d;
    const auto p = hn::Load(d, positions);
    return hn::AllTrue(d, hn::And(hn::Le(p, hn::LoadU(d, positions + 1)), hn::Lt(p, below)));
}

// Adds one channel into left and right at frames 0..frames-1 from vectors
// that need no test (above); kTestEach: vectors that may need one are looked
// at, and those that do are mixed with their tests.
template <Windows kWindows, bool kTestEach>
void mixInWindows(const PositionWalker& walker, const float* positions, int frames, float* left, float* right) {
    const FloatTag d;
    const ChannelMix& mix = walker.mix;
    const size_t lanes = hn::Lanes(d);
    const size_t count = static_cast<size_t>(frames);
    const auto leftGain = hn::Set(d, mix.leftGain);
    const auto rightGain = hn::Set(d, mix.rightGain);
    const auto below = hn::Set(d, walker.windowsBelow);
    // Adds the frames' values from k on; only the first `mine` of a vector
    // at the end are the channel's. Once a vector needs its tests, the
    // frames from there on are left to mixTested in one call: a channel whose
    // loop is short needs them in most vectors, and each call's set-up and a
    // choice per vector would cost more than the tests.
    const auto addVector = [&](size_t k, size_t mine) {
        if (kTestEach && !inWindows(positions + k, below)) {
            mixTested(walker, positions + k, static_cast<int>(count - k), left + k, right + k);
            return false;
        }
        const auto v = interpolateInWindows<kWindows>(mix, hn::Load(d, positions + k));
        const auto oldLeft = hn::Load(d, left + k);
        const auto oldRight = hn::Load(d, right + k);
        auto newLeft = hn::Add(oldLeft, hn::Mul(v, leftGain));
        auto newRight = hn::Add(oldRight, hn::Mul(v, rightGain));
        if (mine < lanes) {
            newLeft = hn::IfThenElse(hn::FirstN(d, mine), newLeft, oldLeft);
            newRight = hn::IfThenElse(hn::FirstN(d, mine), newRight, oldRight);
        }
        hn::Store(newLeft, d, left + k);
        hn::Store(newRight, d, right + k);
        return true;
    };
    size_t k = 0;
    for (; k + lanes <= count; k += lanes) {
        if (!addVector(k, lanes)) return;
    }
    if (k < count) addVector(k, count - k);
}

// Adds one channel's first `frames` frames of a part, whose positions are at
// `positions`, with room for a whole vector after them. risingThrough: no
// pass of the channel ended inside the part, so its positions rise
// throughout and the last is the greatest.
HWY_INLINE void addChannel(const PositionWalker& walker, float* positions, int frames, bool risingThrough, float* left,
                           float* right) {
    const FloatTag d;
    // Lanes past the channel's frames repeat its last position: they read
    // the same bytes, and their sums are masked out.
    hn::StoreU(hn::Set(d, positions[frames - 1]), d, positions + frames);
    // Rising throughout, the last position is the greatest.
    const bool testEach = !(risingThrough && positions[frames - 1] < walker.windowsBelow);
    switch (static_cast<Windows>(walker.windows)) {
        case Windows::whole:
            return testEach ? mixInWindows<Windows::whole, true>(walker, positions, frames, left, right)
                            : mixInWindows<Windows::whole, false>(walker, positions, frames, left, right);
        case Windows::halves:
            return testEach ? mixInWindows<Windows::halves, true>(walker, positions, frames, left, right)
                            : mixInWindows<Windows::halves, false>(walker, positions, frames, left, right);
        case Windows::blocks:
            return testEach ? mixInWindows<Windows::blocks, true>(walker, positions, frames, left, right)
                            : mixInWindows<Windows::blocks, false>(walker, positions, frames, left, right);
        case Windows::none: return mixTested(walker, positions, frames, left, right);
    }
}

// Where the walker's frames may read their bytes: the windows that lie inside
// the image, and the widest windows its frames fit. A window's lanes lie
// less than kWindowBytes - 3 bytes apart when its steps span less: each add
// of the chain rounds by at most 2^-7 (positions below windowsBelow), so 15
// steps add less than 0.12 to their span.
void fitWindows(PositionWalker& walker) {
    const ChannelMix& mix = walker.mix;
    walker.windowLimit = mix.readable >= kWindowBytes ? mix.readable - (kWindowBytes - 1) : 0u;
    const uint32_t windows = walker.windowLimit < kRoundingLimit ? walker.windowLimit : kRoundingLimit;
    walker.windowsBelow = static_cast<float>(modMin(mix.loopEnd - 1, static_cast<int32_t>(windows)));
    walker.loopWindowInside =
        mix.loopLength > 2 && static_cast<uint32_t>(walker.loopStart) + kWindowBytes <= mix.readable;

    const int lanes = static_cast<int>(hn::Lanes(FloatTag()));
    const auto spanFits = [&](int lanesPerWindow) {
        return walker.increment * static_cast<float>(lanesPerWindow - 1) < static_cast<float>(kWindowBytes - 3);
    };
    Windows fit = Windows::none;
    if (spanFits(windowLanes<Windows::whole>())) {
        fit = Windows::whole;
    } else if (kWindowBytes == 16 && windowLanes<Windows::halves>() > 4 && spanFits(windowLanes<Windows::halves>())) {
        fit = Windows::halves;
    } else if (kWindowBytes == 16 && lanes > 4 && spanFits(4)) {
        fit = Windows::blocks;
    }
    walker.windows = static_cast<int>(fit);
}

// Writes the positions of frames start..start+n-1 of kGroups groups' lanes
// to their rows (row k: frame start+k, one lane per channel), taking up every
// pass that ends before start+n, and sets ended[g] to the lanes of group g
// (bit l for lane l) whose pass ended after frame start and before start+n.
// The groups' chains of additions are stepped side by side.
template <int kGroups>
HWY_INLINE void stepGroups(WalkerGroup* groups, float (*rows)[kRowFloats], int start, int n, int* ended) {
    const GroupTag dg;
    hn::Vec<GroupTag> position[kGroups];
    hn::Vec<GroupTag> step[kGroups];
    for (int g = 0; g < kGroups; ++g) {
        position[g] = hn::Load(dg, groups[g].position);
        step[g] = hn::Load(dg, groups[g].step);
        ended[g] = 0;
    }
    const auto stepRow = [&](float* row) {
        for (int g = 0; g < kGroups; ++g) {
            hn::Store(position[g], dg, row + g * kRowFloats);
            position[g] = hn::Add(position[g], step[g]);
        }
    };
    // Several frames at a time for a few chains, so that the loop's own
    // bookkeeping costs less than the chains' waits.
    constexpr int kUnroll = kGroups <= 2 ? 4 : kGroups <= 4 ? 2 : 1;
    int k = 0;
    int nextEvent = kNever;
    for (int g = 0; g < kGroups; ++g) nextEvent = modMin(nextEvent, groups[g].nextEvent);
    for (;;) {
        const int run = k + modMin(n - k, nextEvent - (start + k));
        float* row = rows[0] + k * kGroupLanes;
        // Whole unrolled steps only, with no loop for the rest, whose count
        // the processor could not foresee: frames stepped past the run are
        // stepped again from the position stored in the run's last row.
        static_assert(kUnroll - 1 <= kMaxOverrun, "an overrun fits the rows");
        for (; k < run; k += kUnroll) {
            for (int u = 0; u < kUnroll; ++u) stepRow(row + u * kGroupLanes);
            row += kUnroll * kGroupLanes;
        }
        if (k != run) {
            k = run;
            for (int g = 0; g < kGroups; ++g) position[g] = hn::Load(dg, rows[g] + k * kGroupLanes);
        }
        if (k == n) break;
        const int frame = start + k;
        for (int g = 0; g < kGroups; ++g) {
            WalkerGroup& group = groups[g];
            if (group.nextEvent != frame) continue;
            // The lanes whose pass ends here (lanes past the group's size
            // never end one).
            uint32_t due = 0;
            for (int l = 0; l < kGroupChannels; ++l) due |= static_cast<uint32_t>(group.passEnd[l] == frame) << l;
            if (k > 0) ended[g] |= static_cast<int>(due);
            // The lanes change in registers: stored one by one and loaded
            // whole, they would wait for the stores to complete.
            HWY_ALIGN float lanes[kGroupLanes];
            hn::Store(position[g], dg, lanes);
            const hn::RebindToSigned<GroupTag> dgi;
            do {
                const int l = static_cast<int>(hwy::Num0BitsBelowLS1Bit_Nonzero32(due));
                due &= due - 1;
                const auto lane = hn::RebindMask(dg, hn::Eq(hn::Iota(dgi, 0), hn::Set(dgi, l)));
                position[g] = hn::IfThenElse(lane, hn::Set(dg, takeUpPass(group, l, frame, lanes[l])), position[g]);
                step[g] = hn::IfThenElse(lane, hn::Set(dg, group.step[l]), step[g]);
            } while (due != 0);
            findNextEvent(group);
        }
        nextEvent = kNever;
        for (int g = 0; g < kGroups; ++g) nextEvent = modMin(nextEvent, groups[g].nextEvent);
    }
    for (int g = 0; g < kGroups; ++g) {
        hn::Store(position[g], dg, groups[g].position);
        hn::Store(step[g], dg, groups[g].step);
        // Rows past n up to a whole vector repeat the last: positions that
        // were mixed, so that their bytes may be read.
        if (n % kChunkFrames != 0) {
            const auto last = hn::Load(dg, rows[g] + (n - 1) * kGroupLanes);
            for (int r = n; r % kChunkFrames != 0; ++r) hn::Store(last, dg, rows[g] + r * kGroupLanes);
        }
    }
}

// stepGroups for groupCount groups.
void stepAllGroups(WalkerGroup* groups, int groupCount, float (*rows)[kRowFloats], int start, int n, int* ended) {
    if constexpr (kMaxGroups <= 8) {
        switch (groupCount) {
            case 1: return stepGroups<1>(groups, rows, start, n, ended);
            case 2: return stepGroups<2>(groups, rows, start, n, ended);
            case 3: return stepGroups<3>(groups, rows, start, n, ended);
            case 4: return stepGroups<4>(groups, rows, start, n, ended);
            case 5: return stepGroups<5>(groups, rows, start, n, ended);
            case 6: return stepGroups<6>(groups, rows, start, n, ended);
            case 7: return stepGroups<7>(groups, rows, start, n, ended);
            case 8: return stepGroups<8>(groups, rows, start, n, ended);
            default: return;
        }
    } else {
        for (int g = 0; g < groupCount; ++g) stepGroups<1>(groups + g, rows + g, start, n, ended + g);
    }
}

// The rows of n frames as one row of positions per lane.
HWY_INLINE void transposeRows(const float* rows, int n, float (*positions)[kStepFrames + kChunkFrames]) {
    const FloatTag d;
    for (int k = 0; k < n; k += kChunkFrames) {
        if constexpr (kGroupLanes == 4) {
            hn::Vec<FloatTag> p0, p1, p2, p3;
            hn::LoadInterleaved4(d, rows + k * kGroupLanes, p0, p1, p2, p3);
            hn::Store(p0, d, positions[0] + k);
            hn::Store(p1, d, positions[1] + k);
            hn::Store(p2, d, positions[2] + k);
            hn::Store(p3, d, positions[3] + k);
        } else {
            hn::Store(hn::Load(d, rows + k), d, positions[0] + k);
        }
    }
}

void interleaveFrames(const float* left, const float* right, int frames, float* out) {
    const FloatTag d;
    const size_t lanes = hn::Lanes(d);
    const size_t count = static_cast<size_t>(frames);
    size_t k = 0;
    for (; k + lanes <= count; k += lanes) {
        hn::StoreInterleaved2(hn::Load(d, left + k), hn::Load(d, right + k), d, out + 2 * k);
    }
    for (; k < count; ++k) {
        out[2 * k] = left[k];
        out[2 * k + 1] = right[k];
    }
}

void mixStretchVectors(ModPlayer& player, float* out, int count) {
    PositionWalker walkers[kMaxModuleChannels];
    int sounding = 0;
    for (int c = 0; c < player.channelCount; ++c) {
        ModChannel& channel = player.channels[c];
        // Without a pitch a channel adds nothing and stays where it is.
        if (channelSounds(player, channel) && channel.increment > 0.0f) {
            PositionWalker& walker = walkers[sounding++];
            startWalker(walker, player, channel, count);
            fitWindows(walker);
        }
    }
    WalkerGroup groups[kMaxGroups];
    int groupCount = 0;
    for (int first = 0; first < sounding; first += kGroupLanes) {
        startGroup(groups[groupCount++], walkers + first, modMin(kGroupLanes, sounding - first));
    }

    // The positions of the next part of the stretch are stepped before this
    // part is mixed, so that each chain of additions runs beside the mixing.
    HWY_ALIGN float rows[2][kMaxGroups][kRowFloats];
    HWY_ALIGN float positions[kGroupLanes][kStepFrames + kChunkFrames];
    HWY_ALIGN float left[kStepFrames];
    HWY_ALIGN float right[kStepFrames];
    int endedLanes[2][kMaxGroups];
    const auto partEnd = [count](int start) { return modMin(start + kStepFrames, count); };
    stepAllGroups(groups, groupCount, rows[0], 0, partEnd(0), endedLanes[0]);
    for (int start = 0, part = 0; start < count; start = partEnd(start), ++part) {
        const int frames = partEnd(start) - start;
        const int nextStart = partEnd(start);
        if (nextStart < count) {
            const int nextPart = (part + 1) & 1;
            stepAllGroups(groups, groupCount, rows[nextPart], nextStart, partEnd(nextStart) - nextStart,
                          endedLanes[nextPart]);
        }
        for (int k = 0; k < frames; ++k) {
            left[k] = 0.0f;
            right[k] = 0.0f;
        }
        for (int g = 0; g < groupCount; ++g) {
            const WalkerGroup& group = groups[g];
            transposeRows(rows[part & 1][g], frames, positions);
            for (int lane = 0; lane < group.size; ++lane) {
                // A lane's walker may have ended in the next part already.
                const int valid = modMin(frames, modMax(0, group.yielded[lane] - start));
                if (valid > 0 && !group.walkers[lane].silent) {
                    const bool risingThrough = (endedLanes[part & 1][g] & (1 << lane)) == 0;
                    addChannel(group.walkers[lane], positions[lane], valid, risingThrough, left, right);
                }
            }
        }
        interleaveFrames(left, right, frames, out + 2 * start);
    }
    // Passes that end with the stretch, and the positions it leaves.
    for (int g = 0; g < groupCount; ++g) {
        WalkerGroup& group = groups[g];
        for (int lane = 0; lane < group.size; ++lane) {
            PositionWalker& walker = group.walkers[lane];
            if (group.passEnd[lane] == count) takeUpPass(group, lane, count, group.position[lane]);
            walker.channel->position = walker.done ? walker.position : group.position[lane];
        }
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace plinth::mix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace plinth {

PLINTH_KERNEL_TARGETS(mixStretchTargets, mix, mixStretchVectors)

void mixStretchDispatched(ModPlayer& player, float* out, int count) {
    const KernelTargets<MixStretchFunction>& targets = mixStretchTargets();
    if (targets.chosen() == nullptr) return mixStretch(player, out, count);
    if constexpr (!kCheckKernels) {
        targets.chosen()(player, out, count);
    } else {
        ModPlayer referencePlayer = player;
        std::vector<float> reference(2 * static_cast<size_t>(count));
        mixStretch(referencePlayer, reference.data(), count);
        targets.chosen()(player, out, count);
        const int64_t target = targets.chosenTarget();
        checkSameBits("mixStretch", target, "frame values", out, reference.data(), reference.size());
        for (int c = 0; c < player.channelCount; ++c) {
            checkSameValue("mixStretch", target, "channel position", player.channels[c].position,
                           referencePlayer.channels[c].position);
        }
    }
}

ModMixer modDefaultMixer() {
    return mixStretchTargets().chosen() != nullptr ? ModMixer::Vector : ModMixer::Reference;
}

}  // namespace plinth
#endif  // HWY_ONCE
