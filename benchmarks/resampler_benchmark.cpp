// The race, in one run and on the same input: ten minutes of stereo noise at the
// source rate, mixed to mono and resampled in memory, by
//   plinth/dispatched  the polyphase kernel with the machine's best instruction set
//   plinth/scalar      the reference kernel, one output at a time
//   plinth-high        the high-quality filter (dispatched), 16-bit out, rounded
//   soxr/HQ, soxr/VHQ  libsoxr (when its dev package was found at configure time)
//   src/best, src/fastest  libsamplerate's SRC_SINC_BEST_QUALITY and SRC_SINC_FASTEST
// for five common rate pairs, and then, file to file, ResampleWav itself. A
// summary at the end gives each one's time over soxr HQ's for the same pair.
//   build/benchmarks/resampler_benchmark [--benchmark_filter=...]
// PLINTH_BENCH_SECONDS shortens the input (default 600).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "resampler/dsp/polyphase.h"
#include "resampler/high_quality_resampler.h"
#include "resampler/resample_file.h"
#include "resampler/stream_resampler.h"

#ifdef PLINTH_HAVE_SOXR
#include <soxr.h>
#endif
#ifdef PLINTH_HAVE_SAMPLERATE
#include <samplerate.h>
#endif

using plinth::createPolyphaseWorkspaceOn;
using plinth::kReferenceTarget;

