#pragma once
// What a caller hands to a conversion besides its input: which channel it
// takes, where the samples go, and a way to stop it between blocks and while
// it waits for its input.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace plinth {

// What the frames become: one channel, or the mix of all of them (with the
// default filter the floor of their integer sum divided by their count, for
// two the floor of the mean), or every channel kept, each converted exactly as
// it would be if it were chosen alone.
struct ChannelChoice {
    bool mix = false;
    bool all = false;
    int channel = 0;  // 0-based, when neither mixed nor all kept
};

// Receives 16-bit samples (interleaved when there are several channels);
// false stops the conversion as a failed write.
struct SampleSink {
    bool (*write)(void* context, const int16_t* samples, std::size_t count) = nullptr;
    void* context = nullptr;
};

struct Progress {
    // Set by another thread or a signal handler: the conversion stops at the
    // next block, or at once while it waits for input, and fails as stopped.
    const std::atomic<int>* stop = nullptr;
    // Asked between blocks and now and then while the input is awaited, for a
    // caller that notices a stop only by looking (Python runs its signal
    // handlers there); true stops the conversion as the flag does.
    bool (*check)(void* context) = nullptr;
    void* context = nullptr;
};

inline bool stopRequested(const Progress* progress) {
    if (progress == nullptr) return false;
    if (progress->stop != nullptr && progress->stop->load(std::memory_order_relaxed) != 0) return true;
    return progress->check != nullptr && progress->check(progress->context);
}

}  // namespace plinth
