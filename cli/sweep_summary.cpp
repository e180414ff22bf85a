// The terminal summary of a sweep: the count, the time and throughput,
// the Pareto front and the best configuration.
#include <fmt/core.h>

#include <cmath>

#include "sweep_summary.h"

namespace {

std::string Rate(double v, int decimals = 3)
{
    return std::isnan(v) ? std::string("-") : fmt::format("{:.{}f}", v, decimals);
}

}  // namespace

std::string SweepSummaryText(const SweepPlan& plan, const SweepRow& base, const ParetoFront& front,
                             const ObjectiveBest& best, int64_t done, int64_t refused, double seconds, uint64_t samples)
{
    std::string text;
    std::string* out = &text;
    *out += fmt::format("\ntumblewatch sweep: {} configurations, {} run now ({} refused by the detector)\n", plan.count,
                        done, refused);
    *out += fmt::format("  {:.1f} s, {:.1f} configurations/s, {:.2f} million samples/s\n", seconds,
                        seconds > 0 ? done / seconds : 0.0, seconds > 0 ? samples / seconds / 1e6 : 0.0);
    *out += fmt::format("  base configuration: sensitivity {}, false alarms per hour {}, F1 {}\n",
                        Rate(base.all.sensitivity), Rate(base.all.falseAlarmsPerHour, 2), Rate(base.all.f1));
    const bool folds = plan.layout.folds;
    *out += fmt::format("\nPareto front (sensitivity up, false alarms per hour down): {} configurations\n",
                        front.points.size());
    if (folds) {
        *out += fmt::format("  {:>8} {:>7} {:>7} {:>6} {:^15}\n", "", "", "", "", "held-out");
    }
    *out += fmt::format("  {:>8} {:>7} {:>7} {:>6}", "config", "sens.", "FA/h", "F1");
    if (folds) {
        *out += fmt::format(" {:>7} {:>7}", "sens.", "FA/h");
    }
    *out += fmt::format("  varied values\n");
    const std::size_t width = folds ? 50 : 66;
    for (const SweepPoint& p : front.points) {
        std::string values = SweepVariedText(plan.varied, p.values);
        if (values.size() > width) {
            values.replace(width - 3, std::string::npos, "...");
        }
        *out += fmt::format("  {:>8} {:>7} {:>7} {:>6}", p.index, Rate(p.sensitivity), Rate(p.falseAlarmsPerHour, 2),
                            Rate(p.f1));
        if (folds) {
            *out += fmt::format(" {:>7} {:>7}", Rate(p.heldSensitivity), Rate(p.heldFalseAlarmsPerHour, 2));
        }
        *out += fmt::format("  {}\n", values);
    }
    const std::string objective = plan.objective.kind == ObjectiveKind::SensitivityAtBase
                                      ? fmt::format(
                                            "highest sensitivity with at most {} false alarms per hour "
                                            "(the base's)",
                                            Rate(plan.objective.limit, 2))
                                      : plan.objective.text;
    *out += fmt::format("\nBest under {}:\n", objective);
    if (!best.found) {
        *out += "  no configuration qualifies\n";
        return text;
    }
    *out += fmt::format("  configuration {}: sensitivity {}, false alarms per hour {}, F1 {}\n", best.point.index,
                        Rate(best.point.sensitivity), Rate(best.point.falseAlarmsPerHour, 2), Rate(best.point.f1));
    return text;
}
