// Frames to filter input in whole vectors: a frame of two 16-bit samples is
// read as one 32-bit lane, its halves sign-extended by shifts, summed and
// halved by an arithmetic shift (the floor of the mean), then converted to
// float, exactly as the plain loop does one frame at a time.

#include <cstddef>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "resampler/dsp/frame_input.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "platform/kernel_dispatch.h"
#include "platform/vector_exit-inl.h"
#include "resampler/dsp/frame_input.h"

HWY_BEFORE_NAMESPACE();
namespace plinth::frames {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

HWY_ATTR void framesToFilterInputVectors(const int16_t* items, int frames, int channels, ChannelChoice choice,
                                         float* samples) {
    const hn::ScalableTag<int32_t> di;
    const hn::RebindToFloat<decltype(di)> df;
    const std::ptrdiff_t lanes = static_cast<std::ptrdiff_t>(hn::Lanes(di));
    std::ptrdiff_t k = 0;
    if (channels == 1) {
        const hn::Rebind<int16_t, decltype(di)> d16;
        for (; k + lanes <= frames; k += lanes) {
            hn::StoreU(hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d16, items + k))), df, samples + k);
        }
    } else if (channels == 2) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && HWY_TARGET != HWY_SCALAR
        // A frame's first sample is the low half of its lane (one lane holds
        // a whole frame wherever the lanes are 32 bits wide).
        const hn::Repartition<int16_t, decltype(di)> pairs;
        auto convert = [&](auto take) {
            for (; k + lanes <= frames; k += lanes) {
                const auto frame = hn::BitCast(di, hn::LoadU(pairs, items + 2 * k));
                hn::StoreU(hn::ConvertTo(df, take(frame)), df, samples + k);
            }
        };
        if (choice.mix) {
            convert([](auto frame) {
                return hn::ShiftRight<1>(hn::Add(hn::ShiftRight<16>(hn::ShiftLeft<16>(frame)), hn::ShiftRight<16>(frame)));
            });
        } else if (choice.channel == 1) {
            convert([](auto frame) { return hn::ShiftRight<16>(frame); });
        } else {
            convert([](auto frame) { return hn::ShiftRight<16>(hn::ShiftLeft<16>(frame)); });
        }
#endif
    }
    vectors::HWY_NAMESPACE::leaveVectorCode();
    framesToFilterInput(items + k * channels, frames - static_cast<int>(k), channels, choice, samples + k);
}

}  // namespace HWY_NAMESPACE
}  // namespace plinth::frames
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace plinth {

PLINTH_KERNEL_TARGETS(framesToFilterInputTargets, frames, framesToFilterInputVectors)

namespace {

// a / b rounded toward minus infinity, b positive.
int32_t floorDivide(int32_t a, int32_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

void framesToFilterInput(const int16_t* items, int frames, int channels, ChannelChoice choice, float* samples) {
    if (channels == 1) {
        for (int k = 0; k < frames; ++k) samples[k] = static_cast<float>(items[k]);
    } else if (choice.mix && channels == 2) {
        // The general rule below, with the division a shift.
        for (int k = 0; k < frames; ++k) {
            const int32_t sum = static_cast<int32_t>(items[2 * k]) + items[2 * k + 1];
            samples[k] = static_cast<float>(sum >> 1);
        }
    } else if (choice.mix) {
        // At most 65535 channels of -32768: the sum fits.
        for (int k = 0; k < frames; ++k) {
            const int16_t* frame = items + static_cast<std::ptrdiff_t>(k) * channels;
            int32_t sum = 0;
            for (int c = 0; c < channels; ++c) sum += frame[c];
            samples[k] = static_cast<float>(floorDivide(sum, channels));
        }
    } else {
        for (int k = 0; k < frames; ++k)
            samples[k] = static_cast<float>(items[static_cast<std::ptrdiff_t>(k) * channels + choice.channel]);
    }
}

void framesToFilterInputDispatched(const int16_t* items, int frames, int channels, ChannelChoice choice,
                                   float* samples) {
    const KernelTargets<FramesToFilterInputFunction>& targets = framesToFilterInputTargets();
    if (targets.chosen() == nullptr || channels > 2) {
        framesToFilterInput(items, frames, channels, choice, samples);
        return;
    }
    targets.chosen()(items, frames, channels, choice, samples);
    if constexpr (kCheckKernels) {
        std::vector<float> reference(static_cast<std::size_t>(frames > 0 ? frames : 0));
        framesToFilterInput(items, frames, channels, choice, reference.data());
        checkSameBits("framesToFilterInput", targets.chosenTarget(), "samples", samples, reference.data(),
                      reference.size());
    }
}

}  // namespace plinth
#endif  // HWY_ONCE
