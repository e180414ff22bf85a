// The sweep whose output file the sweep_resume target reads back: a grid
// over the fall window that the detector partly refuses (0 and 64 have no
// row), each point with three draws of the quiet magnitude, in either
// format, with or without held-out groups. Its seed files are written by
// make_sweep_seeds.
#ifndef FUZZ_SWEEP_FIXTURE_H
#define FUZZ_SWEEP_FIXTURE_H

#include <string>

#include "metrics.h"
#include "params.h"
#include "sweep_output.h"
#include "sweep_plan.h"
#include "sweep_space.h"

namespace fuzz {

// The plan of variant 0..3: bit 0 chooses JSON lines, bit 1 two folds.
inline SweepPlan SweepFixturePlan(int variant)
{
    SweepPlan plan{};
    TumblewatchDefault(&plan.base);
    const int window = TumblewatchParamIndex("fallWindow");
    const int quiet = TumblewatchParamIndex("quietMagnitude");
    plan.space.grids.push_back(SweepGrid{window, {0, 10, 20, 63, 64}});
    plan.space.ranges.push_back(SweepRange{quiet, 10, 90});
    plan.space.draws = 3;
    plan.space.seed = 7;
    plan.count = SweepCount(plan.space, kDefaultMaxConfigs);
    plan.varied = SweepVaried(plan.space);
    plan.layout.format = (variant & 1) != 0 ? SweepFormat::Jsonl : SweepFormat::Csv;
    plan.layout.id = "00112233aabbccdd";
    plan.layout.description = "a sweep of the fuzz target";
    plan.layout.varied = {"fallWindow", "quietMagnitude"};
    plan.layout.folds = (variant & 2) != 0 ? 2 : 0;
    plan.layout.columns = SweepMetricColumns(plan.layout.folds);
    return plan;
}

// The output of the first rows configurations of variant's sweep (refused
// configurations have no row), with made-up counts.
inline std::string SweepFixtureText(int variant, int rows)
{
    const SweepPlan plan = SweepFixturePlan(variant);
    std::string text = SweepHeaderText(plan.layout);
    for (int64_t i = 0; i < rows && i < plan.count; ++i) {
        SweepRow row{};
        row.index = i;
        row.config = SweepConfig(plan.space, plan.base, i);
        int ignored = -1;
        if (TumblewatchCheck(&row.config, &ignored) != nullptr) {
            continue;
        }
        const MetricsCounts counts{static_cast<int>(i % 4), 2, static_cast<int>(i % 3), 5, static_cast<int>(i % 5)};
        row.all = MetricsFromCounts(counts, 90000);
        row.all.latencyMedian = 0.25 * static_cast<double>(i);
        for (int f = 0; f < plan.layout.folds; ++f) {
            row.heldFolds.push_back(MetricsFromCounts(MetricsCounts{f, 1, 0, 2, 0}, 30000));
            row.tuneFolds.push_back(row.heldFolds.back());
        }
        text += SweepRowText(plan.layout, plan.varied, row);
    }
    return text;
}

}  // namespace fuzz

#endif
