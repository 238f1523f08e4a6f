// The resamplers' sound, measured against analytic ideals only: tones whose
// exact resampled form is known, no other resampler as the reference. For the
// five common rate pairs it prints, per filter:
//   SNR<.45   the worst full-band SNR at lag 0 (output against the ideal tone at
//             the output instants, the first and last tenth left out) of tones
//             in the middle of each twentieth of the lower rate below 0.45 x it
//             (0.025, 0.075, ..., 0.425 x)
//   SNR<=.20  the same for the tones up to 0.20 x (0.025 .. 0.175 x)
//   SNR@.45   the same for a tone at the pass band's edge, 0.45 x
//   alias     downsampling: a tone halfway between the two Nyquist frequencies,
//             the level (dBFS) of what folds back; upsampling: a tone at 0.45 x
//             the input rate, the level of its image at the input rate minus it
//             (folded into the output band); "silence" when the output is all zero.
//             These tones are longer (PLINTH_QUALITY_ALIAS_SECONDS, default 60),
//             so that the 16-bit rounding noise that falls on the measured
//             frequency lies near -155 dBFS; an alias that does not stand out of
//             that noise shows as "<" and the noise's level (see levelAt)
// Each tone is moved off its round value by a few parts in ten thousand, so that
// the 16-bit rounding error of a tone is not periodic with a period that puts
// all of it on the frequency measured.
//   delay     output samples by which a tone at 0.1 x the lower rate lags the ideal
//   length    frames out against ceil(N x L / M)
// Two tables: 16-bit samples in and out (the standard filter, ResampleWav's;
// the high filter, its output rounded to nearest; libsoxr's HQ and VHQ, run in
// float with the same 16-bit rounding on both sides), then float samples in and
// out (the high filter and libsoxr's). libsoxr is there when its dev package was
// found at configure time (benchmarks only).
//   build/benchmarks/resampler_quality
// PLINTH_QUALITY_SECONDS sets each tone's length (default 5), PLINTH_QUALITY_DBFS
// the tones' level (default -12, where the 16-bit figures of ResampleWav's
// filter come out as first measured: 36-41 dB below 0.45, 78-80 dB up to 0.20).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "resampler/high_quality_resampler.h"
#include "resampler/stream_resampler.h"

#ifdef PLINTH_HAVE_SOXR
#include <soxr.h>
#endif

