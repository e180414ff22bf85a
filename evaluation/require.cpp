// Parsing and checking of metric requirements.
#include "require.h"

#include <cmath>
#include <cstdlib>

namespace {

std::string Trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) {
        return std::string();
    }
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

bool RequireParse(const std::string& text, Requirement* requirement, std::string* error)
{
    const size_t at = text.find_first_of("<>=!");
    if (at == std::string::npos) {
        *error = "--require " + text + ": expected METRIC OP NUMBER, e.g. sensitivity>=0.9";
        return false;
    }
    size_t end = at + 1;
    if (end < text.size() && text[end] == '=') {
        ++end;
    }
    const std::string op = text.substr(at, end - at);
    if (op != ">=" && op != "<=" && op != ">" && op != "<" && op != "==" && op != "!=") {
        *error = "--require " + text + ": unknown operator '" + op + "' (use >=, <=, >, <, == or !=)";
        return false;
    }
    const std::string metric = Trim(text.substr(0, at));
    double probe = 0.0;
    if (!MetricsValue(Metrics{}, metric, &probe)) {
        std::string names;
        for (const std::string& n : MetricsNames()) {
            names += (names.empty() ? "" : ", ") + n;
        }
        *error = "--require " + text + ": unknown metric '" + metric + "' (one of " + names + ")";
        return false;
    }
    const std::string number = Trim(text.substr(end));
    char* stop = nullptr;
    const double bound = std::strtod(number.c_str(), &stop);
    if (number.empty() || stop != number.c_str() + number.size() || !std::isfinite(bound)) {
        *error = "--require " + text + ": '" + number + "' is not a number";
        return false;
    }
    *requirement = Requirement{text, metric, op, bound};
    return true;
}

bool RequireMet(const Requirement& requirement, const Metrics& metrics, double* value)
{
    MetricsValue(metrics, requirement.metric, value);
    const double v = *value;
    const double b = requirement.bound;
    if (std::isnan(v)) {
        return false;
    }
    const std::string& op = requirement.op;
    return op == ">="   ? v >= b
           : op == "<=" ? v <= b
           : op == ">"  ? v > b
           : op == "<"  ? v < b
           : op == "==" ? v == b
                        : v != b;
}
