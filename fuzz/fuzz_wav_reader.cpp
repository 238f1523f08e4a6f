// Fuzz entry for the chunk-aware WAV reader, through the services every front
// end uses: any byte string as a WAV file, described as `info` describes it
// and converted as the tool converts it, from a regular file or from a pipe
// on standard input. The last byte picks the target rate, the channel, the
// verbose note and file or pipe; the one before it the filter, every channel
// kept and float samples.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/convert_file.h"
#include "app/describe_file.h"
#include "fuzz/fuzz_input_file.h"
#include "platform/wav_header.h"
#include "resampler/resample_file.h"

using namespace plinth;

namespace {

// Parsing faults need no large files; larger ones only slow the search.
constexpr size_t kMaxInput = 1 << 18;

bool startsLikeWav(const uint8_t* data, size_t size) {
    return size >= 4 && (std::memcmp(data, "RIFF", 4) == 0 || std::memcmp(data, "RF64", 4) == 0 ||
                         std::memcmp(data, "BW64", 4) == 0);
}

// Standard input becomes a pipe that holds the bytes and has no writer left;
// false when the pipe cannot hold them all.
bool pipeOnStandardInput(const uint8_t* data, size_t size) {
    int ends[2];
    if (pipe(ends) != 0) return false;
    if (size > 65536) fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(size));
    bool ok = fcntl(ends[1], F_GETPIPE_SZ) >= static_cast<int>(size);
    for (size_t done = 0; ok && done < size;) {
        const ssize_t n = write(ends[1], data + done, size - done);
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    close(ends[1]);
    ok = ok && dup2(ends[0], 0) == 0;
    close(ends[0]);
    return ok;
}

// A finished output is a mono 16-bit WAV file at the rate asked for whose
// header declares exactly the bytes that follow it, or, for a canonical mono
// file already at that rate, a byte-for-byte copy of the input.
void checkOutput(const std::string& output, const uint8_t* input, size_t inputSize, int rate, bool copied) {
    std::ifstream file(output, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (copied && bytes.size() == inputSize && std::memcmp(bytes.data(), input, inputSize) == 0) return;
    if (bytes.size() < kWavHeaderBytes) __builtin_trap();
    WavHeader header;
    decodeWavHeader(bytes.data(), header);
    if (header.channels != 1 || header.bitsPerSample != 16 || header.sampleRate != static_cast<uint32_t>(rate) ||
        header.dataSize + kWavHeaderBytes != bytes.size() || header.riffSize != header.dataSize + 36) {
        __builtin_trap();
    }
}

// An output of other settings, read back by the reader itself: the rate,
// channels and samples asked for, and a data chunk that ends the file.
void checkOtherOutput(const std::string& output, int rate, unsigned channels, bool floats) {
    const FileDescription written = describeFile(output);
    const WavDescription& wav = written.wav;
    if (written.error != InfoError::none || written.kind != FileKind::wav || wav.sampleRate != static_cast<unsigned>(rate) ||
        wav.channels != channels || wav.bitsPerSample != (floats ? 32u : 16u) || wav.dataClamped ||
        !wav.bytesFollowingKnown || static_cast<uint64_t>(wav.bytesFollowing) != wav.dataSize) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > kMaxInput) return 0;
    const uint8_t pick = data[size - 1];
    const uint8_t settings = data[size - 2];
    size -= 2;
    const bool fromPipe = (pick & 0x80) != 0;
    const std::string input = fuzzsupport::scratchPath("in.wav");
    const std::string output = fuzzsupport::scratchPath("out.wav");
    if (!fuzzsupport::writeScratch(input, data, size)) return 0;

    // The description, from the file, also steers the rate: the reader is
    // the target here, not a filter asked to upsample a thousandfold.
    const bool wavTag = startsLikeWav(data, size);
    FileDescription description;
    if (wavTag) {
        description = describeFile(input);
        if (description.error == InfoError::none && description.kind != FileKind::wav) __builtin_trap();
        if (fromPipe && pipeOnStandardInput(data, size)) {
            const FileDescription streamed = describeFile("-");
            // A pipe is read as the file is; only a size tells a chunk header
            // cut short from none at all.
            const bool fileOk = description.error == InfoError::none;
            const bool streamOk = streamed.error == InfoError::none;
            if (streamOk && !fileOk) __builtin_trap();
            if (fileOk && !streamOk && streamed.wavStatus.error != WavReadError::cutShort) __builtin_trap();
        }
    }
    static const int kRates[] = {8000, 16000, 44100, 96000};
    const unsigned sourceRate = description.error == InfoError::none ? description.wav.sampleRate : 0;
    int rate = kRates[pick & 3];
    if (sourceRate != 0 && static_cast<unsigned>(rate) > 8u * sourceRate) rate = static_cast<int>(sourceRate);
    if ((pick & 0x0C) == 0x0C) rate = sourceRate == 0 ? 0 : static_cast<int>(sourceRate);

    ConversionRequest request;
    request.kind = ConversionKind::resample;
    request.rate = rate;
    request.channel.mix = (pick & 0x10) != 0;
    request.channel.channel = (pick >> 5) & 1;
    request.verbose = (pick & 0x40) != 0;
    request.quality = (settings & 1) != 0 ? FilterQuality::high : FilterQuality::standard;
    request.channel.all = (settings & 2) != 0;
    request.format = (settings & 4) != 0 ? WavSampleFormat::float32 : WavSampleFormat::signed16;
    const bool defaults = (settings & 7) == 0;

    const bool streamed = fromPipe && pipeOnStandardInput(data, size);
    const ConversionResult result = convertFile(request, streamed ? std::string("-") : input, output);
    if (result.ok) {
        // What the conversion reads, info describes.
        if (!streamed && (!wavTag || description.error != InfoError::none)) __builtin_trap();
        if (defaults) {
            checkOutput(output, data, size, rate, result.libraryLines == kCopyWarningLine);
        } else if (!streamed) {
            const unsigned channels = request.channel.all ? description.wav.channels : 1;
            checkOtherOutput(output, rate, channels, request.format == WavSampleFormat::float32);
        }
    } else if (result.error.empty()) {
        __builtin_trap();  // every failure names its file and reason
    }
    // Standard input is never left closed: a descriptor opened later would take its place.
    const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing >= 0 && nothing != 0) {
        dup2(nothing, 0);
        close(nothing);
    }
    std::remove(input.c_str());
    std::remove(output.c_str());
    return 0;
}
