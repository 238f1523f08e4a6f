#include "resample_wav.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>

#include "dsp/lowpass_design.h"
#include "output_file.h"
#include "stream_resampler.h"
#include "wav_header.h"
#include "wide_path.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

void reportInvalidParameters() { std::fprintf(stderr, "[ERROR!]: Invalid parameters!\n"); }

void reportCannotWrite(const char* path, int error) {
    std::fprintf(stderr, "[ERROR!]: Cannot write '%s': %s.\n", path, std::strerror(error != 0 ? error : EIO));
}

// Reads and parses the 44 header bytes; on failure prints why. The entry and
// the file resampler word a short header differently.
bool readHeader(std::FILE* file, WavHeader& header, WavInfo& info, const char* shortHeaderMessage) {
    std::memset(&header, 0, sizeof header);
    if (std::fread(&header, 1, sizeof header, file) != sizeof header) {
        std::fputs(shortHeaderMessage, stderr);
        return false;
    }
    if (!parseWavHeader(header, info)) {
        std::fputs("[ERROR!]: invalid wav header. Please check the header tag.\n", stderr);
        return false;
    }
    return true;
}

bool copyRest(std::FILE* input, std::FILE* output) {
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, input);
        if (got > 0 && std::fwrite(buffer, 1, got, output) != got) return false;
        if (got < sizeof buffer) return !std::ferror(input);
    }
}

// Output samples for the whole input, judged from its size before any output exists.
bool outputFitsHeader(std::FILE* input, int channels, int upFactor, int downFactor) {
    struct stat info;
    if (fstat(fileno(input), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 44) return true;
    const uint64_t frames = static_cast<uint64_t>(info.st_size - 44) / 2 / static_cast<uint64_t>(channels);
    return resampledLength(frames, upFactor, downFactor) <= kMaxOutputSamples;
}

int resampleOpenInput(std::FILE* rawInput, const char* inPath, const char* outPath, int targetRate,
                      int sourceRate, int channelMode) {
    InputFile input(rawInput);
    WavHeader header;
    WavInfo info{};
    if (!readHeader(input.get(), header, info, "[ERROR!]: cannot read wav header.\n")) return 0;
    if (info.bitsPerSample != 16 || info.audioFormat != 1 || (info.channels != 1 && info.channels != 2)) {
        std::fprintf(stderr, "[ERROR!]: Unsupported wave. Please check the wave are (mono|stereo)(16bit)(PCM).\n");
        return 0;
    }

    const bool copyOnly = targetRate == sourceRate && info.channels == 1;
    if (!copyOnly) {
        int up = targetRate;
        int down = sourceRate;
        reduceRatio(up, down);
        if (up > kMaxRatioTerm || down > kMaxRatioTerm) {
            reportInvalidParameters();
            return 0;
        }
        if (!outputFitsHeader(input.get(), info.channels, up, down)) {
            std::fprintf(stderr, "[ERROR!]: Output '%s' would pass the 4 GiB size limit of a WAV file.\n", outPath);
            return 0;
        }
    }

    plinth::OutputFile output;
    if (!plinth::openOutputFile(outPath, output)) {
        std::fprintf(stderr, "[ERROR!]: Cannot open '%s'.\n", outPath);
        return 0;
    }
    plinth::OutputFileGuard outputGuard(output);

    if (copyOnly) {
        std::fprintf(stderr, "[WARNNING!]: Do filecopy while source SampleRate equals to target SampleRate.\n");
        errno = 0;
        if (std::fwrite(&header, sizeof header, 1, output.stream) != 1 || !copyRest(input.get(), output.stream)) {
            if (std::ferror(input.get())) {
                std::fprintf(stderr, "[ERROR!]: Cannot read '%s': %s.\n", inPath, std::strerror(errno != 0 ? errno : EIO));
            } else {
                reportCannotWrite(outPath, errno);
            }
            return 0;
        }
    } else {
        // The input's header holds the place of the output header until the end.
        errno = 0;
        if (std::fwrite(&header, sizeof header, 1, output.stream) != 1) {
            reportCannotWrite(outPath, errno);
            return 0;
        }
        switch (resampleStream(input.get(), output.stream, info.channels, targetRate, sourceRate, channelMode)) {
            case StreamResult::ok:
                break;
            case StreamResult::outOfMemory:
                std::fprintf(stderr, "[ERROR!]: Not enough memory to resample '%s'.\n", inPath);
                return 0;
            case StreamResult::readFailed:
                std::fprintf(stderr, "[ERROR!]: Cannot read '%s': %s.\n", inPath, std::strerror(errno != 0 ? errno : EIO));
                return 0;
            case StreamResult::writeFailed:
                reportCannotWrite(outPath, errno);
                return 0;
            case StreamResult::tooLarge:
                std::fprintf(stderr, "[ERROR!]: Output '%s' would pass the 4 GiB size limit of a WAV file.\n", outPath);
                return 0;
        }
    }

    input.reset();
    if (!plinth::commitOutputFile(output)) {
        reportCannotWrite(outPath, errno);
        return 0;
    }
    return 1;
}

}  // namespace

int resampleWavFile(const char* inPath, const char* outPath, int targetRate, int sourceRate, int channelMode) {
    if (inPath == nullptr || outPath == nullptr || targetRate <= 0 || sourceRate <= 0) {
        reportInvalidParameters();
        return 0;
    }
    std::FILE* input = std::fopen(inPath, "rb");
    if (input == nullptr) {
        std::fprintf(stderr, "[ERROR!]: Cannot open '%s'.\n", inPath);
        return 0;
    }
    return resampleOpenInput(input, inPath, outPath, targetRate, sourceRate, channelMode);
}

int resampleWavWide(const wchar_t* inPath, const wchar_t* outPath, int targetRate, int channelMode) {
    try {
        std::string in;
        std::string out;
        if (!plinth::widePathToUtf8(inPath, in) || !plinth::widePathToUtf8(outPath, out)) {
            reportInvalidParameters();
            return 0;
        }
        InputFile input(std::fopen(in.c_str(), "rb"));
        if (!input) {
            std::fprintf(stderr, "[ERROR!]: Cannot open '%s'.\n", in.c_str());
            return 0;
        }
        WavHeader header;
        WavInfo info{};
        if (!readHeader(input.get(), header, info, "[ERROR!]: Cannot read wave header.\n")) return 0;
        input.reset();
        // A rate above INT_MAX reads as negative and is refused as invalid.
        return resampleWavFile(in.c_str(), out.c_str(), targetRate, static_cast<int>(info.sampleRate), channelMode);
    } catch (...) {
        std::fprintf(stderr, "[ERROR!]: Not enough memory to resample.\n");
        return 0;
    }
}
