// tumblewatch report: the page of a finished sweep, from its output file.
#include <fmt/core.h>

#include "commands.h"
#include "html_reports.h"

CLI::App* CommandReportAdd(CLI::App* app, ReportOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "report", "Chart a finished sweep: sensitivity against false alarms per hour, the Pareto front");
    command->add_option("SWEEP", options->sweep, "the sweep's output file (its --out, CSV or JSON lines)")->required();
    command->add_option("--html", options->html, "the page to write (required; - for standard output)")
        ->required()
        ->check(CommandFileName());
    return command;
}

int CommandReportRun(const ReportOptions& options)
{
    std::string error;
    FilesReads reads;
    reads.files.push_back(options.sweep);
    if (!CommandCheckOutputs({{"--html", options.html, true}}, reads)) {
        return kExitUsage;
    }
    std::string page;
    if (!HtmlSweepPage(options.sweep, nullptr, &page, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    if (!CommandWriteOutput(options.html, [&page](const TextSink& sink) { sink(page); })) {
        return kExitUsage;
    }
    if (options.html != "-") {
        CommandPrint(fmt::format("tumblewatch report: {}: wrote {}\n", CommandTerminalText(options.sweep),
                                 CommandTerminalText(options.html)));
    }
    return kExitOk;
}
