// Writing the best configuration, the summary and the page of a sweep.
#include "sweep_results.h"

#include <fmt/core.h>

#include "html_reports.h"
#include "report.h"

bool SweepWriteResults(const SweepOptions& options, const SweepPlan& plan, const SweepSession& session)
{
    const SweepSummary& summary = session.summary;
    std::string error;
    bool ok = true;
    if (!options.best.empty()) {
        if (!summary.best.found) {
            CommandError("--best: no configuration qualifies under the objective; nothing written");
        } else {
            const int64_t index = summary.best.point.index;
            const std::string comment = fmt::format("tumblewatch sweep {}: configuration {} (objective {})",
                                                    plan.layout.id, index, plan.objective.text);
            const std::string toml = ConfigToToml(SweepConfig(plan.space, plan.base, index), comment);
            ok &= CommandWriteOutput(options.best, [&toml](const TextSink& sink) { sink(toml); });
        }
    }
    const nlohmann::ordered_json json = SweepSummaryJson(summary, plan.layout, plan.count);
    if (!options.summary.empty()) {
        const std::string text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        ok &= CommandWriteOutput(options.summary, [&text](const TextSink& sink) { sink(text); });
    }
    if (!options.html.empty()) {
        std::string page;
        if (HtmlSweepPage(options.out, &summary.base, &json, &page, &error)) {
            ok &= CommandWriteOutput(options.html, [&page](const TextSink& sink) { sink(page); });
        } else {
            CommandError(error);
            ok = false;
        }
    }
    return ok;
}
