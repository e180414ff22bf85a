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
    std::vector<std::string> paths;  // recordings, folders or patterns; may be empty with labels
    std::string labels;              // manifest path; empty for none
    ConfigSource config;
    int threads = 1;                             // worker threads, at least 1
    double mergeSeconds = kDefaultMergeSeconds;  // alarms closer than this (s) are one event
};

// Checks threads (at least 1) and mergeSeconds (finite, 0 or more), builds
// the configuration, reads the manifest (when labels is given) and finds
// the recordings: those of paths, or the manifest's own when paths is
// empty. The manifest file itself is never taken for a recording. False
// with a message for a bad option, a configuration error, a bad manifest, a
// PATH that matches nothing or no recording found. Allocates only the
// outputs.
bool InputsLoad(const InputOptions& options, TumblewatchConfig* config, Manifest* manifest, InputSet* inputs,
                std::string* error);

// Checks an event gap: finite and 0 or more. False with a message naming
// option ("--merge") otherwise.
bool InputsCheckMerge(const std::string& option, double mergeSeconds, std::string* error);

// Everything the loaded inputs make a command read (the configuration file,
// the manifest, the recordings, their twins whether they exist or not, and
// the twins passed over) and search, for FilesCheckOutputs.
FilesReads InputsReads(const InputOptions& options, const InputSet& inputs);

// The labels of a recording: the manifest's entry when manifest is not null
// and lists it, else those of its file name.
RecordingLabels InputsLabelsOf(const InputRecording& input, const Manifest* manifest);

#endif
