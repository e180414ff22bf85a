// The summary of a sweep as a JSON document.
#include <cmath>

#include "config.h"
#include "params.h"
#include "sweep_summary.h"

namespace {

using nlohmann::ordered_json;

ordered_json Values(const std::vector<int>& varied, const std::vector<int32_t>& values)
{
    ordered_json j = ordered_json::object();
    for (std::size_t i = 0; i < varied.size() && i < values.size(); ++i) {
        j[TumblewatchParams()[varied[i]].name] = values[i];
    }
    return j;
}

// The counts and rates of a set of recordings.
ordered_json Figures(const Metrics& m)
{
    return ordered_json{{"tp", m.tp},
                        {"fn", m.fn},
                        {"fp", m.fp},
                        {"tn", m.tn},
                        {"sensitivity", SweepJsonRate(m.sensitivity)},
                        {"specificity", SweepJsonRate(m.specificity)},
                        {"f1", SweepJsonRate(m.f1)},
                        {"false_alarms_per_hour", SweepJsonRate(m.falseAlarmsPerHour)}};
}

// A point of a front: its number, varied values and the measures.
ordered_json FrontPoint(const std::vector<int>& varied, const SweepPoint& p, bool held)
{
    ordered_json j{{"config", p.index},
                   {"values", Values(varied, p.values)},
                   {"sensitivity", SweepJsonRate(p.sensitivity)},
                   {"false_alarms_per_hour", SweepJsonRate(p.falseAlarmsPerHour)},
                   {"f1", SweepJsonRate(p.f1)}};
    if (held) {
        j["held_sensitivity"] = SweepJsonRate(p.heldSensitivity);
        j["held_false_alarms_per_hour"] = SweepJsonRate(p.heldFalseAlarmsPerHour);
    }
    return j;
}

ordered_json IntervalOf(const Interval& i);

ordered_json Front(const SweepSummary& summary, const ParetoFront& front, bool held)
{
    ordered_json j = ordered_json::array();
    for (const SweepPoint& p : front.points) {
        ordered_json point = FrontPoint(summary.varied, p, held);
        const RateIntervals r = SweepPointIntervals(summary, p);
        point["intervals"] = {{"sensitivity", IntervalOf(r.sensitivity)},
                              {"false_alarms_per_hour", IntervalOf(r.falseAlarmsPerHour)}};
        j.push_back(point);
    }
    return j;
}

ordered_json Limit(const Objective& objective)
{
    return objective.kind == ObjectiveKind::F1 ? ordered_json(nullptr) : SweepJsonRate(objective.limit);
}

// An interval rounded as the rates are, null when undefined.
ordered_json IntervalOf(const Interval& i)
{
    return i.defined ? ordered_json{{"lower", SweepJsonRate(i.lower)}, {"upper", SweepJsonRate(i.upper)}}
                     : ordered_json(nullptr);
}

// The Wilson intervals of a set's shares and the exact Poisson interval of
// its false alarms per hour.
ordered_json IntervalsOf(const Metrics& m, double confidence)
{
    const RateIntervals r = IntervalsOfMetrics(m, confidence);
    return ordered_json{{"sensitivity", IntervalOf(r.sensitivity)},
                        {"specificity", IntervalOf(r.specificity)},
                        {"precision", IntervalOf(r.precision)},
                        {"false_alarms_per_hour", IntervalOf(r.falseAlarmsPerHour)}};
}

// The held-out figures pooled over the subjects, their intervals from the
// counts and, when computed, over the subjects by the bootstrap.
ordered_json Pooled(const SweepSummary& summary)
{
    const Metrics m = SweepSummaryNestedPooled(summary);
    ordered_json j = Figures(m);
    j["false_alarm_events"] = m.falseAlarmEvents;
    j["adl_hours"] = SweepJsonRate(m.adlHours);
    j["intervals"] = IntervalsOf(m, summary.intervals.confidence);
    if (!summary.nestedBootstrapped) {
        j["bootstrap"] = nullptr;
        return j;
    }
    const IntervalBootstrap& b = summary.nestedBootstrap;
    j["bootstrap"] = {{"subjects", b.subjects},
                      {"resamples", b.resamples},
                      {"seed", b.seed},
                      {"sensitivity", IntervalOf(b.sensitivity)},
                      {"specificity", IntervalOf(b.specificity)},
                      {"precision", IntervalOf(b.precision)},
                      {"false_alarms_per_hour", IntervalOf(b.falseAlarmsPerHour)}};
    return j;
}

ordered_json NestedFold(const SweepSummary& summary, std::size_t k)
{
    const SweepNestedFold& f = summary.nested[k];
    ordered_json j{
        {"fold", k + 1}, {"subjects", f.subjects}, {"recordings", f.recordings}, {"limit", Limit(f.objective)}};
    if (!f.chosen.found) {
        j["config"] = nullptr;
        j["values"] = nullptr;
    } else {
        j["config"] = f.chosen.point.index;
        j["values"] = Values(summary.varied, f.chosen.point.values);
        j.update(Figures(f.held));
        j["intervals"] = IntervalsOf(f.held, summary.intervals.confidence);
        ordered_json tuning = Figures(f.tune);
        j["tuning"] = tuning;
        // How far the held-out point lies from where the tuning part put it.
        j["shift"] = {{"sensitivity", SweepJsonRate(f.held.sensitivity - f.tune.sensitivity)},
                      {"false_alarms_per_hour", SweepJsonRate(f.held.falseAlarmsPerHour - f.tune.falseAlarmsPerHour)}};
    }
    ordered_json front = ordered_json::array();
    for (const SweepPoint& p : f.tuneFront.points) {
        front.push_back({{"config", p.index},
                         {"sensitivity", SweepJsonRate(p.sensitivity)},
                         {"false_alarms_per_hour", SweepJsonRate(p.falseAlarmsPerHour)}});
    }
    j["tuning_front"] = front;
    return j;
}

ordered_json SpreadOf(const SweepNestedSpread& s, double SweepSpread::*part)
{
    return ordered_json{{"sensitivity", SweepJsonRate(s.sensitivity.*part)},
                        {"specificity", SweepJsonRate(s.specificity.*part)},
                        {"f1", SweepJsonRate(s.f1.*part)},
                        {"false_alarms_per_hour", SweepJsonRate(s.falseAlarmsPerHour.*part)},
                        {"tp", SweepJsonRate(s.tp.*part)},
                        {"fn", SweepJsonRate(s.fn.*part)},
                        {"fp", SweepJsonRate(s.fp.*part)},
                        {"tn", SweepJsonRate(s.tn.*part)}};
}

ordered_json Nested(const SweepSummary& summary)
{
    if (summary.nested.empty()) {
        return nullptr;
    }
    ordered_json folds = ordered_json::array();
    for (std::size_t k = 0; k < summary.nested.size(); ++k) {
        folds.push_back(NestedFold(summary, k));
    }
    const SweepNestedSpread s = SweepSummaryNestedSpread(summary);
    return ordered_json{{"objective", summary.objective.text},
                        {"folds", folds},
                        {"chosen", s.chosen},
                        {"mean", SpreadOf(s, &SweepSpread::mean)},
                        {"sd", SpreadOf(s, &SweepSpread::sd)},
                        {"defined",
                         {{"sensitivity", s.sensitivity.folds},
                          {"specificity", s.specificity.folds},
                          {"f1", s.f1.folds},
                          {"false_alarms_per_hour", s.falseAlarmsPerHour.folds}}},
                        {"confidence", summary.intervals.confidence},
                        {"pooled", Pooled(summary)}};
}

}  // namespace

