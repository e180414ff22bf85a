// What a sweep (or a search, whose trials are rows of a sweep's format)
// shows on the terminal when it ends, as text: the command line prints it,
// and so does the Python module's cluster command.
#ifndef EVALUATION_SWEEP_SUMMARY_TEXT_H
#define EVALUATION_SWEEP_SUMMARY_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

#include "sweep_plan.h"
#include "sweep_summary.h"

// What this run did, and the words for its rows.
struct SweepRunFigures {
    std::string title;   // "tumblewatch sweep"
    std::string item;    // what a row is: "configuration" (a search: "trial")
    int64_t count;       // rows planned (configurations or trials)
    int64_t runNow;      // evaluated by this run, refused ones included
    int64_t refusedNow;  // of those, refused by the detector
    double seconds;      // this run's wall-clock time
    uint64_t samples;    // samples this run processed
};

// The number of rows, the time and throughput of this run, the base
// configuration's figures, the Pareto front, the best row under the
// summary's objective (with the --set options that give it) and, with
// folds, the nested selection (SweepNestedText). Every line ends in a
// newline.
std::string SweepSummaryText(const SweepPlan& plan, const SweepSummary& summary, const SweepRunFigures& run);

// The nested selection: per fold its limit, chosen row and held-out
// figures, their mean and spread, and the held-out subjects. item names a
// row, as in SweepRunFigures.
std::string SweepNestedText(const SweepPlan& plan, const SweepSummary& summary, const std::string& item);

// The configuration of a row of the summary: the base configuration with
// the row's varied values (for a sweep, the same as SweepConfig of its
// number).
TumblewatchConfig SweepPointConfig(const SweepSummary& summary, const SweepPoint& point);

// A rate with decimals decimals, "-" when undefined (NaN).
std::string SweepRateText(double v, int decimals);

#endif