namespace {

const double kTwoPi = 2.0 * std::acos(-1.0);

// The tones' amplitude (full scale 1.0).
double amplitude() {
    static const double value = [] {
        const char* text = std::getenv("PLINTH_QUALITY_DBFS");
        const double level = text ? std::atof(text) : -12.0;
        return std::pow(10.0, (level < 0 ? level : -12.0) / 20.0);
    }();
    return value;
}

// A tone's frequency: `fraction` of `rate`, moved off the round value.
double toneAt(double fraction, double rate) { return fraction * rate * (1.0 - 0.00031415926); }

struct Pair {
    int source;
    int target;
};
constexpr Pair kPairs[] = {{44100, 48000}, {44100, 16000}, {44100, 8000}, {48000, 44100}, {8000, 16000}};

// A resampler under test: mono samples (full scale +-1.0) in, out.
struct Engine {
    std::string name;
    bool sixteenBit;  // input rounded to 16 bits, output rounded to 16 bits
    std::function<std::vector<double>(const std::vector<double>&, int, int)> run;
};

int16_t toInt16(double x) { return plinth::highQualitySampleToInt16(static_cast<float>(x)); }

std::vector<double> standardFilter(const std::vector<double>& x, int source, int target) {
    plinth::StreamResampler resampler;
    plinth::startResampler(resampler, target, source, 1, plinth::ChannelChoice{});
    std::vector<int16_t> items(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) items[i] = toInt16(x[i]);
    std::vector<double> out;
    const plinth::SampleSink sink{[](void* context, const int16_t* samples, std::size_t count) {
                                      auto& to = *static_cast<std::vector<double>*>(context);
                                      for (std::size_t i = 0; i < count; ++i) to.push_back(samples[i] / 32768.0);
                                      return true;
                                  },
                                  &out};
    plinth::feedResampler(resampler, items.data(), items.size(), sink);
    plinth::finishResampler(resampler, sink);
    return out;
}

std::vector<double> highFilter(const std::vector<double>& x, int source, int target, bool sixteenBit) {
    plinth::HighQualityResampler resampler;
    plinth::startHighQualityResampler(resampler, target, source, 1);
    std::vector<float> out;
    const plinth::FloatSampleSink sink{[](void* context, const float* samples, std::size_t count) {
                                           auto& to = *static_cast<std::vector<float>*>(context);
                                           to.insert(to.end(), samples, samples + count);
                                           return true;
                                       },
                                       &out};
    if (sixteenBit) {
        std::vector<int16_t> items(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) items[i] = toInt16(x[i]);
        plinth::feedHighQualityResampler(resampler, items.data(), items.size(), sink);
    } else {
        std::vector<float> items(x.begin(), x.end());
        plinth::feedHighQualityResampler(resampler, items.data(), items.size(), sink);
    }
    plinth::finishHighQualityResampler(resampler, sink);
    std::vector<double> result(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        result[i] = sixteenBit ? plinth::highQualitySampleToInt16(out[i]) / 32768.0 : out[i];
    }
    return result;
}

#ifdef PLINTH_HAVE_SOXR
std::vector<double> soxrFilter(const std::vector<double>& x, int source, int target, unsigned long recipe,
                               bool sixteenBit) {
    std::vector<float> in(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) in[i] = sixteenBit ? toInt16(x[i]) / 32768.0f : static_cast<float>(x[i]);
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
    soxr_t soxr = soxr_create(source, target, 1, &error, &io, &quality, nullptr);
    std::vector<float> out(static_cast<std::size_t>(static_cast<double>(x.size()) * target / source) + 1024);
    std::size_t produced = 0;
    for (std::size_t at = 0; at < in.size();) {
        const std::size_t n = std::min<std::size_t>(32768, in.size() - at);
        std::size_t used = 0, gave = 0;
        soxr_process(soxr, in.data() + at, n, &used, out.data() + produced, out.size() - produced, &gave);
        at += used;
        produced += gave;
    }
    for (;;) {
        std::size_t gave = 0;
        soxr_process(soxr, nullptr, 0, nullptr, out.data() + produced, out.size() - produced, &gave);
        produced += gave;
        if (gave == 0 || produced == out.size()) break;
    }
    soxr_delete(soxr);
    std::vector<double> result(produced);
    for (std::size_t i = 0; i < produced; ++i) result[i] = sixteenBit ? toInt16(out[i]) / 32768.0 : out[i];
    return result;
}
#endif

int secondsFrom(const char* variable, int otherwise) {
    const char* value = std::getenv(variable);
    const int s = value ? std::atoi(value) : otherwise;
    return s > 0 ? s : otherwise;
}

int seconds() { return secondsFrom("PLINTH_QUALITY_SECONDS", 5); }
int aliasSeconds() { return secondsFrom("PLINTH_QUALITY_ALIAS_SECONDS", 60); }

std::vector<double> tone(double frequency, int rate, std::size_t n, double amplitude) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = amplitude * std::sin(kTwoPi * frequency * static_cast<double>(i) / rate);
    return x;
}

// The interior of an output: the first and last tenth left out.
struct Interior {
    std::size_t begin, end;
};
Interior interior(std::size_t n) { return {n / 10, n - n / 10}; }

