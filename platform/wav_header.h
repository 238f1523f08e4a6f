#pragma once
// The canonical 44-byte WAV header, which both libraries write and the
// resampler reads: "fmt " chunk at byte 12, "data" chunk header at byte 36,
// samples from byte 44. Files hold it little-endian on every host.

#include <cstddef>
#include <cstdint>

namespace plinth {

constexpr std::size_t kWavHeaderBytes = 44;

// The most sample bytes a WAV file can hold: its 32-bit RIFF size counts them
// plus the 36 header bytes after the size field.
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 36;

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

// The values the converters work with.
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

// Writes the tags and values, deriving blockAlign and byteRate. Always 1.
int buildWavHeader(WavHeader& header, const WavInfo& info);

// The header to and from its 44 little-endian bytes.
void decodeWavHeader(const uint8_t* bytes, WavHeader& header);
void encodeWavHeader(const WavHeader& header, uint8_t* bytes);

// A 16-bit integer PCM header with final sizes.
WavHeader pcmWavHeader(uint16_t channels, uint32_t sampleRate, uint32_t dataBytes);

// 16-bit samples to little-endian bytes, whatever the host's byte order.
void samplesToLittleEndian(const int16_t* samples, std::size_t count, uint8_t* bytes);

// Where a RIFF file's "data" chunk really begins, found by walking the chunks
// that follow "WAVE" (at most `fileSize` bytes; a stream passes the largest
// value). readAt(offset, 8 bytes) reads a chunk header, at offsets that only
// grow, so a stream can be walked too; false from it ends the walk, and so
// does a chunk whose name is not four printable characters (the end of the
// real chunks, say zeros). visit(chunk) sees each chunk before "data" and may
// read its body, no further than the next chunk; false from it ends the walk.
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

template <typename ReadAt, typename Visit>
DataChunkPlace findDataChunk(uint64_t fileSize, ReadAt readAt, Visit visit) {
    DataChunkPlace place;
    uint64_t position = 12;
    uint8_t head[8];
    while (position + 8 <= fileSize && readAt(position, head)) {
        for (int i = 0; i < 4; ++i) {
            if (head[i] < 0x20 || head[i] > 0x7E) return place;
        }
        const uint32_t size = readLe32(head + 4);
        if (head[0] == 'd' && head[1] == 'a' && head[2] == 't' && head[3] == 'a') {
            place.found = true;
            place.start = position + 8;
            place.size = size;
            break;
        }
        const ChunkHeader chunk{{static_cast<char>(head[0]), static_cast<char>(head[1]), static_cast<char>(head[2]),
                                 static_cast<char>(head[3])},
                                size,
                                position + 8};
        if (!visit(chunk)) break;
        position += 8u + static_cast<uint64_t>(size) + (size & 1u);
    }
    return place;
}

}  // namespace plinth
