// Loading what an evaluation or a sweep runs on.
#include "load_inputs.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "safe_files.h"

namespace fs = std::filesystem;

namespace {

// The folder below which a manifest's recordings get their relative paths:
// the first manifest's folder, or with several the deepest folder that
// holds all of them.
std::string ManifestsBase(const InputOptions& options)
{
    fs::path base = fs::path(options.labels).parent_path();
    if (options.moreLabels.empty()) {
        return base.string();
    }
    base = fs::path(ManifestKey(options.labels)).parent_path();
    for (const std::string& file : options.moreLabels) {
        const fs::path folder = fs::path(ManifestKey(file)).parent_path();
        fs::path common;
        auto a = base.begin();
        auto b = folder.begin();
        for (; a != base.end() && b != folder.end() && *a == *b; ++a, ++b) {
            common /= *a;
        }
        base = common;
    }
    return base.string();
}

// Passes over the CSV files among the recordings that are manifests (an
// import's manifest.csv beside its recordings): listed as skipped, not
// failed.
void InputsPassOverManifests(InputSet* inputs)
{
    auto& list = inputs->recordings;
    const auto manifest = [&](const InputRecording& in) {
        if (in.format != RecordingFormat::Csv || !ManifestFileIs(in.path)) {
            return false;
        }
        inputs->skipped.push_back(
            InputSkipped{in.path, "a manifest (its header names the columns path and label), not a recording", false});
        return true;
    };
    list.erase(std::remove_if(list.begin(), list.end(), manifest), list.end());
}

}  // namespace

bool InputsLoad(const InputOptions& options, TumblewatchConfig* config, Manifest* manifest, InputSet* inputs,
                std::string* error)
{
    if (options.threads < 1) {
        *error = "worker threads: " + std::to_string(options.threads) + " is not 1 or more";
        return false;
    }
    if (!InputsCheckMerge("--merge", options.mergeSeconds, error) || !ConfigBuild(options.config, config, error)) {
        return false;
    }
    if (!InputsCheckWindow(options.window, error)) {
        return false;
    }
    if (!options.moreLabels.empty() && options.labels.empty()) {
        *error = "further manifests without a first one";
        return false;
    }
    if (!options.labels.empty() && !InputsReadManifests(options, manifest, error)) {
        return false;
    }
    if (options.paths.empty() && options.labels.empty()) {
        *error = "give a PATH to evaluate, or a manifest with --labels";
        return false;
    }
    const bool found = options.paths.empty() ? InputsFromList(manifest->files, ManifestsBase(options), inputs, error)
                                             : InputsFind(options.paths, inputs, error);
    if (!found) {
        return false;
    }
    for (const std::string& labels : InputsManifests(options)) {
        // A manifest named like a CSV recording and kept among the
        // recordings it describes is the manifest, not a recording.
        SafeFileId manifestFile{};
        const bool identified = SafeFileIdOf(labels, &manifestFile);
        const std::string key = ManifestKey(labels);
        auto& list = inputs->recordings;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const InputRecording& in) {
                                      SafeFileId id{};
                                      return ManifestKey(in.path) == key || (identified && SafeFileIdOf(in.path, &id) &&
                                                                             SafeSameFile(id, manifestFile));
                                  }),
                   list.end());
    }
    InputsPassOverManifests(inputs);
    if (inputs->recordings.empty()) {
        *error = "no recording (.bin or .csv) found";
        return false;
    }
    return true;
}

std::vector<std::string> InputsManifests(const InputOptions& options)
{
    std::vector<std::string> files;
    if (!options.labels.empty()) {
        files.push_back(options.labels);
    }
    files.insert(files.end(), options.moreLabels.begin(), options.moreLabels.end());
    return files;
}

bool InputsReadManifests(const InputOptions& options, Manifest* manifest, std::string* error)
{
    Manifest all;
    bool first = true;
    for (const std::string& file : InputsManifests(options)) {
        Manifest one;
        if (!ManifestRead(file, first ? &all : &one, error) || (!first && !ManifestMerge(one, &all, error))) {
            return false;
        }
        first = false;
    }
    *manifest = std::move(all);
    return true;
}

bool InputsCheckWindow(const FallWindowSettings& window, std::string* error)
{
    constexpr double kDaySeconds = 86400.0;
    const struct {
        const char* option;
        double seconds;
    } checks[] = {{"--before", window.beforeSeconds}, {"--after", window.afterSeconds}};
    for (const auto& c : checks) {
        if (!(std::isfinite(c.seconds) && c.seconds >= 0.0 && c.seconds <= kDaySeconds)) {
            *error = std::string(c.option) + ": the time must be a finite number of seconds from 0 to 86400";
            return false;
        }
    }
    return true;
}

RecordingLabels InputsLabelsOf(const InputRecording& input, const Manifest* manifest)
{
    const RecordingLabels* labels = manifest != nullptr ? ManifestFind(*manifest, input.path) : nullptr;
    return labels != nullptr ? *labels : LabelsFromName(input.path);
}

bool InputsCheckMerge(const std::string& option, double mergeSeconds, std::string* error)
{
    if (std::isfinite(mergeSeconds) && mergeSeconds >= 0.0) {
        return true;
    }
    *error = option + ": the gap must be a finite number of seconds, 0 or more";
    return false;
}

FilesReads InputsReads(const InputOptions& options, const InputSet& inputs)
{
    FilesReads reads;
    for (const std::string& file : {options.labels, options.config.file}) {
        if (!file.empty()) {
            reads.files.push_back(file);
        }
    }
    reads.files.insert(reads.files.end(), options.moreLabels.begin(), options.moreLabels.end());
    for (const InputRecording& in : inputs.recordings) {
        reads.files.push_back(in.path);
        // Its twin, whether or not it exists: the search would pass it over.
        const std::string stem = in.path.substr(0, in.path.size() - 4);
        reads.files.push_back(stem + (in.format == RecordingFormat::DataSet ? ".csv" : ".bin"));
    }
    reads.files.insert(reads.files.end(), inputs.passedOver.begin(), inputs.passedOver.end());
    reads.folders = inputs.folders;
    reads.patterns = inputs.patterns;
    return reads;
}
