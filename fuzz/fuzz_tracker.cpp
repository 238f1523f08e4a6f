// Fuzz entry for the module converter: any byte string as a module file,
// converted by the same internals as MODWAV and the tool, at a rate the first
// byte picks, and with the loops, fade, loop points and stems its other bits
// ask for. Every byte the player reads must lie inside the image; a song is
// cut short by the length limit so that one input stays quick.

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
    ModuleRenderOptions options;
    options.loops = 1 + ((data[0] >> 2) & 3);
    options.fadeMilliseconds = (data[0] & 0x10) != 0 ? 250 : 0;
    options.loopPoints = (data[0] & 0x20) != 0;
    ModPlayer identified;
    if ((data[0] & 0x40) != 0 && modIdentify(identified, data, static_cast<int32_t>(size))) {
        for (int c = 0; c < identified.channelCount; ++c)
            options.stems.push_back(fuzzsupport::scratchPath(("stem" + std::to_string(c) + ".wav").c_str()));
    }
    convertModuleFile(input, output, rates[data[0] & 3], limits, options);
    std::remove(input.c_str());
    std::remove(output.c_str());
    for (const std::string& stem : options.stems) std::remove(stem.c_str());
    return 0;
}
