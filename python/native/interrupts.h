#pragma once
// Ctrl-C during a conversion that runs without the GIL. Python only runs its
// signal handlers on the main thread while it holds the GIL; on that thread
// the conversion takes the GIL back now and then to let them run, and a
// handler's exception (KeyboardInterrupt) stops the conversion between blocks
// or while it waits for its input, and is raised once the conversion has let
// go of its files. Off the main thread a caller's own test can stop it.

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <optional>

#include "platform/conversion_control.h"

namespace plinth::python {

class InterruptWatch {
public:
    // With the GIL held. `stopTest`, when not None, is called (with the GIL)
    // as often as the signals are looked at; a true result stops the conversion.
    explicit InterruptWatch(pybind11::object stopTest = pybind11::none());
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Without the GIL: true once the conversion should stop.
    bool stopRequested();

    // A Progress whose stop flag this watch sets; it looks whenever asked.
    const Progress* progress() const { return &progress_; }

    // With the GIL: raises the handler's exception when one stopped the
    // conversion, or one still waiting to run (a signal that cut a system
    // call short), so that a failure it caused is never raised in its place.
    void raisePending();

private:
    static bool onCheck(void* context);

    std::atomic<int> stop_{0};
    Progress progress_;
    bool mainThread_ = false;
    pybind11::object stopTest_;
    std::chrono::steady_clock::time_point nextCheck_;
    std::optional<pybind11::error_already_set> pending_;
};

}  // namespace plinth::python
