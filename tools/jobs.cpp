#include "tools/jobs.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/batch_plan.h"
#include "app/convert_file.h"

namespace plinth {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Everything the tool writes to stderr while conversions run goes through
// here, so that messages and the progress line never cut into each other.
class Console {
public:
    Console(bool progress, std::size_t total) : progress_(progress), total_(total), start_(Clock::now()) {}

    void message(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        clearLine();
        std::fprintf(stderr, "plinth: %s\n", text.c_str());
        drawLine();
    }

    // Lines a library's entry would print, as they stand.
    void libraryLines(const std::string& text) {
        if (text.empty()) return;
        std::lock_guard<std::mutex> lock(mutex_);
        clearLine();
        std::fputs(text.c_str(), stderr);
        drawLine();
    }

    void finished() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++done_;
        drawLine();
    }

    void redraw() {
        std::lock_guard<std::mutex> lock(mutex_);
        drawLine();
    }

    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        clearLine();
        progress_ = false;
    }

    Clock::time_point start() const { return start_; }

private:
    void clearLine() {
        if (progress_ && drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

    void drawLine() {
        if (!progress_) return;
        const double elapsed = secondsSince(start_);
        char line[160];
        if (done_ == 0) {
            std::snprintf(line, sizeof line, "\r\033[Kplinth: %zu/%zu files, %.1f s elapsed", done_, total_, elapsed);
        } else {
            const double left = elapsed / static_cast<double>(done_) * static_cast<double>(total_ - done_);
            std::snprintf(line, sizeof line, "\r\033[Kplinth: %zu/%zu files, %.1f s elapsed, about %.1f s left",
                          done_, total_, elapsed, left);
        }
        std::fputs(line, stderr);
        std::fflush(stderr);
        drawn_ = true;
    }

    std::mutex mutex_;
    bool progress_;
    bool drawn_ = false;
    std::size_t total_;
    std::size_t done_ = 0;
    Clock::time_point start_;
};

// An interrupt, termination or hang-up signal stops every conversion at its
// next block: their unfinished outputs are removed, finished ones kept. The
// flag is the one piece of process-wide state, as a signal handler needs; a
// later signal changes nothing.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void requestStop(int signal) {
    int none = 0;
    gStopSignal.compare_exchange_strong(none, signal);
}

void watchStopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

int runConversions(const Options& options) {
    const Clock::time_point start = Clock::now();
    for (const std::string& folder : {options.batch ? options.outputDir : std::string(), options.stemsDir}) {
        std::string error;
        if (!folder.empty() && !makeFolders(folder, error)) {
            std::fprintf(stderr, "plinth: %s\n", error.c_str());
            return kExitFailure;
        }
    }
    std::vector<Job> jobs = options.batch ? planBatch(options.inputs, options.outputDir, options.force, options.stemsDir)
                                          : planJobs(options.inputs, {options.output}, options.force, options.stemsDir);
    for (Job& job : jobs) {
        if (!job.refusal.empty()) continue;
        job.refusal = closedDescriptorRefusal(job.input, true, options.closedDescriptors);
        if (job.refusal.empty()) job.refusal = closedDescriptorRefusal(job.output, false, options.closedDescriptors);
    }
    const std::size_t total = jobs.size();
    const bool showProgress = options.batch && isatty(STDERR_FILENO) == 1;
    Console console(showProgress, total);
    watchStopSignals();

    std::vector<char> succeeded(total, 0);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> started{0};
    std::atomic<std::size_t> workersLeft{0};
    std::mutex doneMutex;
    std::condition_variable allDone;

    // Each worker takes the next job until none is left or a stop was asked
    // for, which also ends the conversion under way at its next block.
    Progress progress;
    progress.stop = &gStopSignal;
    auto work = [&]() {
        for (;;) {
            if (gStopSignal.load() != 0) break;
            const std::size_t index = next.fetch_add(1);
            if (index >= total) break;
            started.fetch_add(1);
            const Job& job = jobs[index];
            if (!job.refusal.empty()) {
                console.message(job.refusal);
            } else {
                const ConversionResult result =
                    convertFile(options.conversion, job.input, job.output, &progress, job.stems);
                console.libraryLines(result.libraryLines);
                for (const std::string& text : result.messages) console.message(text);
                if (result.ok) {
                    succeeded[index] = 1;
                } else {
                    console.message(result.error);
                }
            }
            console.finished();
        }
        if (workersLeft.fetch_sub(1) == 1) {
            std::lock_guard<std::mutex> lock(doneMutex);
            allDone.notify_all();
        }
    };

    const std::size_t threadCount =
        std::max<std::size_t>(1, std::min<std::size_t>(static_cast<std::size_t>(options.jobs), total));
    workersLeft.store(threadCount);
    std::vector<std::thread> threads;
    threads.reserve(threadCount);
    try {
        for (std::size_t i = 0; i < threadCount; ++i) threads.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the missing ones count as done.
        workersLeft.fetch_sub(threadCount - threads.size());
        if (threads.empty()) {
            workersLeft.store(1);
            work();
        }
    }
    bool stopNoticed = false;
    {
        std::unique_lock<std::mutex> lock(doneMutex);
        while (workersLeft.load() != 0) {
            // Wakes now and then to keep the elapsed time moving and to notice a stop.
            allDone.wait_for(lock, std::chrono::milliseconds(200));
            if (showProgress) console.redraw();
            const int stopSignal = gStopSignal.load();
            if (stopSignal == 0) continue;
            if (!stopNoticed) {
                stopNoticed = true;
                console.message("interrupted: stopping the conversions under way");
            }
            // A worker blocked in a system call (opening a pipe that has no
            // reader, writing to a full one) is woken by the signal itself,
            // sent again now and then in case it came before the call.
            for (std::thread& thread : threads) pthread_kill(thread.native_handle(), stopSignal);
        }
    }
    for (std::thread& thread : threads) thread.join();
    console.close();

    std::size_t converted = 0;
    for (char ok : succeeded) converted += ok != 0 ? 1 : 0;
    const std::size_t notStarted = total - started.load();
    const std::size_t failed = total - converted - notStarted;
    if (options.batch || notStarted != 0) {
        std::fprintf(stderr, "plinth: %zu converted, %zu failed", converted, failed);
        if (notStarted != 0) std::fprintf(stderr, ", %zu not started", notStarted);
        std::fprintf(stderr, ", %.2f s\n", secondsSince(start));
    }
    const int stopSignal = gStopSignal.load();
    if (stopSignal != 0) return 128 + stopSignal;  // as a shell reports a process the signal ended
    return converted == total ? kExitSuccess : kExitFailure;
}

}  // namespace plinth
