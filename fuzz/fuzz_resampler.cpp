// Fuzz entry for the resampler: any byte string as a WAV file, converted by
// the same internals as ResampleWav and the tool. The last byte picks the
// target rate and the channel mode; the source rate is the header's own.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_input_file.h"
#include "platform/wav_header.h"
#include "resampler/resample_file.h"

using namespace plinth;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 21)) return 0;
    static const int targets[] = {8000, 11025, 16000, 22050, 44100, 48000, 96000, 7, 1, 0, -5, 8193, 1009};
    const uint8_t pick = data[size - 1];
    const int targetRate = targets[pick % 13];
    const int channelMode = (pick / 13) % 4;
    const std::string input = fuzzsupport::scratchPath("in.wav");
    const std::string output = fuzzsupport::scratchPath("out.wav");
    if (!fuzzsupport::writeScratch(input, data, size - 1)) return 0;
    ResampleJob job;
    if (openResampleJob(input, targetRate, channelMode, job).error == ResampleError::none) {
        const ResampleStatus status = runResampleJob(job, output);
        // A finished output holds exactly the samples its header declares.
        if (status.error == ResampleError::none) {
            std::FILE* file = std::fopen(output.c_str(), "rb");
            if (file == nullptr) __builtin_trap();
            std::fseek(file, 0, SEEK_END);
            const long length = std::ftell(file);
            uint8_t bytes[kWavHeaderBytes] = {};
            std::fseek(file, 0, SEEK_SET);
            if (std::fread(bytes, 1, kWavHeaderBytes, file) != kWavHeaderBytes) __builtin_trap();
            std::fclose(file);
            WavHeader header;
            decodeWavHeader(bytes, header);
            if (!job.copyOnly && static_cast<long>(header.dataSize + kWavHeaderBytes) != length) __builtin_trap();
        }
    }
    std::remove(input.c_str());
    std::remove(output.c_str());
    return 0;
}
