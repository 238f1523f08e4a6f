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
    std::map<std::string, std::string> inputByIdentity;
    for (std::size_t i = 0; i < inputs.size() && i < outputs.size(); ++i) {
        Job job;
        job.input = inputs[i];
        job.output = outputs[i];
        jobs.push_back(job);
        inputByIdentity.emplace(fileIdentity(job.input), job.input);
    }

    std::map<std::string, std::string> outputOwner;
    for (Job& job : jobs) {
        const std::string identity = fileIdentity(job.output);
        bool isFolder, isSpecial;
        const bool exists = existsAsFileOrLink(job.output, isFolder, isSpecial);
        const auto input = inputByIdentity.find(identity);
        const auto owner = outputOwner.find(identity);
        if (input != inputByIdentity.end() && !isSpecial) {
            job.refusal = job.output + ": would overwrite the input " + input->second + " of this run";
        } else if (owner != outputOwner.end() && !isSpecial) {
            job.refusal = job.output + ": already the output of " + owner->second + " in this run";
        } else if (isFolder) {
            job.refusal = job.output + ": is a folder";
        } else if (exists && !isSpecial && !force) {
            job.refusal = job.output + ": exists (use --force to replace it)";
        } else {
            outputOwner.emplace(identity, job.input);
        }
    }
    return jobs;
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
