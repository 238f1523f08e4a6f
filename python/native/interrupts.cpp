#include "python/native/interrupts.h"

namespace py = pybind11;

namespace plinth::python {
namespace {

// Often enough for Ctrl-C to feel immediate, rarely enough to cost nothing.
constexpr std::chrono::milliseconds kCheckInterval{50};

}  // namespace

InterruptWatch::InterruptWatch(py::object stopTest) : stopTest_(std::move(stopTest)) {
    progress_.stop = &stop_;
    progress_.check = onCheck;
    progress_.context = this;
    const py::object threading = py::module_::import("threading");
    mainThread_ = threading.attr("current_thread")().is(threading.attr("main_thread")());
    nextCheck_ = std::chrono::steady_clock::now() + kCheckInterval;
}

bool InterruptWatch::stopRequested() {
    if (stop_.load(std::memory_order_relaxed) != 0) return true;
    if (!mainThread_ && stopTest_.is_none()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextCheck_) return false;
    nextCheck_ = now + kCheckInterval;
    py::gil_scoped_acquire gil;
    if (mainThread_ && PyErr_CheckSignals() != 0) {
        pending_.emplace();  // takes the handler's exception
        stop_.store(1, std::memory_order_relaxed);
    } else if (!stopTest_.is_none()) {
        try {
            if (py::bool_(stopTest_())) stop_.store(1, std::memory_order_relaxed);
        } catch (py::error_already_set& error) {
            pending_.emplace(std::move(error));  // the test's own exception is raised in the end
            stop_.store(1, std::memory_order_relaxed);
        }
    }
    return stop_.load(std::memory_order_relaxed) != 0;
}

void InterruptWatch::raisePending() {
    if (pending_) {
        py::error_already_set error = std::move(*pending_);
        pending_.reset();
        throw error;
    }
    if (mainThread_ && PyErr_CheckSignals() != 0) throw py::error_already_set();
}

bool InterruptWatch::onCheck(void* context) { return static_cast<InterruptWatch*>(context)->stopRequested(); }

}  // namespace plinth::python
