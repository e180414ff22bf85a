// How well the detector did on a labelled set of recordings: the confusion
// counts per recording, the rates derived from them, false-alarm events per
// hour of daily activity and the latency of detected falls.
#ifndef EVALUATION_METRICS_H
#define EVALUATION_METRICS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "detect.h"
#include "labels.h"

// Alarms closer than this many seconds to the previous alarm belong to the
// same event.
constexpr double kDefaultMergeSeconds = 10.0;

// A run of alarms of one recording.
struct AlarmEvent {
    uint32_t first;  // sample of its first alarm
    uint32_t last;   // sample of its last alarm
    int alarms;      // alarms in it
};

// True when an alarm at sample next, after one at sample previous, joins
// its event: it is less than mergeSeconds later.
bool MetricsSameEvent(uint32_t previous, uint32_t next, double mergeSeconds);

// Groups alarms (in sample order) into events: an alarm less than
// mergeSeconds after the previous alarm joins its event.
std::vector<AlarmEvent> MetricsEvents(const std::vector<Alarm>& alarms, double mergeSeconds);

// The number of events without building them.
int MetricsEventCount(const std::vector<Alarm>& alarms, double mergeSeconds);

// What the metrics need of one recording.
struct RecordingScore {
    Label label;
    uint32_t samples;
    int events;          // alarm events
    int64_t firstAlarm;  // sample of the first alarm, -1 without alarms
    int64_t impact;      // the impact sample
};

// The metrics of a set of recordings; only labelled ones count. A rate
// whose denominator is 0 is NaN ("undefined").
struct Metrics {
    int recordings;  // labelled recordings counted
    int falls;
    int adls;
    int tp;                     // falls with at least one alarm
    int fn;                     // falls without an alarm
    int fp;                     // ADLs with at least one alarm
    int tn;                     // ADLs without an alarm
    double sensitivity;         // tp / falls
    double specificity;         // tn / adls
    double precision;           // tp / (tp + fp)
    double f1;                  // 2 tp / (2 tp + fp + fn)
    double accuracy;            // (tp + tn) / recordings
    int falseAlarmEvents;       // events on ADL recordings
    double adlHours;            // length of the ADL recordings, h
    double falseAlarmsPerHour;  // falseAlarmEvents / adlHours
    int latencyCount;           // detected falls
    double latencyMedian;       // s from the impact to the first alarm (negative: before it)
    double latencyMin;          // s
    double latencyMax;          // s
};

Metrics MetricsCompute(const std::vector<RecordingScore>& scores);

// What every figure of a set but its latencies follows from: the confusion
// counts and the false-alarm events (the set's ADL samples aside, which no
// configuration changes).
struct MetricsCounts {
    int tp;
    int fn;
    int fp;
    int tn;
    int falseAlarmEvents;
};

MetricsCounts MetricsCountsOf(const Metrics& m);

// The metrics of a set with these counts whose ADL recordings hold
// adlSamples samples, computed exactly as MetricsCompute computes them
// (MetricsCompute ends here); no latencies (NaN, latencyCount 0).
Metrics MetricsFromCounts(const MetricsCounts& counts, uint64_t adlSamples);

// The names of the metrics that MetricsValue knows, for messages.
const std::vector<std::string>& MetricsNames();

// The value of a metric by name (tp, fn, fp, tn, falls, adls, recordings,
// sensitivity, specificity, precision, f1, accuracy, false_alarm_events,
// adl_hours, false_alarms_per_hour, latency_median, latency_min,
// latency_max). False for an unknown name.
bool MetricsValue(const Metrics& m, const std::string& name, double* value);

// True for the metrics that count recordings or events (whole numbers).
bool MetricsIsCount(const std::string& name);

#endif
