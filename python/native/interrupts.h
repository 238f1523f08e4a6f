#pragma once
// Ctrl-C during a conversion that runs without the GIL. Python only runs its
// signal handlers on the main thread while it holds the GIL; on that thread
// the conversion takes the GIL back now and then to let them run, and a
// handler's exception (KeyboardInterrupt) stops the conversion between blocks
// and is raised once the conversion has let go of its output.

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <optional>

#include "platform/conversion_control.h"

namespace plinth::python {

class InterruptWatch {
public:
    InterruptWatch();  // with the GIL held
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Without the GIL: true once the conversion should stop.
    bool stopRequested();

    // A Progress whose stop flag this watch sets; it polls on every report.
    const Progress* progress() const { return &progress_; }

    // With the GIL: raises the handler's exception when one stopped the conversion.
    void raisePending();

private:
    static void onReport(void* context, uint64_t done, uint64_t total);

    std::atomic<int> stop_{0};
    Progress progress_;
    bool mainThread_ = false;
    std::chrono::steady_clock::time_point nextCheck_;
    std::optional<pybind11::error_already_set> pending_;
};

}  // namespace plinth::python
