// Scans and explanations as JSON.
#include "scan_json.h"

#include <cstdlib>
#include <map>

#include "params.h"
#include "sweep_output.h"

namespace {

using nlohmann::ordered_json;

ordered_json Config(const TumblewatchConfig& config)
{
    ordered_json j = ordered_json::object();
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        j[TumblewatchParams()[i].name] = TumblewatchParamGet(&config, i);
    }
    return j;
}

ordered_json Figures(const Metrics& m)
{
    // No intervals yet: the Wilson interval of each rate and the Poisson
    // interval of the false alarms per hour (intervals.h) belong here.
    return ordered_json{{"tp", m.tp},
                        {"fn", m.fn},
                        {"fp", m.fp},
                        {"tn", m.tn},
                        {"sensitivity", SweepJsonRate(m.sensitivity)},
                        {"specificity", SweepJsonRate(m.specificity)},
                        {"f1", SweepJsonRate(m.f1)},
                        {"false_alarm_events", m.falseAlarmEvents},
                        {"false_alarms_per_hour", SweepJsonRate(m.falseAlarmsPerHour)}};
}

ordered_json Recordings(const SweepData& data)
{
    ordered_json list = ordered_json::array();
    for (const SweepRecording& r : data.recordings) {
        list.push_back(ordered_json{{"path", r.input.path},
                                    {"relative_path", r.input.relative},
                                    {"label", LabelName(r.labels.label)},
                                    {"activity", r.labels.activity},
                                    {"subject", r.labels.subject},
                                    {"samples", static_cast<uint64_t>(r.samples.size())}});
    }
    return list;
}

ordered_json Head(const char* tool, const ScanSource& source, const SweepData& data, const TumblewatchConfig& base)
{
    ordered_json j{{"tool", tool},
                   {"version", TumblewatchVersion()},
                   {"inputs", source.inputs},
                   {"manifest", source.manifest.empty() ? ordered_json(nullptr) : ordered_json(source.manifest)},
                   {"merge_seconds", source.mergeSeconds},
                   {"config", Config(base)},
                   {"unlabelled", data.unlabelled},
                   {"failures", data.failures},
                   {"empty", data.empty}};
    return j;
}

ordered_json Changes(const ScanChanges& c)
{
    return ordered_json{{"falls_gained", c.fallsGained},
                        {"falls_lost", c.fallsLost},
                        {"false_alarms_added", c.falseAlarmsAdded},
                        {"false_alarms_removed", c.falseAlarmsRemoved}};
}

ordered_json Range(const ScanParam& p)
{
    return ordered_json{{"lo", p.range.lo},           {"hi", p.range.hi},
                        {"why", p.range.why},         {"step", p.step},
                        {"every_value", p.step == 1}, {"values", static_cast<uint64_t>(p.values.size())}};
}

}  // namespace

ordered_json ScanJson(const ScanSource& source, const SweepData& data, const ScanPlan& plan,
                      const std::vector<ScanParamResult>& results)
{
    ordered_json j = Head("tumblewatch scan", source, data, plan.base);
    const Metrics base = results.empty() || results[0].rows.empty()
                             ? Metrics{}
                             : results[0].rows[static_cast<std::size_t>(plan.params[0].baseValue)].metrics;
    j["base"] = Figures(base);
    j["recordings"] = Recordings(data);
    ordered_json params = ordered_json::array();
    std::vector<std::string> ranking(results.size());
    for (std::size_t p = 0; p < results.size(); ++p) {
        const ScanParam& sp = plan.params[p];
        const TumblewatchParam& info = TumblewatchParams()[sp.index];
        const ScanReach& reach = results[p].reach;
        ranking[static_cast<std::size_t>(reach.rank - 1)] = info.name;
        ordered_json rows = ordered_json::array();
        for (const ScanValueRow& row : results[p].rows) {
            ordered_json r{{"value", row.value}};
            r.update(Figures(row.metrics));
            r.update(Changes(row.changes));
            rows.push_back(r);
        }
        params.push_back(
            ordered_json{{"name", info.name},
                         {"unit", info.unit},
                         {"stages", info.stages},
                         {"base_value", TumblewatchParamGet(&plan.base, sp.index)},
                         {"range", Range(sp)},
                         {"rank", reach.rank},
                         {"reach",
                          {{"area", SweepJsonRate(reach.area)},
                           {"best_sensitivity_at_base_fa", SweepJsonRate(reach.bestSensitivityAtBaseFa)},
                           {"lowest_fa_at_base_sensitivity", SweepJsonRate(reach.lowestFaAtBaseSensitivity)},
                           {"recordings_changed", reach.recordingsChanged}}},
                         {"rows", rows}});
    }
    j["parameters"] = params;
    j["ranking"] = ranking;
    return j;
}

