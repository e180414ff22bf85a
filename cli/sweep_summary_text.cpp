// The terminal summary of a sweep: the count, the time and throughput,
// the Pareto front and the best configuration.
#include "sweep_summary_text.h"

#include <fmt/core.h>

#include <cmath>

#include "commands.h"
#include "config.h"

namespace {

std::string Rate(double v, int decimals = 3)
{
    return std::isnan(v) ? std::string("-") : fmt::format("{:.{}f}", v, decimals);
}

// The varied values, cut to width characters.
std::string Varied(const SweepPlan& plan, const std::vector<int32_t>& values, std::size_t width)
{
    std::string text = SweepVariedText(plan.varied, values);
    if (text.size() > width) {
        text.replace(width - 3, std::string::npos, "...");
    }
    return text;
}

void PrintFront(const SweepPlan& plan, const ParetoFront& front)
{
    const bool folds = plan.layout.folds > 0;
    CommandPrintFormat("\nPareto front (sensitivity up, false alarms per hour down): {} configurations\n",
                       front.points.size());
    if (folds) {
        CommandPrintFormat("  {:>8} {:>7} {:>7} {:>6} {:^15}\n", "", "", "", "", "held-out");
    }
    CommandPrintFormat("  {:>8} {:>7} {:>7} {:>6}", "config", "sens.", "FA/h", "F1");
    if (folds) {
        CommandPrintFormat(" {:>7} {:>7}", "sens.", "FA/h");
    }
    CommandPrintFormat("  varied values\n");
    for (const SweepPoint& p : front.points) {
        CommandPrintFormat("  {:>8} {:>7} {:>7} {:>6}", p.index, Rate(p.sensitivity), Rate(p.falseAlarmsPerHour, 2),
                           Rate(p.f1));
        if (folds) {
            CommandPrintFormat(" {:>7} {:>7}", Rate(p.heldSensitivity), Rate(p.heldFalseAlarmsPerHour, 2));
        }
        CommandPrintFormat("  {}\n", Varied(plan, p.values, folds ? 50 : 66));
    }
}

void PrintBest(const SweepPlan& plan, const SweepSummary& summary)
{
    const std::string objective =
        summary.objective.kind == ObjectiveKind::SensitivityAtBase
            ? fmt::format("highest sensitivity with at most {} false alarms per hour (the base's)",
                          Rate(summary.objective.limit, 2))
            : summary.objective.text;
    CommandPrintFormat("\nBest on all recordings, {}:\n", objective);
    if (!summary.best.found) {
        CommandPrintFormat("  no configuration qualifies\n");
        return;
    }
    const SweepPoint& best = summary.best.point;
    CommandPrintFormat("  configuration {}: sensitivity {}, false alarms per hour {}, F1 {}\n", best.index,
                       Rate(best.sensitivity), Rate(best.falseAlarmsPerHour, 2), Rate(best.f1));
    std::string sets;
    for (const std::string& c : ConfigChanges(SweepConfig(plan.space, plan.base, best.index))) {
        sets += " --set " + c;
    }
    CommandPrintFormat("  as options:{}\n", sets.empty() ? " (the defaults)" : sets);
}

}  // namespace

void SweepPrintSummary(const SweepPlan& plan, const SweepSession& session)
{
    const SweepSummary& summary = session.summary;
    const double seconds = session.seconds;
    CommandPrintFormat("\ntumblewatch sweep: {} configurations, {} run now ({} refused by the detector)\n", plan.count,
                       session.runNow, session.refusedNow);
    CommandPrintFormat("  {:.1f} s, {:.1f} configurations/s, {:.2f} million samples/s\n", seconds,
                       seconds > 0 ? static_cast<double>(session.runNow) / seconds : 0.0,
                       seconds > 0 ? static_cast<double>(session.samples) / seconds / 1e6 : 0.0);
    const Metrics& base = summary.base.all;
    CommandPrintFormat("  base configuration: sensitivity {}, false alarms per hour {}, F1 {}\n",
                       Rate(base.sensitivity), Rate(base.falseAlarmsPerHour, 2), Rate(base.f1));
    PrintFront(plan, summary.front);
    PrintBest(plan, summary);
    if (!summary.nested.empty()) {
        SweepPrintNested(plan, summary);
    }
}
