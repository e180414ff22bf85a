// The terminal summary of a sweep: the count, the time and throughput,
// the Pareto front and the best configuration.
#include "sweep_summary_text.h"

#include <fmt/core.h>

#include <cmath>

#include "config.h"
#include "params.h"

namespace {

// The varied values, every one, wrapped into lines of at most 100
// characters indented by indent spaces.
std::string VariedLines(const SweepPlan& plan, const std::vector<int32_t>& values, std::size_t indent)
{
    std::string text;
    std::string line(indent, ' ');
    for (std::size_t v = 0; v < plan.varied.size() && v < values.size(); ++v) {
        const std::string word = SweepVariedText({plan.varied[v]}, {values[v]});
        if (line.size() > indent && line.size() + 1 + word.size() > 100) {
            text += line + "\n";
            line.assign(indent, ' ');
        }
        line += (line.size() > indent ? " " : "") + word;
    }
    return line.size() > indent ? text + line + "\n" : text;
}

// The heading of the column of row numbers.
std::string Column(const std::string& item)
{
    return item == "configuration" ? std::string("config") : item;
}

std::string Front(const SweepPlan& plan, const SweepSummary& summary, const std::string& item)
{
    const ParetoFront& front = summary.front;
    const bool folds = plan.layout.folds > 0;
    std::string text =
        fmt::format("\nPareto front (sensitivity up, false alarms per hour down): {} {}s\n", front.points.size(), item);
    const std::string level = fmt::format("{:g} % interval", summary.intervals.confidence * 100.0);
    if (folds) {
        text += fmt::format("  {:>8} {:>7}  {:<16} {:>7}  {:<16} {:>6} {:>11}\n", "", "", "", "", "", "", "held-out");
    }
    text += fmt::format("  {:>8} {:>7}  {:<16} {:>7}  {:<16} {:>6}", Column(item), "sens.", level, "FA/h", level, "F1");
    if (folds) {
        text += fmt::format(" {:>7} {:>7}", "sens.", "FA/h");
    }
    text += "\n";
    for (const SweepPoint& p : front.points) {
        const RateIntervals r = SweepPointIntervals(summary, p);
        text += fmt::format("  {:>8} {:>7}  {:<16} {:>7}  {:<16} {:>6}", p.index, SweepRateText(p.sensitivity, 3),
                            IntervalText(r.sensitivity, 3), SweepRateText(p.falseAlarmsPerHour, 2),
                            IntervalText(r.falseAlarmsPerHour, 2), SweepRateText(p.f1, 3));
        if (folds) {
            text += fmt::format(" {:>7} {:>7}", SweepRateText(p.heldSensitivity, 3),
                                SweepRateText(p.heldFalseAlarmsPerHour, 2));
        }
        text += "\n" + VariedLines(plan, p.values, 13);
    }
    return text;
}

// With the default objective, a word on what chose the limit and how to
// choose another.
std::string Hint(const SweepSummary& summary)
{
    if (summary.objective.kind != ObjectiveKind::SensitivityAtBase) {
        return "";
    }
    return fmt::format(
        "  the limit {} is the base configuration's own false alarms per hour; --objective\n"
        "  max:sensitivity@fa<=X sets another (X per hour), --objective max:f1 weighs falls and false alarms\n",
        SweepRateText(summary.objective.limit, 2));
}

std::string Best(const SweepSummary& summary, const std::string& item)
{
    const std::string objective =
        summary.objective.kind == ObjectiveKind::SensitivityAtBase
            ? fmt::format("highest sensitivity with at most {} false alarms per hour (the base's)",
                          SweepRateText(summary.objective.limit, 2))
            : summary.objective.text;
    std::string text = fmt::format("\nBest on all recordings, {}:\n", objective);
    if (!summary.best.found) {
        return text + "  no configuration qualifies\n" + Hint(summary);
    }
    const SweepPoint& best = summary.best.point;
    const RateIntervals r = IntervalsOfMetrics(summary.bestMetrics, summary.intervals.confidence);
    text += fmt::format("  {} {}: sensitivity {} {}, FA/h {} {}, F1 {}\n", item, best.index,
                        SweepRateText(best.sensitivity, 3), IntervalText(r.sensitivity, 3),
                        SweepRateText(best.falseAlarmsPerHour, 2), IntervalText(r.falseAlarmsPerHour, 2),
                        SweepRateText(best.f1, 3));
    std::string sets;
    for (const std::string& c : ConfigChanges(SweepPointConfig(summary, best))) {
        sets += " --set " + c;
    }
    text += fmt::format("  as options:{}\n", sets.empty() ? " (the defaults)" : sets);
    return text + Hint(summary);
}

}  // namespace

std::string SweepRateText(double v, int decimals)
{
    return std::isnan(v) ? std::string("-") : fmt::format("{:.{}f}", v, decimals);
}

TumblewatchConfig SweepPointConfig(const SweepSummary& summary, const SweepPoint& point)
{
    TumblewatchConfig cfg = summary.base.config;
    for (std::size_t i = 0; i < summary.varied.size() && i < point.values.size(); ++i) {
        TumblewatchParamSet(&cfg, summary.varied[i], point.values[i]);
    }
    return cfg;
}

std::string SweepSummaryText(const SweepPlan& plan, const SweepSummary& summary, const SweepRunFigures& run)
{
    const double seconds = run.seconds;
    std::string text = fmt::format("\n{}: {} {}s, {} run now ({} refused by the detector)\n", run.title, run.count,
                                   run.item, run.runNow, run.refusedNow);
    text += fmt::format("  {:.1f} s, {:.1f} {}s/s, {:.2f} million samples/s\n", seconds,
                        seconds > 0 ? static_cast<double>(run.runNow) / seconds : 0.0, run.item,
                        seconds > 0 ? static_cast<double>(run.samples) / seconds / 1e6 : 0.0);
    const Metrics& base = summary.base.all;
    const RateIntervals r = IntervalsOfMetrics(base, summary.intervals.confidence);
    text +=
        fmt::format("  base configuration: sensitivity {} {}, FA/h {} {}, F1 {}\n", SweepRateText(base.sensitivity, 3),
                    IntervalText(r.sensitivity, 3), SweepRateText(base.falseAlarmsPerHour, 2),
                    IntervalText(r.falseAlarmsPerHour, 2), SweepRateText(base.f1, 3));
    text += Front(plan, summary, run.item);
    text += Best(summary, run.item);
    if (!summary.nested.empty()) {
        text += SweepNestedText(plan, summary, run.item);
    }
    return text;
}