double snrDb(const std::vector<double>& y, double frequency, int rate) {
    const Interior in = interior(y.size());
    double signal = 0, error = 0;
    for (std::size_t k = in.begin; k < in.end; ++k) {
        const double ideal = amplitude() * std::sin(kTwoPi * frequency * static_cast<double>(k) / rate);
        signal += ideal * ideal;
        error += (y[k] - ideal) * (y[k] - ideal);
    }
    return error == 0 ? INFINITY : 10 * std::log10(signal / error);
}

// Amplitude and phase of the component at `frequency` (Hann-windowed projection).
struct Component {
    double amplitude, phase;
};
Component component(const std::vector<double>& y, double frequency, int rate) {
    const Interior in = interior(y.size());
    const double n = static_cast<double>(in.end - in.begin);
    double s = 0, c = 0, weight = 0;
    for (std::size_t k = in.begin; k < in.end; ++k) {
        const double w = 0.5 - 0.5 * std::cos(kTwoPi * (static_cast<double>(k - in.begin) + 0.5) / n);
        const double angle = kTwoPi * frequency * static_cast<double>(k) / rate;
        s += w * y[k] * std::sin(angle);
        c += w * y[k] * std::cos(angle);
        weight += w;
    }
    return {2.0 * std::hypot(s, c) / weight, std::atan2(c, s)};
}

// The level (dBFS) of an output's component at `frequency`, or, where it does
// not stand above the noise around it, that noise's level as "<-155.0": the
// rms of the components at 16 frequencies 3 to 24 bins of the measurement away
// on either side (a bin being 1 / the interior's duration). 16-bit rounding
// puts noise at every frequency; a line must be twice the noise's amplitude
// (6 dB) to count.
struct Level {
    double db;
    bool belowNoise;
};
Level levelAt(const std::vector<double>& y, double frequency, int rate) {
    const double line = component(y, frequency, rate).amplitude;
    const Interior in = interior(y.size());
    const double bin = static_cast<double>(rate) / static_cast<double>(in.end - in.begin);
    double noise = 0;
    for (int k = 1; k <= 8; ++k) {
        for (const double side : {-1.0, 1.0}) {
            const double a = component(y, frequency + side * 3.0 * k * bin, rate).amplitude;
            noise += a * a;
        }
    }
    noise = std::sqrt(noise / 16.0);
    if (line == 0 && noise == 0) return {-INFINITY, false};
    if (line <= 2.0 * noise) return {20 * std::log10(noise), true};
    return {20 * std::log10(line), false};
}

