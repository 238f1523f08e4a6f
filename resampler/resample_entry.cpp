#include "resampler/resample_entry.h"

#include <cstdio>
#include <string>

#include "resampler/resample_file.h"
#include "platform/wide_path.h"

namespace plinth {
namespace {

int fail(const ResampleStatus& status, const std::string& inPath, const std::string& outPath) {
    std::fputs(resampleFailureLine(status, inPath, outPath).c_str(), stderr);
    return 0;
}

}  // namespace

int resampleWavWide(const wchar_t* inPath, const wchar_t* outPath, int targetRate, int channelMode) {
    try {
        std::string in;
        std::string out;
        ResampleStatus status;
        if (!widePathToUtf8(inPath, in) || !widePathToUtf8(outPath, out)) {
            status.error = ResampleError::invalidParameters;
            return fail(status, in, out);
        }
        ResampleJob job;
        status = openResampleJob(in, targetRate, channelMode, job);
        if (status.error != ResampleError::none) return fail(status, in, out);
        // Said before the output exists, so it can never land in the output.
        if (job.copyOnly) std::fputs(kCopyWarningLine, stderr);
        status = runResampleJob(job, out);
        if (status.error != ResampleError::none) return fail(status, in, out);
        return 1;
    } catch (...) {
        std::fputs("[ERROR!]: Not enough memory to resample.\n", stderr);
        return 0;
    }
}

}  // namespace plinth
