// What-if scans: one parameter at a time over its range, the others at a
// base configuration, over recordings decoded once with their front ends
// (sweep.h's SweepData). The scan keeps every recording's outcome under
// every value it ran, so that the rows, the recordings that change outcome
// and the explanations (explain.h) all follow from detector runs, never
// from estimates.
#ifndef EVALUATION_SCAN_H
#define EVALUATION_SCAN_H

#include <cstdint>
#include <string>
#include <vector>

#include "metrics.h"
#include "progress.h"
#include "sweep.h"

// Values of a parameter's range that a scan runs one by one by default;
// a longer range is run in even steps (ScanPlanMake).
constexpr int kScanDefaultMaxValues = 64;

// A range of at most this many values is always run whole.
constexpr int kScanWholeRange = 64;

// The range a parameter is scanned over: the detector accepts any 32-bit
// value of most parameters, but beyond lo and hi every recording's
// decisions are those at the nearer end, because the quantity the
// parameter is compared with lies within (ScanParamRange says why).
struct ScanRange {
    int32_t lo;
    int32_t hi;
    std::string why;  // one sentence: what bounds it
};

// The scan range of parameter index (one that a stage reads), for
// recordings of at most longest samples; false for a parameter no stage
// reads. Allocates only the text.
bool ScanParamRange(int index, uint32_t longest, ScanRange* range);

// One parameter of a scan and the values it runs, ascending.
struct ScanParam {
    int index;  // the parameter (params.h)
    ScanRange range;
    int32_t step;                 // 1: every value of the range; else the step of the even grid
    std::vector<int32_t> values;  // ascending, with the base value
    std::vector<int> configs;     // per value: its configuration in ScanPlan::configs
    int baseValue;                // position of the base value in values
};

// A scan: the base configuration and the configurations it runs (the base
// first, then each parameter's other values in order).
struct ScanPlan {
    TumblewatchConfig base;
    std::vector<ScanParam> params;
    std::vector<TumblewatchConfig> configs;
    std::vector<int> configParam;  // per configuration: the parameter's position in params, -1 for the base
};

// Builds the plan of a scan of the named parameters (every parameter a
// stage reads when names is empty) on base: each range whole when it holds
// at most kScanWholeRange or maxValues values, else lo, lo + step, ... and
// hi with the smallest step that keeps at most maxValues values before hi,
// or the step that steps gives ("NAME=STEP", at least 1); the base value is always run
// (even outside the range). A tiltLimit of 15, which the detector refuses,
// is left out. False with a message for an unknown name (with the nearest
// one), a parameter no stage reads, a name given twice, a bad step or a
// maxValues below 2.
bool ScanPlanMake(const std::vector<std::string>& names, const std::vector<std::string>& steps, int maxValues,
                  const TumblewatchConfig& base, uint32_t longest, ScanPlan* plan, std::string* error);

// Loads the labelled recordings of inputs with their front ends, on
// threads threads (SweepLoad); manifest may be null. False with a message
// when none could be read ("nothing to" what) or a manifest's impact lies
// past the end of its recording; data->failures, data->unlabelled and
// data->empty say what was left out in any case.
bool ScanLoad(const InputSet& inputs, const Manifest* manifest, int threads, const std::string& what, SweepData* data,
              std::string* error);

// Samples of the longest recording of data.
uint32_t ScanLongest(const SweepData& data);

// What one configuration did on one recording.
struct ScanOutcome {
    int32_t firstAlarm;  // sample of the first alarm, -1 without one
    uint32_t events;     // alarm events (alarms merged as eval merges them)
};

// Every recording's outcome under every configuration of a plan:
// outcomes[config * recordings + recording].
struct ScanTable {
    std::size_t recordings;
    std::vector<ScanOutcome> outcomes;
    std::vector<int64_t> impacts;  // per recording: the impact sample the latency is measured from
    double seconds;                // wall-clock time of the runs
    uint64_t configSamples;        // configurations x samples run

    const ScanOutcome& At(int config, std::size_t recording) const
    {
        return outcomes[static_cast<std::size_t>(config) * recordings + recording];
    }
};

// Runs every configuration of plan over every recording of data (whose
// front ends must be loaded), on threads threads, one recording at a time
// per thread with all configurations over its cached front end; progress
// counts recordings. Allocates the table (8 bytes per configuration and
// recording).
void ScanRun(const SweepData& data, const ScanPlan& plan, double mergeSeconds, int threads, Progress* progress,
             ScanTable* table);

// The metrics of configuration config of a scanned table: exactly those
// of SweepEvaluate with the same configuration over the same recordings.
Metrics ScanMetrics(const SweepData& data, const ScanTable& table, int config);

// How a configuration changes the recordings' outcomes against the base
// (configuration 0): recording positions in data, ascending.
struct ScanChanges {
    std::vector<std::size_t> fallsGained;         // falls missed by the base, detected here
    std::vector<std::size_t> fallsLost;           // falls the base detects, missed here
    std::vector<std::size_t> falseAlarmsAdded;    // ADLs without an alarm under the base, with one here
    std::vector<std::size_t> falseAlarmsRemoved;  // ADLs with an alarm under the base, without one here
};

ScanChanges ScanChangesOf(const SweepData& data, const ScanTable& table, int config);

// One value of a scanned parameter.
struct ScanValueRow {
    int32_t value;
    int config;
    Metrics metrics;
    ScanChanges changes;
    // The Wilson and Poisson intervals of the two rates go here once the
    // project's interval module is in (evaluation/intervals.h).
};

// How far one parameter alone moves the front.
struct ScanReach {
    double area;                       // front area it adds to the base's (see ScanRank)
    double bestSensitivityAtBaseFa;    // highest sensitivity at no more false alarms per hour than the base
    double lowestFaAtBaseSensitivity;  // fewest false alarms per hour at no less sensitivity than the base
    int recordingsChanged;             // recordings whose outcome some value changes
    int rank;                          // 1 = moves it most
};

struct ScanParamResult {
    std::vector<ScanValueRow> rows;  // per value of the parameter, ascending
    ScanReach reach;
};

// The rows of every parameter of a scanned plan and their ranking: each
// parameter's points (sensitivity, x = log10(1 + false alarms per hour))
// dominate an area of the box sensitivity 0..1, x 0..the largest x of the
// scan; its reach is the area by which that exceeds the base point's
// alone. Ranked by area, then recordings changed, then parameter order.
std::vector<ScanParamResult> ScanResults(const SweepData& data, const ScanPlan& plan, const ScanTable& table);

#endif
