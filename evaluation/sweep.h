// Running a sweep: every configuration over every recording, decoded once
// into memory, on worker threads, with the rows handed back strictly in
// configuration order as soon as each is complete.
#ifndef EVALUATION_SWEEP_H
#define EVALUATION_SWEEP_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "inputs.h"
#include "labels.h"
#include "metrics.h"
#include "progress.h"
#include "sweep_space.h"

// One recording of a sweep, decoded.
struct SweepRecording {
    InputRecording input;
    RecordingLabels labels;
    std::vector<ImuSample> samples;
    int fold;  // held-out group, -1 without folds
};

// The decoded recordings; the unreadable ones only named.
struct SweepData {
    std::vector<SweepRecording> recordings;  // the labelled, readable ones, in input order
    std::vector<std::string> failures;       // "PATH: reason" of those that could not be read
    int unlabelled;                          // readable recordings left out for want of a label
    std::vector<std::string> empty;          // labelled recordings without samples, left out
    uint64_t samples;                        // samples of one pass over the recordings
};

// Reads every labelled recording of inputs into memory (threads at a
// time); labels from the manifest (when not null) or the file names. A
// recording without samples is left out (named in empty), as eval leaves
// it out of the metrics.
void SweepLoad(const InputSet& inputs, const Manifest* manifest, int threads, SweepData* data);

// Deals the recordings' subjects into folds groups (FoldsAssign) and sets
// each recording's fold; nothing changes when folds is 0.
void SweepAssignFolds(SweepData* data, int folds);

// Metrics averaged over the folds: each metric is the mean of its defined
// values (NaN when no fold defines it).
struct FoldMetrics {
    double sensitivity;
    double specificity;
    double f1;
    double falseAlarmsPerHour;
};

// The result of one configuration.
struct SweepRow {
    int64_t index;  // configuration number
    TumblewatchConfig config;
    bool refused;         // TumblewatchSet refuses the configuration: no metrics
    std::string refusal;  // why, naming the parameter
    Metrics all;          // over every recording
    FoldMetrics tune;     // with folds: the tuning parts, averaged
    FoldMetrics held;     // with folds: the held-out parts, averaged
};

struct SweepSettings {
    double mergeSeconds;
    int threads;
    int folds;  // 0 without held-out subjects
};

// Runs configurations first .. first + count - 1 of space (on base) and
// calls commit with each row, in index order, on the calling thread, which
// also shows progress. When commit returns false the run stops after the
// configurations in flight. At most a few configurations per thread are in
// flight, so memory does not grow with count.
void SweepRun(const SweepData& data, const SweepSpace& space, const TumblewatchConfig& base, int64_t first,
              int64_t count, const SweepSettings& settings, Progress* progress,
              const std::function<bool(const SweepRow&)>& commit);

// The row of a single configuration (the same computation, on one thread).
SweepRow SweepEvaluate(const SweepData& data, const TumblewatchConfig& config, int64_t index,
                       const SweepSettings& settings);

#endif
