#pragma once
// The targets of the tracker's vector kernels: on ARM64 NEON, not the scalable
// extensions (the mixer's byte windows take the lane count as known when it is
// compiled). Included by each of their files before anything that includes
// Highway.

#ifdef HIGHWAY_HWY_DETECT_TARGETS_H_
#error "tracker/vector_targets.h must come before Highway's headers"
#endif

// Processors with byte permutes across a whole 512-bit vector get a target of
// their own: the mixer reads its sample bytes through them.
#define HWY_WANT_AVX3_DL
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
