#pragma once
// The WAV format's numbers, each named once, and the canonical 44-byte header
// that both libraries write and the resampler reads: "fmt " chunk at byte 12,
// "data" chunk header at byte 36, samples from byte 44. Files hold it
// little-endian on every host.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace plinth {

// A RIFF file opens with its tag, its size and its form ("WAVE"); chunks
// follow, each behind a header of its tag and its size.
constexpr std::size_t kRiffHeaderBytes = 12;
constexpr std::size_t kChunkHeaderBytes = 8;

// Container, form and chunk tags: four characters each.
inline constexpr char kRiffTag[] = "RIFF";
inline constexpr char kRf64Tag[] = "RF64";
inline constexpr char kBw64Tag[] = "BW64";
inline constexpr char kWaveTag[] = "WAVE";
inline constexpr char kFormatChunkTag[] = "fmt ";
inline constexpr char kDs64ChunkTag[] = "ds64";
inline constexpr char kDataChunkTag[] = "data";
inline constexpr char kSamplerChunkTag[] = "smpl";
inline constexpr char kCueChunkTag[] = "cue ";

// True when the four bytes at `bytes` are `tag`.
inline bool isTag(const void* bytes, const char (&tag)[5]) { return std::memcmp(bytes, tag, 4) == 0; }

// The most channels a WAV file can have: its channel count has 16 bits.
constexpr int kMaxWavChannels = 65535;

// Format tags of the fmt chunk; an extensible format holds the real one in its sub-format.
constexpr uint16_t kWavFormatPcm = 1;
constexpr uint16_t kWavFormatIeeeFloat = 3;
constexpr uint16_t kWavFormatAlaw = 6;
constexpr uint16_t kWavFormatMulaw = 7;
constexpr uint16_t kWavFormatExtensible = 0xFFFE;

// How samples are stored: what the reader takes, and of it what converters
// write (signed16 and float32).
enum class WavSampleFormat { unsupported, unsigned8, signed16, signed24, signed32, float32, float64 };

// Bytes of one sample of the format (0 for unsupported).
std::size_t sampleBytes(WavSampleFormat format);

// The fmt chunk of plain PCM: the least a fmt chunk holds, and the canonical header's.
constexpr uint32_t kPcmFormatChunkBytes = 16;

// The canonical header: the RIFF header, the fmt chunk of plain PCM, the data chunk's header.
constexpr std::size_t kWavHeaderBytes =
    kRiffHeaderBytes + kChunkHeaderBytes + kPcmFormatChunkBytes + kChunkHeaderBytes;
static_assert(kWavHeaderBytes == 44, "the canonical header is 44 bytes");

// The canonical header's bytes that its RIFF size counts: all after the RIFF
// chunk's own tag and size.
constexpr uint32_t kHeaderBytesInRiffSize = static_cast<uint32_t>(kWavHeaderBytes - kChunkHeaderBytes);

// The largest value of the header's 32-bit size and byte-rate fields.
constexpr uint32_t kMaxWavField = 0xFFFFFFFF;

// The most sample bytes a canonical file can hold: its RIFF size counts them
// and the header bytes after the size field.
constexpr uint64_t kMaxWavDataBytes = kMaxWavField - kHeaderBytesInRiffSize;

// Bytes of one 16-bit sample, the one sample size both libraries write.
constexpr uint32_t kPcm16SampleBytes = 2;

// The most frames of 16-bit samples in `channels` channels whose sizes still
// fit the header, with `trailingBytes` of chunks after the samples.
constexpr uint64_t maxPcm16Frames(uint32_t channels, uint32_t trailingBytes = 0) {
    return (kMaxWavDataBytes - trailingBytes) / (uint64_t{kPcm16SampleBytes} * channels);
}

// The highest frame rate whose byte rate still fits the header, for 16-bit
// samples in `channels` channels.
constexpr uint32_t maxPcm16FrameRate(uint32_t channels) { return kMaxWavField / (kPcm16SampleBytes * channels); }

// The header's fields, in file order.
struct WavHeader {
    char riffTag[4];
    uint32_t riffSize;
    char waveTag[4];
    char fmtTag[4];
    uint32_t fmtSize;
    uint16_t audioFormat;
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    char dataTag[4];
    uint32_t dataSize;
};

// The values the header carries apart from its tags and derived fields.
struct WavInfo {
    uint32_t riffSize;
    uint32_t fmtSize;
    uint32_t dataSize;
    uint32_t sampleRate;
    uint16_t channels;
    uint16_t audioFormat;
    uint16_t bitsPerSample;
};

// 1 and the seven values copied when the header starts with "RIFF"; otherwise
// 0 and info untouched. Nothing else is judged here.
int parseWavHeader(const WavHeader& header, WavInfo& info);

// Writes the tags and values, deriving blockAlign (bits x channels / 8) and
// byteRate (bits x channels x rate / 8) from the exact products; a value past
// its field (16 and 32 bits) stands at the field's largest. Always 1.
int buildWavHeader(WavHeader& header, const WavInfo& info);

// The header to and from its 44 little-endian bytes.
void decodeWavHeader(const uint8_t* bytes, WavHeader& header);
void encodeWavHeader(const WavHeader& header, uint8_t* bytes);

