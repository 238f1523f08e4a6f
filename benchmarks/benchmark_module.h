#pragma once
// A module for measuring the player: 1 to 32 channels, 32 orders over four
// patterns (about 245 s at the default speed), six samples (tiny and long
// loops, samples that end), a note on every channel every four lines and a
// different effect on each channel: arpeggio, vibrato, tone portamento,
// volume slide, tremolo, sample offset, retrigger, note cut and slides.

#include <cstdint>
#include <cstring>
#include <vector>

inline std::vector<uint8_t> composeBenchmarkModule(int channels) {
    constexpr int kPatterns = 4;
    constexpr int kOrders = 32;
    std::vector<uint8_t> image(static_cast<size_t>(1084 + kPatterns * channels * 256), 0);
    std::memcpy(&image[0], "benchmark", 9);
    if (channels < 10) {
        image[1080] = static_cast<uint8_t>('0' + channels);
        std::memcpy(&image[1081], "CHN", 3);
    } else {
        image[1080] = static_cast<uint8_t>('0' + channels / 10);
        image[1081] = static_cast<uint8_t>('0' + channels % 10);
        std::memcpy(&image[1082], "CH", 2);
    }
    image[950] = kOrders;
    for (int o = 0; o < kOrders; ++o) image[952 + o] = static_cast<uint8_t>(o % kPatterns);

    struct Sample {
        int bytes;
        int loopStart;
        int loopLength;  // 0: no loop
        int volume;
    };
    const Sample samples[6] = {{256, 0, 256, 48},    {32, 0, 32, 40},  {4000, 1000, 3000, 56},
                               {3000, 0, 0, 64},     {1024, 0, 1024, 50}, {6000, 0, 0, 60}};
    std::vector<uint8_t> data;
    uint32_t noise = 1;
    for (int s = 0; s < 6; ++s) {
        uint8_t* h = &image[static_cast<size_t>(20 + s * 30)];
        const auto put = [h](int at, int value) {
            h[at] = static_cast<uint8_t>(value >> 8);
            h[at + 1] = static_cast<uint8_t>(value);
        };
        put(22, samples[s].bytes / 2);
        h[25] = static_cast<uint8_t>(samples[s].volume);
        put(26, samples[s].loopStart / 2);
        put(28, samples[s].loopLength / 2);
        for (int i = 0; i < samples[s].bytes; ++i) {
            noise = noise * 1664525u + 1013904223u;
            int v;
            switch (s) {
                case 0: v = i - 128; break;                          // saw
                case 1: v = i < 16 ? 100 : -100; break;              // square
                case 3: v = static_cast<int>(noise >> 25) - 64; break;  // noise
                default: v = ((i * (s + 3)) & 255) - 128; break;     // brighter saws
            }
            data.push_back(static_cast<uint8_t>(static_cast<int8_t>(v)));
        }
    }

    static const int periods[12] = {428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226};
    for (int pattern = 0; pattern < kPatterns; ++pattern) {
        for (int line = 0; line < 64; ++line) {
            for (int c = 0; c < channels; ++c) {
                uint8_t* cell = &image[static_cast<size_t>(1084 + ((pattern * 64 + line) * channels + c) * 4)];
                int effect = 0;
                int param = 0;
                switch ((c + pattern) % 10) {
                    case 0: effect = 0x0; param = 0x37; break;   // arpeggio
                    case 1: effect = 0x4; param = 0x46; break;   // vibrato
                    case 2: effect = 0x3; param = 0x04; break;   // tone portamento
                    case 3: effect = 0xA; param = 0x01; break;   // volume slide
                    case 4: effect = 0x7; param = 0x38; break;   // tremolo
                    case 5: effect = 0x9; param = 0x08; break;   // sample offset
                    case 6: effect = 0xE; param = 0x93; break;   // retrigger
                    case 7: effect = 0xE; param = 0xC5; break;   // note cut
                    case 8: effect = 0x1; param = 0x02; break;   // slide up
                    default: effect = 0x2; param = 0x02; break;  // slide down
                }
                if (line % 4 == (c & 3)) {
                    const int period = periods[(line / 4 + c * 5 + pattern * 3) % 12] << ((c / 3) % 2);
                    const int sample = 1 + (c + line / 4 + pattern) % 6;
                    cell[0] = static_cast<uint8_t>((sample & 0xF0) | (period >> 8));
                    cell[1] = static_cast<uint8_t>(period & 0xFF);
                    cell[2] = static_cast<uint8_t>(((sample & 0x0F) << 4) | effect);
                } else {
                    cell[2] = static_cast<uint8_t>(effect);
                }
                cell[3] = static_cast<uint8_t>(param);
            }
        }
    }
    image.insert(image.end(), data.begin(), data.end());
    return image;
}
