// Keeping a sweep's front, best configuration and nested selection.
#include "sweep_summary.h"

#include <cmath>
#include <limits>

#include "sweep_plan.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The row's point with the measures of m (over every recording, or on a
// fold's tuning part).
SweepPoint PointOf(const SweepRow& row, const std::vector<int>& varied, const Metrics& m)
{
    SweepPoint p = SweepPointOf(row, varied);
    p.sensitivity = m.sensitivity;
    p.falseAlarmsPerHour = m.falseAlarmsPerHour;
    p.f1 = m.f1;
    return p;
}

// Offers point to best; true when it became the best.
bool Offer(const Objective& objective, ObjectiveBest* best, const SweepPoint& point)
{
    const bool had = best->found;
    const int64_t before = best->point.index;
    ObjectiveOffer(objective, best, point);
    return best->found && (!had || best->point.index != before);
}

// Mean and sample standard deviation of the defined values.
SweepSpread Spread(const std::vector<double>& values)
{
    SweepSpread s{0.0, kNaN, 0};
    s.mean = SweepMeanDefined(values, &s.folds);
    if (s.folds >= 2) {
        double squares = 0.0;
        for (const double v : values) {
            if (!std::isnan(v)) {
                squares += (v - s.mean) * (v - s.mean);
            }
        }
        s.sd = std::sqrt(squares / (s.folds - 1));
    }
    return s;
}

}  // namespace

void SweepSummaryStart(SweepSummary* summary, const std::vector<int>& varied, const Objective& objective,
                       const SweepData& data, const SweepRow& base)
{
    summary->varied = varied;
    summary->objective = objective;
    if (objective.kind == ObjectiveKind::SensitivityAtBase) {
        summary->objective.limit = base.all.falseAlarmsPerHour;
    }
    summary->base = base;
    summary->rows = 0;
    summary->front = ParetoFront{};
    summary->best = ObjectiveBest{false, {}};
    summary->bestMetrics = Metrics{};
    summary->nested.clear();
    for (std::size_t k = 0; k < data.folds.size(); ++k) {
        SweepNestedFold f{};
        f.subjects = data.folds[k].subjects;
        f.recordings = data.folds[k].recordings;
        f.objective = objective;
        if (objective.kind == ObjectiveKind::SensitivityAtBase) {
            f.objective.limit = k < base.tuneFolds.size() ? base.tuneFolds[k].falseAlarmsPerHour : kNaN;
        }
        f.chosen = ObjectiveBest{false, {}};
        summary->nested.push_back(f);
    }
}

void SweepSummaryAdd(SweepSummary* summary, const SweepRow& row)
{
    if (row.refused) {
        return;
    }
    ++summary->rows;
    const SweepPoint p = PointOf(row, summary->varied, row.all);
    ParetoAdd(&summary->front, p);
    if (Offer(summary->objective, &summary->best, p)) {
        summary->bestMetrics = row.all;
    }
    for (std::size_t k = 0; k < summary->nested.size() && k < row.tuneFolds.size(); ++k) {
        SweepNestedFold& f = summary->nested[k];
        const SweepPoint t = PointOf(row, summary->varied, row.tuneFolds[k]);
        ParetoAdd(&f.tuneFront, t);
        if (Offer(f.objective, &f.chosen, t)) {
            f.tune = row.tuneFolds[k];
            f.held = row.heldFolds[k];
        }
    }
}

SweepNestedSpread SweepSummaryNestedSpread(const SweepSummary& summary)
{
    SweepNestedSpread s{};
    s.folds = static_cast<int>(summary.nested.size());
    std::vector<const Metrics*> held;
    for (const SweepNestedFold& f : summary.nested) {
        if (f.chosen.found) {
            held.push_back(&f.held);
        }
    }
    s.chosen = static_cast<int>(held.size());
    auto over = [&](double (*get)(const Metrics&)) {
        std::vector<double> values;
        for (const Metrics* m : held) {
            values.push_back(get(*m));
        }
        return Spread(values);
    };
    s.sensitivity = over([](const Metrics& m) { return m.sensitivity; });
    s.specificity = over([](const Metrics& m) { return m.specificity; });
    s.f1 = over([](const Metrics& m) { return m.f1; });
    s.falseAlarmsPerHour = over([](const Metrics& m) { return m.falseAlarmsPerHour; });
    s.tp = over([](const Metrics& m) -> double { return m.tp; });
    s.fn = over([](const Metrics& m) -> double { return m.fn; });
    s.fp = over([](const Metrics& m) -> double { return m.fp; });
    s.tn = over([](const Metrics& m) -> double { return m.tn; });
    return s;
}
