// Feeds arbitrary bytes to the resampler as a WAV file: header judgement, then
// streaming at a target rate picked from the input's last byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "stream_resampler.h"
#include "wav_header.h"

using namespace plinth;

namespace {
bool discard(void*, const int16_t*, std::size_t) { return true; }
}  // namespace

// A canonical header, the samples, and a last byte that picks the rates and the channel mode.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kWavHeaderBytes + 1) return 0;
    WavHeader header;
    decodeWavHeader(data, header);
    WavInfo info{};
    if (!parseWavHeader(header, info) || info.bitsPerSample != 16 || info.audioFormat != 1 ||
        (info.channels != 1 && info.channels != 2)) {
        return 0;
    }
    static const int rates[] = {8000, 11025, 16000, 22050, 44100, 48000, 96000, 7, 1};
    const int sourceRate = rates[data[size - 1] % 9];
    const int targetRate = rates[(data[size - 1] / 9) % 9];
    if (!ratioSupported(targetRate, sourceRate)) return 0;  // refused by the entry
    const std::size_t frames = (size - kWavHeaderBytes - 1) / 2 / info.channels;
    std::vector<int16_t> items(frames * info.channels);
    std::memcpy(items.data(), data + kWavHeaderBytes, items.size() * 2);
    StreamResampler resampler;
    if (startResampler(resampler, targetRate, sourceRate, info.channels, data[size - 1] % 3) != StreamError::none) {
        return 0;
    }
    const SampleSink sink{discard, nullptr};
    feedResampler(resampler, items.data(), frames, sink);
    finishResampler(resampler, sink);
    return 0;
}
