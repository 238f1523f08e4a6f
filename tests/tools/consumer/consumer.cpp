// A C++ host of both libraries: the headers declare C functions usable as is.
#include <plinth/modwav.h>
#include <plinth/resample_wav.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void put(std::vector<unsigned char>& bytes, std::size_t at, unsigned long value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::size_t sizeOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()).size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string folder = argv[1];

    // Half a second of stereo 22050 Hz, mixed down to mono at 11025 Hz: 5513 frames.
    std::vector<unsigned char> wav(44 + 11025 * 4);
    std::copy_n("RIFF", 4, wav.begin());
    put(wav, 4, 36 + 11025 * 4, 4);
    std::copy_n("WAVEfmt ", 8, wav.begin() + 8);
    put(wav, 16, 16, 4);
    put(wav, 20, 1, 2);
    put(wav, 22, 2, 2);
    put(wav, 24, 22050, 4);
    put(wav, 28, 22050 * 4, 4);
    put(wav, 32, 4, 2);
    put(wav, 34, 16, 2);
    std::copy_n("data", 4, wav.begin() + 36);
    put(wav, 40, 11025 * 4, 4);
    for (std::size_t i = 0; i < 11025 * 2; ++i) put(wav, 44 + 2 * i, (i % 100) * 300, 2);
    std::ofstream(folder + "/in.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));

    const int resampled = ResampleWav(widen(folder + "/in.wav").c_str(), widen(folder + "/out.wav").c_str(), 11025, 2);
    if (resampled != 1 || sizeOf(folder + "/out.wav") != 44 + 5513 * 2) {
        std::fprintf(stderr, "ResampleWav gave %d\n", resampled);
        return 1;
    }
    if (MODWAV(nullptr, widen(folder + "/song.wav").c_str()) != -1) return 1;
    return 0;
}
