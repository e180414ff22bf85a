// What a row of a sweep's output carries that its figures follow from
// exactly: the counts over every recording and on each held-out group.
// Reading them back gives a resumed sweep the very figures (and so the
// same front, best configuration and nested selection) that the run which
// wrote the rows had, not their six-decimal roundings.
#ifndef EVALUATION_SWEEP_TALLY_H
#define EVALUATION_SWEEP_TALLY_H

#include <cstdint>
#include <string>
#include <vector>

#include "metrics.h"
#include "sweep.h"
#include "sweep_output.h"

struct SweepTally {
    int64_t index;                    // configuration number
    std::vector<int32_t> values;      // the varied parameters' values
    MetricsCounts all;                // over every labelled recording
    double latencyMedian;             // s, as the row holds it; NaN when undefined
    std::vector<MetricsCounts> held;  // per fold: on its held-out group; empty without folds
};

// The tally of a row just computed.
SweepTally SweepTallyOfRow(const SweepRow& row, const std::vector<int>& varied);

// The tally of a row read back from a file whose columns are this
// version's with folds groups. False with a message when a count is not a
// whole number of at least 0.
bool SweepTallyOfRecord(const SweepRecord& record, int folds, SweepTally* tally, std::string* problem);

// The row that a tally stands for, with the sweep's data (which gives each
// group's ADL samples) and config, the configuration of its number: every
// figure as the sweep computed it (SweepFoldFigures), the latency median
// as the row holds it.
SweepRow SweepRowOfTally(const SweepTally& tally, const SweepData& data, const TumblewatchConfig& config);

#endif
