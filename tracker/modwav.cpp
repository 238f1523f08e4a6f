// The converter's entry: reads the module file whole, plays it and writes the
// mixed result as a stereo 16-bit PCM WAV file.

#include "modwav.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "output_file.h"
#include "pcm_block.h"

namespace {

constexpr int kBlockFrames = 512;
constexpr size_t kStreamBufferBytes = 1 << 16;

// Bound on the line reads of the cycle search (a few seconds at most). A
// cycle that Brent's method has not closed within this many reads spans more
// than 2^23 lines, and every line lasts at least one tick: at 8000 frames per
// second that is beyond 6.5e8 frames even at the fastest tempo, so the frame
// cap, which then ends the file, ends it at a comparable length.
constexpr uint32_t kMaxSearchReads = 1u << 24;

// What decides the sequence of lines read, as it stands between two reads.
// patternDelay and the timing fields do not steer the sequence, but they are
// kept so that equal states also mean equal time per pass.
struct PositionState {
    uint8_t orderIndex;
    int8_t line;
    uint8_t patternDelay;
    int32_t ticksPerLine;
    float samplesPerTick;
    uint8_t loopRemaining[32];
    int8_t loopLine[32];
};

PositionState capturePosition(const ModPlayer& player) {
    PositionState state{};
    state.orderIndex = player.orderIndex;
    state.line = player.line;
    state.patternDelay = player.patternDelay;
    state.ticksPerLine = player.ticksPerLine;
    state.samplesPerTick = player.samplesPerTick;
    for (int c = 0; c < player.channelCount; ++c) {
        state.loopRemaining[c] = player.channels[c].loopRemaining;
        state.loopLine[c] = player.channels[c].loopLine;
    }
    return state;
}

bool samePosition(const PositionState& a, const PositionState& b) {
    if (a.orderIndex != b.orderIndex || a.line != b.line || a.patternDelay != b.patternDelay ||
        a.ticksPerLine != b.ticksPerLine || !(a.samplesPerTick == b.samplesPerTick)) {
        return false;
    }
    for (int c = 0; c < 32; ++c) {
        if (a.loopRemaining[c] != b.loopRemaining[c] || a.loopLine[c] != b.loopLine[c]) return false;
    }
    return true;
}

// One line read as processTick makes it: the pattern delay is always used up
// before the next line is read.
void readNextLine(ModPlayer& player) {
    player.patternDelay = 0;
    processRow(player);
}

bool arrivalCountsLoop(const ModPlayer& player) {
    return player.line == 0 &&
           (player.visitedOrders[player.orderIndex >> 3] & (1u << (player.orderIndex & 7))) != 0;
}

// Frames of the whole conversion: the same render loop as the entry's, timing
// only. `player` is a prepared copy and is advanced.
long long countSongFrames(ModPlayer& player) {
    long long frames = 0;
    while (modLoopCount(&player) == 0 && player.stopped == 0 && frames < kMaxWavFrames) {
        long long k = modAdvance(&player, kBlockFrames);
        if (k > kMaxWavFrames - frames) k = kMaxWavFrames - frames;
        frames += k;
    }
    return frames;
}

struct ModuleBuffer {
    uint8_t* bytes = nullptr;
    int32_t size = 0;
    ~ModuleBuffer() { std::free(bytes); }
};

// Reads a regular file of 1 byte to 2 GiB - 1 whole. Anything else (a folder,
// a pipe, a device) fails at once without blocking. No message except when the
// buffer cannot be allocated.
bool readModuleFile(const char* path, ModuleBuffer& module) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 && info.st_size <= 0x7FFFFFFF;
    if (ok) {
        module.size = static_cast<int32_t>(info.st_size);
        module.bytes = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(module.size)));
        if (module.bytes == nullptr) {
            std::printf("error: %d-byte memory allocation failed\n", module.size);
            ok = false;
        }
    }
    size_t got = 0;
    const size_t want = ok ? static_cast<size_t>(module.size) : 0;
    while (got < want) {
        const ssize_t n = read(fd, module.bytes + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    return ok && got == want;
}

bool writeHeader(std::FILE* file, uint32_t sampleRate, long long frames) {
    const uint32_t dataSize = static_cast<uint32_t>(frames) * 4u;
    int ok = std::fputs("RIFF", file) >= 0;
    ok &= writeLe32(dataSize + 36u, file);
    ok &= std::fputs("WAVE", file) >= 0;
    ok &= std::fputs("fmt ", file) >= 0;
    ok &= writeLe32(16, file);
    ok &= writeLe16(1, file);
    ok &= writeLe16(2, file);
    ok &= writeLe32(sampleRate, file);
    ok &= writeLe32(sampleRate * 4u, file);
    ok &= writeLe16(4, file);
    ok &= writeLe16(16, file);
    ok &= std::fputs("data", file) >= 0;
    ok &= writeLe32(dataSize, file);
    return ok != 0;
}

int convert(const char* inPath, const char* outPath, int sampleRate) {
    if (inPath == nullptr || outPath == nullptr || sampleRate <= 0 || sampleRate > kMaxWavRate) return -1;
    ModuleBuffer module;
    if (!readModuleFile(inPath, module)) return -1;

    ModPlayer player;
    if (modPrepareSong(&player, module.bytes, module.size, sampleRate) == 0) return -1;
    // The file's length is known before anything is written, so the header
    // goes out once with its final sizes and the output need not be seekable.
    ModPlayer measuring = player;
    const long long frames = countSongFrames(measuring);

    // Declared before the output so that it outlives the stream using it.
    const std::unique_ptr<char[]> streamBuffer(new char[kStreamBufferBytes]);
    plinth::OutputFile output;
    if (!plinth::openOutputFile(outPath, output)) return -1;
    plinth::OutputFileGuard guard(output);
    // Large writes: a system call per default-sized buffer costs more than
    // the mixing of a block.
    std::setvbuf(output.stream, streamBuffer.get(), _IOFBF, kStreamBufferBytes);
    if (!writeHeader(output.stream, static_cast<uint32_t>(sampleRate), frames)) return -1;

    float floatBlock[kBlockFrames * 2];
    uint8_t sampleBlock[kBlockFrames * 4];  // 16-bit little-endian, left then right
    long long written = 0;
    while (modLoopCount(&player) == 0 && player.stopped == 0 && written < kMaxWavFrames) {
        long long k = modRender(&player, floatBlock, sizeof floatBlock) >> 3;
        if (k > kMaxWavFrames - written) k = kMaxWavFrames - written;
        floatsToPcm16(floatBlock, static_cast<size_t>(k) * 2, sampleBlock);
        if (k > 0 && std::fwrite(sampleBlock, static_cast<size_t>(k) * 4, 1, output.stream) != 1) return -1;
        written += k;
    }
    if (written != frames) return -1;
    return plinth::commitOutputFile(output) ? 999 : -1;
}

}  // namespace

