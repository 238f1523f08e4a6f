// The line processor: advances the song position, decodes the cells of the
// next pattern line and carries out what their effects do at line time.

#include "tracker/mod_player.h"

namespace plinth {

namespace {

// What the song effects of a line leave for its end.
struct LineJumps {
    bool breakPending = false;
    int breakLine = 0;
    bool loopJumped = false;
};

void nextOrder(ModPlayer& player) {
    player.orderIndex = static_cast<uint8_t>(player.orderIndex + 1);
    if (player.orderIndex == player.songLength) player.orderIndex = player.restartPosition;
}

// An order is marked when the line after its line 0 is read, never while its
// line 0 is current: the render loop tests the mark at line 0, tick 0.
void advanceLine(ModPlayer& player) {
    if (player.line == 0) markOrderVisited(player, player.orderIndex);
    player.line = static_cast<int8_t>(player.line + 1);
    if (player.line == kLinesPerPattern) {
        player.line = 0;
        nextOrder(player);
    }
}

// Keeps each nibble of `memory` unless `param` gives a non-zero one.
uint8_t mergeNibbles(uint8_t memory, uint8_t param) {
    const int high = (param & 0xF0) != 0 ? (param & 0xF0) : (memory & 0xF0);
    const int low = (param & 0x0F) != 0 ? (param & 0x0F) : (memory & 0x0F);
    return static_cast<uint8_t>(high | low);
}

// The cell's effect as the channel holds it.
void takeEffect(ModChannel& ch, const ModCell& cell) {
    if (cell.effect == kExtendedEffectDigit) {
        ch.effect = static_cast<uint8_t>(kExtendedEffectBase + (cell.param >> 4));
        ch.param = static_cast<uint8_t>(cell.param & 0x0F);
    } else {
        ch.effect = static_cast<uint8_t>(cell.effect);
        ch.param = static_cast<uint8_t>(cell.param);
    }
}

// A sample number gives the channel that sample with its finetune and default
// volume; one out of range silences the channel.
void takeSample(const ModPlayer& player, ModChannel& ch, int sampleNumber) {
    if (sampleNumber > kMaxSamples) {
        ch.sample = 0;
    } else if (sampleNumber != 0) {
        const uint8_t* header = sampleHeader(player.source, sampleNumber);
        ch.sample = static_cast<uint8_t>(sampleNumber);
        ch.finetune = static_cast<uint8_t>(header[kSampleFinetuneField] & 0x0F);
        ch.volume = static_cast<uint8_t>(modMin(header[kSampleVolumeField], kMaxVolume));
        if (ch.effect != kEffectNoteDelay) ch.updateFlags |= kVolumeStale;
    }
}

// A note, tuned with the channel's finetune (a sample number on the same line
// lends its own): it starts at once, waits for its delay, or only becomes a
// portamento's target. Returns the tuned period.
uint16_t takeNote(ModChannel& ch, int notePeriod) {
    const auto tunedPeriod =
        static_cast<uint16_t>(notePeriod + finetuneDeltaTable[ch.finetune][periodIndex(notePeriod)]);
    switch (ch.effect) {
        case kEffectTonePortamento:
        case kEffectPortamentoVolumeSlide:
            break;
        case kEffectNoteDelay:
            ch.delayedPeriod = tunedPeriod;
            break;
        default:
            ch.period = tunedPeriod;
            ch.position = 0.0f;
            ch.lfoStep = 0;
            ch.updateFlags |= kPitchStale;
            break;
    }
    return tunedPeriod;
}

// The line effects that act on the channel alone. tunedPeriod is the cell's
// note as takeNote tuned it.
void applyChannelEffect(ModChannel& ch, const ModCell& cell, uint16_t tunedPeriod) {
    const bool hasNote = cell.period != 0;
    const uint8_t param = ch.param;
    switch (ch.effect) {
        case kEffectTonePortamento:
            if (param != 0) ch.portaSpeed = param;
            if (hasNote) ch.targetPeriod = tunedPeriod;
            break;
        case kEffectPortamentoVolumeSlide:
            if (hasNote) ch.targetPeriod = tunedPeriod;
            break;
        case kEffectVibrato:
            ch.vibratoParam = mergeNibbles(ch.vibratoParam, param);
            break;
        case kEffectTremolo:
            ch.tremoloParam = mergeNibbles(ch.tremoloParam, param);
            break;
        case kEffectPan:
            ch.pan = param;
            break;
        case kEffectSampleOffset:
            // A sample number out of range counts as one.
            if (hasNote || cell.sample != 0) {
                if (param != 0) ch.offsetParam = param;
                ch.position = static_cast<float>(ch.offsetParam * kSampleOffsetUnit);
            }
            break;
        case kEffectSetVolume:
            ch.volume = static_cast<uint8_t>(modMin(param, kMaxVolume));
            ch.updateFlags |= kVolumeStale;
            break;
        case kEffectFineSlideUp:
            if (param != 0) ch.fineSlideUpParam = param;
            break;
        case kEffectFineSlideDown:
            if (param != 0) ch.fineSlideDownParam = param;
            break;
        case kEffectVibratoWaveform:
            ch.vibratoWaveform = param;
            break;
        case kEffectFinetune:
            ch.finetune = param;
            ch.updateFlags |= kPitchStale;
            break;
        case kEffectTremoloWaveform:
            ch.tremoloWaveform = param;
            break;
        case kEffectCoarsePan:
            ch.pan = static_cast<uint8_t>(param * 16);
            break;
        case kEffectFineVolumeUp:
            if (param != 0) ch.fineVolUpParam = param;
            break;
        case kEffectFineVolumeDown:
            if (param != 0) ch.fineVolDownParam = param;
            break;
        default:
            break;
    }
}

// The line effects that act on the song: its position, speed, tempo and
// pattern delay. Each write to the position replaces the earlier channels'.
void applySongEffect(ModPlayer& player, ModChannel& ch, LineJumps& jumps) {
    const int param = ch.param;
    switch (ch.effect) {
        case kEffectPositionJump:
            player.orderIndex = static_cast<uint8_t>(param < player.songLength ? param : 0);
            player.line = -1;
            jumps.loopJumped = false;
            break;
        case kEffectPatternBreak:
            // Two decimal digits, taken as they stand (0x1F gives 25).
            jumps.breakPending = true;
            jumps.breakLine = (param >> 4) * 10 + (param & 0x0F);
            break;
        case kEffectSpeed:
            if (param >= kFirstTempo) {
                player.samplesPerTick = tempoSamplesPerTick(player.sampleRate, param);
            } else if (param != 0) {
                player.ticksPerLine = param;
            }
            break;
        case kEffectPatternLoop:
            if (param == 0) {
                // An earlier channel's position jump on this line can have
                // left `line` at -1; the loop start then is line 0, so that
                // `line` never leaves -1..63 and no cell outside the
                // pattern is ever addressed.
                ch.loopLine = static_cast<int8_t>(modMax(player.line - 1, -1));
            } else if (ch.loopRemaining == 0) {
                ch.loopRemaining = static_cast<uint8_t>(param);
                player.line = ch.loopLine;
                jumps.loopJumped = true;
            } else {
                ch.loopRemaining = static_cast<uint8_t>(ch.loopRemaining - 1);
                if (ch.loopRemaining != 0) {
                    player.line = ch.loopLine;
                    jumps.loopJumped = true;
                }
            }
            break;
        case kEffectPatternDelay:
            player.patternDelay = static_cast<uint8_t>(param);
            break;
        default:
            break;
    }
}

// A pattern break, after every channel's effects: the next call reads the
// break line (line 0 for one past the pattern) of the next order.
void finishLine(ModPlayer& player, const LineJumps& jumps) {
    bool loopJumped = jumps.loopJumped;
    if (jumps.breakPending) {
        player.line = static_cast<int8_t>((jumps.breakLine < kLinesPerPattern ? jumps.breakLine : 0) - 1);
        nextOrder(player);
        loopJumped = false;
    }
    player.lineFromLoopJump = loopJumped ? 1 : 0;
}

}  // namespace

int periodIndex(int period) {
    for (int n = 0; n < kNoteCount; ++n) {
        if (kNotePeriods[n] == period) return n;
    }
    return 0;
}

void processLine(ModPlayer& player) {
    ++player.lineReads;
    advanceLine(player);

    // All cells come from this line, whatever its effects do to the position.
    const int pattern = player.orderTable[player.orderIndex];
    const uint8_t* cells = player.patternData + cellOffset(pattern, player.line, 0, player.channelCount);
    LineJumps jumps;
    for (int c = 0; c < player.channelCount; ++c) {
        const ModCell cell = decodeCell(cells + c * kCellBytes);
        ModChannel& ch = player.channels[c];
        takeEffect(ch, cell);
        takeSample(player, ch, cell.sample);
        const uint16_t tunedPeriod = cell.period != 0 ? takeNote(ch, cell.period) : 0;
        applyChannelEffect(ch, cell, tunedPeriod);
        applySongEffect(player, ch, jumps);
    }
    finishLine(player, jumps);
}

}  // namespace plinth
