#pragma once
// PLINTH_SCALAR=1 in the environment makes every optimised kernel give way to
// the plain code it equals bit for bit, for diagnosis. Read once per process.

namespace plinth {

bool scalarKernelsForced();

}  // namespace plinth
