// The song's length: the cycle search for songs that never loop, the loops
// of a render and where they end, and the timing-only pass that counts the
// frames and finds the loop before anything is written.

#include "tracker/song_length.h"

#include <cstdint>

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

// The frame at which the player first stood at line 0, tick 0 of each order
// since the loop under way began, as the render loop sees arrivals: each one
// ends a render call, so a look after every call finds them all.
struct OrderArrivals {
    bool seen[kOrderListLength];
    uint64_t frame[kOrderListLength];

    void clear() {
        for (bool& order : seen) order = false;
    }
    void note(const ModPlayer& player, uint64_t frames) {
        if (player.line != 0 || player.tick != 0 || player.lineFromLoopJump != 0 || seen[player.orderIndex]) return;
        seen[player.orderIndex] = true;
        frame[player.orderIndex] = frames;
    }
    uint64_t first(int order, uint64_t otherwise) const { return seen[order] ? frame[order] : otherwise; }
};

// Frames from `state` (a player between two render calls) to where line read
// `read` starts, advanced by the same calls as the renderer's: a stop mark
// ends a call only at a tick boundary, where the renderer's next call would
// begin anyway. 0 when the read was made before `state`.
uint64_t framesUntilRead(ModPlayer state, uint32_t read, uint64_t limit) {
    if (read < state.lineReads) return 0;
    state.stopAtRead = read;
    state.stopped = 0;
    uint64_t frames = 0;
    while (state.stopped == 0 && frames < limit) frames += modAdvance(state, kRenderBlockFrames);
    return frames;
}

// Frames of the whole render and its loop: the same render calls as the
// renderer's, timing only, on a copy of the song's player.
ModuleError measureSong(Song& song, const SongLimits& limits) {
    const SongPlan& plan = song.plan;
    ModPlayer player = song.player;
    LoopCursor cursor = startOfSong(song);
    ModPlayer loopBegan = player;  // the player where the loop under way began, and its frame
    uint64_t loopBeganAt = 0;
    OrderArrivals arrivals;
    arrivals.clear();
    arrivals.note(player, 0);
    uint64_t frames = 0;
    while (cursor.loopsDone < plan.loops && frames < plan.capacityFrames) {
        if (frames > limits.maxFrames) return ModuleError::tooLong;
        if (stopRequested(limits.progress)) return ModuleError::stopped;
        const uint64_t k = modAdvance(player, kRenderBlockFrames);
        // A loop that ends past the capacity is cut, not ended.
        if (k > plan.capacityFrames - frames) {
            frames = plan.capacityFrames;
            break;
        }
        frames += k;
        const bool counted = player.loopCount != cursor.countedLoops;
        const SongCycle cycle = cursor.cycle;
        if (loopEnded(player, cursor, plan.loops)) {
            if (cursor.loopsDone == plan.loops) {
                song.loopFound = true;
                song.loopStart = counted ? arrivals.first(player.orderIndex, loopBeganAt)
                                         : loopBeganAt + framesUntilRead(loopBegan, cycle.startRead, frames - loopBeganAt);
            }
            loopBegan = player;
            loopBeganAt = frames;
            arrivals.clear();
        }
        arrivals.note(player, frames);
    }
    song.loopsEnd = frames;
    const uint64_t room = plan.capacityFrames - frames;
    song.frames = frames + (song.loopFound ? (plan.fadeFrames < room ? plan.fadeFrames : room) : 0);
    return song.frames > limits.maxFrames ? ModuleError::tooLong : ModuleError::none;
}

// Where the song goes once a loop has ended at the stop mark: the lines from
// there on repeat the cycle, so the next loop ends one cycle later.
SongCycle nextCycle(const SongCycle& cycle) {
    const uint64_t length = cycle.stopRead - cycle.startRead;
    const uint64_t stop = cycle.stopRead + length;
    if (stop > UINT32_MAX) return {};  // past any song a WAV file can hold
    return {static_cast<uint32_t>(stop), cycle.stopRead};
}

// The position as it stood before modInit's first tick read line 0.
ModPlayer positionBeforeFirstRead(const ModPlayer& initial) {
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
    start.lineReads = 0;
    return start;
}

