// Requirements on the metrics of an evaluation, such as
// "sensitivity>=0.9" or "false_alarms_per_hour<=0.5".
#ifndef EVALUATION_REQUIRE_H
#define EVALUATION_REQUIRE_H

#include <string>

#include "metrics.h"

struct Requirement {
    std::string text;    // as given
    std::string metric;  // a name MetricsValue knows
    std::string op;      // ">=", "<=", ">", "<", "==" or "!="
    double bound;
};

// Parses "METRIC OP NUMBER" (spaces allowed around the parts). False with a
// message for an unknown metric, a missing or unknown operator, or a bound
// that is not a number.
bool RequireParse(const std::string& text, Requirement* requirement, std::string* error);

// Whether the metrics meet the requirement; an undefined metric (NaN)
// meets none. *value receives the metric's value.
bool RequireMet(const Requirement& requirement, const Metrics& metrics, double* value);

#endif
