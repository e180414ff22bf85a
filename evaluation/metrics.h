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

// The fall window's margins by default, in seconds: a fall recording whose
// manifest gives the fall's own timing counts as detected only by an alarm
// from beforeSeconds before the fall starts to afterSeconds after it ends.
// SisFall's per-sample annotation marks at most 1.37 s of alert before a
// fall and at most 2.89 s after it: the defaults take in every alert phase.
constexpr double kDefaultFallBefore = 1.5;
constexpr double kDefaultFallAfter = 3.0;

struct FallWindowSettings {
    double beforeSeconds = kDefaultFallBefore;  // s before the annotated fall's first sample
    double afterSeconds = kDefaultFallAfter;    // s after its last sample
};

// Where the alarms of a fall recording with its own timing lie: in the
// fall window, before it (early) or after it (late). Early alarms are
// grouped into events among themselves, and so are late ones, as
// MetricsSameEvent groups all alarms. Plain storage, no allocation.
struct FallWindowTally {
    bool active;          // a timed fall recording: only alarms in the window detect it
    int64_t first;        // the window's first sample (0 or more)
    int64_t last;         // its last sample, inclusive
    int64_t firstAlarm;   // the first alarm in it, -1 for none
    int64_t inAlarms;     // alarms in it
    int64_t earlyAlarms;  // alarms before it
    int64_t lateAlarms;   // alarms after it
    int64_t earlyEvents;  // events of the early alarms
    int64_t lateEvents;   // events of the late alarms
    int64_t lastEarly;    // sample of the last early alarm, -1 for none
    int64_t lastLate;     // sample of the last late alarm, -1 for none
};

// An inactive window tally: every alarm detects.
FallWindowTally MetricsNoWindow();

// The window of a fall whose first and last samples are fallStart and
// fallEnd (inclusive), with the margins of settings: from
// floor(beforeSeconds * 50) samples before fallStart (not before 0) to
// floor(afterSeconds * 50) samples after fallEnd. An empty tally.
FallWindowTally MetricsWindowOf(int64_t fallStart, int64_t fallEnd, const FallWindowSettings& settings);

// Adds an alarm at sample (in sample order) to the window tally, with the
// event gap mergeSeconds. Nothing when the tally is inactive.
void MetricsWindowAdd(FallWindowTally* tally, uint32_t sample, double mergeSeconds);

// The samples of a recording of samples samples that lie outside the window.
uint64_t MetricsOutsideSamples(const FallWindowTally& window, uint64_t samples);

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
    // A fall with its own timing: detected only by an alarm in its window,
    // latency from fallStart (and to fallEnd), and its early and late
    // events counted apart.
    bool windowed = false;
    int64_t firstInWindow = -1;   // first alarm in the window, -1 for none
    int64_t fallStart = -1;       // the fall's first sample
    int64_t fallEnd = -1;         // its last sample
    int64_t earlyEvents = 0;      // events before the window
    int64_t lateEvents = 0;       // events after it
    uint64_t outsideSamples = 0;  // samples outside the window
};

// True when the recording counts as detected: an alarm in its window when
// it is windowed, else any alarm.
bool MetricsDetected(const RecordingScore& score);

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
    double latencyMedian;       // s from the impact (or a timed fall's start) to the first alarm that detects it
    double latencyMin;          // s
    double latencyMax;          // s
    // Falls with their own timing (all 0 or NaN without): their number, the
    // alarm events before and after their windows, the hours of their
    // recordings outside the windows, those events per such hour, and the
    // latency from the fall's end (the latency above is from its start).
    int timedFalls;
    int earlyEvents;
    int lateEvents;
    double outsideHours;
    double outsideEventsPerHour;  // (earlyEvents + lateEvents) / outsideHours
    int latencyEndCount;
    double latencyEndMedian;  // s from the fall's last sample to the first alarm in the window
    double latencyEndMin;
    double latencyEndMax;
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
