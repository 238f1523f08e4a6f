#include "convert.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "files.h"
#include "modwav.h"
#include "plinth/modwav.h"
#include "plinth/resample_wav.h"
#include "utf8_path.h"

namespace plinth {
namespace {

// MODWAV says nothing about a failure; find out what went wrong.
std::string explainModuleFailure(const std::string& input, const std::string& output) {
    std::vector<unsigned char> image;
    std::string error;
    if (!readWholeFile(input, image, error)) return error;
    if (image.empty()) return input + ": is empty";
    if (modSongFrames(image.data(), static_cast<int>(image.size()), 8000) < 0)
        return input + ": not a module this player can play";
    const std::string folder = folderOf(output);
    if (access(folder.c_str(), W_OK) != 0) return output + ": cannot write in " + folder + ": " + std::strerror(errno);
    return output + ": could not be written";
}

bool toWide(const std::string& path, std::wstring& wide, std::string& error) {
    if (utf8ToWide(path, wide)) return true;
    error = path + ": file name is not valid UTF-8";
    return false;
}

}  // namespace

bool convertFile(const Options& options, const std::string& input, const std::string& output, std::string& error) {
    error.clear();
    if (options.command == Command::Resample) {
        std::wstring wideInput, wideOutput;
        if (!toWide(input, wideInput, error) || !toWide(output, wideOutput, error)) return false;
        if (ResampleWav(wideInput.c_str(), wideOutput.c_str(), options.rate, options.channelMode) == 1) return true;
        error = input + ": not converted";
        return false;
    }

    int result;
    if (options.rate == 0) {
        std::wstring wideInput, wideOutput;
        if (!toWide(input, wideInput, error) || !toWide(output, wideOutput, error)) return false;
        result = MODWAV(wideInput.c_str(), wideOutput.c_str());
    } else {
        result = modToWavFile(input.c_str(), output.c_str(), options.rate);
    }
    if (result == 999) return true;
    error = explainModuleFailure(input, output);
    return false;
}

}  // namespace plinth
