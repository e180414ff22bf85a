// tumblewatch report: the page of a finished sweep, from its output file.
#include <fmt/core.h>

#include <fstream>

#include "commands.h"
#include "html_reports.h"

CLI::App* CommandReportAdd(CLI::App* app, ReportOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "report", "Chart a finished sweep: sensitivity against false alarms per hour, the Pareto front");
    command->add_option("SWEEP", options->sweep, "the sweep's output file (its --out, CSV or JSON lines)")->required();
    command->add_option("--html", options->html, "the page to write (required)")->required();
    command->add_option("--summary", options->summary,
                        "the sweep's --summary file: adds the nested selection of held-out subjects to the page");
    return command;
}

int CommandReportRun(const ReportOptions& options)
{
    std::string error;
    if (!CommandCheckWritable("--html", options.html, &error) ||
        !CommandCheckNotInput("--html", options.html, {options.sweep, options.summary}, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    nlohmann::ordered_json summary;
    if (!options.summary.empty()) {
        std::ifstream in(options.summary, std::ios::binary);
        if (!in.is_open()) {
            CommandError("--summary " + options.summary + ": cannot be read");
            return kExitUsage;
        }
        summary = nlohmann::ordered_json::parse(in, nullptr, false);
        if (summary.is_discarded() || !summary.is_object() || !summary.contains("tumblewatch_sweep_summary")) {
            CommandError("--summary " + options.summary + ": not the summary of tumblewatch sweep");
            return kExitUsage;
        }
    }
    std::string page;
    if (!HtmlSweepPage(options.sweep, nullptr, options.summary.empty() ? nullptr : &summary, &page, &error) ||
        !ReportWriteFile(options.html, page, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    fmt::print("tumblewatch report: {}: wrote {}\n", options.sweep, options.html);
    return kExitOk;
}
