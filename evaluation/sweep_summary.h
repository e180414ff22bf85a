// What a sweep concludes, kept up to date one row at a time so that memory
// does not grow with the number of configurations: the Pareto front, the
// best configuration under the objective and, with held-out subjects, the
// nested selection: for each fold, the best configuration on the other
// groups alone, scored on the fold's held-out subjects ("tuned on other
// subjects, tested on new ones").
#ifndef EVALUATION_SWEEP_SUMMARY_H
#define EVALUATION_SWEEP_SUMMARY_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "eval_intervals.h"
#include "pareto.h"
#include "sweep.h"
#include "sweep_output.h"

// One fold of the nested selection.
struct SweepNestedFold {
    std::vector<std::string> subjects;  // its held-out subjects, in byte order
    int recordings;                     // its held-out recordings
    Objective objective;                // the sweep's, with this fold's limit: for the default objective, the base
                                        // configuration's false alarms per hour on the fold's tuning part
    ObjectiveBest chosen;               // the best on the tuning part (its point holds the tuning figures)
    Metrics tune;                       // the chosen configuration on the tuning part (no latencies)
    Metrics held;                       // the chosen configuration on the held-out group (no latencies)
    ParetoFront tuneFront;              // every configuration's tuning figures: the tuning part's front
};

// A figure over the folds of the nested selection: its mean and sample
// standard deviation (n - 1) over the folds that chose a configuration and
// where the figure is defined; NaN for no such fold (the standard
// deviation for fewer than two).
struct SweepSpread {
    double mean;
    double sd;
    int folds;  // folds counted
};

// The chosen configurations' figures on their held-out groups, over the folds.
struct SweepNestedSpread {
    int chosen;  // folds that chose a configuration
    int folds;   // all folds
    SweepSpread sensitivity;
    SweepSpread specificity;
    SweepSpread f1;
    SweepSpread falseAlarmsPerHour;
    SweepSpread tp;
    SweepSpread fn;
    SweepSpread fp;
    SweepSpread tn;
};

struct SweepSummary {
    std::vector<int> varied;  // the varied parameters
    Objective objective;      // the sweep's; the default's limit is the base configuration's false alarms per hour
    SweepRow base;            // the base configuration, as evaluated
    int64_t rows;             // rows taken in
    ParetoFront front;        // over every recording
    ObjectiveBest best;       // over every recording
    Metrics bestMetrics;      // the best configuration's figures over every recording
    std::vector<SweepNestedFold> nested;  // one per fold; empty without folds
    // The intervals' level, and the resamples and seed of the nested
    // selection's bootstrap (SweepSummaryBootstrapNested).
    IntervalSettings intervals = IntervalDefaultSettings();
    bool nestedBootstrapped = false;  // nestedBootstrap is computed
    IntervalBootstrap nestedBootstrap{};
};

// Starts a summary for a sweep varying varied, under objective, with data's
// folds and its base configuration's row base (whose false alarms per hour
// set the limits of the default objective).
void SweepSummaryStart(SweepSummary* summary, const std::vector<int>& varied, const Objective& objective,
                       const SweepData& data, const SweepRow& base);

// Takes a row in (refused rows are left out). Rows must come in
// configuration order: ties go to the lower number.
void SweepSummaryAdd(SweepSummary* summary, const SweepRow& row);

// The mean and spread of the nested selection's held-out figures.
SweepNestedSpread SweepSummaryNestedSpread(const SweepSummary& summary);

// The nested selection's held-out figures pooled over every held-out
// subject, each scored by the configuration its fold chose (the folds that
// chose none left out): the counts and rates of those recordings, as if
// one set (no latencies).
Metrics SweepSummaryNestedPooled(const SweepSummary& summary);

// The intervals of a point of the summary's front (or of a row over every
// recording) at the summary's level: its counts follow from its rates and
// the set's falls and hours of ADL, which every configuration shares (the
// base configuration's). Specificity and precision are left undefined.
RateIntervals SweepPointIntervals(const SweepSummary& summary, const SweepPoint& point);

// Resamples per subject-level bootstrap of a sweep's nested selection by
// default.
constexpr int kSweepNestedResamples = kIntervalDefaultResamples;

// Sets summary->intervals to settings and, with folds, bootstraps the
// pooled held-out figures over the held-out subjects: each fold's chosen
// configuration is run again on the fold's held-out recordings of data
// (scored with the sweep's settings: its event gap and fall window), each subject's counts taken, and
// IntervalBootstrapSubjects run with settings over the subjects in byte
// order of their names. The summary must hold every row (the choices are
// final). Runs on the calling thread; costs one configuration over the
// recordings.
void SweepSummaryBootstrapNested(SweepSummary* summary, const SweepData& data, const SweepSettings& sweep,
                                 const IntervalSettings& settings);

// The summary as the JSON document of `sweep --summary FILE` (and the
// data of the sweep's page): the sweep's identity, the base
// configuration, the front, the best configuration and "nested" (null
// without folds). configurations is the sweep's number of configurations.
// Rates are rounded to six decimals as in the rows, so the document is the
// same whether the sweep ran in one go or was resumed.
nlohmann::ordered_json SweepSummaryJson(const SweepSummary& summary, const SweepLayout& layout, int64_t configurations);

#endif