namespace {

// The target new conversions run: "reference" with PLINTH_SCALAR=1.
const char* chosenKernelName() { return plinth::targetName(plinth::polyphaseFilterBlockTargets().chosenTarget()); }

struct Pair {
    int source;
    int target;
};
constexpr Pair kPairs[] = {{44100, 48000}, {44100, 16000}, {44100, 8000}, {48000, 44100}, {8000, 16000}};

int inputSeconds() {
    const char* value = std::getenv("PLINTH_BENCH_SECONDS");
    const int seconds = value ? std::atoi(value) : 600;
    return seconds > 0 ? seconds : 600;
}

// Interleaved stereo pink-ish noise (white noise through a few one-pole filters),
// made once per source rate.
const std::vector<int16_t>& stereoInput(int rate) {
    static std::map<int, std::vector<int16_t>> inputs;
    auto found = inputs.find(rate);
    if (found != inputs.end()) return found->second;
    const std::size_t frames = static_cast<std::size_t>(rate) * static_cast<std::size_t>(inputSeconds());
    std::vector<int16_t> items(2 * frames);
    uint32_t state = 12345u + static_cast<uint32_t>(rate);
    float b[2][3] = {};
    for (std::size_t k = 0; k < frames; ++k) {
        for (std::size_t c = 0; c < 2; ++c) {
            state = state * 1664525u + 1013904223u;
            const float white = static_cast<float>(static_cast<int32_t>(state)) * (1.0f / 2147483648.0f);
            b[c][0] = 0.99765f * b[c][0] + white * 0.0990460f;
            b[c][1] = 0.96300f * b[c][1] + white * 0.2965164f;
            b[c][2] = 0.57000f * b[c][2] + white * 1.0526913f;
            const float pink = b[c][0] + b[c][1] + b[c][2] + white * 0.1848f;
            items[2 * k + c] = static_cast<int16_t>(std::max(-32768.0f, std::min(32767.0f, pink * 6000.0f)));
        }
    }
    return inputs.emplace(rate, std::move(items)).first->second;
}

// The channel rule of --channel mix: the floor of the mean.
inline int16_t mixFrame(const int16_t* items, std::size_t k) {
    return static_cast<int16_t>((static_cast<int32_t>(items[2 * k]) + items[2 * k + 1]) >> 1);
}

// Plinth's streaming path in memory, the one every conversion takes, fed in
// blocks of 65536 items, with the dispatched or the reference kernel. Returns
// the samples produced.
std::size_t plinthInMemory(const std::vector<int16_t>& items, int source, int target, bool dispatched,
                           std::vector<int16_t>& out) {
    plinth::StreamResampler resampler;
    if (plinth::startResampler(resampler, target, source, 2, 2) != plinth::StreamError::none) return 0;
    if (!dispatched) {
        const plinth::ResamplerPlan& plan = resampler.plan;
        resampler.kernel =
            createPolyphaseWorkspaceOn(kReferenceTarget, plan.phaseLength, plan.upFactor, plan.downFactor);
    }
    out.clear();
    const plinth::SampleSink sink{[](void* context, const int16_t* samples, std::size_t count) {
                                      auto& to = *static_cast<std::vector<int16_t>*>(context);
                                      to.insert(to.end(), samples, samples + count);
                                      return true;
                                  },
                                  &out};
    const std::size_t frames = items.size() / 2;
    constexpr std::size_t kBlockFrames = plinth::kInputBlockItems / 2;
    for (std::size_t at = 0; at < frames; at += kBlockFrames) {
        plinth::feedResampler(resampler, items.data() + 2 * at, std::min(kBlockFrames, frames - at), sink);
    }
    plinth::finishResampler(resampler, sink);
    return out.size();
}

void setLabel(benchmark::State& state, std::size_t frames) {
    state.counters["Mframes/s"] =
        benchmark::Counter(static_cast<double>(frames) * static_cast<double>(state.iterations()) / 1e6,
                           benchmark::Counter::kIsRate);
}

void plinthDispatched(benchmark::State& state, Pair pair) {
    const auto& items = stereoInput(pair.source);
    std::vector<int16_t> out;
    for (auto _ : state) benchmark::DoNotOptimize(plinthInMemory(items, pair.source, pair.target, true, out));
    state.SetLabel(chosenKernelName());
    setLabel(state, items.size() / 2);
}

void plinthScalar(benchmark::State& state, Pair pair) {
    const auto& items = stereoInput(pair.source);
    std::vector<int16_t> out;
    for (auto _ : state) benchmark::DoNotOptimize(plinthInMemory(items, pair.source, pair.target, false, out));
    setLabel(state, items.size() / 2);
}

// The high-quality filter on the same mono frames, its outputs rounded to 16 bits.
std::size_t plinthHighInMemory(const std::vector<int16_t>& items, int source, int target) {
    plinth::HighQualityResampler resampler;
    if (plinth::startHighQualityResampler(resampler, target, source, 1) != plinth::StreamError::none) return 0;
    struct Out {
        std::vector<int16_t> samples;
        std::size_t count = 0;
    } out;
    const plinth::FloatSampleSink sink{[](void* context, const float* samples, std::size_t count) {
                                           auto& to = *static_cast<Out*>(context);
                                           if (to.samples.size() < count) to.samples.resize(count);
                                           plinth::highQualitySamplesToInt16Dispatched(samples, to.samples.data(), count);
                                           to.count += count;
                                           return true;
                                       },
                                       &out};
    const std::size_t frames = items.size() / 2;
    constexpr std::size_t kBlockFrames = plinth::kInputBlockItems / 2;
    std::vector<int16_t> mono(kBlockFrames);
    for (std::size_t at = 0; at < frames; at += kBlockFrames) {
        const std::size_t n = std::min(kBlockFrames, frames - at);
        for (std::size_t k = 0; k < n; ++k) mono[k] = mixFrame(items.data(), at + k);
        plinth::feedHighQualityResampler(resampler, mono.data(), n, sink);
    }
    plinth::finishHighQualityResampler(resampler, sink);
    return out.count;
}

void plinthHigh(benchmark::State& state, Pair pair) {
    const auto& items = stereoInput(pair.source);
    for (auto _ : state) benchmark::DoNotOptimize(plinthHighInMemory(items, pair.source, pair.target));
    setLabel(state, items.size() / 2);
}

#ifdef PLINTH_HAVE_SOXR
void soxrRun(benchmark::State& state, Pair pair, unsigned long recipe) {
    const auto& items = stereoInput(pair.source);
    const std::size_t frames = items.size() / 2;
    std::vector<int16_t> mono(32768);
    std::vector<int16_t> out(static_cast<std::size_t>(32768.0 * pair.target / pair.source) + 256);
    for (auto _ : state) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
        soxr_t soxr = soxr_create(pair.source, pair.target, 1, &error, &io, &quality, nullptr);
        std::size_t produced = 0;
        for (std::size_t at = 0;;) {
            const std::size_t n = std::min<std::size_t>(frames - at, mono.size());
            for (std::size_t k = 0; k < n; ++k) mono[k] = mixFrame(items.data(), at + k);
            at += n;
            std::size_t used = 0;
            do {
                std::size_t done = 0, gave = 0;
                soxr_process(soxr, n ? mono.data() + used : nullptr, n - used, &done, out.data(), out.size(), &gave);
                used += done;
                produced += gave;
                if (!n && !gave) break;
            } while (n ? used < n : true);
            if (!n) break;
        }
        soxr_delete(soxr);
        benchmark::DoNotOptimize(produced);
    }
    setLabel(state, frames);
}
void soxrHQ(benchmark::State& state, Pair pair) { soxrRun(state, pair, SOXR_HQ); }
void soxrVHQ(benchmark::State& state, Pair pair) { soxrRun(state, pair, SOXR_VHQ); }
#endif

