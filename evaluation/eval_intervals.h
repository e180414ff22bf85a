// The intervals of an evaluation's figures: Wilson intervals of its shares,
// the exact Poisson interval of its false alarms per hour and, when asked
// for, a bootstrap over its subjects.
#ifndef EVALUATION_EVAL_INTERVALS_H
#define EVALUATION_EVAL_INTERVALS_H

#include <cstdint>
#include <vector>

#include "breakdown.h"
#include "evaluation.h"
#include "intervals.h"
#include "metrics.h"

// How the intervals are made.
struct IntervalSettings {
    double confidence;  // IntervalConfidenceValid; kIntervalDefaultConfidence by default
    int bootstrap;      // subject-level bootstrap resamples, 0 for none
    uint64_t seed;      // the bootstrap's seed
};

// The default: 95 % intervals, no bootstrap.
IntervalSettings IntervalDefaultSettings();

// The intervals of one set's rates, from its counts.
struct RateIntervals {
    Interval sensitivity;         // Wilson, tp of tp + fn
    Interval specificity;         // Wilson, tn of tn + fp
    Interval precision;           // Wilson, tp of tp + fp
    Interval falseAlarmsPerHour;  // Garwood, falseAlarmEvents in adlHours
};

// The intervals of m's rates at confidence.
RateIntervals IntervalsOfMetrics(const Metrics& m, double confidence);

struct EvalIntervals {
    IntervalSettings settings;
    RateIntervals summary;
    std::vector<Interval> activities;    // per row of the breakdown: Wilson, detected of recordings
    std::vector<RateIntervals> folders;  // per row of the breakdown
    bool bootstrapped;                   // settings.bootstrap > 0
    IntervalBootstrap bootstrap;         // over the subjects (valid when bootstrapped)
};

// What each subject contributes to the metrics of the counted, labelled
// outcomes, subjects in byte order of their names; a recording without a
// subject stands alone as a subject of its own (after the named ones, in
// the order of the evaluation).
std::vector<IntervalSubject> EvalSubjects(const Evaluation& evaluation);

// Every interval of an evaluation whose metrics and breakdowns are
// metrics and breakdowns.
EvalIntervals EvalIntervalsOf(const Evaluation& evaluation, const Metrics& metrics, const Breakdowns& breakdowns,
                              const IntervalSettings& settings);

#endif
