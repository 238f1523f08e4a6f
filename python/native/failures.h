#pragma once
// Library statuses turned into the package's exceptions, at the edge only:
// everything below returns errors as values.

#include <pybind11/pybind11.h>

#include <string>

#include "app/describe_file.h"
#include "tracker/module_render.h"
#include "resampler/resample_file.h"

namespace plinth::python {

enum class FailureKind {
    unsupportedInput,  // plinth.UnsupportedInputError (also a ValueError)
    file,              // plinth.FileError (also an OSError)
    other,             // plinth.Error
};

struct Failure {
    FailureKind kind = FailureKind::other;
    std::string reason;   // the library's own words
    int systemError = 0;  // errno, when known
    std::string path;     // the file at fault; empty for an in-memory conversion
};

Failure resampleFailure(const ResampleStatus& status, const std::string& inPath, const std::string& outPath);
Failure moduleFailure(const ModuleStatus& status, const std::string& inPath, const std::string& outPath);
Failure infoFailure(const FileDescription& description, const std::string& path);

// A file name as Python shows it (str, decoded as os.fsdecode would).
pybind11::str pathText(const std::string& path);

// Raises the exception for a failure. Needs the GIL.
[[noreturn]] void raiseFailure(const Failure& failure);

}  // namespace plinth::python
