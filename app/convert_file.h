#pragma once
// One file converted for a front end (the tool, the Python package, a cluster
// task), through the same internals as the libraries' exported entries.

#include <string>
#include <vector>

#include "app/conversion_request.h"
#include "platform/conversion_control.h"
#include "resampler/resample_file.h"
#include "tracker/module_error.h"

namespace plinth {

struct ConversionResult {
    bool ok = false;
    std::string libraryLines;           // what the library's entry would print, word for word
    std::vector<std::string> messages;  // "PATH: warning: ..." or, when verbose, "PATH: note: ..."
    std::string error;                  // "PATH: reason" naming the file at fault, on failure
    ResampleStatus resampleStatus;      // the outcome as a value, for a resampling
    ModuleStatus moduleStatus;          // ... and for a module
};

// Converts input into output as the request says: a resampling as ResampleWav
// does for a canonical file, and through the file's chunks for any other; a
// module as MODWAV does, at its rate or at the rate asked for, with the loops,
// fade and loop points asked for, and each of its channels alone into
// stems[0], stems[1], ... when they are given (as the plan names them).
ConversionResult convertFile(const ConversionRequest& request, const std::string& input, const std::string& output,
                             const Progress* progress = nullptr, const std::vector<std::string>& stems = {});

}  // namespace plinth
