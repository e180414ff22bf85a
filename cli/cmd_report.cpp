// tumblewatch report: the page of a finished sweep, from its output file.
#include <fmt/core.h>

#include "commands.h"
#include "html_reports.h"

CLI::App* CommandReportAdd(CLI::App* app, ReportOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "report", "Chart a finished sweep: sensitivity against false alarms per hour, the Pareto front");
    command->add_option("SWEEP", options->sweep, "the sweep's output file (its --out, CSV or JSON lines)")->required();
    command->add_option("--html", options->html, "the page to write (required)")->required();
    return command;
}

int CommandReportRun(const ReportOptions& options)
{
    std::string error;
    if (!CommandCheckWritable("--html", options.html, &error) ||
        !CommandCheckNotInput("--html", options.html, {options.sweep}, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    std::string page;
    if (!HtmlSweepPage(options.sweep, nullptr, &page, &error) || !ReportWriteFile(options.html, page, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    fmt::print("tumblewatch report: {}: wrote {}\n", options.sweep, options.html);
    return kExitOk;
}