#ifdef PLINTH_HAVE_SAMPLERATE
void srcRun(benchmark::State& state, Pair pair, int converter) {
    const auto& items = stereoInput(pair.source);
    const std::size_t frames = items.size() / 2;
    const double ratio = static_cast<double>(pair.target) / pair.source;
    std::vector<float> mono(32768);
    std::vector<float> out(static_cast<std::size_t>(32768.0 * ratio) + 256);
    std::vector<int16_t> shorts(out.size());
    for (auto _ : state) {
        int error = 0;
        SRC_STATE* src = src_new(converter, 1, &error);
        std::size_t produced = 0;
        for (std::size_t at = 0;;) {
            const std::size_t n = std::min<std::size_t>(frames - at, mono.size());
            for (std::size_t k = 0; k < n; ++k) mono[k] = mixFrame(items.data(), at + k) * (1.0f / 32768.0f);
            at += n;
            SRC_DATA data{};
            data.data_in = mono.data();
            data.input_frames = static_cast<long>(n);
            data.src_ratio = ratio;
            data.end_of_input = n == 0;
            for (;;) {
                data.data_out = out.data();
                data.output_frames = static_cast<long>(out.size());
                src_process(src, &data);
                src_float_to_short_array(out.data(), shorts.data(), static_cast<int>(data.output_frames_gen));
                produced += static_cast<std::size_t>(data.output_frames_gen);
                data.data_in += data.input_frames_used;
                data.input_frames -= data.input_frames_used;
                if (n ? data.input_frames <= 0 : data.output_frames_gen == 0) break;
            }
            if (!n) break;
        }
        src_delete(src);
        benchmark::DoNotOptimize(produced);
    }
    setLabel(state, frames);
}
void srcBest(benchmark::State& state, Pair pair) { srcRun(state, pair, SRC_SINC_BEST_QUALITY); }
void srcFastest(benchmark::State& state, Pair pair) { srcRun(state, pair, SRC_SINC_FASTEST); }
#endif