int writeLe16(uint32_t value, std::FILE* file) {
    const int low = std::fputc(static_cast<int>(value & 0xFF), file);
    const int high = std::fputc(static_cast<int>((value >> 8) & 0xFF), file);
    return low != EOF && high != EOF;
}

int writeLe32(uint32_t value, std::FILE* file) {
    const int low = writeLe16(value & 0xFFFF, file);
    const int high = writeLe16(value >> 16, file);
    return low && high;
}

float clampUnit(float x) {
    if (x < -1.0f) return -1.0f;
    if (x > 1.0f) return 1.0f;
    return x;
}

int16_t floatToSample(float x) { return static_cast<int16_t>(static_cast<int>(clampUnit(x) * 32767.0f)); }

// A song that never comes back to line 0 of an order it has played would play
// for ever. The lines it reads follow from a small position state alone, so
// the states before each line read run into a cycle: Brent's method finds
// where it starts (mu, counting the read inside modInit as read 0) and its
// length (lambda) in constant memory. Replaying the loop test over
// mu + 2 lambda reads then decides: by the end of the second pass every order
// the cycle marks is marked, so a loop not counted by then is never counted.
// Such a song ends where read mu + lambda starts, after exactly one full pass
// through the cycle.
uint32_t modFindStopRead(const ModPlayer& initial) {
    // The position as it stood before modInit's first tick read line 0.
    ModPlayer start = initial;
    start.orderIndex = 0;
    start.line = -1;
    start.patternDelay = 0;
    start.ticksPerLine = 6;
    start.samplesPerTick = static_cast<float>(start.sampleRate) * 0.02f;
    for (ModChannel& ch : start.channels) {
        ch.loopRemaining = 0;
        ch.loopLine = 0;
    }
    modZero(start.visitedOrders, sizeof start.visitedOrders);

    ModPlayer hare = start;
    PositionState tortoise = capturePosition(start);
    readNextLine(hare);
    PositionState hareState = capturePosition(hare);
    uint32_t power = 1;
    uint32_t lambda = 1;
    uint32_t reads = 1;
    while (!samePosition(tortoise, hareState)) {
        if (power == lambda) {
            tortoise = hareState;
            power *= 2;
            lambda = 0;
        }
        readNextLine(hare);
        hareState = capturePosition(hare);
        ++lambda;
        if (++reads > kMaxSearchReads) return 0;
    }

    ModPlayer first = start;
    ModPlayer second = start;
    for (uint32_t i = 0; i < lambda; ++i) readNextLine(second);
    uint32_t mu = 0;
    while (!samePosition(capturePosition(first), capturePosition(second))) {
        readNextLine(first);
        readNextLine(second);
        if (++mu > kMaxSearchReads) return 0;
    }

    ModPlayer replay = start;
    const uint64_t horizon = static_cast<uint64_t>(mu) + 2u * static_cast<uint64_t>(lambda);
    for (uint64_t r = 0; r < horizon; ++r) {
        readNextLine(replay);
        if (arrivalCountsLoop(replay)) return 0;
    }
    return mu + lambda;
}

int modPrepareSong(ModPlayer* player, const uint8_t* image, int32_t size, int32_t sampleRate) {
    if (modInit(player, image, size, sampleRate) == 0) return 0;
    player->stopAtRead = modFindStopRead(*player);
    return 1;
}

long long modSongFrames(const unsigned char* image, int size, int sampleRate) {
    if (sampleRate > kMaxWavRate) return -1;
    ModPlayer player;
    if (modPrepareSong(&player, image, size, sampleRate) == 0) return -1;
    return countSongFrames(player);
}

int modToWavFile(const char* inPath, const char* outPath, int sampleRate) {
    try {
        return convert(inPath, outPath, sampleRate);
    } catch (...) {
        return -1;
    }
}
