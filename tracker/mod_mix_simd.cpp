// The vector mixer. A stretch is mixed in blocks of frames. For each block
// the positions of a few channels are stepped first, their chains of
// additions interleaved so that each waits less on the one before; then each
// channel's frames are interpolated, scaled and added in whole vectors, the
// channels in order. Every value is computed by the same operations in the
// same order as in the plain mixChannel, so the frames equal it to the bit.

#include "tracker/vector_targets.h"  // first: it sets the targets

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/kernel_dispatch.h"
#include "tracker/mod_mix.h"

// Built once, not per instruction set: the position chains are scalar.
#ifndef PLINTH_MOD_MIX_SIMD_ONCE
#define PLINTH_MOD_MIX_SIMD_ONCE
namespace plinth::mix {

constexpr int kBlockFrames = 512;
constexpr int kGroupChannels = 4;
// Room after a block for one more vector of the widest instruction set.
constexpr int kVectorSlack = 64;

// One channel's mixChannel call over a stretch, taken up block by block: the
// position of each frame it mixes, pass after pass, stepped exactly as the
// plain mixer steps them.
struct PositionWalker {
    ModChannel* channel;
    ChannelMix mix;
    float position;
    float increment;
    int left;      // frames left in the call, as mixChannel counts them
    int pass;      // frames of the current pass
    int passLeft;  // of which not yet stepped
    bool done;
};

inline void startPass(PositionWalker& walker) {
    walker.pass = passFrames(walker.mix, walker.position, walker.increment, walker.left);
    walker.passLeft = walker.pass;
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
    startPass(walker);
}

static_assert(kGroupChannels == 4, "stepChains steps four chains");

// Writes `frames` positions of four chains, each position the one before plus
// its step, and leaves in p the position after the last.
inline void stepChains(float* const* out, float* p, const float* step, int frames) {
    float* const out0 = out[0];
    float* const out1 = out[1];
    float* const out2 = out[2];
    float* const out3 = out[3];
    float p0 = p[0], p1 = p[1], p2 = p[2], p3 = p[3];
    const float step0 = step[0], step1 = step[1], step2 = step[2], step3 = step[3];
    for (int k = 0; k < frames; ++k) {
        out0[k] = p0;
        out1[k] = p1;
        out2[k] = p2;
        out3[k] = p3;
        p0 = p0 + step0;
        p1 = p1 + step1;
        p2 = p2 + step2;
        p3 = p3 + step3;
    }
    p[0] = p0;
    p[1] = p1;
    p[2] = p2;
    p[3] = p3;
}

// Steps the walkers of a group (up to kGroupChannels) through at most `room`
// frames, writing walker g's positions to positions[g] and how many it
// yielded to yielded[g]. A walker yields every frame until its call ends, so
// all those still going have yielded the same number.
inline void stepGroup(PositionWalker* group, int size, float (*positions)[kBlockFrames + kVectorSlack], int room,
                      int* yielded) {
    float unused[kBlockFrames];
    int frames = 0;
    for (int g = 0; g < size; ++g) yielded[g] = 0;
    for (;;) {
        int take = room - frames;
        bool going = false;
        for (int g = 0; g < size; ++g) {
            if (group[g].done) continue;
            going = true;
            if (group[g].passLeft < take) take = group[g].passLeft;
        }
        if (!going || take == 0) break;

        // Four chains side by side, so that each add need not wait for the
        // one before; idle lanes step zeros into a scratch row.
        float* out[kGroupChannels];
        float p[kGroupChannels];
        float step[kGroupChannels];
        for (int g = 0; g < kGroupChannels; ++g) {
            const bool live = g < size && !group[g].done;
            out[g] = live ? positions[g] + frames : unused;
            p[g] = live ? group[g].position : 0.0f;
            step[g] = live ? group[g].increment : 0.0f;
        }
        stepChains(out, p, step, take);
        frames += take;
        for (int g = 0; g < size; ++g) {
            PositionWalker& walker = group[g];
            if (walker.done) continue;
            walker.position = p[g];
            walker.passLeft -= take;
            if (walker.passLeft == 0) finishPass(walker);
            if (walker.done) yielded[g] = frames;
        }
    }
    for (int g = 0; g < size; ++g) {
        if (!group[g].done) yielded[g] = frames;
    }
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
constexpr size_t kMaxLanes = HWY_MAX_BYTES / sizeof(float);
static_assert(kMaxLanes <= kVectorSlack, "block rows leave room for one vector");
static_assert(kBlockFrames % kMaxLanes == 0, "blocks are whole vectors");

// The sample bytes at j and i of each lane, read one by one with the plain
// mixer's bounds test.
void readLanes(const ChannelMix& mix, hn::Vec<IntTag> i, hn::Vec<IntTag> j, hn::Vec<FloatTag>& a,
               hn::Vec<FloatTag>& b) {
    const FloatTag d;
    const IntTag di;
    HWY_ALIGN int32_t iLanes[kMaxLanes];
    HWY_ALIGN int32_t jLanes[kMaxLanes];
    HWY_ALIGN float aLanes[kMaxLanes];
    HWY_ALIGN float bLanes[kMaxLanes];
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
    HWY_ALIGN int32_t firsts[kMaxLanes];
    hn::Store(i, IntTag(), firsts);
    return blockWindows(d, data, firsts);
}
#endif

// Adds one channel into frames 0..frames-1 of the block, given the position
// of each frame. positions has room for a whole vector past `frames`.
void mixPositions(const ChannelMix& mix, float* positions, int frames, float* left, float* right) {
    const FloatTag d;
    const IntTag di;
    const size_t lanes = hn::Lanes(d);
    const size_t count = static_cast<size_t>(frames);
    // Lanes past the channel's frames repeat its last position: they read
    // the same bytes, and their sums are masked out.
    for (size_t k = count; k < count + lanes; ++k) positions[k] = positions[count - 1];

    const auto one = hn::Set(d, 1.0f);
    const auto leftGain = hn::Set(d, mix.leftGain);
    const auto rightGain = hn::Set(d, mix.rightGain);
    const auto oneInt = hn::Set(di, 1);
    const auto lastBeforeLoopEnd = hn::Set(di, mix.loopEnd - 1);
    const auto loopLength = hn::Set(di, mix.loopLength);
#if HWY_TARGET != HWY_SCALAR
    const UintTag du;
    const ByteTag d8;
    // Bytes come from sixteen-byte windows inside the image: one from the
    // first lane's byte in each 128-bit block, and for a looped sample one
    // from the loop start, where a wrapped j and the frames after a jump back
    // read. A lane whose bytes lie in neither is read on its own.
    const auto windowSpan = hn::Set(du, 15u);  // i and i + 1 both inside
    const auto windowBytes = hn::Set(du, 16u);
    const auto windowLimit = hn::Set(du, mix.readable > 15 ? mix.readable - 15 : 0u);
    const int loopStart = mix.loopEnd - mix.loopLength;
    const bool loopWindowInside = mix.loopLength > 2 && static_cast<uint32_t>(loopStart) + 16u <= mix.readable;
    const auto loopWindow =
        loopWindowInside ? hn::BitCast(di, hn::LoadDup128(d8, mix.data + loopStart)) : hn::Zero(di);
    const auto loopStartInt = hn::Set(di, loopStart);
    const auto emptyBytes = hn::Set(di, 0x00808080);  // table indices that give 0
    // The byte at `offset` in each lane's window, sign-extended.
    const auto lookUp = [&](hn::Vec<IntTag> window, hn::Vec<IntTag> offset) {
        const auto index = hn::Or(hn::ShiftLeft<24>(offset), emptyBytes);  // lands in the top byte
        return hn::ShiftRight<24>(hn::TableLookupBytesOr0(window, index));
    };
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
        const auto first = hn::Broadcast<0>(i);
        const auto offset = hn::Sub(i, first);
        const auto inWindow = hn::And(hn::Lt(hn::BitCast(du, offset), windowSpan), hn::Lt(hn::BitCast(du, i), windowLimit));
        const bool allInWindow = hn::AllTrue(du, inWindow);
        const bool anyWraps = !hn::AllFalse(di, wraps);
        if (allInWindow && !anyWraps) {
            const auto window = hn::BitCast(di, blockWindows(d8, mix.data, i));
            a = hn::ConvertTo(d, lookUp(window, hn::Add(offset, oneInt)));
            b = hn::ConvertTo(d, lookUp(window, offset));
        } else if (loopWindowInside && hn::AllTrue(du, hn::Lt(hn::BitCast(du, first), windowLimit))) {
            const auto fromLoop = hn::Sub(i, loopStartInt);
            const auto wrappedFromLoop = hn::Sub(j, loopStartInt);
            const auto inLoopWindow = hn::Lt(hn::BitCast(du, fromLoop), windowSpan);
            const auto wrappedInLoopWindow = hn::Lt(hn::BitCast(du, wrappedFromLoop), windowBytes);
            const auto found =
                hn::And(hn::Or(inWindow, inLoopWindow), hn::Or(hn::Not(hn::RebindMask(du, wraps)), wrappedInLoopWindow));
            if (hn::AllTrue(du, found)) {
                const auto window = hn::BitCast(di, blockWindows(d8, mix.data, i));
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
            startWalker(walkers[sounding++], player, channel, count);
        }
    }

    HWY_ALIGN float left[kBlockFrames];
    HWY_ALIGN float right[kBlockFrames];
    HWY_ALIGN float positions[kGroupChannels][kBlockFrames + kVectorSlack];
    for (int start = 0; start < count; start += kBlockFrames) {
        const int frames = modMin(kBlockFrames, count - start);
        for (int k = 0; k < frames; ++k) {
            left[k] = 0.0f;
            right[k] = 0.0f;
        }
        for (int first = 0; first < sounding; first += kGroupChannels) {
            const int size = modMin(kGroupChannels, sounding - first);
            int yielded[kGroupChannels];
            stepGroup(walkers + first, size, positions, frames, yielded);
            for (int g = 0; g < size; ++g) {
                if (yielded[g] > 0) mixPositions(walkers[first + g].mix, positions[g], yielded[g], left, right);
            }
        }
        interleaveFrames(left, right, frames, out + 2 * start);
    }
    for (int w = 0; w < sounding; ++w) walkers[w].channel->position = walkers[w].position;
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
