#pragma once
// WAV files as they are found, not only the canonical 44-byte layout: RIFF or
// RF64/BW64, chunks in any order (odd sizes padded), "fmt " of 16, 18 or 40 or
// more bytes, extensible formats, and the data chunk's own size. The input is
// read once from its start, so a pipe reads as well as a file. Samples come
// out as 16-bit by one rule for every format:
//   8-bit unsigned       (u - 128) x 256
//   24- and 32-bit       the top 16 bits, rounded to nearest
//   32- and 64-bit float x 32768, rounded to nearest (NaN becomes 0)
// ties round away from zero, results are clamped to -32768..32767, and nothing
// is dithered: a 16-bit sample widened exactly into any of these comes back as
// it was.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/input_file.h"
#include "platform/wav_header.h"
#include "platform/wav_loop.h"

namespace plinth {

enum class WavReadError {
    none,
    readFailed,         // inputError and systemError say why
    notWav,             // no RIFF, RF64 or BW64 tag followed by WAVE
    cutShort,           // the input ends inside the chunks before the samples
    noFormatChunk,      // "data" came before any "fmt " chunk
    badFormatChunk,     // "fmt " shorter than 16 bytes, or no channels, bits or rate
    noDataChunk,
    noSizes,            // RF64 without the ds64 chunk that holds its sizes
    unsupportedFormat,  // an encoding the sample conversion does not take
};

struct WavReadStatus {
    WavReadError error = WavReadError::none;
    InputError inputError = InputError::none;
    int systemError = 0;
};

// A few words, such as "no data chunk".
std::string describeWavReadError(const WavReadStatus& status);

// What a WAV file holds: what the chunks before the samples say (or the
// canonical header, read at its fixed places), and where the samples are.
struct WavLayout {
    bool rf64 = false;              // RF64 or BW64: sizes in the ds64 chunk
    uint32_t fmtSize = 0;
    uint16_t formatTag = 0;         // as written: kWavFormatPcm, kWavFormatIeeeFloat, kWavFormatExtensible, ...
    uint16_t subFormatTag = 0;      // of an extensible format with the standard GUID tail, else 0
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;        // as written; frames are wavFrameBytes wide whatever it says
    uint16_t bitsPerSample = 0;
    uint16_t validBits = 0;         // an extensible format's valid bits, else bitsPerSample
    uint32_t channelMask = 0;       // an extensible format's speaker positions, else 0
    WavSampleFormat sampleFormat = WavSampleFormat::unsupported;
    uint64_t dataStart = 0;         // the first sample byte
    uint64_t declaredDataBytes = 0;
    uint64_t dataBytes = 0;         // what will be read: the declared size, clamped to the file
    bool dataClamped = false;       // the declared size passed the end of the file
    bool dataToEnd = false;         // a stream that does not tell its size: read to its end
    uint32_t skippedChunks = 0;     // chunks before the samples other than fmt and ds64
    std::string skippedTags;        // their tags, space-separated
    bool hasLoop = false;           // a sampler chunk with a loop was read (before or after the samples)
    SamplerLoop loop;               // its first loop
    std::string trailingTags;       // tags of the chunks after the samples, when they were read
    uint8_t leadingBytes[kWavHeaderBytes] = {};  // the file's first bytes, as read
};

// True when the four bytes are a container tag the reader takes: RIFF, RF64 or BW64.
bool isWavContainerTag(const uint8_t* bytes);

// The name of a format tag, such as "PCM", "IEEE float" or "unknown"; an
// extensible one is named with its sub-format: "extensible, PCM" (a
// sub-format tag of 0 is an unknown sub-format).
std::string wavFormatName(uint16_t formatTag, uint16_t subFormatTag);

// What a format tag (the sub-format's, for an extensible one) and a bit count read as.
WavSampleFormat sampleFormatOf(uint16_t formatTag, uint16_t bitsPerSample);


// Bytes of one frame: the channels times the bytes of one sample of the
// format (of bitsPerSample bits rounded up to bytes, for a format not read),
// as every reader takes it; the block-align field of real files is sometimes
// wrong (0, or a mono frame's size in a stereo file) and is not believed.
uint64_t wavFrameBytes(const WavLayout& layout);

// A name such as "24-bit integer PCM".
std::string describeSampleFormat(WavSampleFormat format);

// Reads the chunks from the input's start up to the first sample, and leaves
// the input there. The layout is filled as far as the chunks were read, also
// on failure. A sample format the conversion does not take is not an error
// here: sampleFormat stays unsupported.
WavReadStatus readWavLayout(InputFile& input, WavLayout& layout);

// After readWavLayout, for a regular file: walks the chunks after the data
// chunk, listing their tags and reading the loop of a sampler chunk. A walk
// that meets the end of the file or bytes that are no chunk just ends.
WavReadStatus readChunksAfterSamples(InputFile& input, WavLayout& layout);

// Reads the canonical 44-byte header at its fixed places, walking no chunk,
// and leaves the input behind it: the values parseWavHeader takes, and the
// samples from byte 44 to the end of the input whatever the header's sizes
// say. Fewer than 44 bytes are cutShort, a first tag other than "RIFF" is
// notWav; nothing else is judged here (the sample format may be unsupported).
WavReadStatus readCanonicalWavLayout(InputFile& input, WavLayout& layout);

// True when the samples sit where the canonical header says (byte 44, after a
// 16-byte "fmt "), as 16-bit PCM in one or two channels, and run to the end of
// a regular file of `fileSize` bytes, or to the end of a stream that does not
// tell its size.
bool isCanonicalLayout(const WavLayout& layout, bool regular, uint64_t fileSize);

// The samples of one file, read in whole frames.
struct WavSampleReader {
    WavLayout layout;
    uint64_t bytesRead = 0;      // of the data chunk
    std::vector<uint8_t> raw;
};

// Reads up to maxFrames frames as 16-bit samples, every channel, interleaved;
// fewer than asked only at the end of the samples (a cut frame is dropped).
WavReadStatus readWavFrames(InputFile& input, WavSampleReader& reader, int16_t* items, std::size_t maxFrames,
                            std::size_t& frames);

// The same as single-precision samples of full scale +-1.0, none of them made
// 16-bit first: 8-bit as (u - 128) / 128, 16-bit as x / 32768, 24-bit as
// x / 2^23 (all exact), 32-bit integers as x / 2^31 rounded to the nearest
// float (24 significant bits, ties to even), 32-bit floats as they are, and
// 64-bit floats rounded to the nearest float (ties to even; beyond its range
// they become infinities).
WavReadStatus readWavFramesAsFloat(InputFile& input, WavSampleReader& reader, float* items, std::size_t maxFrames,
                                   std::size_t& frames);

// The conversion of single samples to 16-bit, as readWavFrames applies it.
int16_t sampleFromUnsigned8(uint8_t value);
int16_t sampleFromSigned24(int32_t value);
int16_t sampleFromSigned32(int32_t value);
int16_t sampleFromFloat(double value);
float floatFromUnsigned8(uint8_t value);
float floatFromSigned16(int16_t value);
float floatFromSigned24(int32_t value);
float floatFromSigned32(int32_t value);

}  // namespace plinth
