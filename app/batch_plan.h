#pragma once
// The plan of a run of conversions: every output named, and those that must
// not be written refused, before anything is written. The tool and the
// cluster plan through here, so both refuse the same outputs.

#include <string>
#include <vector>

namespace plinth {

struct Job {
    std::string input;
    std::string output;
    std::string refusal;  // "PATH: reason" when the job must not run
};

// Refuses, before anything is written: an output that is one of the inputs
// of this run by any name, link or hard link (even with force), an output that
// an earlier job of this run already writes, an output that is a folder, and
// an existing output without force. Devices and pipes count as no existing
// file, and so does a descriptor the process holds ("-", /dev/stdout,
// /dev/fd/N), which is written as it is: it is judged by what it is open on,
// and "-" as an input stands for standard input. outputs[i] is where
// inputs[i] goes.
std::vector<Job> planJobs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs, bool force);

// Why a file the run writes beside its jobs' outputs (a manifest) may not be
// written, by the same rules as any output of the plan; "" when it may.
std::string refuseRunOutput(const std::vector<Job>& jobs, const std::string& path, bool force);

// planJobs for a batch into a folder: each output is folder/outputNameFor(input).
std::vector<Job> planBatch(const std::vector<std::string>& inputs, const std::string& folder, bool force);

// The output name for an input in a batch: its last path component with the
// extension (the part from the last dot, unless the name starts with it)
// replaced by ".wav".
std::string outputNameFor(const std::string& input);

// Creates a folder and its missing parents; false with "PATH: reason".
bool makeFolders(const std::string& path, std::string& error);

}  // namespace plinth
