// Choosing among the configurations of a sweep: the Pareto front of
// sensitivity (higher is better) against false alarms per hour (lower is
// better), and the best configuration under an objective. Both are kept
// up to date one configuration at a time, so memory does not grow with the
// number of configurations.
#ifndef EVALUATION_PARETO_H
#define EVALUATION_PARETO_H

#include <cstdint>
#include <string>
#include <vector>

// What the front and the objective know of a configuration.
struct SweepPoint {
    int64_t index;              // configuration number
    double sensitivity;         // NaN when undefined
    double falseAlarmsPerHour;  // NaN when undefined
    double f1;                  // NaN when undefined
    double heldSensitivity;     // on held-out subjects, averaged over the folds; NaN without folds
    double heldFalseAlarmsPerHour;
    std::vector<int32_t> values;  // the varied parameters' values
};

// The configurations that no other beats on both measures, by falling
// false alarms per hour; of equal points the first one (lowest index).
struct ParetoFront {
    std::vector<SweepPoint> points;
};

// Adds a point: kept when no point of the front dominates or equals it;
// the points it dominates leave. A point with an undefined measure is
// never on the front.
void ParetoAdd(ParetoFront* front, const SweepPoint& point);

enum class ObjectiveKind {
    SensitivityAtBase,  // highest sensitivity with false alarms per hour at most the base configuration's
    F1,                 // highest F1
    SensitivityAtLimit  // highest sensitivity with false alarms per hour at most a limit
};

struct Objective {
    ObjectiveKind kind;
    double limit;  // false alarms per hour (for SensitivityAtBase: the base's, set once it is known)
    std::string text;
};

// Parses "" (the default), "max:f1" or "max:sensitivity@fa<=X". False with
// a message otherwise.
bool ObjectiveParse(const std::string& text, Objective* objective, std::string* error);

// Whether a point may be chosen at all (its measures defined, within the limit).
bool ObjectiveAdmits(const Objective& objective, const SweepPoint& point);

// Whether a is a better choice than b (both admitted): the objective's
// measure first, then fewer false alarms per hour, higher F1, then the
// lower index.
bool ObjectiveBetter(const Objective& objective, const SweepPoint& a, const SweepPoint& b);

// The best point so far.
struct ObjectiveBest {
    bool found;
    SweepPoint point;
};

// Offers a point to the running choice.
void ObjectiveOffer(const Objective& objective, ObjectiveBest* best, const SweepPoint& point);

#endif
