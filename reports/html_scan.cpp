// The pages of a scan and of an explanation.
#include "html_scan.h"

#include <fmt/format.h>

#include "chart.h"
#include "config.h"
#include "html_page.h"
#include "params.h"

namespace {

using nlohmann::ordered_json;

std::string Dump(const ordered_json& j)
{
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A case's recording as the page's chart code knows a recording of an
// evaluation: its labels, samples, alarms and events under the base, and
// the impact; marks are the closest approaches.
ordered_json RecordingEntry(const SweepRecording& rec, const DetectResult& result, int64_t impact, bool fromManifest,
                            double mergeSeconds, const ExplainCase& c)
{
    ordered_json alarms = ordered_json::array();
    for (std::size_t i = 0; i < result.alarms.size() && i < 10000; ++i) {
        alarms.push_back({{"sample", result.alarms[i].sample}, {"code", result.alarms[i].code}});
    }
    ordered_json events = ordered_json::array();
    for (const AlarmEvent& e : MetricsEvents(result.alarms, mergeSeconds)) {
        events.push_back({{"first", e.first}, {"last", e.last}, {"alarms", e.alarms}});
    }
    ordered_json marks = ordered_json::array();
    for (const ExplainApproach& a : c.approaches) {
        if (a.seen) {
            marks.push_back({{"sample", a.sample},
                             {"text", fmt::format("{}: {}", a.criterion,
                                                  a.margin > 0 ? fmt::format("{} short", a.margin) : "passed")}});
        }
    }
    return ordered_json{{"path", rec.input.path},
                        {"label", LabelName(rec.labels.label)},
                        {"activity", rec.labels.activity},
                        {"description", rec.labels.description},
                        {"subject", rec.labels.subject},
                        {"read", true},
                        {"failure", nullptr},
                        {"samples", static_cast<uint64_t>(rec.samples.size())},
                        {"duration_s", static_cast<double>(rec.samples.size()) / kSampleRate},
                        {"alarms", alarms},
                        {"alarm_count", static_cast<uint64_t>(result.alarms.size())},
                        {"events", events},
                        {"detected", !result.alarms.empty()},
                        {"impact", {{"sample", impact}, {"source", fromManifest ? "manifest" : "peak"}}},
                        {"marks", marks}};
}

}  // namespace

std::string HtmlScanPage(const ordered_json& scan)
{
    ordered_json data{{"kind", "scan"}, {"scan", scan}};
    return HtmlPage(
        fmt::format("tumblewatch scan: {} parameters", scan.value("parameters", ordered_json::array()).size()),
        Dump(data), {});
}

std::string HtmlExplainPage(const ordered_json& document, const SweepData& data, const Explanation& explanation)
{
    const TumblewatchConfig& base = explanation.plan.base;
    ordered_json config = ordered_json::object();
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        config[TumblewatchParams()[i].name] = TumblewatchParamGet(&base, i);
    }
    ordered_json recordings = ordered_json::array();
    ordered_json charts = ordered_json::array();
    std::vector<HtmlSeriesBlock> blocks;
    RecordingChart chart;
    DetectResult result;
    for (std::size_t k = 0; k < explanation.cases.size(); ++k) {
        const ExplainCase& c = explanation.cases[k];
        const SweepRecording& rec = data.recordings[c.recording];
        if (k < kHtmlExplainCharts) {
            ChartStart(&chart);
            ChartCapture(base, rec.samples.data(), rec.samples.size(), &chart, &result);
            blocks.push_back(HtmlSeriesBlock{std::to_string(k), ChartEncode(chart)});
            charts.push_back({{"block", std::to_string(k)},
                              {"samples", chart.samples},
                              {"bucket", ChartBucketFor(chart.samples, kChartMaxValues)}});
        } else {
            DetectRunDecisions(base, rec.samples.data(), rec.frontEnd.data(), rec.samples.size(), &result);
            charts.push_back({{"block", nullptr},
                              {"failure", fmt::format("only the first {} cases are charted", kHtmlExplainCharts)}});
        }
        recordings.push_back(RecordingEntry(rec, result, explanation.table.impacts[c.recording],
                                            rec.labels.impactSample >= 0, document.value("merge_seconds", 10.0), c));
    }
    ordered_json report{{"version", TumblewatchVersion()},
                        {"inputs", document.value("inputs", ordered_json::array())},
                        {"manifest", document.value("manifest", ordered_json(nullptr))},
                        {"merge_seconds", document.value("merge_seconds", 10.0)},
                        {"config", config},
                        {"recordings", recordings}};
    ordered_json page{{"kind", "explain"},
                      {"config_changes", ConfigChanges(base)},
                      {"chart", {{"rate", kSampleRate}, {"series", ordered_json::parse(ChartSeriesJson())}}},
                      {"charts", charts},
                      {"report", report},
                      {"explain", document}};
    return HtmlPage(fmt::format("tumblewatch explain: {} cases", explanation.cases.size()), Dump(page), blocks);
}
