#include "app/batch_plan.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/path_names.h"

namespace plinth {
namespace {

std::string describeErrno(const std::string& path, int error) { return path + ": " + std::strerror(error); }

std::string lastComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::string::size_type slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// Joins a folder and a name with one slash between them.
std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// What planning needs to know of a path.
struct PathState {
    std::string identity;  // equal for two paths of the same file
    bool exists = false;   // something is there (a dangling symbolic link counts: it would be replaced)
    bool folder = false;
    bool device = false;   // a device, pipe or socket: written as it is, by any job
    bool held = false;     // a descriptor the process holds: written as it is, never replaced
};

// Device and inode for a file that exists (or a descriptor held), otherwise
// the resolved folder and the name.
PathState pathState(const std::string& path, StreamDirection direction) {
    PathState state;
    struct stat info;
    int fd = -1;
    state.held = namesHeldDescriptor(path, direction, fd);
    const bool found = state.held ? fstat(fd, &info) == 0 : stat(path.c_str(), &info) == 0;
    if (found) {
        state.identity = "file:" + std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
                         std::to_string(static_cast<unsigned long long>(info.st_ino));
        state.exists = true;
        state.folder = S_ISDIR(info.st_mode);
        state.device = !state.folder && !S_ISREG(info.st_mode);
        return state;
    }
    if (state.held) {
        state.identity = "descriptor:" + std::to_string(fd);
        state.device = true;  // closed: nothing there to overwrite
        return state;
    }
    state.exists = lstat(path.c_str(), &info) == 0;
    const std::string folder = folderOf(path);
    char* resolved = realpath(folder.c_str(), nullptr);
    state.identity = "path:" + (resolved != nullptr ? std::string(resolved) : folder) + "/" + baseNameOf(path);
    std::free(resolved);
    return state;
}

// Why an output may not be written, or "" when it may.
std::string outputRefusal(const std::string& output, const PathState& state,
                          const std::map<std::string, std::string>& inputByIdentity,
                          const std::map<std::string, std::string>& outputOwner, bool force) {
    const auto input = inputByIdentity.find(state.identity);
    const auto owner = outputOwner.find(state.identity);
    if (input != inputByIdentity.end() && !state.device) {
        return output + ": would overwrite the input " + input->second + " of this run";
    }
    if (owner != outputOwner.end() && !state.device) {
        return output + ": already the output of " + owner->second + " in this run";
    }
    if (state.folder) return output + ": is a folder";
    if (state.exists && !state.device && !state.held && !force) {
        return output + ": exists (use --force to replace it)";
    }
    return std::string();
}

std::map<std::string, std::string> inputsByIdentity(const std::vector<Job>& jobs) {
    std::map<std::string, std::string> inputs;
    for (const Job& job : jobs) inputs.emplace(pathState(job.input, StreamDirection::input).identity, job.input);
    return inputs;
}

}  // namespace

std::string outputNameFor(const std::string& input) {
    std::string name = lastComponent(input);
    if (name == "/" || name == "." || name == ".." || name.empty()) name = "output";
    const std::string::size_type dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name + ".wav";
}

std::vector<Job> planJobs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs, bool force) {
    std::vector<Job> jobs;
    for (std::size_t i = 0; i < inputs.size() && i < outputs.size(); ++i) {
        Job job;
        job.input = inputs[i];
        job.output = outputs[i];
        jobs.push_back(job);
    }
    const std::map<std::string, std::string> inputByIdentity = inputsByIdentity(jobs);
    std::map<std::string, std::string> outputOwner;
    for (Job& job : jobs) {
        const PathState state = pathState(job.output, StreamDirection::output);
        job.refusal = outputRefusal(job.output, state, inputByIdentity, outputOwner, force);
        if (job.refusal.empty()) outputOwner.emplace(state.identity, job.input);
    }
    return jobs;
}

std::string refuseRunOutput(const std::vector<Job>& jobs, const std::string& path, bool force) {
    std::map<std::string, std::string> outputOwner;
    for (const Job& job : jobs) {
        if (job.refusal.empty()) outputOwner.emplace(pathState(job.output, StreamDirection::output).identity, job.input);
    }
    return outputRefusal(path, pathState(path, StreamDirection::output), inputsByIdentity(jobs), outputOwner, force);
}

std::vector<Job> planBatch(const std::vector<std::string>& inputs, const std::string& folder, bool force) {
    std::vector<std::string> outputs;
    outputs.reserve(inputs.size());
    for (const std::string& input : inputs) outputs.push_back(joinPath(folder, outputNameFor(input)));
    return planJobs(inputs, outputs, force);
}

bool makeFolders(const std::string& path, std::string& error) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return true;
        error = path + ": is not a folder";
        return false;
    }
    // Create each missing level in turn.
    for (std::string::size_type end = 0; end != std::string::npos;) {
        end = path.find('/', end + 1);
        const std::string prefix = path.substr(0, end);
        if (prefix.empty() || stat(prefix.c_str(), &info) == 0) continue;
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            error = describeErrno(prefix, errno);
            return false;
        }
    }
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + ": is not a folder";
        return false;
    }
    return true;
}

}  // namespace plinth
