#pragma once
// Shared by the files of vector code, each of which includes this before
// Highway: on ARM64 the vector code is NEON, without the scalable extensions.

#include <cstdint>

#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif

namespace plinth {

// The instruction sets the vector code is built for, as a mask of Highway
// targets; the tests run each of them that the machine has.
int64_t vectorTargets();

}  // namespace plinth
