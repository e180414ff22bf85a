// The terminal summary of a sweep: the count, the time and throughput,
// the Pareto front and the best configuration.
#include "sweep_summary_text.h"

#include <fmt/core.h>

#include <cmath>

#include "config.h"
#include "params.h"

namespace {

// The varied values, cut to width characters.
std::string Varied(const SweepPlan& plan, const std::vector<int32_t>& values, std::size_t width)
{
    std::string text = SweepVariedText(plan.varied, values);
    if (text.size() > width) {
        text.replace(width - 3, std::string::npos, "...");
    }
    return text;
}

// The heading of the column of row numbers.
std::string Column(const std::string& item)
{
    return item == "configuration" ? std::string("config") : item;
}

std::string Front(const SweepPlan& plan, const ParetoFront& front, const std::string& item)
{
    const bool folds = plan.layout.folds > 0;
    std::string text =
        fmt::format("\nPareto front (sensitivity up, false alarms per hour down): {} {}s\n", front.points.size(), item);
    if (folds) {
        text += fmt::format("  {:>8} {:>7} {:>7} {:>6} {:^15}\n", "", "", "", "", "held-out");
    }
    text += fmt::format("  {:>8} {:>7} {:>7} {:>6}", Column(item), "sens.", "FA/h", "F1");
    if (folds) {
        text += fmt::format(" {:>7} {:>7}", "sens.", "FA/h");
    }
    text += "  varied values\n";
    for (const SweepPoint& p : front.points) {
        text += fmt::format("  {:>8} {:>7} {:>7} {:>6}", p.index, SweepRateText(p.sensitivity, 3),
                            SweepRateText(p.falseAlarmsPerHour, 2), SweepRateText(p.f1, 3));
        if (folds) {
            text += fmt::format(" {:>7} {:>7}", SweepRateText(p.heldSensitivity, 3),
                                SweepRateText(p.heldFalseAlarmsPerHour, 2));
        }
        text += fmt::format("  {}\n", Varied(plan, p.values, folds ? 50 : 66));
    }
    return text;
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
        return text + "  no configuration qualifies\n";
    }
    const SweepPoint& best = summary.best.point;
    text += fmt::format("  {} {}: sensitivity {}, false alarms per hour {}, F1 {}\n", item, best.index,
                        SweepRateText(best.sensitivity, 3), SweepRateText(best.falseAlarmsPerHour, 2),
                        SweepRateText(best.f1, 3));
    std::string sets;
    for (const std::string& c : ConfigChanges(SweepPointConfig(summary, best))) {
        sets += " --set " + c;
    }
    return text + fmt::format("  as options:{}\n", sets.empty() ? " (the defaults)" : sets);
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
    text += fmt::format("  base configuration: sensitivity {}, false alarms per hour {}, F1 {}\n",
                        SweepRateText(base.sensitivity, 3), SweepRateText(base.falseAlarmsPerHour, 2),
                        SweepRateText(base.f1, 3));
    text += Front(plan, summary.front, run.item);
    text += Best(summary, run.item);
    if (!summary.nested.empty()) {
        text += SweepNestedText(plan, summary, run.item);
    }
    return text;
}
