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

// A key that is equal for two paths of the same file: device and inode for a
// file that exists, otherwise the resolved folder and the name.
std::string fileIdentity(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        return "file:" + std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
               std::to_string(static_cast<unsigned long long>(info.st_ino));
    }
    const std::string folder = folderOf(path);
    const std::string name = baseNameOf(path);
    char* resolved = realpath(folder.c_str(), nullptr);
    std::string key = "path:" + (resolved != nullptr ? std::string(resolved) : folder) + "/" + name;
    std::free(resolved);
    return key;
}

bool existsAsFileOrLink(const std::string& path, bool& isFolder, bool& isSpecial) {
    struct stat info;
    isFolder = false;
    isSpecial = false;
    if (stat(path.c_str(), &info) == 0) {
        isFolder = S_ISDIR(info.st_mode);
        isSpecial = !isFolder && !S_ISREG(info.st_mode);
        return true;
    }
    return lstat(path.c_str(), &info) == 0;  // a dangling symbolic link would be replaced
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

    // Why `output` of `input` must not be written, where `pending` holds the
    // identities of the outputs of the same job judged before it; empty when
    // it may be.
    std::string refusal(const std::string& output, const std::string& input, std::set<std::string>& pending) const {
        const std::string identity = fileIdentity(output);
        bool isFolder, isSpecial;
        const bool exists = existsAsFileOrLink(output, isFolder, isSpecial);
        const auto overwritten = inputByIdentity.find(identity);
        const auto owner = outputOwner.find(identity);
        if (overwritten != inputByIdentity.end() && !isSpecial)
            return output + ": would overwrite the input " + overwritten->second + " of this run";
        if (owner != outputOwner.end() && !isSpecial) return output + ": already the output of " + owner->second + " in this run";
        if (!pending.insert(identity).second && !isSpecial) return output + ": already the output of " + input + " in this run";
        if (isFolder) return output + ": is a folder";
        if (exists && !isSpecial && !force) return output + ": exists (use --force to replace it)";
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
    OutputClaims claims;
    claims.force = force;
    for (std::size_t i = 0; i < inputs.size() && i < outputs.size(); ++i) {
        Job job;
        job.input = inputs[i];
        job.output = outputs[i];
        jobs.push_back(job);
        claims.inputByIdentity.emplace(fileIdentity(job.input), job.input);
    }

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
