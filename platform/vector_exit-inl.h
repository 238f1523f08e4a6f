// Per-target code shared by the vector kernels: included by a kernel's file
// after Highway, once for each target foreach_target compiles (hence the
// toggle instead of an include guard).
//
// A kernel on 256- or 512-bit x86 vectors leaves the upper halves of the
// vector registers set when it returns, and then every SSE instruction of
// plain code compiled for the baseline (the references, our scalar loops, the
// C library's) carries a false dependency on them and runs several times
// slower. The compiler does not clear them at the end of code compiled for a
// target by pragma, so each kernel clears them itself before it returns or
// calls plain code.

#if defined(PLINTH_VECTOR_EXIT_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef PLINTH_VECTOR_EXIT_INL_H_
#undef PLINTH_VECTOR_EXIT_INL_H_
#else
#define PLINTH_VECTOR_EXIT_INL_H_
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace plinth::vectors {
namespace HWY_NAMESPACE {

// Clears the upper halves of the vector registers where this target has them.
HWY_INLINE void leaveVectorCode() {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX2
    _mm256_zeroupper();
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace plinth::vectors
HWY_AFTER_NAMESPACE();

#endif  // PLINTH_VECTOR_EXIT_INL_H_
