#pragma once
// A sink that gathers every sample a conversion hands it.

#include <cstdint>
#include <vector>

#include "platform/conversion_control.h"

namespace testsupport {

inline plinth::SampleSink collectInto(std::vector<int16_t>& samples) {
    return plinth::SampleSink{[](void* context, const int16_t* data, std::size_t count) {
                                  auto& out = *static_cast<std::vector<int16_t>*>(context);
                                  out.insert(out.end(), data, data + count);
                                  return true;
                              },
                              &samples};
}

}  // namespace testsupport
