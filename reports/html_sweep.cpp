// The sweep's page: every configuration as a point of sensitivity against
// false alarms per hour.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "config.h"
#include "html_page.h"
#include "html_reports.h"
#include "intervals.h"
#include "params.h"
#include "pareto.h"
#include "sweep_output.h"

namespace {

using nlohmann::ordered_json;

ordered_json Number(double v)
{
    return std::isnan(v) ? ordered_json(nullptr) : ordered_json(v);
}

// The base configuration that a sweep's description names ("...; base
// defaults; ..." or "...; base NAME=VALUE NAME=VALUE; ..."). False when the
// description names none that can be read.
bool BaseOfDescription(const std::string& description, TumblewatchConfig* base)
{
    TumblewatchDefault(base);
    std::size_t at = 0;
    while (at < description.size()) {
        std::size_t end = description.find("; ", at);
        if (end == std::string::npos) {
            end = description.size();
        }
        const std::string part = description.substr(at, end - at);
        if (part.rfind("base ", 0) == 0) {
            const std::string rest = part.substr(5);
            if (rest == "defaults") {
                return true;
            }
            std::vector<std::string> settings;
            std::size_t from = 0;
            while (from < rest.size()) {
                std::size_t space = rest.find(' ', from);
                if (space == std::string::npos) {
                    space = rest.size();
                }
                settings.push_back(rest.substr(from, space - from));
                from = space + 1;
            }
            std::string ignored;
            return ConfigApplySettings(settings, base, &ignored);
        }
        at = end + 2;
    }
    return false;
}

// The Pareto front of one pair of measures, as row numbers by falling false
// alarms per hour.
ordered_json FrontOf(const std::vector<SweepRecord>& rows, const char* sensitivity, const char* falseAlarms)
{
    ParetoFront front;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ParetoAdd(&front, SweepPoint{static_cast<int64_t>(i),
                                     rows[i].Metric(sensitivity),
                                     rows[i].Metric(falseAlarms),
                                     std::nan(""),
                                     std::nan(""),
                                     std::nan(""),
                                     {}});
    }
    ordered_json indices = ordered_json::array();
    for (const SweepPoint& p : front.points) {
        indices.push_back(p.index);
    }
    return indices;
}

ordered_json BaseJson(const SweepLayout& layout, const std::vector<SweepRecord>& rows, const SweepRow* evaluated)
{
    TumblewatchConfig base;
    ordered_json j;
    if (evaluated != nullptr) {
        base = evaluated->config;
    } else if (!BaseOfDescription(layout.description, &base)) {
        j["known"] = false;
        return j;
    }
    const std::vector<std::string> changes = ConfigChanges(base);
    j["known"] = true;
    j["label"] = changes.empty() ? "default configuration" : "base configuration";
    j["changes"] = changes;
    ordered_json matches = ordered_json::array();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        bool same = true;
        for (std::size_t v = 0; v < layout.varied.size() && same; ++v) {
            same = TumblewatchParamGet(&base, TumblewatchParamIndex(layout.varied[v].c_str())) == rows[i].values[v];
        }
        if (same) {
            matches.push_back(i);
        }
    }
    j["rows"] = matches;
    if (evaluated != nullptr) {
        j["evaluated"] = {{"sensitivity", Number(evaluated->all.sensitivity)},
                          {"false_alarms_per_hour", Number(evaluated->all.falseAlarmsPerHour)},
                          {"f1", Number(evaluated->all.f1)},
                          {"tune_sensitivity", Number(evaluated->tune.sensitivity)},
                          {"tune_false_alarms_per_hour", Number(evaluated->tune.falseAlarmsPerHour)},
                          {"held_sensitivity", Number(evaluated->held.sensitivity)},
                          {"held_false_alarms_per_hour", Number(evaluated->held.falseAlarmsPerHour)}};
    } else {
        j["evaluated"] = nullptr;
    }
    return j;
}

// The hours of ADL recording behind every row: the summary's (so that a
// page is the same whoever made the summary), else the base
// configuration's as evaluated, else from the row with the most false-alarm
// events (its events over its rate); NaN when none says.
double AdlHours(const std::vector<SweepRecord>& rows, const SweepRow* base, const ordered_json* summary)
{
    if (summary != nullptr && summary->contains("base") && (*summary)["base"].is_object()) {
        const ordered_json& b = (*summary)["base"];
        if (b.contains("adl_hours") && b["adl_hours"].is_number()) {
            return b["adl_hours"].get<double>();
        }
    }
    if (base != nullptr && base->all.adlHours > 0.0) {
        return base->all.adlHours;
    }
    double events = 0.0;
    double hours = std::nan("");
    for (const SweepRecord& r : rows) {
        const double e = r.Metric("false_alarm_events");
        const double rate = r.Metric("false_alarms_per_hour");
        if (e > events && rate > 0.0) {
            events = e;
            hours = e / rate;
        }
    }
    return hours;
}

