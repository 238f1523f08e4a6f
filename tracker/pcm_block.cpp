// Mixed float values to 16-bit PCM in whole vectors: the same comparisons,
// product and truncation as floatToSample, many values per instruction.

#include "pcm_block.h"

#include "modwav.h"
#include "vector_targets.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pcm_block.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "16-bit lanes are stored as little-endian bytes");

HWY_BEFORE_NAMESPACE();
namespace plinth::pcm {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void FloatsToPcm16(const float* values, size_t count, uint8_t* bytes) {
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
        const auto samples = hn::DemoteTo(d16, hn::ConvertTo(di, hn::Mul(x, fullScale)));
        hn::StoreU(samples, d16, reinterpret_cast<int16_t*>(bytes + 2 * k));
    }
    floatsToPcm16Reference(values + k, count - k, bytes + 2 * k);
}

}  // namespace HWY_NAMESPACE
}  // namespace plinth::pcm
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace plinth::pcm {
HWY_EXPORT(FloatsToPcm16);
// Called by name from within the table's namespace, as the dispatch requires.
void dispatchFloatsToPcm16(const float* values, size_t count, uint8_t* bytes) {
    HWY_DYNAMIC_DISPATCH(FloatsToPcm16)(values, count, bytes);
}
}  // namespace plinth::pcm

void floatsToPcm16Reference(const float* values, size_t count, uint8_t* bytes) {
    for (size_t i = 0; i < count; ++i) {
        const uint16_t sample = static_cast<uint16_t>(floatToSample(values[i]));
        bytes[2 * i] = static_cast<uint8_t>(sample & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
    }
}

void floatsToPcm16Vectors(const float* values, size_t count, uint8_t* bytes) {
    plinth::pcm::dispatchFloatsToPcm16(values, count, bytes);
}

void floatsToPcm16(const float* values, size_t count, uint8_t* bytes) {
    if (modDefaultMixer() == ModMixer::Vector) {
        floatsToPcm16Vectors(values, count, bytes);
    } else {
        floatsToPcm16Reference(values, count, bytes);
    }
}
#endif  // HWY_ONCE
