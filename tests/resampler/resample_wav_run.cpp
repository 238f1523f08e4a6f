// ResampleWav through the shared library, from the command line, with no
// threads and no tool around it: the end-to-end check of scripts/test-aarch64
// runs it under qemu-aarch64 and compares its output bytes with the x86-64
// build's.
//   resample_wav_run IN.wav OUT.wav RATE [CHANNEL_MODE]   (ASCII paths)
#include <cstdio>
#include <cstdlib>
#include <string>

#include <plinth/resample_wav.h>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s IN.wav OUT.wav RATE [CHANNEL_MODE]\n", argv[0]);
        return 2;
    }
    const std::wstring in(argv[1], argv[1] + std::char_traits<char>::length(argv[1]));
    const std::wstring out(argv[2], argv[2] + std::char_traits<char>::length(argv[2]));
    const int mode = argc > 4 ? std::atoi(argv[4]) : 0;
    return ResampleWav(in.c_str(), out.c_str(), std::atoi(argv[3]), mode) == 1 ? 0 : 1;
}
