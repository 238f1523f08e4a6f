#pragma once
// Shared by the files of vector code, each of which includes this before
// Highway: on ARM64 the vector code is NEON, without the scalable extensions.


#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif

namespace plinth {

// The instruction sets the vector code is built for that this machine runs,
// best first (index 0 is the one used), and their names; the tests run each.
int vectorTargetCount();
const char* vectorTargetName(int target);

}  // namespace plinth
