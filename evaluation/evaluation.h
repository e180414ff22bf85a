// An evaluation: every recording of a set through a fresh detector with one
// configuration, in parallel, with labels, alarms, events and impacts, and
// optionally each recording's trace.
#ifndef EVALUATION_EVALUATION_H
#define EVALUATION_EVALUATION_H

#include <cstdint>
#include <string>
#include <vector>

#include "detect.h"
#include "inputs.h"
#include "labels.h"
#include "metrics.h"

struct EvalSettings {
    TumblewatchConfig config;  // must be accepted by TumblewatchSet
    double mergeSeconds;       // alarms closer than this join one event
    int threads;               // worker threads, at least 1
    std::string tracesDir;     // write each recording's trace below it; empty for none
    bool progress;             // a progress line on a terminal
};

// What became of one recording.
struct RecordingOutcome {
    InputRecording input;
    RecordingLabels labels;
    bool labelsFromManifest;
    bool read;            // decoded completely (else failure says why, and nothing else is valid)
    std::string failure;  // why it could not be read, or why its trace is incomplete
    DetectResult detect;
    std::vector<AlarmEvent> events;
    int64_t impact;  // the manifest's impact sample, else detect.peakSample
    bool impactFromManifest;
    std::string tracePath;  // the trace written, empty for none
};

struct Evaluation {
    std::vector<RecordingOutcome> outcomes;  // in the order of the input set
    int twinsPassedOver;
    uint64_t samples;  // samples processed in all
    double seconds;    // wall time of the run
};

// The trace path of a recording below dir: its relative path with the last
// three characters replaced by "txt", as the bench names traces.
std::string EvalTracePath(const std::string& dir, const InputRecording& input);

// Checks, before anything runs, that traces can go below dir: it can be
// created and no trace would land in the folder of its own recording.
// False with a message otherwise.
bool EvalCheckTraces(const std::string& dir, const InputSet& inputs, std::string* error);

// The number of hardware threads (1 when the system does not say): the
// default number of worker threads.
int EvalHardwareThreads();

// Runs the evaluation. Labels come from the manifest (when not null and
// the recording is in it) or from the file name. Recordings that cannot be
// read are kept with read false and their reason; the others are
// evaluated. Results are the same for any number of threads.
void EvalRun(const InputSet& inputs, const Manifest* manifest, const EvalSettings& settings, Evaluation* evaluation);

// The score of an outcome for the metrics.
RecordingScore EvalScore(const RecordingOutcome& outcome);

// The metrics over the outcomes that were read.
Metrics EvalMetrics(const Evaluation& evaluation);

#endif
