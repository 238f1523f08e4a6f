#include "platform/wav_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace plinth {
namespace {

// The fmt bytes read: the extensible form is the longest one looked at.
constexpr uint32_t kExtensibleFormatChunkBytes = 40;
// The ds64 chunk's sizes: RIFF size, data size, sample count, 8 bytes each,
// then the length of a table not read.
constexpr uint32_t kDs64Bytes = 28;
// The 32-bit data size of an RF64 file whose real size is in its ds64 chunk.
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;

// Bytes 2..15 of every standard sub-format GUID; bytes 0..1 hold the format tag.
constexpr uint8_t kSubFormatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Tags of skipped chunks listed before the rest are only counted.
constexpr uint32_t kSkippedTagsListed = 8;

// The part of a sampler chunk read: its fields and its first loop.
constexpr uint32_t kSamplerBytesRead = kSamplerFieldsBytes + kSamplerLoopBytes;

// Adds a chunk's tag to a list of `listed` tags, or marks that more follow.
void listTag(std::string& tags, uint32_t listed, const char* tag) {
    if (listed < kSkippedTagsListed) {
        if (!tags.empty()) tags += ' ';
        for (int i = 0; i < 4; ++i) tags += tag[i] >= 0x20 && tag[i] < 0x7F ? tag[i] : '?';
    } else if (listed == kSkippedTagsListed) {
        tags += " ...";
    }
}

// Data sizes a writer that cannot seek back leaves in place of the real one.
bool unknownSize(uint64_t size) {
    return size == 0 || size == kMaxWavField || size == std::numeric_limits<uint64_t>::max();
}

uint64_t readLe64(const uint8_t* bytes) {
    return static_cast<uint64_t>(readLe32(bytes)) | static_cast<uint64_t>(readLe32(bytes + 4)) << 32;
}

WavReadStatus failure(WavReadError error) {
    WavReadStatus status;
    status.error = error;
    return status;
}

WavReadStatus readFailure(InputError error, int systemError) {
    WavReadStatus status = failure(WavReadError::readFailed);
    status.inputError = error;
    status.systemError = systemError;
    return status;
}

// The input read forward only, so that a stream is read as a file is.
struct ForwardReader {
    ForwardReader(InputFile& in, WavLayout& out) : input(in), layout(out) {}
    InputFile& input;
    WavLayout& layout;
    uint64_t position = 0;
    bool ended = false;  // the input ended before a read was complete
    bool cut = false;    // ... and after some of its bytes
    WavReadStatus status;

    bool failed(InputError error, int systemError) {
        status = readFailure(error, systemError);
        return false;
    }

    bool readAt(uint64_t offset, uint8_t* bytes, std::size_t count) {
        if (offset < position) return false;
        int systemError = 0;
        if (offset > position) {
            uint64_t skipped = 0;
            const InputError error = input.skip(offset - position, skipped, systemError);
            position += skipped;
            if (error != InputError::none) return failed(error, systemError);
            if (position < offset) {
                ended = true;
                return false;
            }
        }
        std::size_t got = 0;
        const InputError error = input.read(bytes, count, got, systemError);
        if (position < kWavHeaderBytes) {
            const uint64_t room = kWavHeaderBytes - position;
            std::memcpy(layout.leadingBytes + position, bytes, static_cast<std::size_t>(got < room ? got : room));
        }
        position += got;
        if (error != InputError::none) return failed(error, systemError);
        if (got < count) {
            ended = true;
            cut = got > 0;
            return false;
        }
        return true;
    }
};

void readFormat(const uint8_t* body, uint32_t size, WavLayout& layout) {
    layout.fmtSize = size;
    layout.formatTag = readLe16(body);
    layout.channels = readLe16(body + 2);
    layout.sampleRate = readLe32(body + 4);
    layout.blockAlign = readLe16(body + 12);
    layout.bitsPerSample = readLe16(body + 14);
    layout.validBits = layout.bitsPerSample;
    layout.subFormatTag = 0;
    if (layout.formatTag == kWavFormatExtensible && size >= kExtensibleFormatChunkBytes &&
        std::memcmp(body + 26, kSubFormatGuidTail, sizeof kSubFormatGuidTail) == 0) {
        layout.subFormatTag = readLe16(body + 24);
        if (readLe16(body + 18) != 0) layout.validBits = readLe16(body + 18);
        layout.channelMask = readLe32(body + 20);
    }
    const uint16_t effectiveTag = layout.formatTag == kWavFormatExtensible ? layout.subFormatTag : layout.formatTag;
    layout.sampleFormat = sampleFormatOf(effectiveTag, layout.bitsPerSample);
}

// What the chunks before "data" say, gathered as the walk passes them.
struct ChunksBeforeData {
    ForwardReader& reader;
    bool formatSeen = false;
    bool sizesSeen = false;  // a ds64 chunk was read
    uint64_t rf64DataBytes = 0;
    WavReadError error = WavReadError::none;

