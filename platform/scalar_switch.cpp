#include "platform/scalar_switch.h"

#include <cstdlib>
#include <cstring>

namespace plinth {

bool scalarKernelsForced() {
    // A function-local constant: initialised once, safely across threads.
    static const bool forced = [] {
        const char* value = std::getenv("PLINTH_SCALAR");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return forced;
}

}  // namespace plinth