// The header of `frames` frames of 16-bit integer PCM in `channels` channels
// at `frameRate` frames per second, whose RIFF size also counts
// `trailingBytes` of chunks after the samples; frames at most
// maxPcm16Frames(channels, trailingBytes).
WavHeader pcm16WavHeader(uint16_t channels, uint32_t frameRate, uint64_t frames, uint32_t trailingBytes = 0);

// 16-bit samples to little-endian bytes, whatever the host's byte order.
void samplesToLittleEndian(const int16_t* samples, std::size_t count, uint8_t* bytes);

// The same for 32-bit float samples (their bits as they are).
void floatsToLittleEndian(const float* samples, std::size_t count, uint8_t* bytes);

// What a converter writes: 16-bit PCM or 32-bit float samples (signed16 or
// float32) in any number of channels, with the header readers expect:
//   16-bit, 1 or 2 channels: the canonical 44 bytes (pcm16WavHeader's);
//   float,  1 or 2 channels: IEEE float (format 3), an 18-byte fmt chunk and
//                            a fact chunk holding the frame count, as a format
//                            other than PCM carries;
//   more channels:           WAVE_FORMAT_EXTENSIBLE (a 40-byte fmt chunk with
//                            the valid bits, the channel mask and the PCM or
//                            float sub-format), a fact chunk too for floats.
struct WavOutputLayout {
    WavSampleFormat format = WavSampleFormat::signed16;
    uint32_t channels = 1;
    uint32_t frameRate = 0;
    uint32_t channelMask = 0;  // the speaker positions of an extensible file
};

// The most a header of the forms above takes.
constexpr std::size_t kMaxWavOutputHeaderBytes = 80;

struct WavOutputHeader {
    uint8_t bytes[kMaxWavOutputHeaderBytes];
    std::size_t size;
};

// The speaker positions readers assume for a file of that many channels that
// does not name them: the first `channels` of the standard order (front left,
// front right, front centre, low frequency, back left, ...), or none (0) past
// the 18 the mask names.
uint32_t defaultChannelMask(uint32_t channels);

// Whether a frame of the layout fits the fmt chunk's 16-bit frame size, and
// its channels the 16-bit count (at most 32767 channels of 16-bit samples,
// 16383 of floats).
bool wavOutputLayoutFits(const WavOutputLayout& layout);

// Bytes of one frame, and the most frames whose sizes still fit the header's
// 32-bit fields.
uint32_t wavOutputFrameBytes(const WavOutputLayout& layout);
uint64_t maxWavOutputFrames(const WavOutputLayout& layout);

// The header of `frames` frames (at most maxWavOutputFrames) of a layout that fits.
WavOutputHeader wavOutputHeader(const WavOutputLayout& layout, uint64_t frames);

// Where a RIFF file's "data" chunk really begins, found by walking the chunks
// that follow "WAVE" (at most `fileSize` bytes; a stream passes the largest
// value). readAt(offset, bytes) reads the 8 bytes of a chunk header, at
// offsets that only grow, so a stream can be walked too; false from it ends
// the walk, and so does a chunk whose name is not four printable characters
// (the end of the real chunks, say zeros). visit(chunk) sees each chunk
// before "data" and may read its body, no further than the next chunk; false
// from it ends the walk.
struct DataChunkPlace {
    bool found = false;
    uint64_t start = 0;  // the first sample byte
    uint32_t size = 0;   // as the chunk declares it
};
struct ChunkHeader {
    char tag[4];
    uint32_t size;   // as declared, without the pad byte of an odd size
    uint64_t start;  // its first body byte
};
template <typename ReadAt, typename Visit>
DataChunkPlace findDataChunk(uint64_t fileSize, ReadAt readAt, Visit visit);
template <typename ReadAt>
DataChunkPlace findDataChunk(uint64_t fileSize, ReadAt readAt) {
    return findDataChunk(fileSize, readAt, [](const ChunkHeader&) { return true; });
}

inline uint16_t readLe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

inline uint32_t readLe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void putLe16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

inline void putLe32(uint8_t* at, uint32_t value) {
    putLe16(at, value & 0xFFFF);
    putLe16(at + 2, value >> 16);
}

template <typename ReadAt, typename Visit>
DataChunkPlace findDataChunk(uint64_t fileSize, ReadAt readAt, Visit visit) {
    DataChunkPlace place;
    uint64_t position = kRiffHeaderBytes;
    uint8_t head[kChunkHeaderBytes];
    while (position + kChunkHeaderBytes <= fileSize && readAt(position, head)) {
        for (int i = 0; i < 4; ++i) {
            if (head[i] < 0x20 || head[i] > 0x7E) return place;
        }
        const uint32_t size = readLe32(head + 4);
        if (isTag(head, kDataChunkTag)) {
            place.found = true;
            place.start = position + kChunkHeaderBytes;
            place.size = size;
            break;
        }
        const ChunkHeader chunk{{static_cast<char>(head[0]), static_cast<char>(head[1]), static_cast<char>(head[2]),
                                 static_cast<char>(head[3])},
                                size,
                                position + kChunkHeaderBytes};
        if (!visit(chunk)) break;
        position += kChunkHeaderBytes + static_cast<uint64_t>(size) + (size & 1u);
    }
    return place;
}

}  // namespace plinth