    // The chunk's first `count` bytes; false, and why, when they cannot be read.
    bool readBody(const ChunkHeader& chunk, uint8_t* body, uint32_t count) {
        if (reader.readAt(chunk.start, body, count)) return true;
        if (reader.ended) error = WavReadError::cutShort;
        return false;
    }

    // False ends the walk.
    bool visit(const ChunkHeader& chunk) {
        WavLayout& layout = reader.layout;
        if (isTag(chunk.tag, kFormatChunkTag)) {
            if (chunk.size < kPcmFormatChunkBytes) {
                error = WavReadError::badFormatChunk;
                return false;
            }
            uint8_t body[kExtensibleFormatChunkBytes] = {};
            if (!readBody(chunk, body, std::min(chunk.size, kExtensibleFormatChunkBytes))) return false;
            readFormat(body, chunk.size, layout);
            formatSeen = true;
        } else if (isTag(chunk.tag, kDs64ChunkTag) && chunk.size >= kDs64Bytes) {
            uint8_t body[kDs64Bytes];
            if (!readBody(chunk, body, kDs64Bytes)) return false;
            rf64DataBytes = readLe64(body + 8);
            sizesSeen = true;
        } else {
            if (isTag(chunk.tag, kSamplerChunkTag) && !layout.hasLoop) {
                uint8_t body[kSamplerBytesRead];
                const uint32_t count = std::min(chunk.size, kSamplerBytesRead);
                if (!readBody(chunk, body, count)) return false;
                layout.hasLoop = decodeSamplerLoop(body, count, layout.loop);
            }
            listTag(layout.skippedTags, layout.skippedChunks, chunk.tag);
            ++layout.skippedChunks;
        }
        return true;
    }
};

// Where the samples are and how many bytes of them will be read: the size
// the data chunk declares (an RF64 file's from ds64), clamped to a regular
// file's end; a stream that does not tell its size is read to its end.
WavReadError placeData(const DataChunkPlace& place, const ChunksBeforeData& chunks, const InputFile& input,
                       WavLayout& layout) {
    layout.dataStart = place.start;
    layout.declaredDataBytes = place.size;
    if (layout.rf64 && place.size == kSizeInDs64) {
        if (!chunks.sizesSeen) return WavReadError::noSizes;
        layout.declaredDataBytes = chunks.rf64DataBytes;
    }
    layout.dataBytes = layout.declaredDataBytes;
    if (input.isRegular()) {
        const uint64_t following = input.size() - layout.dataStart;
        if (layout.declaredDataBytes > following) {
            layout.dataBytes = following;
            layout.dataClamped = true;
        }
    } else if (unknownSize(layout.declaredDataBytes)) {
        layout.dataToEnd = true;
    }
    return WavReadError::none;
}

const char* formatTagName(uint16_t formatTag) {
    switch (formatTag) {
        case kWavFormatPcm: return "PCM";
        case kWavFormatIeeeFloat: return "IEEE float";
        case kWavFormatAlaw: return "A-law";
        case kWavFormatMulaw: return "mu-law";
        case kWavFormatExtensible: return "extensible";
        default: return "unknown";
    }
}

// Out-of-range values saturate to the full 16-bit range, -32768..32767.
int16_t saturateToInt16(int64_t value) {
    if (value > 32767) return 32767;
    if (value < -32768) return -32768;
    return static_cast<int16_t>(value);
}

// value / 2^bits to the nearest integer, ties away from zero.
int64_t roundedShift(int64_t value, int bits) {
    const int64_t half = int64_t{1} << (bits - 1);
    return value >= 0 ? (value + half) >> bits : -((-value + half) >> bits);
}

// The samples' bits as the integer or float they hold.
int32_t signed24At(const uint8_t* at) {
    int32_t value = at[0] | at[1] << 8 | at[2] << 16;
    if (value & 0x800000) value -= 0x1000000;
    return value;
}

float float32At(const uint8_t* at) {
    const uint32_t bits = readLe32(at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double float64At(const uint8_t* at) {
    const uint64_t bits = readLe64(at);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void convertSamples(const uint8_t* raw, std::size_t count, WavSampleFormat format, int16_t* items) {
    switch (format) {
        case WavSampleFormat::unsupported: break;
        case WavSampleFormat::unsigned8:
            for (std::size_t i = 0; i < count; ++i) items[i] = sampleFromUnsigned8(raw[i]);
            break;
        case WavSampleFormat::signed16:
            for (std::size_t i = 0; i < count; ++i) items[i] = static_cast<int16_t>(readLe16(raw + 2 * i));
            break;
        case WavSampleFormat::signed24:
            for (std::size_t i = 0; i < count; ++i) items[i] = sampleFromSigned24(signed24At(raw + 3 * i));
            break;
        case WavSampleFormat::signed32:
            for (std::size_t i = 0; i < count; ++i) items[i] = sampleFromSigned32(static_cast<int32_t>(readLe32(raw + 4 * i)));
            break;
        case WavSampleFormat::float32:
            for (std::size_t i = 0; i < count; ++i) items[i] = sampleFromFloat(static_cast<double>(float32At(raw + 4 * i)));
            break;
        case WavSampleFormat::float64:
            for (std::size_t i = 0; i < count; ++i) items[i] = sampleFromFloat(float64At(raw + 8 * i));
            break;
    }
}

void convertSamplesToFloat(const uint8_t* raw, std::size_t count, WavSampleFormat format, float* items) {
    switch (format) {
        case WavSampleFormat::unsupported: break;
        case WavSampleFormat::unsigned8:
            for (std::size_t i = 0; i < count; ++i) items[i] = floatFromUnsigned8(raw[i]);
            break;
        case WavSampleFormat::signed16:
            for (std::size_t i = 0; i < count; ++i) items[i] = floatFromSigned16(static_cast<int16_t>(readLe16(raw + 2 * i)));
            break;
        case WavSampleFormat::signed24:
            for (std::size_t i = 0; i < count; ++i) items[i] = floatFromSigned24(signed24At(raw + 3 * i));
            break;
        case WavSampleFormat::signed32:
            for (std::size_t i = 0; i < count; ++i) items[i] = floatFromSigned32(static_cast<int32_t>(readLe32(raw + 4 * i)));
            break;
        case WavSampleFormat::float32:
            for (std::size_t i = 0; i < count; ++i) items[i] = float32At(raw + 4 * i);
            break;
        case WavSampleFormat::float64:
            for (std::size_t i = 0; i < count; ++i) items[i] = static_cast<float>(float64At(raw + 8 * i));
            break;
    }
}

// Reads up to maxFrames whole frames of the file's own bytes into `target`,
// or into reader.raw when target is null.
WavReadStatus readRawFrames(InputFile& input, WavSampleReader& reader, void* target, std::size_t maxFrames,
                            std::size_t& frames) {
    frames = 0;
    const WavLayout& layout = reader.layout;
    const std::size_t bytesPerSample = sampleBytes(layout.sampleFormat);
    if (bytesPerSample == 0) return failure(WavReadError::unsupportedFormat);
    const std::size_t frameBytes = bytesPerSample * layout.channels;
    uint64_t wantFrames = maxFrames;
    if (!layout.dataToEnd) {
        const uint64_t framesLeft = (layout.dataBytes - reader.bytesRead) / frameBytes;
        if (framesLeft < wantFrames) wantFrames = framesLeft;
    }
    const std::size_t wantBytes = static_cast<std::size_t>(wantFrames) * frameBytes;
    if (target == nullptr) {
        try {
            if (reader.raw.size() < wantBytes) reader.raw.resize(wantBytes);
        } catch (const std::bad_alloc&) {
            return readFailure(InputError::outOfMemory, 0);
        }
        target = reader.raw.data();
    }
    std::size_t got = 0;
    int systemError = 0;
    const InputError error = input.read(target, wantBytes, got, systemError);
    reader.bytesRead += got;
    if (error != InputError::none) return readFailure(error, systemError);
    frames = got / frameBytes;
    return {};
}

}  // namespace

std::string describeWavReadError(const WavReadStatus& status) {
    switch (status.error) {
        case WavReadError::none: return "no error";
        case WavReadError::readFailed: return describeInputError(status.inputError, status.systemError);
        case WavReadError::notWav: return "not a WAV file (no RIFF, RF64 or BW64 tag followed by WAVE)";
        case WavReadError::cutShort: return "WAV header cut short (the file ends before its samples)";
        case WavReadError::noFormatChunk: return "no fmt chunk before the data chunk";
        case WavReadError::badFormatChunk: return "damaged fmt chunk (shorter than 16 bytes, or no channels)";
        case WavReadError::noDataChunk: return "no data chunk";
        case WavReadError::noSizes: return "RF64 file without the ds64 chunk that holds its sizes";
        case WavReadError::unsupportedFormat:
            return "unsupported sample format (8-bit unsigned, 16-, 24- or 32-bit integer PCM, or 32- or 64-bit "
                   "float are read)";
    }
    return "unknown error";
}

bool isWavContainerTag(const uint8_t* bytes) {
    return isTag(bytes, kRiffTag) || isTag(bytes, kRf64Tag) || isTag(bytes, kBw64Tag);
}

std::string wavFormatName(uint16_t formatTag, uint16_t subFormatTag) {
    if (formatTag != kWavFormatExtensible) return formatTagName(formatTag);
    return std::string("extensible, ") + (subFormatTag != 0 ? formatTagName(subFormatTag) : "unknown sub-format");
}

WavSampleFormat sampleFormatOf(uint16_t formatTag, uint16_t bitsPerSample) {
    if (formatTag == kWavFormatPcm) {
        switch (bitsPerSample) {
            case 8: return WavSampleFormat::unsigned8;
            case 16: return WavSampleFormat::signed16;
            case 24: return WavSampleFormat::signed24;
            case 32: return WavSampleFormat::signed32;
            default: return WavSampleFormat::unsupported;
        }
    }
    if (formatTag == kWavFormatIeeeFloat) {
        if (bitsPerSample == 32) return WavSampleFormat::float32;
        if (bitsPerSample == 64) return WavSampleFormat::float64;
    }
    return WavSampleFormat::unsupported;
}

uint64_t wavFrameBytes(const WavLayout& layout) {
    const uint64_t sample = layout.sampleFormat != WavSampleFormat::unsupported ? sampleBytes(layout.sampleFormat)
                                                                                 : (layout.bitsPerSample + 7u) / 8u;
    return sample * layout.channels;
}

std::string describeSampleFormat(WavSampleFormat format) {
    switch (format) {
        case WavSampleFormat::unsupported: return "unsupported";
        case WavSampleFormat::unsigned8: return "8-bit unsigned PCM";
        case WavSampleFormat::signed16: return "16-bit PCM";
        case WavSampleFormat::signed24: return "24-bit PCM";
        case WavSampleFormat::signed32: return "32-bit PCM";
        case WavSampleFormat::float32: return "32-bit float";
        case WavSampleFormat::float64: return "64-bit float";
    }
    return "unsupported";
}

WavReadStatus readWavLayout(InputFile& input, WavLayout& layout) {
    layout = WavLayout{};
    ForwardReader reader(input, layout);
    uint8_t head[kRiffHeaderBytes];
    if (!reader.readAt(0, head, sizeof head)) {
        if (reader.status.error != WavReadError::none) return reader.status;
        const bool riffSoFar = reader.position >= 4 && isTag(head, kRiffTag);
        return failure(riffSoFar ? WavReadError::cutShort : WavReadError::notWav);
    }
    // The form follows the RIFF chunk's own tag and size.
    if (!isWavContainerTag(head) || !isTag(head + kChunkHeaderBytes, kWaveTag)) return failure(WavReadError::notWav);
    layout.rf64 = !isTag(head, kRiffTag);

    ChunksBeforeData chunks{reader};
    const uint64_t walkLimit = input.isRegular() ? input.size() : std::numeric_limits<uint64_t>::max();
    const DataChunkPlace place = findDataChunk(
        walkLimit, [&](uint64_t offset, uint8_t* bytes) { return reader.readAt(offset, bytes, kChunkHeaderBytes); },
        [&](const ChunkHeader& chunk) { return chunks.visit(chunk); });
    if (reader.status.error != WavReadError::none) return reader.status;
    if (chunks.error != WavReadError::none) return failure(chunks.error);
    // Ended inside a chunk header: cut short; between chunks: no samples at all.
    if (!place.found) return failure(reader.cut ? WavReadError::cutShort : WavReadError::noDataChunk);
    if (!chunks.formatSeen) return failure(WavReadError::noFormatChunk);
    // A block-align field that disagrees with the channels and bits is no
    // reason to refuse: frames are as wide as these make them (wavFrameBytes).
    if (layout.channels == 0) return failure(WavReadError::badFormatChunk);
    return failure(placeData(place, chunks, input, layout));
}

WavReadStatus readChunksAfterSamples(InputFile& input, WavLayout& layout) {
    if (!input.isRegular()) return {};
    ForwardReader reader(input, layout);
    reader.position = layout.dataStart;
    uint64_t position = layout.dataStart + layout.declaredDataBytes + (layout.declaredDataBytes & 1u);
    uint32_t listed = 0;
    uint8_t head[kChunkHeaderBytes];
    while (position + kChunkHeaderBytes <= input.size() && reader.readAt(position, head, sizeof head)) {
        for (std::size_t i = 0; i < 4; ++i) {
            if (head[i] < 0x20 || head[i] > 0x7E) return reader.status;
        }
        const uint32_t size = readLe32(head + 4);
        const char* tag = reinterpret_cast<const char*>(head);
        listTag(layout.trailingTags, listed++, tag);
        if (isTag(head, kSamplerChunkTag) && !layout.hasLoop) {
            uint8_t body[kSamplerBytesRead];
            const uint32_t count = std::min(size, kSamplerBytesRead);
            if (!reader.readAt(position + kChunkHeaderBytes, body, count)) return reader.status;
            layout.hasLoop = decodeSamplerLoop(body, count, layout.loop);
        }
        position += kChunkHeaderBytes + static_cast<uint64_t>(size) + (size & 1u);
    }
    return reader.status;
}

WavReadStatus readCanonicalWavLayout(InputFile& input, WavLayout& layout) {
    layout = WavLayout{};
    std::size_t got = 0;
    int systemError = 0;
    const InputError error = input.read(layout.leadingBytes, kWavHeaderBytes, got, systemError);
    if (error != InputError::none) return readFailure(error, systemError);
    if (got < kWavHeaderBytes) return failure(WavReadError::cutShort);
    WavHeader header;
    decodeWavHeader(layout.leadingBytes, header);
    WavInfo info;
    if (!parseWavHeader(header, info)) return failure(WavReadError::notWav);
    layout.fmtSize = info.fmtSize;
    layout.formatTag = info.audioFormat;
    layout.channels = info.channels;
    layout.sampleRate = info.sampleRate;
    layout.blockAlign = header.blockAlign;
    layout.bitsPerSample = info.bitsPerSample;
    layout.validBits = info.bitsPerSample;
    layout.sampleFormat = sampleFormatOf(info.audioFormat, info.bitsPerSample);
    layout.dataStart = kWavHeaderBytes;
    layout.declaredDataBytes = info.dataSize;
    // Everything from byte 44 to the end is taken as samples; half a frame at the end is dropped.
    if (input.isRegular()) {
        layout.dataBytes = input.size() - kWavHeaderBytes;
    } else {
        layout.dataToEnd = true;
    }
    return {};
}

bool isCanonicalLayout(const WavLayout& layout, bool regular, uint64_t fileSize) {
    const bool fixedPlaces =
        !layout.rf64 && layout.fmtSize == kPcmFormatChunkBytes && layout.dataStart == kWavHeaderBytes;
    const bool pcm16 = layout.formatTag == kWavFormatPcm && layout.bitsPerSample == 16 &&
                       (layout.channels == 1 || layout.channels == 2);
    const bool toTheEnd = regular ? layout.declaredDataBytes == fileSize - kWavHeaderBytes : layout.dataToEnd;
    return fixedPlaces && pcm16 && toTheEnd;
}

WavReadStatus readWavFrames(InputFile& input, WavSampleReader& reader, int16_t* items, std::size_t maxFrames,
                            std::size_t& frames) {
    // 16-bit samples on a little-endian host are already what the filter
    // takes: they are read in place; other formats go through raw bytes.
    bool inPlace = false;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    inPlace = reader.layout.sampleFormat == WavSampleFormat::signed16;
#endif
    const WavReadStatus status = readRawFrames(input, reader, inPlace ? items : nullptr, maxFrames, frames);
    if (status.error == WavReadError::none && !inPlace) {
        convertSamples(reader.raw.data(), frames * reader.layout.channels, reader.layout.sampleFormat, items);
    }
    return status;
}

WavReadStatus readWavFramesAsFloat(InputFile& input, WavSampleReader& reader, float* items, std::size_t maxFrames,
                                   std::size_t& frames) {
    const WavReadStatus status = readRawFrames(input, reader, nullptr, maxFrames, frames);
    if (status.error == WavReadError::none) {
        convertSamplesToFloat(reader.raw.data(), frames * reader.layout.channels, reader.layout.sampleFormat, items);
    }
    return status;
}

int16_t sampleFromUnsigned8(uint8_t value) { return static_cast<int16_t>((value - 128) * 256); }

int16_t sampleFromSigned24(int32_t value) { return saturateToInt16(roundedShift(value, 8)); }

int16_t sampleFromSigned32(int32_t value) { return saturateToInt16(roundedShift(value, 16)); }

int16_t sampleFromFloat(double value) {
    if (std::isnan(value)) return 0;
    // Exact: a power of two, and any float widens exactly to double.
    const double scaled = value * 32768.0;
    if (scaled > 32767.0) return 32767;
    if (scaled < -32768.0) return -32768;
    return static_cast<int16_t>(std::round(scaled));
}

// Scaled by powers of two: exact, but for a 32-bit integer's rounding to 24 significant bits.
float floatFromUnsigned8(uint8_t value) { return static_cast<float>(value - 128) * (1.0f / 128.0f); }

float floatFromSigned16(int16_t value) { return static_cast<float>(value) * (1.0f / 32768.0f); }

float floatFromSigned24(int32_t value) { return static_cast<float>(value) * (1.0f / 8388608.0f); }

float floatFromSigned32(int32_t value) { return static_cast<float>(value) * (1.0f / 2147483648.0f); }

}  // namespace plinth
