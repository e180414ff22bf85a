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
            if (!ReportWriteFile(options.best, ConfigToToml(SweepConfig(plan.space, plan.base, index), comment),
                                 &error)) {
                CommandError(error);
                ok = false;
            }
        }
    }
    const nlohmann::ordered_json json = SweepSummaryJson(summary, plan.layout, plan.count);
    if (!options.summary.empty() &&
        !ReportWriteFile(options.summary, json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
                         &error)) {
        CommandError(error);
        ok = false;
    }
    std::string page;
    if (!options.html.empty() && (!HtmlSweepPage(options.out, &summary.base, &json, &page, &error) ||
                                  !ReportWriteFile(options.html, page, &error))) {
        CommandError(error);
        ok = false;
    }
    return ok;
}