ordered_json IntervalJson(const Interval& i)
{
    return i.defined ? ordered_json::array({i.lower, i.upper}) : ordered_json(nullptr);
}

// Every row's intervals over all recordings, from its counts: Wilson of
// its sensitivity, exact Poisson of its false alarms per hour (null where
// the row lacks the counts or the hours are not known).
ordered_json RowIntervals(const std::vector<SweepRecord>& rows, const SweepRow* base, const ordered_json* summary)
{
    double confidence = kIntervalDefaultConfidence;
    if (summary != nullptr && summary->contains("tumblewatch_sweep_summary")) {
        const ordered_json& head = (*summary)["tumblewatch_sweep_summary"];
        if (head.is_object() && head.contains("confidence") && head["confidence"].is_number() &&
            IntervalConfidenceValid(head["confidence"].get<double>())) {
            confidence = head["confidence"].get<double>();
        }
    }
    const double hours = AdlHours(rows, base, summary);
    ordered_json sensitivity = ordered_json::array();
    ordered_json falseAlarms = ordered_json::array();
    for (const SweepRecord& r : rows) {
        const double tp = r.Metric("tp");
        const double fn = r.Metric("fn");
        const double events = r.Metric("false_alarm_events");
        sensitivity.push_back(std::isnan(tp) || std::isnan(fn)
                                  ? ordered_json(nullptr)
                                  : IntervalJson(IntervalWilson(std::llround(tp), std::llround(tp + fn), confidence)));
        falseAlarms.push_back(std::isnan(events) || std::isnan(hours)
                                  ? ordered_json(nullptr)
                                  : IntervalJson(IntervalPoisson(std::llround(events), hours, confidence)));
    }
    return ordered_json{
        {"confidence", confidence}, {"sensitivity", sensitivity}, {"false_alarms_per_hour", falseAlarms}};
}

}  // namespace

bool HtmlSweepPage(const std::string& path, const SweepRow* base, const nlohmann::ordered_json* summary,
                   std::string* page, std::string* error)
{
    SweepLayout layout;
    std::vector<SweepRecord> rows;
    uint64_t bytes = 0;
    const bool read = SweepReadFile(
        path, &layout,
        [&](const SweepRecord& r, std::string*) {
            rows.push_back(r);
            return true;
        },
        &bytes, error);
    if (!read) {
        return false;
    }
    ordered_json sweep;
    sweep["path"] = path;
    sweep["id"] = layout.id;
    sweep["description"] = layout.description;
    sweep["format"] = layout.format == SweepFormat::Csv ? "csv" : "jsonl";
    sweep["varied"] = layout.varied;
    const bool tuning =
        std::find(layout.columns.begin(), layout.columns.end(), "tune_sensitivity") != layout.columns.end();
    sweep["folds"] = tuning;
    sweep["fold_count"] = layout.folds;
    ordered_json config = ordered_json::array();
    ordered_json values = ordered_json::object();
    for (std::size_t v = 0; v < layout.varied.size(); ++v) {
        ordered_json column = ordered_json::array();
        for (const SweepRecord& r : rows) {
            column.push_back(r.values[v]);
        }
        values[layout.varied[v]] = column;
    }
    ordered_json metrics = ordered_json::object();
    for (const std::string& c : layout.columns) {
        ordered_json column = ordered_json::array();
        for (const SweepRecord& r : rows) {
            column.push_back(Number(r.Metric(c)));
        }
        metrics[c] = column;
    }
    for (const SweepRecord& r : rows) {
        config.push_back(r.index);
    }
    sweep["config"] = config;
    sweep["values"] = values;
    sweep["metrics"] = metrics;
    ordered_json fronts;
    fronts["all"] = FrontOf(rows, "sensitivity", "false_alarms_per_hour");
    if (tuning) {
        fronts["tune"] = FrontOf(rows, "tune_sensitivity", "tune_false_alarms_per_hour");
    }
    sweep["fronts"] = fronts;
    sweep["base"] = BaseJson(layout, rows, base);
    sweep["intervals"] = RowIntervals(rows, base, summary);
    sweep["nested"] = nullptr;
    if (summary != nullptr) {
        const ordered_json& head = (*summary)["tumblewatch_sweep_summary"];
        if (!head.is_object() || head.value("id", std::string()) != layout.id) {
            *error = path + ": the summary is of another sweep";
            return false;
        }
        sweep["nested"] = summary->value("nested", ordered_json(nullptr));
    }

    ordered_json data;
    data["kind"] = "sweep";
    data["sweep"] = sweep;
    *page = HtmlPage(fmt::format("tumblewatch sweep {}: {} configurations", layout.id, rows.size()),
                     data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), {});
    return true;
}
