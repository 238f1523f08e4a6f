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
    std::vector<std::string> stems;  // a module's channels alone, channel 1's first, when asked for
    std::string refusal;             // "PATH: reason" when the job must not run
};

// Refuses, before anything is written: an output that is one of the inputs
// of this run by any name, link or hard link (even with force), an output that
// an earlier job of this run already writes, an output that is a folder, and
// an existing output without force. Devices and pipes count as no existing
// file, and so does a descriptor the process holds ("-", /dev/stdout,
// /dev/fd/N), which is written as it is: it is judged by what it is open on,
// and "-" as an input stands for standard input. outputs[i] is where
// inputs[i] goes.
//
// With a stem folder, each input is a module whose channels also go each into
// a file of their own, stemFolder/stemNameFor(input, n), planned and refused
// by the same rules (a job is refused when any of its outputs is). The
// channels are counted from the module file's header; an input that is not a
// regular file (standard input, a pipe) is refused, and one that is no module
// gets no stems (its conversion fails anyway).
std::vector<Job> planJobs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs, bool force,
                          const std::string& stemFolder = std::string());

// Why a file the run writes beside its jobs' outputs and stems (a manifest)
// may not be written, by the same rules as any output of the plan; "" when it
// may.
std::string refuseRunOutput(const std::vector<Job>& jobs, const std::string& path, bool force);

// planJobs for a batch into a folder: each output is folder/outputNameFor(input).
std::vector<Job> planBatch(const std::vector<std::string>& inputs, const std::string& folder, bool force,
                           const std::string& stemFolder = std::string());

// The output name for an input in a batch: its last path component with the
// extension (the part from the last dot, unless the name starts with it)
// replaced by ".wav".
std::string outputNameFor(const std::string& input);

// The name of channel `channel`'s stem (counted from 1): the input's name as
// outputNameFor gives it, with "-NN" before ".wav" ("song-01.wav").
std::string stemNameFor(const std::string& input, int channel);

// Joins a folder and a name with one slash between them.
std::string joinPath(const std::string& folder, const std::string& name);

// Creates a folder and its missing parents; false with "PATH: reason".
bool makeFolders(const std::string& path, std::string& error);

}  // namespace plinth
