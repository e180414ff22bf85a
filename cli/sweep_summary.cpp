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

void SweepPrintSummary(const SweepPlan& plan, const SweepRow& base, const ParetoFront& front, const ObjectiveBest& best,
                       int64_t done, int64_t refused, double seconds, uint64_t samples)
{
    fmt::print("\ntumblewatch sweep: {} configurations, {} run now ({} refused by the detector)\n", plan.count, done,
               refused);
    fmt::print("  {:.1f} s, {:.1f} configurations/s, {:.2f} million samples/s\n", seconds,
               seconds > 0 ? done / seconds : 0.0, seconds > 0 ? samples / seconds / 1e6 : 0.0);
    fmt::print("  base configuration: sensitivity {}, false alarms per hour {}, F1 {}\n", Rate(base.all.sensitivity),
               Rate(base.all.falseAlarmsPerHour, 2), Rate(base.all.f1));
    const bool folds = plan.layout.folds;
    fmt::print("\nPareto front (sensitivity up, false alarms per hour down): {} configurations\n", front.points.size());
    if (folds) {
        fmt::print("  {:>8} {:>7} {:>7} {:>6} {:^15}\n", "", "", "", "", "held-out");
    }
    fmt::print("  {:>8} {:>7} {:>7} {:>6}", "config", "sens.", "FA/h", "F1");
    if (folds) {
        fmt::print(" {:>7} {:>7}", "sens.", "FA/h");
    }
    fmt::print("  varied values\n");
    const std::size_t width = folds ? 50 : 66;
    for (const SweepPoint& p : front.points) {
        std::string values = SweepVariedText(plan.varied, p.values);
        if (values.size() > width) {
            values.replace(width - 3, std::string::npos, "...");
        }
        fmt::print("  {:>8} {:>7} {:>7} {:>6}", p.index, Rate(p.sensitivity), Rate(p.falseAlarmsPerHour, 2),
                   Rate(p.f1));
        if (folds) {
            fmt::print(" {:>7} {:>7}", Rate(p.heldSensitivity), Rate(p.heldFalseAlarmsPerHour, 2));
        }
        fmt::print("  {}\n", values);
    }
    const std::string objective = plan.objective.kind == ObjectiveKind::SensitivityAtBase
                                      ? fmt::format(
                                            "highest sensitivity with at most {} false alarms per hour "
                                            "(the base's)",
                                            Rate(plan.objective.limit, 2))
                                      : plan.objective.text;
    fmt::print("\nBest under {}:\n", objective);
    if (!best.found) {
        fmt::print("  no configuration qualifies\n");
        return;
    }
    fmt::print("  configuration {}: sensitivity {}, false alarms per hour {}, F1 {}\n", best.point.index,
               Rate(best.point.sensitivity), Rate(best.point.falseAlarmsPerHour, 2), Rate(best.point.f1));
}
