// A C++ host of both libraries: the same checks as consumer.c, with the
// headers included from C++. Usage: consumer_cxx IN.wav FOLDER (ASCII paths).
#include <plinth/modwav.h>
#include <plinth/resample_wav.h>

#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string input = argv[1], output = std::string(argv[2]) + "/out.wav";
    const std::wstring wideOutput(output.begin(), output.end());
    if (ResampleWav(std::wstring(input.begin(), input.end()).c_str(), wideOutput.c_str(), 16000, 0) != 1) return 1;

    unsigned char header[44] = {};
    std::ifstream(output, std::ios::binary).read(reinterpret_cast<char*>(header), sizeof header);
    const unsigned long rate = header[24] | header[25] << 8 | static_cast<unsigned long>(header[26]) << 16;
    if (std::string(header, header + 4) != "RIFF" || header[22] != 1 || rate != 16000) return 1;

    return MODWAV(nullptr, wideOutput.c_str()) == -1 ? 0 : 1;
}
