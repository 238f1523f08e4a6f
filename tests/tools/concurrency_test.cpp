// Conversions side by side: both exported functions on many threads at once,
// and the tool's batches on many threads, give what one at a time gives.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "plinth/modwav.h"
#include "plinth/resample_wav.h"
#include "tests/tools/tool_test_support.h"

using namespace tooltest;

namespace {

TEST(Concurrency, BothExportsOnManyThreadsWriteWhatOneThreadWrites) {
    TempDir dir;
    const std::size_t threads = 8;
    for (std::size_t i = 0; i < threads; ++i) {
        writeBytes(dir / ("in" + std::to_string(i) + ".wav"),
                   sawtoothWav(1 + i % 2, 22050 + 1000 * static_cast<uint32_t>(i), 30000));
    }
    writeBytes(dir / "song.mod", makeModule());
    // One at a time first.
    for (std::size_t i = 0; i < threads; ++i) {
        const std::string n = std::to_string(i);
        ASSERT_EQ(ResampleWav(wide(dir / ("in" + n + ".wav")).c_str(), wide(dir / ("one" + n + ".wav")).c_str(), 16000, 2), 1);
    }
    ASSERT_EQ(MODWAV(wide(dir / "song.mod").c_str(), wide(dir / "one-song.wav").c_str()), 999);

    std::vector<std::thread> workers;
    std::vector<int> results(2 * threads, 0);
    for (std::size_t i = 0; i < threads; ++i) {
        workers.emplace_back([&, i] {
            const std::string n = std::to_string(i);
            results[2 * i] = ResampleWav(wide(dir / ("in" + n + ".wav")).c_str(), wide(dir / ("many" + n + ".wav")).c_str(), 16000, 2);
            results[2 * i + 1] = MODWAV(wide(dir / "song.mod").c_str(), wide(dir / ("many-song" + n + ".wav")).c_str());
        });
    }
    for (std::thread& worker : workers) worker.join();
    for (std::size_t i = 0; i < threads; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(results[2 * i], 1);
        EXPECT_EQ(results[2 * i + 1], 999);
        EXPECT_EQ(readBytes(dir / ("many" + n + ".wav")), readBytes(dir / ("one" + n + ".wav"))) << i;
        EXPECT_EQ(readBytes(dir / ("many-song" + n + ".wav")), readBytes(dir / "one-song.wav")) << i;
    }
}

TEST(Concurrency, ABatchOnEightThreadsWritesWhatOneThreadWrites) {
    TempDir dir;
    std::vector<std::string> inputs;
    for (int i = 0; i < 16; ++i) {
        inputs.push_back(dir / ("in" + std::to_string(i) + ".wav"));
        writeBytes(inputs.back(), sawtoothWav(2, 44100, 20000 + 100 * static_cast<uint32_t>(i)));
    }
    for (const char* jobs : {"1", "8"}) {
        std::vector<std::string> args = {"resample", "--rate", "16000", "-j", jobs, "-o", dir / ("out" + std::string(jobs))};
        args.insert(args.end(), inputs.begin(), inputs.end());
        const RunResult run = runTool(args);
        EXPECT_EQ(run.status, 0) << run.err;
    }
    for (int i = 0; i < 16; ++i) {
        const std::string name = "/in" + std::to_string(i) + ".wav";
        EXPECT_EQ(readBytes(dir / ("out8" + name)), readBytes(dir / ("out1" + name))) << name;
    }
}

}  // namespace