ordered_json SweepSummaryJson(const SweepSummary& summary, const SweepLayout& layout, int64_t configurations)
{
    const bool folds = layout.folds > 0;
    ordered_json base = Figures(summary.base.all);
    base["false_alarm_events"] = summary.base.all.falseAlarmEvents;
    base["adl_hours"] = SweepJsonRate(summary.base.all.adlHours);
    base["intervals"] = IntervalsOf(summary.base.all, summary.intervals.confidence);
    base["changes"] = ConfigChanges(summary.base.config);
    if (folds) {
        base["held_sensitivity"] = SweepJsonRate(summary.base.held.sensitivity);
        base["held_false_alarms_per_hour"] = SweepJsonRate(summary.base.held.falseAlarmsPerHour);
    }
    ordered_json best = nullptr;
    if (summary.best.found) {
        best = {{"config", summary.best.point.index}, {"values", Values(summary.varied, summary.best.point.values)}};
        best.update(Figures(summary.bestMetrics));
        best["latency_median"] = SweepJsonRate(summary.bestMetrics.latencyMedian);
        best["intervals"] = IntervalsOf(summary.bestMetrics, summary.intervals.confidence);
        if (folds) {
            best["held_sensitivity"] = SweepJsonRate(summary.best.point.heldSensitivity);
            best["held_false_alarms_per_hour"] = SweepJsonRate(summary.best.point.heldFalseAlarmsPerHour);
        }
    }
    ordered_json varied = ordered_json::array();
    for (const int v : summary.varied) {
        varied.push_back(TumblewatchParams()[v].name);
    }
    return ordered_json{{"tumblewatch_sweep_summary",
                         {{"id", layout.id},
                          {"description", layout.description},
                          {"varied", varied},
                          {"folds", layout.folds},
                          {"objective", summary.objective.text},
                          {"limit", Limit(summary.objective)},
                          {"confidence", summary.intervals.confidence}}},
                        {"configurations", configurations},
                        {"rows", summary.rows},
                        {"refused", configurations - summary.rows},
                        {"base", base},
                        {"front", Front(summary, summary.front, folds)},
                        {"best", best},
                        {"nested", Nested(summary)}};
}
