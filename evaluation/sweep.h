// Running a sweep: every configuration over every recording, decoded once
// into memory, on worker threads, with the rows handed back strictly in
// configuration order as soon as each is complete.
#ifndef EVALUATION_SWEEP_H
#define EVALUATION_SWEEP_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "front_end.h"
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
    // The front end's values of every sample (front_end.h), computed once
    // when the recording is loaded; empty when the sweep runs the whole
    // pipeline for every configuration.
    std::vector<TumblewatchFrontEndValues> frontEnd;
    int fold;  // held-out group, -1 without folds
};

// A held-out group: what no configuration changes.
struct SweepFold {
    std::vector<std::string> subjects;  // in byte order (the values of the column grouped by)
    int recordings;
    uint64_t adlSamples;  // samples of its ADL recordings
};

// The decoded recordings; the unreadable ones only named.
struct SweepData {
    std::vector<SweepRecording> recordings;  // the labelled, readable ones, in input order
    std::vector<std::string> failures;       // "PATH: reason" of those that could not be read
    int unlabelled;                          // readable recordings left out for want of a label
    std::vector<std::string> empty;          // labelled recordings without samples, left out
    uint64_t samples;                        // samples of one pass over the recordings
    uint64_t adlSamples;                     // samples of the ADL recordings
    std::vector<SweepFold> folds;            // the held-out groups (SweepAssignFolds); empty without
};

// Bytes per sample that the front-end cache holds, beside the 12 of the
// decoded sample itself.
constexpr std::size_t kSweepFrontEndBytesPerSample = sizeof(TumblewatchFrontEndValues);

// Reads every labelled recording of inputs into memory (threads at a
// time); labels from the manifest (when not null) or the file names. A
// recording without samples is left out (named in empty), as eval leaves
// it out of the metrics. With frontEnd, each worker also runs the front end
// over the recording it has decoded and keeps its values
// (kSweepFrontEndBytesPerSample bytes per sample), so that every
// configuration runs only the decisions.
// poll (when given) is asked while the recordings load; false stops the
// loading, and SweepLoad returns false with data incomplete.
bool SweepLoad(const InputSet& inputs, const Manifest* manifest, int threads, bool frontEnd, SweepData* data,
               const ProgressPoll& poll = ProgressPoll());

// The bytes that the decoded recordings and their front ends occupy (the
// vectors' capacities; names and labels not counted).
uint64_t SweepDataBytes(const SweepData& data);

// Deals the recordings' subjects into folds groups (FoldsAssign), sets
// each recording's fold and describes the groups in data->folds; nothing
// changes when folds is 0.
void SweepAssignFolds(SweepData* data, int folds);

// SweepAssignFolds grouping by any manifest column (LabelsColumn): the
// distinct values of column are dealt into the groups ("subject" is
// SweepAssignFolds; "dataset" holds each dataset out in turn).
void SweepAssignFoldsBy(SweepData* data, int folds, const std::string& column);

// The mean of the values that are not NaN, summed in order (NaN when there
// is none); their number in *defined when it is not null.
double SweepMeanDefined(const std::vector<double>& values, int* defined = nullptr);

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
    bool refused;                    // TumblewatchSet refuses the configuration: no metrics
    std::string refusal;             // why, naming the parameter
    Metrics all;                     // over every recording
    std::vector<Metrics> heldFolds;  // with folds, per fold: its held-out group (no latencies)
    std::vector<Metrics> tuneFolds;  // with folds, per fold: the other groups, its tuning part (no latencies)
    FoldMetrics tune;                // with folds: the tuning parts' figures, each the mean over the folds
    FoldMetrics held;                // with folds: the held-out groups' figures, each the mean over the folds
};

// Sets a row's per-fold figures and their means from the counts over all
// recordings and on each held-out group (one per fold of data), the tuning
// part's being the difference: exactly the figures of those recordings'
// scores. Both a sweep and the resumption of one compute them here.
void SweepFoldFigures(const SweepData& data, const MetricsCounts& all, const std::vector<MetricsCounts>& held,
                      SweepRow* row);

struct SweepSettings {
    double mergeSeconds;
    int threads;
    int folds;                    // 0 without held-out subjects
    FallWindowSettings window{};  // the margins of a timed fall's window
};

// The score of a recording of a sweep from the detector's result on it:
// its events, first alarm and impact, and for a fall with its own timing
// its window (settings.window) and the alarms before and after it.
RecordingScore SweepScoreOf(const SweepRecording& rec, const DetectResult& result, const SweepSettings& settings);

// The score of every recording of data in fold under config (every
// recording when fold is -1), computed as SweepEvaluate computes it; the
// others are left with no label. config must be accepted by the detector.
std::vector<RecordingScore> SweepScores(const SweepData& data, const TumblewatchConfig& config,
                                        const SweepSettings& settings, int fold);

// Runs configurations first .. first + count - 1 of space (on base) and
// calls commit with each row, in index order, on the calling thread, which
// also shows progress. When commit returns false, or progress->poll asks
// to stop, the run stops after the configurations in flight. At most a few
// configurations per thread are in flight, so memory does not grow with
// count. Runs on fewer threads when the system cannot create them all, on
// the calling thread alone when it can create none.
void SweepRun(const SweepData& data, const SweepSpace& space, const TumblewatchConfig& base, int64_t first,
              int64_t count, const SweepSettings& settings, Progress* progress,
              const std::function<bool(const SweepRow&)>& commit);

// The row of a single configuration (the same computation, on one thread).
// With front ends in data, only the decisions run; without, the whole
// pipeline: the rows are the same.
SweepRow SweepEvaluate(const SweepData& data, const TumblewatchConfig& config, int64_t index,
                       const SweepSettings& settings);

#endif