// A song that never comes back to line 0 of an order it has played would play
// for ever. The lines it reads follow from a small position state alone, so
// the states before each line read run into a cycle: Brent's method finds
// where it starts (mu reads after `start`) and its length (lambda) in
// constant memory. Replaying the loop test over mu + 2 lambda reads then
// decides: by the end of the second pass every order the cycle marks is
// marked, so a loop not counted by then is never counted. Such a song ends
// where read mu + lambda starts, after exactly one full pass through the
// cycle. `start` stands between two line reads, with the visited orders as
// they are.
SongCycle findSongCycle(const ModPlayer& start) {
    // The hare reads the song's lines in order from `start`, as the replay
    // would: a loop it meets ends the search at once (one counted anywhere
    // is also counted within the replay's horizon).
    ModPlayer hare = start;
    PositionState tortoise = capturePosition(start);
    readNextLine(hare);
    if (arrivalCountsLoop(hare)) return {};
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
        if (arrivalCountsLoop(hare)) return {};
        hareState = capturePosition(hare);
        ++lambda;
        if (++reads > kMaxSearchReads) return {};
    }

    ModPlayer first = start;
    ModPlayer second = start;
    for (uint32_t i = 0; i < lambda; ++i) readNextLine(second);
    uint32_t mu = 0;
    while (!samePosition(capturePosition(first), capturePosition(second))) {
        readNextLine(first);
        readNextLine(second);
        if (++mu > kMaxSearchReads) return {};
    }

    ModPlayer replay = start;
    const uint64_t horizon = static_cast<uint64_t>(mu) + 2u * static_cast<uint64_t>(lambda);
    for (uint64_t r = 0; r < horizon; ++r) {
        readNextLine(replay);
        if (arrivalCountsLoop(replay)) return {};
    }
    // Read numbers count from modInit's; `start` has made lineReads of them.
    const uint64_t cycleStart = static_cast<uint64_t>(start.lineReads) + mu;
    if (cycleStart + lambda > UINT32_MAX) return {};  // past any song a WAV file can hold
    return {static_cast<uint32_t>(cycleStart + lambda), static_cast<uint32_t>(cycleStart)};
}

}  // namespace

uint32_t modFindStopRead(const ModPlayer& initial) { return findSongCycle(positionBeforeFirstRead(initial)).stopRead; }

uint64_t fadeFramesFor(uint32_t milliseconds, int32_t sampleRate) {
    if (sampleRate <= 0) return 0;
    return (static_cast<uint64_t>(milliseconds) * static_cast<uint64_t>(sampleRate) + 500) / 1000;
}

LoopCursor startOfSong(const Song& song) {
    LoopCursor cursor;
    cursor.countedLoops = song.player.loopCount;
    cursor.cycle = song.cycle;
    return cursor;
}

bool loopEnded(ModPlayer& player, LoopCursor& cursor, int loops) {
    const bool counted = player.loopCount != cursor.countedLoops;
    if (!counted && player.stopped == 0) return false;
    cursor.countedLoops = player.loopCount;
    if (++cursor.loopsDone < loops) {
        // After a counted loop the song may loop again or, from here, never;
        // after the stop mark it goes round its cycle once more.
        cursor.cycle = counted ? findSongCycle(player) : nextCycle(cursor.cycle);
        player.stopAtRead = cursor.cycle.stopRead;
        player.stopped = 0;
    }
    return true;
}

ModuleError prepareSong(Song& song, const uint8_t* image, int32_t size, int32_t sampleRate,
                        const SongLimits& limits, const SongPlan& plan) {
    if (sampleRate <= 0 || sampleRate > kMaxWavRate) return ModuleError::invalidRate;
    if (!modInit(song.player, image, size, sampleRate)) return ModuleError::notPlayable;
    song.plan = plan;
    if (song.plan.loops < 1) song.plan.loops = 1;
    if (song.plan.capacityFrames > kMaxWavFrames) song.plan.capacityFrames = kMaxWavFrames;
    song.cycle = findSongCycle(positionBeforeFirstRead(song.player));
    song.player.stopAtRead = song.cycle.stopRead;
    return measureSong(song, limits);
}

}  // namespace plinth