std::string db(double value) {
    if (std::isinf(value)) return value > 0 ? "exact" : "silence";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// One table's rows: every engine of the kind for every pair.
void printTable(const std::vector<Engine>& engines, bool sixteenBit) {
    std::printf("\n%s samples in and out\n", sixteenBit ? "16-bit" : "Float");
    std::printf("%-15s %-11s %9s %9s %9s %9s %7s %7s\n", "pair", "filter", "SNR<.45", "SNR<=.20", "SNR@.45", "alias",
                "delay", "length");
    for (const Pair pair : kPairs) {
        const double lower = std::min(pair.source, pair.target);
        const std::size_t n = static_cast<std::size_t>(pair.source) * static_cast<std::size_t>(seconds());
        const std::size_t aliasN = static_cast<std::size_t>(pair.source) * static_cast<std::size_t>(aliasSeconds());
        const uint64_t expectedLength = plinth::resampledLength(n, pair.target, pair.source);
        for (const Engine& engine : engines) {
            if (engine.sixteenBit != sixteenBit) continue;
            double worst45 = INFINITY, worst20 = INFINITY;
            for (int j = 1; j <= 9; ++j) {
                const double f = toneAt(0.05 * j - 0.025, lower);
                const std::vector<double> y = engine.run(tone(f, pair.source, n, amplitude()), pair.source, pair.target);
                const double snr = snrDb(y, f, pair.target);
                worst45 = std::min(worst45, snr);
                if (j <= 4) worst20 = std::min(worst20, snr);
            }
            const double edge = toneAt(0.45, lower);
            const double snrEdge =
                snrDb(engine.run(tone(edge, pair.source, n, amplitude()), pair.source, pair.target), edge, pair.target);
            // Out of the pass band: a tone that aliases, or a tone's image.
            Level alias;
            if (pair.target < pair.source) {
                const double f = toneAt(0.25, pair.target + pair.source);
                const std::vector<double> y =
                    engine.run(tone(f, pair.source, aliasN, amplitude()), pair.source, pair.target);
                const double folded = std::fabs(pair.target * std::round(f / pair.target) - f);
                const bool silent = std::all_of(y.begin(), y.end(), [](double v) { return v == 0.0; });
                alias = silent ? Level{-INFINITY, false} : levelAt(y, folded, pair.target);
            } else {
                const double f = toneAt(0.45, pair.source);
                const std::vector<double> y =
                    engine.run(tone(f, pair.source, aliasN, amplitude()), pair.source, pair.target);
                std::vector<double> residual(y.size());
                for (std::size_t k = 0; k < y.size(); ++k) {
                    residual[k] = y[k] - amplitude() * std::sin(kTwoPi * f * static_cast<double>(k) / pair.target);
                }
                const double image = pair.source - f;
                const double folded = std::fabs(pair.target * std::round(image / pair.target) - image);
                const bool silent = std::all_of(residual.begin(), residual.end(), [](double v) { return v == 0.0; });
                alias = silent ? Level{-INFINITY, false} : levelAt(residual, folded, pair.target);
            }
            // Delay: the phase of a tone at 0.1 x the lower rate against the ideal's (0).
            const double fd = toneAt(0.1, lower);
            const std::vector<double> yd = engine.run(tone(fd, pair.source, n, amplitude()), pair.source, pair.target);
            const double delay = component(yd, fd, pair.target).phase / (kTwoPi * fd / pair.target) * -1.0;
            const long long lengthError = static_cast<long long>(yd.size()) - static_cast<long long>(expectedLength);
            const std::string length =
                lengthError == 0 ? "exact" : (lengthError > 0 ? "+" : "") + std::to_string(lengthError);
            std::printf("%-15s %-11s %9s %9s %9s %9s %7.2f %7s\n",
                        (std::to_string(pair.source) + "->" + std::to_string(pair.target)).c_str(), engine.name.c_str(),
                        db(worst45).c_str(), db(worst20).c_str(), db(snrEdge).c_str(),
                        ((alias.belowNoise ? "<" : "") + db(alias.db)).c_str(),
                        std::fabs(delay) < 0.005 ? 0.0 : delay, length.c_str());
            std::fflush(stdout);
        }
    }
}

}  // namespace

int main() {
    std::vector<Engine> engines = {
        {"standard", true, standardFilter},
        {"high", true, [](const std::vector<double>& x, int s, int t) { return highFilter(x, s, t, true); }},
        {"high", false, [](const std::vector<double>& x, int s, int t) { return highFilter(x, s, t, false); }},
    };
#ifdef PLINTH_HAVE_SOXR
    for (const bool sixteenBit : {true, false}) {
        engines.push_back({"soxr-HQ", sixteenBit, [sixteenBit](const std::vector<double>& x, int s, int t) {
                               return soxrFilter(x, s, t, SOXR_HQ, sixteenBit);
                           }});
        engines.push_back({"soxr-VHQ", sixteenBit, [sixteenBit](const std::vector<double>& x, int s, int t) {
                               return soxrFilter(x, s, t, SOXR_VHQ, sixteenBit);
                           }});
    }
#endif
    std::printf("Tones of %d s (%d s for aliases) at %.0f dBFS; SNR in dB, alias in dBFS, delay in output samples\n",
                seconds(), aliasSeconds(), 20 * std::log10(amplitude()));
    printTable(engines, true);
    printTable(engines, false);
    return 0;
}