// ResampleWav's own path, file to file (ten minutes of 44.1 kHz stereo).
const std::string& inputFile(int rate) {
    static std::map<int, std::string> paths;
    auto found = paths.find(rate);
    if (found != paths.end()) return found->second;
    char pattern[] = "/tmp/plinth-bench-XXXXXX";
    const int fd = mkstemp(pattern);
    close(fd);
    const auto& items = stereoInput(rate);
    const uint32_t bytes = static_cast<uint32_t>(items.size() * 2);
    const uint32_t r = static_cast<uint32_t>(rate);
    const uint32_t header[11] = {0x46464952u, 36 + bytes, 0x45564157u, 0x20746d66u, 16, 1u | (2u << 16),
                                 r,           r * 4,      4u | (16u << 16), 0x61746164u, bytes};
    std::FILE* file = std::fopen(pattern, "wb");
    std::fwrite(header, sizeof header, 1, file);
    std::fwrite(items.data(), sizeof(int16_t), items.size(), file);
    std::fclose(file);
    return paths.emplace(rate, pattern).first->second;
}

void resampleWavFileToFile(benchmark::State& state, Pair pair) {
    const std::string& input = inputFile(pair.source);
    const std::string output = input + ".out.wav";
    for (auto _ : state) {
        plinth::ResampleJob job;
        if (plinth::openResampleJob(input, pair.target, 2, job).error != plinth::ResampleError::none ||
            plinth::runResampleJob(job, output).error != plinth::ResampleError::none) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    std::remove(output.c_str());
    state.SetLabel(chosenKernelName());
    setLabel(state, stereoInput(pair.source).size() / 2);
}

// Collects every run's time for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::map<std::string, double>> seconds;  // pair -> engine -> s
    std::vector<std::string> engines;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            if (run.run_type == Run::RT_Iteration && run.repetitions > 1) continue;
            const std::string name = run.run_name.function_name;  // engine/source->target
            const auto slash = name.rfind('/');
            const std::string engine = name.substr(0, slash), pair = name.substr(slash + 1);
            if (std::find(engines.begin(), engines.end(), engine) == engines.end()) engines.push_back(engine);
            seconds[pair][engine] = run.GetAdjustedRealTime() / 1e3;  // ms -> s
        }
    }
};

std::string pairName(Pair pair) { return std::to_string(pair.source) + "->" + std::to_string(pair.target); }

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (const Pair pair : kPairs) {
        const std::string p = pairName(pair);
        auto add = [&](const char* engine, void (*fn)(benchmark::State&, Pair)) {
            benchmark::RegisterBenchmark((std::string(engine) + "/" + p).c_str(), fn, pair)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MinTime(0.3);
        };
        add("plinth-dispatched", plinthDispatched);
        add("plinth-scalar", plinthScalar);
        add("plinth-high", plinthHigh);
#ifdef PLINTH_HAVE_SOXR
        add("soxr-HQ", soxrHQ);
        add("soxr-VHQ", soxrVHQ);
#endif
#ifdef PLINTH_HAVE_SAMPLERATE
        add("src-best", srcBest);
        add("src-fastest", srcFastest);
#endif
        add("ResampleWav-file", resampleWavFileToFile);
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nSeconds for %d s of stereo input mixed to mono (time / soxr HQ's in brackets); kernel: %s\n",
                inputSeconds(), chosenKernelName());
    std::printf("%-14s", "pair");
    for (const auto& engine : reporter.engines) std::printf(" %22s", engine.c_str());
    std::printf("\n");
    for (const Pair pair : kPairs) {
        const auto found = reporter.seconds.find(pairName(pair));
        if (found == reporter.seconds.end()) continue;
        const auto& row = found->second;
        const auto hq = row.find("soxr-HQ");
        std::printf("%-14s", pairName(pair).c_str());
        for (const auto& engine : reporter.engines) {
            const auto cell = row.find(engine);
            if (cell == row.end()) {
                std::printf(" %22s", "-");
            } else if (hq != row.end()) {
                std::printf(" %14.4f (%5.2f)", cell->second, cell->second / hq->second);
            } else {
                std::printf(" %22.4f", cell->second);
            }
        }
        std::printf("\n");
    }
    for (const Pair pair : kPairs) {
        const auto found = std::find_if(kPairs, kPairs + 5, [&](Pair p) { return p.source == pair.source; });
        if (found == &pair) std::remove(inputFile(pair.source).c_str());
    }
    return 0;
}
