#pragma once
// One conversion of the tool, through the same internals as the libraries'
// exported entries.

#include <string>
#include <vector>

#include "tools/cli.h"
#include "platform/conversion_control.h"

namespace plinth {

struct ConversionResult {
    bool ok = false;
    std::string libraryLines;           // what the library's entry would print, word for word
    std::vector<std::string> messages;  // "PATH: warning: ..." or, with --verbose, "PATH: note: ..."
    std::string error;                  // "PATH: reason" naming the file at fault, on failure
};

// Converts input into output as the options say: resample as ResampleWav
// does for a canonical file, and through the file's chunks for any other;
// mod2wav as MODWAV does, at its rate or at --rate.
ConversionResult convertFile(const Options& options, const std::string& input, const std::string& output,
                             const Progress* progress = nullptr);

}  // namespace plinth
