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
    command
        ->add_option("--summary", options->summary,
                     "the sweep's --summary file: adds the nested selection of held-out subjects to the page")
        ->check(CommandFileName());
    return command;
}

int CommandReportRun(const ReportOptions& options)
{
    std::string error;
    FilesReads reads;
    reads.files.push_back(options.sweep);
    if (!options.summary.empty()) {
        reads.files.push_back(options.summary);
    }
    if (!CommandCheckOutputs({{"--html", options.html, true}}, reads)) {
        return kExitUsage;
    }
    nlohmann::ordered_json summary;
    if (!options.summary.empty()) {
        std::string text;
        std::string reason;
        if (!FilesReadText(options.summary, &text, &reason)) {
            CommandError("--summary " + options.summary + ": cannot be read: " + reason);
            return kExitUsage;
        }
        summary = nlohmann::ordered_json::parse(text, nullptr, false);
        if (summary.is_discarded() || !summary.is_object() || !summary.contains("tumblewatch_sweep_summary")) {
            CommandError("--summary " + options.summary + ": not the summary of tumblewatch sweep");
            return kExitUsage;
        }
    }
    std::string page;
    if (!HtmlSweepPage(options.sweep, nullptr, options.summary.empty() ? nullptr : &summary, &page, &error)) {
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
