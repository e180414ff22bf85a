// Loading what an evaluation or a sweep runs on.
#include "load_inputs.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

bool InputsLoad(const InputOptions& options, TumblewatchConfig* config, Manifest* manifest, InputSet* inputs,
                std::string* error)
{
    if (!ConfigBuild(options.config, config, error)) {
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
        const std::string key = ManifestKey(options.labels);
        auto& list = inputs->recordings;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&key](const InputRecording& in) { return ManifestKey(in.path) == key; }),
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
    if (manifest != nullptr) {
        const auto it = manifest->entries.find(ManifestKey(input.path));
        if (it != manifest->entries.end()) {
            return it->second;
        }
    }
    return LabelsFromName(input.path);
}
