// The evaluation's page and the page of a single recording.
#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "config.h"
#include "html_page.h"
#include "html_reports.h"
#include "recording_reader.h"

namespace {

using nlohmann::ordered_json;

// JSON text; a name that is not valid UTF-8 gets replacement characters.
std::string Dump(const ordered_json& j)
{
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// What every page with charts carries besides the report itself.
std::string PageJson(const char* kind, const EvalReport& report, const ordered_json& charts)
{
    ordered_json chart;
    chart["rate"] = kSampleRate;
    chart["series"] = ordered_json::parse(ChartSeriesJson());
    std::string json = fmt::format(R"({{"kind":"{}","config_changes":{},"chart":{},"charts":{},"report":)", kind,
                                   ordered_json(ConfigChanges(*report.config)).dump(), Dump(chart), Dump(charts));
    return json + ReportJson(report) + "}";
}

// The recording's chart as a block of the page, or why there is none.
ordered_json ChartOf(const RecordingOutcome& o, const TumblewatchConfig& config, std::size_t index,
                     std::vector<HtmlSeriesBlock>* blocks)
{
    if (!o.read) {
        return nullptr;
    }
    std::vector<ImuSample> samples;
    std::string reason;
    if (RecordingLoad(o.input.path, o.input.format, o.input.micom, &samples, &reason) != 0) {
        return {{"failure", "cannot be read again for its chart: " + reason}};
    }
    RecordingChart chart{};
    DetectResult result{};
    ChartCapture(config, samples.data(), samples.size(), &chart, &result);
    bool same = result.samples == o.detect.samples && result.alarms.size() == o.detect.alarms.size();
    for (std::size_t i = 0; same && i < result.alarms.size(); ++i) {
        same = result.alarms[i].sample == o.detect.alarms[i].sample && result.alarms[i].code == o.detect.alarms[i].code;
    }
    if (!same) {
        return {{"failure", "the recording changed after it was evaluated: no chart"}};
    }
    const std::string name = std::to_string(index);
    blocks->push_back(HtmlSeriesBlock{name, ChartEncode(chart)});
    return {{"block", name}, {"samples", chart.samples}};
}

}  // namespace

std::string HtmlEvalPage(const EvalReport& report)
{
    std::vector<HtmlSeriesBlock> blocks;
    ordered_json charts = ordered_json::array();
    const std::vector<RecordingOutcome>& outcomes = report.evaluation->outcomes;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        charts.push_back(ChartOf(outcomes[i], *report.config, i, &blocks));
    }
    const std::string title = fmt::format("tumblewatch eval: {} recordings", outcomes.size());
    return HtmlPage(title, PageJson("eval", report, charts), blocks);
}

std::string HtmlPlotPage(const EvalReport& report, const RecordingChart& chart)
{
    const std::vector<HtmlSeriesBlock> blocks{HtmlSeriesBlock{"0", ChartEncode(chart)}};
    ordered_json charts = ordered_json::array();
    charts.push_back({{"block", "0"}, {"samples", chart.samples}});
    const std::string& path = report.evaluation->outcomes.at(0).input.path;
    return HtmlPage("tumblewatch plot: " + path, PageJson("plot", report, charts), blocks);
}
