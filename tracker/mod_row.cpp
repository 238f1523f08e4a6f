// The line processor: advances the song position, decodes the cells of the
// next pattern line and carries out what the effects do at line time.

#include "tracker/mod_player.h"

namespace plinth {

namespace {

const uint16_t kBasePeriods[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                                   428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                                   214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};

void markOrder(ModPlayer& player, int order) {
    player.visitedOrders[order >> 3] = static_cast<uint8_t>(player.visitedOrders[order >> 3] | (1u << (order & 7)));
}

void nextOrder(ModPlayer& player) {
    player.orderIndex = static_cast<uint8_t>(player.orderIndex + 1);
    if (player.orderIndex == player.songLength) player.orderIndex = player.restartPosition;
}

// Keeps each nibble of `memory` unless `param` gives a non-zero one.
uint8_t mergeNibbles(uint8_t memory, uint8_t param) {
    const int high = (param & 0xF0) != 0 ? (param & 0xF0) : (memory & 0xF0);
    const int low = (param & 0x0F) != 0 ? (param & 0x0F) : (memory & 0x0F);
    return static_cast<uint8_t>(high | low);
}

}  // namespace

int periodIndex(int period) {
    for (int n = 0; n < 36; ++n) {
        if (kBasePeriods[n] == period) return n;
    }
    return 0;
}

void processRow(ModPlayer& player) {
    ++player.lineReads;

    // An order is marked when the line after its line 0 is read, never while
    // its line 0 is current: the render loop tests the mark at line 0, tick 0.
    if (player.line == 0) markOrder(player, player.orderIndex);

    player.line = static_cast<int8_t>(player.line + 1);
    if (player.line == 64) {
        player.line = 0;
        nextOrder(player);
    }

    // All cells come from this line, whatever its effects do to the position.
    const int pattern = player.orderTable[player.orderIndex];
    const int channelCount = player.channelCount;
    const uint8_t* cell = player.patternData + (pattern * 64 + player.line) * channelCount * 4;

    bool breakPending = false;
    int breakLine = 0;
    bool loopJumped = false;

    for (int c = 0; c < channelCount; ++c, cell += 4) {
        ModChannel& ch = player.channels[c];
        const int sampleNumber = (cell[0] & 0xF0) | (cell[2] >> 4);
        const int notePeriod = ((cell[0] & 0x0F) << 8) | cell[1];
        const int digit = cell[2] & 0x0F;
        if (digit == kExtendedEffectDigit) {
            ch.effect = static_cast<uint8_t>(0xE0 + (cell[3] >> 4));
            ch.param = static_cast<uint8_t>(cell[3] & 0x0F);
        } else {
            ch.effect = static_cast<uint8_t>(digit);
            ch.param = cell[3];
        }
        const int effect = ch.effect;
        const int param = ch.param;

        if (sampleNumber > 31) {
            ch.sample = 0;
        } else if (sampleNumber != 0) {
            const uint8_t* header = sampleHeader(player.source, sampleNumber);
            ch.sample = static_cast<uint8_t>(sampleNumber);
            ch.finetune = static_cast<uint8_t>(header[kSampleFinetuneField] & 0x0F);
            ch.volume = static_cast<uint8_t>(modMin(header[kSampleVolumeField], 64));
            if (effect != kEffectNoteDelay) ch.updateFlags |= kVolumeStale;
        }

        const bool hasNote = notePeriod != 0;
        uint16_t tunedPeriod = 0;
        if (hasNote) {
            // A sample number on the same line lends its finetune to the note.
            tunedPeriod = static_cast<uint16_t>(notePeriod + finetuneDeltaTable[ch.finetune][periodIndex(notePeriod)]);
            if (effect == kEffectTonePortamento || effect == kEffectPortamentoVolumeSlide) {
                // The note only becomes the portamento target below.
            } else if (effect == kEffectNoteDelay) {
                ch.delayedPeriod = tunedPeriod;
            } else {
                ch.period = tunedPeriod;
                ch.position = 0.0f;
                ch.lfoStep = 0;
                ch.updateFlags |= kPitchStale;
            }
        }

        switch (effect) {
            case kEffectTonePortamento:
                if (param != 0) ch.portaSpeed = static_cast<uint8_t>(param);
                if (hasNote) ch.targetPeriod = tunedPeriod;
                break;
            case kEffectPortamentoVolumeSlide:
                if (hasNote) ch.targetPeriod = tunedPeriod;
                break;
            case kEffectVibrato:
                ch.vibratoParam = mergeNibbles(ch.vibratoParam, static_cast<uint8_t>(param));
                break;
            case kEffectTremolo:
                ch.tremoloParam = mergeNibbles(ch.tremoloParam, static_cast<uint8_t>(param));
                break;
            case kEffectPan:
                ch.pan = static_cast<uint8_t>(param);
                break;
            case kEffectSampleOffset:
                if (hasNote || sampleNumber != 0) {
                    if (param != 0) ch.offsetParam = static_cast<uint8_t>(param);
                    ch.position = static_cast<float>(ch.offsetParam * 256);
                }
                break;
            case kEffectPositionJump:
                player.orderIndex = static_cast<uint8_t>(param < player.songLength ? param : 0);
                player.line = -1;
                loopJumped = false;
                break;
            case kEffectSetVolume:
                ch.volume = static_cast<uint8_t>(modMin(param, 64));
                ch.updateFlags |= kVolumeStale;
                break;
            case kEffectPatternBreak:
                // Two decimal digits, taken as they stand (0x1F gives 25).
                breakPending = true;
                breakLine = (param >> 4) * 10 + (param & 0x0F);
                break;
            case kEffectSpeed:
                if (param >= 32) {
                    player.samplesPerTick = static_cast<float>(player.sampleRate) / (static_cast<float>(param) * 0.4f);
                } else if (param != 0) {
                    player.ticksPerLine = param;
                }
                break;
            case kEffectFineSlideUp:
                if (param != 0) ch.fineSlideUpParam = static_cast<uint8_t>(param);
                break;
            case kEffectFineSlideDown:
                if (param != 0) ch.fineSlideDownParam = static_cast<uint8_t>(param);
                break;
            case kEffectVibratoWaveform:
                ch.vibratoWaveform = static_cast<uint8_t>(param);
                break;
            case kEffectFinetune:
                ch.finetune = static_cast<uint8_t>(param);
                ch.updateFlags |= kPitchStale;
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
                    loopJumped = true;
                } else {
                    ch.loopRemaining = static_cast<uint8_t>(ch.loopRemaining - 1);
                    if (ch.loopRemaining != 0) {
                        player.line = ch.loopLine;
                        loopJumped = true;
                    }
                }
                break;
            case kEffectTremoloWaveform:
                ch.tremoloWaveform = static_cast<uint8_t>(param);
                break;
            case kEffectCoarsePan:
                ch.pan = static_cast<uint8_t>(param * 16);
                break;
            case kEffectFineVolumeUp:
                if (param != 0) ch.fineVolUpParam = static_cast<uint8_t>(param);
                break;
            case kEffectFineVolumeDown:
                if (param != 0) ch.fineVolDownParam = static_cast<uint8_t>(param);
                break;
            case kEffectPatternDelay:
                player.patternDelay = static_cast<uint8_t>(param);
                break;
            default:
                break;
        }
    }

    if (breakPending) {
        player.line = static_cast<int8_t>((breakLine < 64 ? breakLine : 0) - 1);
        nextOrder(player);
        loopJumped = false;
    }
    player.lineFromLoopJump = loopJumped ? 1 : 0;
}

}  // namespace plinth