ordered_json ExplainJson(const ScanSource& source, const SweepData& data, const Explanation& explanation)
{
    const ScanPlan& plan = explanation.plan;
    ordered_json j = Head("tumblewatch explain", source, data, plan.base);
    j["base"] = Figures(explanation.base);
    ordered_json scanned = ordered_json::array();
    for (const ScanParam& p : plan.params) {
        ordered_json s{{"name", TumblewatchParams()[p.index].name}};
        s.update(Range(p));
        scanned.push_back(s);
    }
    j["scanned"] = scanned;
    j["recordings"] = Recordings(data);
    int missed = 0;
    ordered_json cases = ordered_json::array();
    ordered_json configurations = ordered_json::array();
    std::map<std::pair<bool, int>, int> ids;
    for (const ExplainCase& c : explanation.cases) {
        missed += c.missedFall ? 1 : 0;
        const SweepRecording& rec = data.recordings[c.recording];
        ordered_json k{{"kind", c.missedFall ? "missed fall" : "false alarm"},
                       {"recording", c.recording},
                       {"path", rec.input.path},
                       {"activity", rec.labels.activity},
                       {"subject", rec.labels.subject},
                       {"samples", static_cast<uint64_t>(rec.samples.size())}};
        if (c.missedFall) {
            ordered_json approaches = ordered_json::array();
            for (const ExplainApproach& a : c.approaches) {
                const TumblewatchParam& info = TumblewatchParams()[a.param];
                approaches.push_back(
                    ordered_json{{"criterion", a.criterion},
                                 {"codes", a.codes},
                                 {"quantity", a.quantity},
                                 {"parameter", info.name},
                                 {"threshold", a.threshold},
                                 {"unit", info.unit},
                                 {"seen", a.seen},
                                 {"value", a.seen ? ordered_json(a.value) : ordered_json(nullptr)},
                                 {"sample", a.seen ? ordered_json(a.sample) : ordered_json(nullptr)},
                                 {"margin", a.seen ? ordered_json(a.margin) : ordered_json(nullptr)},
                                 {"needs", a.note},
                                 {"never_tested_because", a.seen ? ordered_json(nullptr) : ordered_json(a.unseen)}});
            }
            k["approaches"] = approaches;
        } else {
            ordered_json alarms = ordered_json::array();
            for (const Alarm& a : c.alarms) {
                alarms.push_back(ordered_json{{"sample", a.sample}, {"code", a.code}});
            }
            k["alarms"] = alarms;
            k["alarm_count"] = c.alarmCount;
        }
        ordered_json changes = ordered_json::array();
        for (const ExplainChange& ch : c.changes) {
            ordered_json o{{"parameter", TumblewatchParams()[ch.param].name},
                           {"from", ch.from},
                           {"to", ch.to},
                           {"change", static_cast<int64_t>(ch.to) - ch.from},
                           {"between_scanned_values", ch.refined},
                           {"verified", ch.verified},
                           {"first_alarm", ch.alarm < 0 ? ordered_json(nullptr) : ordered_json(ch.alarm)},
                           {"code", ch.code == 0 ? ordered_json(nullptr) : ordered_json(ch.code)}};
            // The counts here; the recordings once per configuration, in
            // "configurations", which many cases share.
            const auto key = std::make_pair(ch.refined, ch.config);
            auto found = ids.find(key);
            if (found == ids.end()) {
                found = ids.emplace(key, static_cast<int>(configurations.size())).first;
                ordered_json k2{
                    {"id", found->second}, {"parameter", TumblewatchParams()[ch.param].name}, {"value", ch.to}};
                k2.update(Changes(ch.changes));
                k2["figures"] = Figures(ch.metrics);
                configurations.push_back(k2);
            }
            o["configuration"] = found->second;
            o["falls_gained"] = ch.changes.fallsGained.size();
            o["falls_lost"] = ch.changes.fallsLost.size();
            o["false_alarms_added"] = ch.changes.falseAlarmsAdded.size();
            o["false_alarms_removed"] = ch.changes.falseAlarmsRemoved.size();
            o["figures"] = Figures(ch.metrics);
            changes.push_back(o);
        }
        k["changes"] = changes;
        ordered_json cannot = ordered_json::array();
        for (const int p : c.cannot) {
            cannot.push_back(TumblewatchParams()[p].name);
        }
        k["no_change_of"] = cannot;
        cases.push_back(k);
    }
    j["missed_falls"] = missed;
    j["false_alarms"] = static_cast<int>(explanation.cases.size()) - missed;
    j["cases"] = cases;
    j["configurations"] = configurations;
    return j;
}

bool ScanJsonRanking(const std::string& text, std::vector<std::pair<std::string, int>>* ranking, std::string* error)
{
    const ordered_json j = ordered_json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object() || j.value("tool", "") != "tumblewatch scan" || !j.contains("parameters") ||
        !j["parameters"].is_array()) {
        *error = "not the JSON output of tumblewatch scan";
        return false;
    }
    ranking->clear();
    for (const ordered_json& p : j["parameters"]) {
        if (!p.is_object() || !p.contains("name") || !p["name"].is_string() || !p.contains("rank") ||
            !p["rank"].is_number_integer()) {
            *error = "a parameter of the scan without a name or a rank";
            return false;
        }
        const std::string name = p["name"].get<std::string>();
        if (TumblewatchParamIndex(name.c_str()) < 0) {
            *error = "the scan names an unknown parameter '" + name + "'";
            return false;
        }
        ranking->emplace_back(name, p["rank"].get<int>());
    }
    return true;
}
