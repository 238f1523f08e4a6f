// Composes the example input: two seconds of 44100 Hz stereo, a rising tone on
// the left and a plucked chord on the right, as a canonical 16-bit PCM WAV.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

void putLe(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_example_wav OUT.wav\n");
        return 2;
    }
    const uint32_t rate = 44100;
    const uint32_t frames = rate * 2;
    const double pi = 3.14159265358979323846;
    std::vector<unsigned char> file;
    file.insert(file.end(), {'R', 'I', 'F', 'F'});
    putLe(file, 36 + frames * 4, 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLe(file, 16, 4);
    putLe(file, 1, 2);
    putLe(file, 2, 2);
    putLe(file, rate, 4);
    putLe(file, rate * 4, 4);
    putLe(file, 4, 2);
    putLe(file, 16, 2);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    putLe(file, frames * 4, 4);

    const double chord[3] = {261.63, 329.63, 392.00};
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        // A tone gliding from 220 Hz to 1760 Hz: its phase is the integral of the frequency.
        const double sweepPhase = 2 * pi * (220.0 * t + (1760.0 - 220.0) * t * t / 4.0);
        const double left = 0.5 * std::sin(sweepPhase);
        double right = 0.0;
        const double pluck = std::fmod(t, 0.5);
        for (double f : chord) right += 0.25 * std::sin(2 * pi * f * t) * std::exp(-6.0 * pluck);
        putLe(file, static_cast<uint16_t>(static_cast<int16_t>(std::lround(left * 32767))), 2);
        putLe(file, static_cast<uint16_t>(static_cast<int16_t>(std::lround(right * 32767))), 2);
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
