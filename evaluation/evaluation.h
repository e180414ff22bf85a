// An evaluation: every recording of a set through a fresh detector with one
// configuration, in parallel, with labels, alarms, events and impacts, and
// optionally each recording's trace. Each recording is read and run through
// the detector block by block, and what is kept of it is bounded (the
// first kListedAlarms alarms and kListedEvents events, all of them
// counted), so memory does not grow with a recording's length.
#ifndef EVALUATION_EVALUATION_H
#define EVALUATION_EVALUATION_H

#include <cstdint>
#include <string>
#include <vector>

#include "alarm_tally.h"
#include "detect.h"
#include "file_rules.h"
#include "inputs.h"
#include "labels.h"
#include "metrics.h"
#include "progress.h"

struct EvalSettings {
    TumblewatchConfig config;   // must be accepted by TumblewatchSet
    double mergeSeconds;        // alarms closer than this join one event
    int threads;                // worker threads, at least 1
    std::string tracesDir;      // write each recording's trace below it; empty for none
    bool progress;              // a progress line on a terminal
    FallWindowSettings window;  // the margins of a timed fall's window
    ProgressPoll poll;  // asked while the work runs (false stops it, the evaluation then incomplete); may be empty
};

// What became of one recording.
struct RecordingOutcome {
    InputRecording input;
    RecordingLabels labels;
    bool labelsFromManifest;
    bool read;                       // decoded completely (else failure says why, and nothing else is valid)
    bool counted;                    // in the metrics: read, at least one sample, its impact within it
    std::string failure;             // why it could not be read or counted, or why its trace is incomplete
    DetectResult detect;             // samples and peak; alarms: the first kListedAlarms
    int64_t alarmCount;              // all alarms
    std::vector<AlarmEvent> events;  // the first kListedEvents events
    int64_t eventCount;              // all events
    std::vector<CodeTally> codes;    // per fall code, by code
    int64_t impact;                  // the manifest's impact sample, else detect.peakSample
    bool impactFromManifest;
    std::string tracePath;   // the trace written, empty for none
    FallWindowTally window;  // a fall with its own timing: its window and where its alarms lie; else inactive
};

struct Evaluation {
    std::vector<RecordingOutcome> outcomes;  // in the order of the input set
    int twinsPassedOver;
    std::vector<InputSkipped> skipped;  // what the search passed over
    uint64_t samples;                   // samples processed in all
    double seconds;                     // wall time of the run
};

// Samples read from a recording and fed to the detector at a time.
constexpr int kEvalBlock = 4096;

// One pass of a recording through a detector.
struct EvalPassResult {
    DetectResult detect;       // samples and peak (alarms untouched)
    AlarmTally tally;          // the alarms
    std::string failure;       // why the recording could not be read completely; empty when it was
    std::string traceFailure;  // why its trace is missing or incomplete; empty when none was wanted or it is whole
    std::string tracePath;     // the trace written, empty for none
};

// Reads the recording input block by block (kEvalBlock samples) and runs it
// through a fresh detector set up with config, tallying its alarms with
// mergeSeconds. When tracePath is not empty the trace goes there (its
// folders created; refused when it is the recording itself or named like
// the layout marker). observer (may be null) is called after every sample;
// progress (may be null) receives the samples and bytes as they are read.
// Returns false when the recording cannot be read completely (failure
// says why; what was read is in result). Memory: one block and the tally.
bool EvalPass(const InputRecording& input, const TumblewatchConfig& config, double mergeSeconds,
              const std::string& tracePath, DetectObserver observer, void* user, Progress* progress,
              EvalPassResult* result);

// EvalPass with a fall window: the tally's window starts as window (an
// inactive one for none), so that every alarm is placed in it or before or
// after it as it comes.
bool EvalPassWindowed(const InputRecording& input, const TumblewatchConfig& config, double mergeSeconds,
                      const FallWindowTally& window, const std::string& tracePath, DetectObserver observer, void* user,
                      Progress* progress, EvalPassResult* result);

// The window of a recording with these labels under settings: active for a
// fall whose labels carry its timing (LabelsTimed), else inactive.
FallWindowTally EvalWindowOf(const RecordingLabels& labels, const FallWindowSettings& settings);

// True when the outcome counts as detected: an alarm in its window when it
// has one, else any alarm.
bool EvalDetected(const RecordingOutcome& outcome);

// The first alarm that detects the outcome's recording (the first in its
// window, or the first of all), -1 for none.
int64_t EvalDetectingAlarm(const RecordingOutcome& outcome);

// The latency of a detected outcome in seconds: from the fall's start when
// it has a window, else from the impact. NaN when not detected.
double EvalLatency(const RecordingOutcome& outcome);

// The trace path of a recording below dir: its relative path with the last
// three characters replaced by "txt", as the bench names traces.
std::string EvalTracePath(const std::string& dir, const InputRecording& input);

// Checks, before anything runs, that traces can go below dir, then creates
// it: dir must pass FilesCheckOutputFolder, no trace may land in a folder
// that holds a recording or that a pattern reads, or be a file of reads or
// of outputs (the command's other output files). False with a message
// otherwise, or when dir cannot be created.
bool EvalCheckTraces(const std::string& dir, const InputSet& inputs, const FilesReads& reads,
                     const std::vector<std::string>& outputs, std::string* error);

// The number of hardware threads (1 when the system does not say): the
// default number of worker threads.
int EvalHardwareThreads();

// Runs the evaluation. Labels come from the manifest (when not null and
// the recording is in it) or from the file name. Recordings that cannot be
// read are kept with read false and their reason; a recording without
// samples, or whose manifest impact or fall timing lies outside it, is kept
// with counted false (the latter with the manifest's line as its failure);
// a fall with its own timing gets its window (settings.window); the others
// are evaluated. Results are the same for any number of threads.
void EvalRun(const InputSet& inputs, const Manifest* manifest, const EvalSettings& settings, Evaluation* evaluation);

// The bytes of the recordings that were read (their files' sizes now).
uint64_t EvalBytesOf(const Evaluation& evaluation);

// The score of an outcome for the metrics.
RecordingScore EvalScore(const RecordingOutcome& outcome);

// The metrics over the counted outcomes.
Metrics EvalMetrics(const Evaluation& evaluation);

// Fills outcome from one pass of its recording: read, counted, detect,
// alarms, events, codes, impact and failure (labels, labelsFromManifest
// and input must be set; manifest is the one that gave the labels, or
// null).
void EvalTakePass(EvalPassResult* pass, const Manifest* manifest, RecordingOutcome* outcome);

#endif
