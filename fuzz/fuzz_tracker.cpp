// Fuzz entry for the module converter: any byte string as a module file,
// converted by the same internals as MODWAV and the tool, at a rate the first
// byte picks. Every byte the player reads must lie inside the image; a song
// is cut short by the length limit so that one input stays quick.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input_file.h"
#include "tracker/module_render.h"

using namespace plinth;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    const int32_t rates[4] = {8000, 44100, 1000, 123457};
    const std::string input = fuzzsupport::scratchPath("in.mod");
    const std::string output = fuzzsupport::scratchPath("out.wav");
    if (!fuzzsupport::writeScratch(input, data, size)) return 0;
    SongLimits limits;
    limits.maxFrames = 200000;
    convertModuleFile(input, output, rates[data[0] & 3], limits);
    std::remove(input.c_str());
    std::remove(output.c_str());
    return 0;
}
