// The evaluation's page and the page of a single recording.
#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "config.h"
#include "evaluation.h"
#include "html_page.h"
#include "html_reports.h"

namespace {

using nlohmann::ordered_json;

// JSON text; a name that is not valid UTF-8 gets replacement characters.
std::string Dump(const ordered_json& j)
{
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// What every page with charts carries besides the report itself: its
// data, the report written last.
void WriteData(const char* kind, const EvalReport& report, const ordered_json& charts, const TextSink& sink)
{
    ordered_json chart;
    chart["rate"] = kSampleRate;
    chart["series"] = ordered_json::parse(ChartSeriesJson());
    sink(fmt::format(R"({{"kind":"{}","config_changes":{},"chart":{},"charts":{},"report":)", kind,
                     Dump(ordered_json(ConfigChanges(*report.config))), Dump(chart), Dump(charts)));
    ReportJsonWrite(report, sink);
    sink("}");
}

// What the page knows of a chart before its block is written.
ordered_json ChartEntry(const std::string& block, uint64_t samples)
{
    return {{"block", block}, {"samples", samples}, {"bucket", ChartBucketFor(samples, kChartMaxValues)}};
}

// Samples between two showings of the progress line while charting.
constexpr uint32_t kProgressEvery = 1 << 18;

// The chart's observer, showing the progress now and then.
struct Charting {
    RecordingChart* chart;
    Progress* progress;
};

void ObserveCharting(void* user, const TumblewatchContext* detector, int code)
{
    const auto* c = static_cast<const Charting*>(user);
    ChartObserve(c->chart, detector, code);
    if (c->progress != nullptr && c->chart->samples % kProgressEvery == 0) {
        ProgressShow(*c->progress);
    }
}

// Charts the recording of o again into chart; empty, or why no chart.
std::string Recapture(const RecordingOutcome& o, const EvalReport& report, RecordingChart* chart, Progress* progress)
{
    ChartStart(chart);
    EvalPassResult pass;
    Charting charting{chart, progress};
    const bool read = EvalPass(o.input, *report.config, report.mergeSeconds, std::string(), ObserveCharting, &charting,
                               progress, &pass);
    if (progress != nullptr) {
        ++progress->done;
    }
    ChartFinish(chart);
    if (!read) {
        return "cannot be read again for its chart: " + pass.failure;
    }
    bool same = pass.detect.samples == o.detect.samples && pass.tally.alarmCount == o.alarmCount &&
                pass.tally.alarms.size() == o.detect.alarms.size();
    for (std::size_t i = 0; same && i < o.detect.alarms.size(); ++i) {
        same = pass.tally.alarms[i].sample == o.detect.alarms[i].sample &&
               pass.tally.alarms[i].code == o.detect.alarms[i].code;
    }
    return same ? std::string() : "the recording changed after it was evaluated: no chart";
}

}  // namespace

void HtmlEvalPageWrite(const EvalReport& report, const TextSink& sink, Progress* progress)
{
    const std::vector<RecordingOutcome>& outcomes = report.evaluation->outcomes;
    ordered_json charts = ordered_json::array();
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        charts.push_back(outcomes[i].read ? ChartEntry(std::to_string(i), outcomes[i].detect.samples)
                                          : ordered_json(nullptr));
    }
    const std::string title = fmt::format("tumblewatch eval: {} recordings", outcomes.size());
    RecordingChart chart;
    HtmlPageWrite(
        title, [&](const TextSink& data) { WriteData("eval", report, charts, data); },
        [&](const TextSink& blocks) {
            for (std::size_t i = 0; i < outcomes.size(); ++i) {
                if (!outcomes[i].read) {
                    continue;
                }
                const std::string failure = Recapture(outcomes[i], report, &chart, progress);
                HtmlSeriesBlockWrite(
                    std::to_string(i), [&chart](const TextSink& packed) { ChartEncodeWrite(chart, packed); }, failure,
                    blocks);
            }
        },
        sink);
}

std::string HtmlEvalPage(const EvalReport& report)
{
    std::string page;
    HtmlEvalPageWrite(report, [&page](std::string_view piece) { page += piece; });
    return page;
}

void HtmlPlotPageWrite(const EvalReport& report, const RecordingChart& chart, const TextSink& sink)
{
    ordered_json charts = ordered_json::array();
    charts.push_back(ChartEntry("0", chart.samples));
    const std::string& path = report.evaluation->outcomes.at(0).input.path;
    HtmlPageWrite(
        "tumblewatch plot: " + path, [&](const TextSink& data) { WriteData("plot", report, charts, data); },
        [&chart](const TextSink& blocks) {
            HtmlSeriesBlockWrite(
                "0", [&chart](const TextSink& packed) { ChartEncodeWrite(chart, packed); }, std::string(), blocks);
        },
        sink);
}

std::string HtmlPlotPage(const EvalReport& report, const RecordingChart& chart)
{
    std::string page;
    HtmlPlotPageWrite(report, chart, [&page](std::string_view piece) { page += piece; });
    return page;
}
