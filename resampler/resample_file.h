#pragma once
// A WAV file resampled into a WAV file: the input opened once and judged once,
// then streamed through the resampler into a whole-or-nothing output. The
// exported entry, the tool and the bindings all convert files through here;
// only the entry turns the outcome into message lines.

#include <cstdint>
#include <string>

#include "platform/conversion_control.h"
#include "platform/input_file.h"
#include "platform/wav_reader.h"
#include "resampler/filter_quality.h"
#include "resampler/stream_resampler.h"

namespace plinth {

enum class ResampleError {
    none,
    invalidParameters,  // a rate of 0 or below, or a ratio outside the supported range
    cannotOpenInput,
    shortHeader,        // fewer than 44 bytes
    notRiff,
    unsupportedFormat,  // not 16-bit integer PCM with 1 or 2 channels
    cannotOpenOutput,
    readFailed,
    writeFailed,
    tooLarge,           // the output would pass the header's 32-bit sizes
    outOfMemory,
    stopped,            // the caller asked it to stop
    unreadableWav,      // the chunks could not be read, or hold a format not taken; wavError says why
    noSuchChannel,      // the channel chosen is past the file's channels
    tooManyChannels,    // every channel kept: more than a WAV frame of the output format holds
};

struct ResampleStatus {
    ResampleError error = ResampleError::none;
    int systemError = 0;                       // errno behind a failed open, read or write
    InputError inputError = InputError::none;  // what was wrong with the input, when it was refused
    WavReadError wavError = WavReadError::none;
};

// A few words on a failure, such as "not 16-bit PCM with 1 or 2 channels".
std::string describeResampleError(const ResampleStatus& status);

// How a file is resampled besides its rate; the defaults are ResampleWav's.
struct ResampleSettings {
    ChannelChoice choice{};
    FilterQuality quality = FilterQuality::standard;
    WavSampleFormat outputFormat = WavSampleFormat::signed16;  // or float32
};

// An input opened and judged, ready to be converted.
struct ResampleJob {
    InputFile input;
    WavSampleReader samples;      // what the input holds (samples.layout), where the samples are and how
                                  // they are read
    bool chunkAware = false;      // laid out otherwise than the canonical header
    int targetRate = 0;
    ChannelChoice choice{};
    FilterQuality quality = FilterQuality::standard;
    WavOutputLayout output;       // what is written: sample format, channels, rate
    bool copyOnly = false;        // the input already at the target rate, its samples passed unfiltered: a mono
                                  // input with the default filter, any input with the high one
    bool byteCopy = false;        // copyOnly with ResampleWav's settings on a canonical input: copied byte for byte
    bool lengthKnown = false;     // a regular input: the output's length is known before it starts
    uint64_t inputFrames = 0;     // when lengthKnown
    uint64_t outputSamples = 0;   // output frames, when lengthKnown
};

// Opens the input and judges its header, the rates and the output's size.
// The header is read at fixed places and the samples from byte 44 to the end.
ResampleStatus openResampleJob(const std::string& inPath, int targetRate, int channelMode, ResampleJob& job);

// The same with other settings: the same input, read the same way.
ResampleStatus openResampleJob(const std::string& inPath, int targetRate, const ResampleSettings& settings,
                               ResampleJob& job);

// Opens any WAV file the chunk reader takes. A canonical one (see
// isCanonicalLayout) becomes exactly openResampleJob's job; any other is read
// through its chunks, the data chunk's size honoured. Its samples go to the
// default filter made 16-bit by the reader's rule, to the high one as floats
// (readWavFramesAsFloat). A mono file takes its one channel whatever the choice.
// A stop request of `progress` ends a wait for the input, here and in
// runResampleJob.
ResampleStatus openWavResampleJob(const std::string& inPath, int targetRate, const ResampleSettings& settings,
                                  ResampleJob& job, const Progress* progress = nullptr);

// Converts (or copies) the job's input into outPath. On failure the output
// path is left as it was.
ResampleStatus runResampleJob(ResampleJob& job, const std::string& outPath, const Progress* progress = nullptr);

// The line ResampleWav prints for a failure, newline included.
std::string resampleFailureLine(const ResampleStatus& status, const std::string& inPath, const std::string& outPath);

// The warning ResampleWav prints before it copies a file.
extern const char kCopyWarningLine[];

}  // namespace plinth
