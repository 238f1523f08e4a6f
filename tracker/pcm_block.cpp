// Mixed float values to 16-bit PCM in whole vectors: the same comparisons,
// product and truncation as floatToSample, many values per instruction.

#include "tracker/vector_targets.h"  // first: it sets the targets

#include <vector>

#include "platform/kernel_dispatch.h"
#include "tracker/module_render.h"
#include "tracker/pcm_block.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tracker/pcm_block.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace plinth::pcm {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void floatsToSamplesVectors(const float* values, size_t count, int16_t* samples) {
    const hn::ScalableTag<float> d;
    const hn::RebindToSigned<decltype(d)> di;
    const hn::Rebind<int16_t, decltype(d)> d16;
    const size_t lanes = hn::Lanes(d);
    const auto minusOne = hn::Set(d, -1.0f);
    const auto one = hn::Set(d, 1.0f);
    const auto fullScale = hn::Set(d, 32767.0f);
    size_t k = 0;
    for (; k + lanes <= count; k += lanes) {
        auto x = hn::LoadU(d, values + k);
        // As clampUnit: a value below -1 becomes -1, then one above 1 becomes 1.
        x = hn::IfThenElse(hn::Lt(x, minusOne), minusOne, x);
        x = hn::IfThenElse(hn::Gt(x, one), one, x);
        const auto converted = hn::DemoteTo(d16, hn::ConvertTo(di, hn::Mul(x, fullScale)));
        hn::StoreU(converted, d16, samples + k);
    }
    floatsToSamples(values + k, count - k, samples + k);
}

}  // namespace HWY_NAMESPACE
}  // namespace plinth::pcm
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace plinth {

PLINTH_KERNEL_TARGETS(floatsToSamplesTargets, pcm, floatsToSamplesVectors)

void floatsToSamples(const float* values, size_t count, int16_t* samples) {
    for (size_t i = 0; i < count; ++i) samples[i] = floatToSample(values[i]);
}

void floatsToSamplesDispatched(const float* values, size_t count, int16_t* samples) {
    const KernelTargets<FloatsToSamplesFunction>& targets = floatsToSamplesTargets();
    if (targets.chosen() == nullptr) return floatsToSamples(values, count, samples);
    targets.chosen()(values, count, samples);
    if constexpr (kCheckKernels) {
        std::vector<int16_t> reference(count);
        floatsToSamples(values, count, reference.data());
        checkSameBits("floatsToSamples", targets.chosenTarget(), "samples", samples, reference.data(), count);
    }
}

}  // namespace plinth
#endif  // HWY_ONCE
