// Feeds arbitrary bytes to the resampler as a WAV file: header judgement, then
// streaming at a target rate picked from the input's last byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "stream_resampler.h"
#include "wav_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(WavHeader) + 1) return 0;
    WavHeader header;
    std::memcpy(&header, data, sizeof header);
    WavInfo info{};
    if (!parseWavHeader(header, info) || info.bitsPerSample != 16 || info.audioFormat != 1 ||
        (info.channels != 1 && info.channels != 2)) {
        return 0;
    }
    static const int rates[] = {8000, 11025, 16000, 22050, 44100, 48000, 96000, 7, 1};
    const int sourceRate = rates[data[size - 1] % 9];
    const int targetRate = rates[(data[size - 1] / 9) % 9];
    const ResamplerPlan plan = planResampling(targetRate, sourceRate);
    if (plan.upFactor > kMaxRatioTerm || plan.downFactor > kMaxRatioTerm) return 0;  // refused by the entry
    std::FILE* input = fmemopen(const_cast<uint8_t*>(data) + sizeof header, size - sizeof header - 1, "rb");
    std::FILE* output = std::fopen("/dev/null", "wb");
    if (input != nullptr && output != nullptr) {
        resampleStream(input, output, info.channels, targetRate, sourceRate, data[size - 1] % 3);
    }
    if (input != nullptr) std::fclose(input);
    if (output != nullptr) std::fclose(output);
    return 0;
}
