// Mixed float values to 16-bit PCM in whole vectors: the same comparisons,
// product and truncation as floatToSample, many values per instruction.

#include "tracker/pcm_block.h"

#include <iterator>
#include "platform/cpu_targets.h"

#include "tracker/module_render.h"
#include "platform/scalar_switch.h"
#include "tracker/vector_targets.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tracker/pcm_block.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>


HWY_BEFORE_NAMESPACE();
namespace plinth::pcm {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void FloatsToSamples(const float* values, size_t count, int16_t* samples) {
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
    floatsToSamplesReference(values + k, count - k, samples + k);
}

}  // namespace HWY_NAMESPACE
}  // namespace plinth::pcm
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace plinth::pcm {
namespace {

using ConvertFunction = void (*)(const float*, size_t, int16_t*);

constexpr TargetEntry<ConvertFunction> kCompiledTargets[] = {
#define PLINTH_TARGET_FUNCTION FloatsToSamples
#include "platform/vector_target_table.inc"
#undef PLINTH_TARGET_FUNCTION
};

// The compiled targets this machine runs, best first; computed once.
const RunnableEntries<ConvertFunction, std::size(kCompiledTargets)>& runnable() {
    static const auto result = runnableEntries(kCompiledTargets);
    return result;
}

}  // namespace
}  // namespace plinth::pcm

namespace plinth {

void floatsToSamplesReference(const float* values, size_t count, int16_t* samples) {
    for (size_t i = 0; i < count; ++i) samples[i] = floatToSample(values[i]);
}

void floatsToSamplesVectors(const float* values, size_t count, int16_t* samples) {
    floatsToSamplesWithTarget(0, values, count, samples);
}

void floatsToSamplesWithTarget(int target, const float* values, size_t count, int16_t* samples) {
    pcm::runnable().entries[target]->function(values, count, samples);
}

void floatsToSamples(const float* values, size_t count, int16_t* samples) {
    if (scalarKernelsForced()) {
        floatsToSamplesReference(values, count, samples);
    } else {
        floatsToSamplesVectors(values, count, samples);
    }
}

}  // namespace plinth
#endif  // HWY_ONCE
