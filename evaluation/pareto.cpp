// The Pareto front and the objective of a sweep.
#include "pareto.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

bool Defined(const SweepPoint& p)
{
    return !std::isnan(p.sensitivity) && !std::isnan(p.falseAlarmsPerHour);
}

// a is at least as good as b on both measures.
bool Covers(const SweepPoint& a, const SweepPoint& b)
{
    return a.sensitivity >= b.sensitivity && a.falseAlarmsPerHour <= b.falseAlarmsPerHour;
}

// NaN counts as the worst value.
double OrWorst(double v)
{
    return std::isnan(v) ? -1.0 : v;
}

}  // namespace

void ParetoAdd(ParetoFront* front, const SweepPoint& point)
{
    if (!Defined(point)) {
        return;
    }
    for (const SweepPoint& p : front->points) {
        if (Covers(p, point)) {
            return;
        }
    }
    auto& points = front->points;
    points.erase(std::remove_if(points.begin(), points.end(), [&](const SweepPoint& p) { return Covers(point, p); }),
                 points.end());
    const auto at = std::lower_bound(points.begin(), points.end(), point, [](const SweepPoint& a, const SweepPoint& b) {
        return a.falseAlarmsPerHour < b.falseAlarmsPerHour;
    });
    points.insert(at, point);
}

bool ObjectiveParse(const std::string& text, Objective* objective, std::string* error)
{
    objective->text = text.empty() ? "max:sensitivity@fa<=base" : text;
    objective->limit = 0.0;
    if (text.empty()) {
        objective->kind = ObjectiveKind::SensitivityAtBase;
        return true;
    }
    if (text == "max:f1") {
        objective->kind = ObjectiveKind::F1;
        return true;
    }
    const std::string prefix = "max:sensitivity@fa<=";
    if (text.rfind(prefix, 0) == 0) {
        const std::string number = text.substr(prefix.size());
        char* end = nullptr;
        const double limit = std::strtod(number.c_str(), &end);
        if (!number.empty() && end == number.c_str() + number.size() && std::isfinite(limit) && limit >= 0.0) {
            objective->kind = ObjectiveKind::SensitivityAtLimit;
            objective->limit = limit;
            return true;
        }
    }
    *error = "--objective " + text + ": expected max:f1 or max:sensitivity@fa<=X (false alarms per hour)";
    return false;
}

bool ObjectiveAdmits(const Objective& objective, const SweepPoint& point)
{
    if (objective.kind == ObjectiveKind::F1) {
        return !std::isnan(point.f1);
    }
    return Defined(point) && point.falseAlarmsPerHour <= objective.limit;
}

bool ObjectiveBetter(const Objective& objective, const SweepPoint& a, const SweepPoint& b)
{
    const double ma = objective.kind == ObjectiveKind::F1 ? a.f1 : a.sensitivity;
    const double mb = objective.kind == ObjectiveKind::F1 ? b.f1 : b.sensitivity;
    if (ma != mb) {
        return ma > mb;
    }
    const double fa = std::isnan(a.falseAlarmsPerHour) ? INFINITY : a.falseAlarmsPerHour;
    const double fb = std::isnan(b.falseAlarmsPerHour) ? INFINITY : b.falseAlarmsPerHour;
    if (fa != fb) {
        return fa < fb;
    }
    if (OrWorst(a.f1) != OrWorst(b.f1)) {
        return OrWorst(a.f1) > OrWorst(b.f1);
    }
    return a.index < b.index;
}

void ObjectiveOffer(const Objective& objective, ObjectiveBest* best, const SweepPoint& point)
{
    if (!ObjectiveAdmits(objective, point)) {
        return;
    }
    if (!best->found || ObjectiveBetter(objective, point, best->point)) {
        best->found = true;
        best->point = point;
    }
}
