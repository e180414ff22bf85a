// The options that eval and sweep share, and loading what they name.
#include <unistd.h>

#include <filesystem>

#include "commands.h"
#include "evaluation.h"
#include "safe_files.h"

namespace fs = std::filesystem;

void CommandAddInputOptions(CLI::App* command, InputOptions* options)
{
    command->add_option("PATH", options->paths,
                        "recording, folder (searched recursively) or quoted pattern; optional with --labels");
    command->add_option("--labels", options->labels, "manifest CSV: path,label[,activity,subject,impact_sample]");
    CommandAddConfigOptions(command, &options->config);
    options->threads = EvalHardwareThreads();
    command->add_option("-j,--jobs", options->threads, "worker threads (default: every hardware thread)")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    command->add_option("--merge", options->mergeSeconds, "alarms closer than this many seconds are one event")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
}

bool CommandCheckWritable(const std::string& option, const std::string& path, std::string* error)
{
    if (path.empty()) {
        return true;
    }
    const fs::path p(path);
    const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
        *error = option + " " + path + ": is a folder";
        return false;
    }
    if (!fs::is_directory(folder, ec) || access(folder.c_str(), W_OK) != 0) {
        *error = option + " " + path + ": cannot be written (no writable folder " + folder.string() + ")";
        return false;
    }
    return true;
}

namespace {

// Whether path and other name the same file: by identity when both exist,
// else by their absolute, normalised paths.
bool SameTarget(const std::string& path, const std::string& other)
{
    SafeFileId output{};
    SafeFileId id{};
    if (SafeFileIdOf(path, &output) && SafeFileIdOf(other, &id)) {
        return SafeSameFile(output, id);
    }
    std::error_code ec;
    return !other.empty() && fs::absolute(other, ec).lexically_normal() == fs::absolute(path, ec).lexically_normal();
}

}  // namespace

bool CommandCheckNotInput(const std::string& option, const std::string& path, const std::vector<std::string>& inputs,
                          std::string* error)
{
    if (path.empty()) {
        return true;
    }
    for (const std::string& input : inputs) {
        if (SameTarget(path, input)) {
            *error = option + " " + path + ": is " + input + ", which this command reads; give another file";
            return false;
        }
    }
    return true;
}

bool CommandCheckDistinctOutputs(const std::vector<std::pair<std::string, std::string>>& outputs, std::string* error)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            const auto& [option, path] = outputs[j];
            if (!path.empty() && SameTarget(path, outputs[i].second)) {
                *error = option + " " + path + ": is also the " + outputs[i].first + " file; give another file";
                return false;
            }
        }
    }
    return true;
}
