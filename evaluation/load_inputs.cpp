// Loading what an evaluation or a sweep runs on.
#include "load_inputs.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "safe_files.h"

namespace fs = std::filesystem;

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
    if (!options.labels.empty() && !ManifestRead(options.labels, manifest, error)) {
        return false;
    }
    if (options.paths.empty() && options.labels.empty()) {
        *error = "give a PATH to evaluate, or a manifest with --labels";
        return false;
    }
    const bool found =
        options.paths.empty()
            ? InputsFromList(manifest->files, fs::path(options.labels).parent_path().string(), inputs, error)
            : InputsFind(options.paths, inputs, error);
    if (!found) {
        return false;
    }
    if (!options.labels.empty()) {
        // A manifest named like a CSV recording and kept among the
        // recordings it describes is the manifest, not a recording.
        SafeFileId manifestFile{};
        const bool identified = SafeFileIdOf(options.labels, &manifestFile);
        const std::string key = ManifestKey(options.labels);
        auto& list = inputs->recordings;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const InputRecording& in) {
                                      SafeFileId id{};
                                      return ManifestKey(in.path) == key || (identified && SafeFileIdOf(in.path, &id) &&
                                                                             SafeSameFile(id, manifestFile));
                                  }),
                   list.end());
    }
    if (inputs->recordings.empty()) {
        *error = "no recording (.bin or .csv) found";
        return false;
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
