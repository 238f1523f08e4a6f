#include "app/batch_plan.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "platform/input_file.h"
#include "platform/path_names.h"
#include "tracker/mod_player.h"

namespace plinth {
namespace {

std::string describeErrno(const std::string& path, int error) { return path + ": " + std::strerror(error); }

std::string lastComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::string::size_type slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
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

// The channels a module file declares, read from its first bytes: 0 when it
// cannot be read or is no module, -1 when it is no regular file.
int moduleChannels(const std::string& path) {
    InputFile input;
    int systemError = 0;
    const InputError opened = input.open(path, InputPolicy::regularOnly, systemError);
    if (opened == InputError::notRegular || (opened == InputError::none && !input.isRegular())) return -1;
    if (opened != InputError::none) return 0;
    uint8_t head[kTaggedLayout.patternsOffset];
    std::size_t got = 0;
    if (input.read(head, sizeof head, got, systemError) != InputError::none) return 0;
    ModPlayer player;
    return modIdentify(player, head, static_cast<int32_t>(got)) ? player.channelCount : 0;
}

// The outputs of a run claimed so far, and the inputs they must not overwrite.
struct OutputClaims {
    std::map<std::string, std::string> inputByIdentity;
    std::map<std::string, std::string> outputOwner;
    bool force = false;

    void addInputs(const std::vector<Job>& jobs) {
        for (const Job& job : jobs) inputByIdentity.emplace(pathState(job.input, StreamDirection::input).identity, job.input);
    }

    // Why `output` of `input` must not be written, where `pending` holds the
    // identities of the outputs of the same job judged before it; empty when
    // it may be.
    std::string refusal(const std::string& output, const std::string& input, std::set<std::string>& pending) const {
        const PathState state = pathState(output, StreamDirection::output);
        const auto overwritten = inputByIdentity.find(state.identity);
        const auto owner = outputOwner.find(state.identity);
        if (overwritten != inputByIdentity.end() && !state.device)
            return output + ": would overwrite the input " + overwritten->second + " of this run";
        if (owner != outputOwner.end() && !state.device)
            return output + ": already the output of " + owner->second + " in this run";
        if (!pending.insert(state.identity).second && !state.device)
            return output + ": already the output of " + input + " in this run";
        if (state.folder) return output + ": is a folder";
        if (state.exists && !state.device && !state.held && !force) return output + ": exists (use --force to replace it)";
        return std::string();
    }

    // The refusal of the job's first output that must not be written, or
    // none, and then every one of them is claimed for the job.
    std::string refuseOrClaim(const Job& job) {
        std::vector<std::string> outputs{job.output};
        outputs.insert(outputs.end(), job.stems.begin(), job.stems.end());
        std::set<std::string> pending;
        for (const std::string& output : outputs) {
            std::string refused = refusal(output, job.input, pending);
            if (!refused.empty()) return refused;
        }
        for (const std::string& identity : pending) outputOwner.emplace(identity, job.input);
        return std::string();
    }
};

}  // namespace

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string stemNameFor(const std::string& input, int channel) {
    std::string name = outputNameFor(input);
    name.erase(name.size() - 4);  // ".wav"
    const char digits[] = {static_cast<char>('0' + channel / 10 % 10), static_cast<char>('0' + channel % 10), '\0'};
    return name + "-" + digits + ".wav";
}

std::string outputNameFor(const std::string& input) {
    std::string name = lastComponent(input);
    if (name == "/" || name == "." || name == ".." || name.empty()) name = "output";
    const std::string::size_type dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name + ".wav";
}

std::vector<Job> planJobs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs, bool force,
                          const std::string& stemFolder) {
    std::vector<Job> jobs;
    for (std::size_t i = 0; i < inputs.size() && i < outputs.size(); ++i) {
        Job job;
        job.input = inputs[i];
        job.output = outputs[i];
        jobs.push_back(job);
    }
    OutputClaims claims;
    claims.force = force;
    claims.addInputs(jobs);

    for (Job& job : jobs) {
        if (!stemFolder.empty()) {
            const int channels = moduleChannels(job.input);
            if (channels < 0) {
                job.refusal = job.input + ": stems need a module file, not standard input or a pipe";
                continue;
            }
            for (int c = 1; c <= channels; ++c) job.stems.push_back(joinPath(stemFolder, stemNameFor(job.input, c)));
        }
        job.refusal = claims.refuseOrClaim(job);
    }
    return jobs;
}

std::string refuseRunOutput(const std::vector<Job>& jobs, const std::string& path, bool force) {
    OutputClaims claims;
    claims.force = force;
    claims.addInputs(jobs);
    for (const Job& job : jobs) {
        if (!job.refusal.empty()) continue;
        std::set<std::string> claimed;
        claims.refusal(job.output, job.input, claimed);
        for (const std::string& stem : job.stems) claims.refusal(stem, job.input, claimed);
        for (const std::string& identity : claimed) claims.outputOwner.emplace(identity, job.input);
    }
    std::set<std::string> none;
    return claims.refusal(path, std::string(), none);
}

std::vector<Job> planBatch(const std::vector<std::string>& inputs, const std::string& folder, bool force,
                           const std::string& stemFolder) {
    std::vector<std::string> outputs;
    outputs.reserve(inputs.size());
    for (const std::string& input : inputs) outputs.push_back(joinPath(folder, outputNameFor(input)));
    return planJobs(inputs, outputs, force, stemFolder);
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
