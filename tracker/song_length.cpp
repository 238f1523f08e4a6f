// The song's length: the cycle search for songs that never loop, and the
// timing-only pass that counts the frames before anything is written.

#include "tracker/song_length.h"

namespace plinth {

namespace {

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
    uint8_t loopRemaining[kMaxModuleChannels];
    int8_t loopLine[kMaxModuleChannels];
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
    for (int c = 0; c < kMaxModuleChannels; ++c) {
        if (a.loopRemaining[c] != b.loopRemaining[c] || a.loopLine[c] != b.loopLine[c]) return false;
    }
    return true;
}

// One line read as processTick makes it: the pattern delay is always used up
// before the next line is read.
void readNextLine(ModPlayer& player) {
    player.patternDelay = 0;
    processLine(player);
}

bool arrivalCountsLoop(const ModPlayer& player) {
    return player.line == 0 && player.lineFromLoopJump == 0 && orderVisited(player, player.orderIndex);
}

// Frames of the whole conversion: the same render loop as the renderer's,
// timing only. `player` is a prepared copy and is advanced.
ModuleError countSongFrames(ModPlayer& player, const SongLimits& limits, uint64_t& frames) {
    frames = 0;
    while (modLoopCount(player) == 0 && player.stopped == 0 && frames < kMaxWavFrames) {
        if (frames > limits.maxFrames) return ModuleError::tooLong;
        if (stopRequested(limits.progress)) return ModuleError::stopped;
        uint64_t k = modAdvance(player, kRenderBlockFrames);
        if (k > kMaxWavFrames - frames) k = kMaxWavFrames - frames;
        frames += k;
    }
    return frames > limits.maxFrames ? ModuleError::tooLong : ModuleError::none;
}

}  // namespace

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
    start.ticksPerLine = kStartingSpeed;
    start.samplesPerTick = startingSamplesPerTick(start.sampleRate);
    for (ModChannel& ch : start.channels) {
        ch.loopRemaining = 0;
        ch.loopLine = 0;
    }
    forgetVisitedOrders(start);

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

ModuleError prepareSong(Song& song, const uint8_t* image, int32_t size, int32_t sampleRate,
                        const SongLimits& limits) {
    if (sampleRate <= 0 || sampleRate > kMaxWavRate) return ModuleError::invalidRate;
    if (!modInit(song.player, image, size, sampleRate)) return ModuleError::notPlayable;
    song.player.stopAtRead = modFindStopRead(song.player);
    ModPlayer measuring = song.player;
    return countSongFrames(measuring, limits, song.frames);
}

}  // namespace plinth
