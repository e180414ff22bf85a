// Rows as counts, and back.
#include "sweep_tally.h"

#include <cmath>

#include "params.h"

namespace {

// A count column of a record: a whole number of at least 0.
bool Count(const SweepRecord& record, const std::string& column, int* count, std::string* problem)
{
    const double v = record.Metric(column);
    if (!(v >= 0.0 && v <= 2147483647.0 && std::floor(v) == v)) {
        *problem = "configuration " + std::to_string(record.index) + ": " + column + " is not a count";
        return false;
    }
    *count = static_cast<int>(v);
    return true;
}

bool Counts(const SweepRecord& record, const std::string& prefix, MetricsCounts* c, std::string* problem)
{
    return Count(record, prefix + "tp", &c->tp, problem) && Count(record, prefix + "fn", &c->fn, problem) &&
           Count(record, prefix + "fp", &c->fp, problem) && Count(record, prefix + "tn", &c->tn, problem) &&
           Count(record, prefix + "false_alarm_events", &c->falseAlarmEvents, problem);
}

}  // namespace

SweepTally SweepTallyOfRow(const SweepRow& row, const std::vector<int>& varied)
{
    SweepTally t{row.index, {}, MetricsCountsOf(row.all), row.all.latencyMedian, {}};
    for (const int v : varied) {
        t.values.push_back(TumblewatchParamGet(&row.config, v));
    }
    for (const Metrics& h : row.heldFolds) {
        t.held.push_back(MetricsCountsOf(h));
    }
    return t;
}

bool SweepTallyOfRecord(const SweepRecord& record, int folds, SweepTally* tally, std::string* problem)
{
    tally->index = record.index;
    tally->values = record.values;
    tally->latencyMedian = record.Metric("latency_median");
    tally->held.assign(static_cast<std::size_t>(folds), MetricsCounts{});
    if (!Counts(record, "", &tally->all, problem)) {
        return false;
    }
    for (int k = 0; k < folds; ++k) {
        if (!Counts(record, "fold" + std::to_string(k + 1) + "_", &tally->held[static_cast<std::size_t>(k)], problem)) {
            return false;
        }
    }
    return true;
}

SweepRow SweepRowOfTally(const SweepTally& tally, const SweepData& data, const TumblewatchConfig& config)
{
    SweepRow row{};
    row.index = tally.index;
    row.config = config;
    row.all = MetricsFromCounts(tally.all, data.adlSamples);
    row.all.latencyMedian = tally.latencyMedian;
    SweepFoldFigures(data, tally.all, tally.held, &row);
    return row;
}
