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

// The summary as the JSON document of `sweep --summary FILE` (and the
// data of the sweep's page): the sweep's identity, the base
// configuration, the front, the best configuration and "nested" (null
// without folds). configurations is the sweep's number of configurations.
// Rates are rounded to six decimals as in the rows, so the document is the
// same whether the sweep ran in one go or was resumed.
nlohmann::ordered_json SweepSummaryJson(const SweepSummary& summary, const SweepLayout& layout, int64_t configurations);

#endif
