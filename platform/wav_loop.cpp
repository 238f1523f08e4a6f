#include "platform/wav_loop.h"

#include <cstring>

#include "platform/wav_header.h"

namespace plinth {
namespace {

// Field offsets in the sampler chunk's body.
constexpr std::size_t kSamplePeriodField = 8;
constexpr std::size_t kUnityNoteField = 12;
constexpr std::size_t kLoopCountField = 28;
// ... and in a loop record, and in a cue point.
constexpr std::size_t kLoopCueField = 0;
constexpr std::size_t kLoopTypeField = 4;
constexpr std::size_t kLoopStartField = 8;
constexpr std::size_t kLoopEndField = 12;
constexpr std::size_t kCueIdField = 0;
constexpr std::size_t kCuePositionField = 4;
constexpr std::size_t kCueChunkField = 8;
constexpr std::size_t kCueOffsetField = 20;

// The one cue point, which the loop names.
constexpr uint32_t kLoopCueId = 1;
// Middle C: the note at which a sampler plays the file at its own rate.
constexpr uint32_t kUnityNote = 60;
constexpr uint64_t kNanosecondsPerSecond = 1000000000;

uint8_t* putChunkHeader(uint8_t* at, const char (&tag)[5], uint32_t size) {
    std::memcpy(at, tag, 4);
    putLe32(at + 4, size);
    return at + kChunkHeaderBytes;
}

}  // namespace

void encodeLoopChunks(const SamplerLoop& loop, uint32_t frameRate, uint8_t* bytes) {
    std::memset(bytes, 0, kLoopChunksBytes);
    uint8_t* sampler = putChunkHeader(bytes, kSamplerChunkTag, kSamplerFieldsBytes + kSamplerLoopBytes);
    const uint64_t period = frameRate == 0 ? 0 : (kNanosecondsPerSecond + frameRate / 2) / frameRate;
    putLe32(sampler + kSamplePeriodField, static_cast<uint32_t>(period));
    putLe32(sampler + kUnityNoteField, kUnityNote);
    putLe32(sampler + kLoopCountField, 1);
    uint8_t* record = sampler + kSamplerFieldsBytes;
    putLe32(record + kLoopCueField, kLoopCueId);
    putLe32(record + kLoopTypeField, kForwardLoop);
    putLe32(record + kLoopStartField, loop.start);
    putLe32(record + kLoopEndField, loop.end);

    uint8_t* cue = putChunkHeader(record + kSamplerLoopBytes, kCueChunkTag, kCueCountBytes + kCuePointBytes);
    putLe32(cue, 1);
    uint8_t* point = cue + kCueCountBytes;
    putLe32(point + kCueIdField, kLoopCueId);
    putLe32(point + kCuePositionField, loop.start);
    std::memcpy(point + kCueChunkField, kDataChunkTag, 4);
    putLe32(point + kCueOffsetField, loop.start);
}

bool decodeSamplerLoop(const uint8_t* body, std::size_t size, SamplerLoop& loop) {
    if (size < kSamplerFieldsBytes + kSamplerLoopBytes || readLe32(body + kLoopCountField) == 0) return false;
    const uint8_t* record = body + kSamplerFieldsBytes;
    loop.type = readLe32(record + kLoopTypeField);
    loop.start = readLe32(record + kLoopStartField);
    loop.end = readLe32(record + kLoopEndField);
    return true;
}

}  // namespace plinth
