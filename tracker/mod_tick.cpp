// The tick processor: advances the tick counter, has the line processor read
// a line at the end of each line, runs the per-tick effects and recomputes
// each channel's increment and mixed volume when they are stale.

#include "tracker/mod_player.h"

namespace plinth {

namespace {

void tonePortamento(ModChannel& ch) {
    const int current = ch.period;
    const int target = ch.targetPeriod;
    const bool below = current < target;
    int next = below ? current + ch.portaSpeed : current - ch.portaSpeed;
    // Land exactly on the target when a step would reach or pass it.
    if ((next < target) != below) next = target;
    ch.period = static_cast<uint16_t>(next);
    ch.updateFlags |= kPitchStale;
}

// The effects that act on every tick of a line, the first one included.
void applyEveryTickEffect(ModChannel& ch, int tick) {
    const int p = ch.param;
    switch (ch.effect) {
        case kEffectArpeggio:
            ch.updateFlags |= kPitchStale;
            break;
        case kEffectRetrigger:
            if (p == 0 || tick % p == 0) {
                ch.position = 0.0f;
                ch.lfoStep = 0;
            }
            break;
        case kEffectNoteCut:
            if (tick == p) {
                ch.volume = 0;
                ch.updateFlags |= kVolumeStale;
            }
            break;
        case kEffectNoteDelay:
            if (tick == p && ch.sample != 0) {
                ch.updateFlags |= kPitchStale | kVolumeStale;
                ch.period = ch.delayedPeriod;
                ch.position = 0.0f;
                ch.lfoStep = 0;
            }
            break;
        default:
            break;
    }
}

// The fine slides, which act on the first tick of a line alone.
void applyFirstTickEffect(ModChannel& ch) {
    switch (ch.effect) {
        case kEffectFineSlideUp:
            slidePeriod(ch, -ch.fineSlideUpParam);
            break;
        case kEffectFineSlideDown:
            slidePeriod(ch, ch.fineSlideDownParam);
            break;
        case kEffectFineVolumeUp:
            slideVolume(ch, ch.fineVolUpParam * 16);
            break;
        case kEffectFineVolumeDown:
            slideVolume(ch, ch.fineVolDownParam & 15);
            break;
        default:
            break;
    }
}

// The slides, portamentos and oscillators, which act on every tick but the
// first.
void applyLaterTickEffect(ModChannel& ch) {
    const int p = ch.param;
    switch (ch.effect) {
        case kEffectSlideUp:
            slidePeriod(ch, -p);
            break;
        case kEffectSlideDown:
            slidePeriod(ch, p);
            break;
        case kEffectTonePortamento:
            tonePortamento(ch);
            break;
        case kEffectVibrato:
            ch.lfoStep = static_cast<uint8_t>(ch.lfoStep + 1);
            ch.updateFlags |= kPitchStale;
            break;
        case kEffectPortamentoVolumeSlide:
            slideVolume(ch, p);
            tonePortamento(ch);
            break;
        case kEffectVibratoVolumeSlide:
            slideVolume(ch, p);
            ch.lfoStep = static_cast<uint8_t>(ch.lfoStep + 1);
            ch.updateFlags |= kPitchStale;
            break;
        case kEffectTremolo:
            ch.lfoStep = static_cast<uint8_t>(ch.lfoStep + 1);
            ch.updateFlags |= kVolumeStale;
            break;
        case kEffectVolumeSlide:
            slideVolume(ch, p);
            break;
        default:
            break;
    }
}

}  // namespace

int clampVolume(int x) { return modMin(modMax(x, 0), kMaxVolume); }

int lfoSine(int k) {
    int v = quarterSineTable[k & 15];
    if ((k & 16) != 0) v = 255 - v;
    if (k >= 32) v = -v;
    return v;
}

int lfoValue(const ModPlayer& player, const ModChannel& channel, unsigned phase) {
    const int waveform = (channel.effect == kEffectTremolo ? channel.tremoloWaveform : channel.vibratoWaveform) & 3;
    const int k = static_cast<int>(phase & 63);
    switch (waveform) {
        case 0:
            return lfoSine(k);
        case 1:
            return 255 - 8 * k;
        case 2:
            return k < 32 ? 255 : -255;
        default:
            return static_cast<int>(player.lfoRandom & 511) - 255;
    }
}

void slidePeriod(ModChannel& channel, int delta) {
    // From the highest note to the lowest at the channel's finetune.
    const int8_t* deltas = finetuneDeltaTable[channel.finetune & 15];
    const int lower = kNotePeriods[kHighestNote] + deltas[kHighestNote];
    const int upper = kNotePeriods[kLowestNote] + deltas[kLowestNote];
    int next = channel.period + delta;
    next = modMax(next, lower);
    next = modMin(next, upper);
    channel.period = static_cast<uint16_t>(next);
    channel.updateFlags |= kPitchStale;
}

void slideVolume(ModChannel& channel, int amount) {
    const int delta = (amount & 0xF0) != 0 ? (amount >> 4) : -(amount & 0x0F);
    channel.volume = static_cast<uint8_t>(clampVolume(channel.volume + delta));
    channel.updateFlags |= kVolumeStale;
}

void updatePitch(const ModPlayer& player, ModChannel& channel) {
    channel.increment = 0.0f;
    if (channel.period == 0) {
        channel.updateFlags &= static_cast<uint8_t>(~kPitchStale);
        return;
    }
    float f = static_cast<float>(channel.period);
    const int effect = channel.effect;
    if (effect == kEffectVibrato || effect == kEffectVibratoVolumeSlide) {
        const int speed = channel.vibratoParam >> 4;
        const int depth = channel.vibratoParam & 15;
        const int v = lfoValue(player, channel, static_cast<unsigned>(speed * channel.lfoStep));
        f = static_cast<float>(v * depth) * 0.0078125f + f;
    } else if (effect == kEffectArpeggio && channel.param != 0) {
        const int step = player.tick % 3;
        const int n = step == 0 ? 0 : (step == 1 ? channel.param >> 4 : channel.param & 15);
        f = f / arpeggioRatioTable[n];
    }
    // Vibrato can carry a very small period (left by a portamento towards 0)
    // to zero or below. Such a pitch has no meaning: the channel keeps an
    // increment of 0 and so stays where it is and adds nothing.
    if (f > 0.0f) {
        channel.increment = kPeriodClock / (static_cast<float>(player.sampleRate) * f);
    }
    channel.updateFlags &= static_cast<uint8_t>(~kPitchStale);
}

void updateVolume(const ModPlayer& player, ModChannel& channel) {
    int v = channel.volume;
    if (channel.effect == kEffectTremolo) {
        const int speed = channel.tremoloParam >> 4;
        const int depth = channel.tremoloParam & 15;
        const int w = lfoValue(player, channel, static_cast<unsigned>(speed * channel.lfoStep));
        // An arithmetic shift: rounds toward minus infinity.
        v = v + ((w * depth) >> 6);
    }
    channel.realVolume = static_cast<uint8_t>(clampVolume(v));
    channel.updateFlags &= static_cast<uint8_t>(~kVolumeStale);
}

void advanceTick(ModPlayer& player) {
    player.tick = static_cast<int16_t>(player.tick + 1);
    if (player.tick == player.ticksPerLine) {
        if (player.patternDelay > 0) {
            // The previous line is repeated: channels keep effect and param.
            player.patternDelay = static_cast<uint8_t>(player.patternDelay - 1);
        } else {
            processLine(player);
        }
        player.tick = 0;
    }
}

void processTick(ModPlayer& player) {
    advanceTick(player);
    for (int c = 0; c < player.channelCount; ++c) {
        ModChannel& ch = player.channels[c];
        player.lfoRandom = player.lfoRandom * 1664525u + 1013904223u;
        applyEveryTickEffect(ch, player.tick);
        if (player.tick == 0) {
            applyFirstTickEffect(ch);
        } else {
            applyLaterTickEffect(ch);
        }
        if ((ch.updateFlags & kVolumeStale) != 0) updateVolume(player, ch);
        if ((ch.updateFlags & kPitchStale) != 0) updatePitch(player, ch);
    }
}

}  // namespace plinth
