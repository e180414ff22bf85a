// What eval, sweep and the Python module share before any work: the
// configuration, the manifest and the recordings that a request names.
#ifndef EVALUATION_LOAD_INPUTS_H
#define EVALUATION_LOAD_INPUTS_H

#include <string>
#include <vector>

#include "config.h"
#include "file_rules.h"
#include "inputs.h"
#include "labels.h"
#include "metrics.h"

// The recordings, their labels, the configuration, the worker threads and
// the event gap of an evaluation or a sweep.
struct InputOptions {
    std::vector<std::string> paths;       // recordings, folders or patterns; may be empty with labels
    std::string labels;                   // manifest path; empty for none
    std::vector<std::string> moreLabels;  // further manifests (--labels given again); only with labels
    ConfigSource config;
    int threads = 1;                             // worker threads, at least 1
    double mergeSeconds = kDefaultMergeSeconds;  // alarms closer than this (s) are one event
    FallWindowSettings window;                   // around a fall's annotated timing, when a manifest gives it
};

// The manifests of options: labels, then moreLabels.
std::vector<std::string> InputsManifests(const InputOptions& options);

// Reads every manifest of options into *manifest (ManifestRead, then
// ManifestMerge). False with a message for a bad manifest or a recording
// that two of them list.
bool InputsReadManifests(const InputOptions& options, Manifest* manifest, std::string* error);

// Checks threads (at least 1) and mergeSeconds (finite, 0 or more), builds
// the configuration, reads the manifest (when labels is given) and finds
// the recordings: those of paths, or the manifest's own when paths is
// empty (with several manifests, their recordings' relative paths start
// below the folder that holds all of the manifests). No manifest given
// with --labels, and no import's manifest met in a folder search
// (ManifestFileIs), is taken for a recording. False
// with a message for a bad option, a configuration error, a bad manifest, a
// PATH that matches nothing or no recording found. Allocates only the
// outputs.
bool InputsLoad(const InputOptions& options, TumblewatchConfig* config, Manifest* manifest, InputSet* inputs,
                std::string* error);

// Checks an event gap: finite and 0 or more. False with a message naming
// option ("--merge") otherwise.
bool InputsCheckMerge(const std::string& option, double mergeSeconds, std::string* error);

// Checks a fall window's --before and --after: finite and 0 or more, at
// most a day. False with a message naming the option otherwise.
bool InputsCheckWindow(const FallWindowSettings& window, std::string* error);

// Everything the loaded inputs make a command read (the configuration file,
// the manifest, the recordings, their twins whether they exist or not, and
// the twins passed over) and search, for FilesCheckOutputs.
FilesReads InputsReads(const InputOptions& options, const InputSet& inputs);

// The labels of a recording: the manifest's entry when manifest is not null
// and lists it, else those of its file name.
RecordingLabels InputsLabelsOf(const InputRecording& input, const Manifest* manifest);

#endif
