// tumblewatch eval: how well the detector finds falls and avoids false
// alarms on a labelled set of recordings.
#include <cmath>
#include <cstdio>

#include "breakdown.h"
#include "commands.h"
#include "evaluation.h"
#include "html_reports.h"
#include "report.h"
#include "report_text.h"

CLI::App* CommandEvalAdd(CLI::App* app, EvalOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "eval", "Evaluate the detector on recordings: sensitivity, specificity, false alarms per hour, latency");
    CommandAddInputOptions(command, &options->inputs);
    command->add_option("--json", options->json, "write the whole evaluation as JSON (- for standard output)")
        ->check(CommandFileName());
    command->add_option("--csv", options->csv, "write one CSV row per recording (- for standard output)")
        ->check(CommandFileName());
    command->add_option("--traces", options->traces, "write each recording's trace below this folder")
        ->check(CommandFileName());
    command
        ->add_option("--html", options->html,
                     "write the report with each recording's chart as one self-contained HTML page "
                     "(- for standard output)")
        ->check(CommandFileName());
    command->add_option("--require", options->requires, "e.g. sensitivity>=0.9 (repeatable); unmet: exit 1")
        ->type_name("EXPR")
        ->allow_extra_args(false);
    command->add_flag("-q,--quiet", options->quiet, "no report and no progress on the terminal");
    CommandAddIntervalOptions(command, &options->intervals, true);
    command
        ->add_option("--list", options->list,
                     fmt::format("the recordings listed on the terminal: N of each list (default {}), all, "
                                 "missed, alarms or none",
                                 kReportListDefault))
        ->type_name("N|all|missed|alarms|none");
    return command;
}

int CommandEvalRun(const EvalOptions& options)
{
    std::string error;
    ReportListing listing{ReportListMode::First, kReportListDefault};
    if (!options.list.empty() && !ReportParseListing(options.list, &listing, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    EvalSettings settings{};
    Manifest manifest;
    InputSet inputs{};
    if (!InputsLoad(options.inputs, &settings.config, &manifest, &inputs, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    std::vector<Requirement> requirements;
    for (const std::string& text : options.requires) {
        Requirement r;
        if (!RequireParse(text, &r, &error)) {
            CommandError(error);
            return kExitUsage;
        }
        requirements.push_back(r);
    }
    const FilesReads reads = InputsReads(options.inputs, inputs);
    const std::vector<FilesOutput> outputs{
        {"--json", options.json, true}, {"--csv", options.csv, true}, {"--html", options.html, true}};
    if (!CommandCheckOutputs(outputs, reads)) {
        return kExitUsage;
    }
    if (!options.traces.empty() &&
        !EvalCheckTraces(options.traces, inputs, reads, {options.json, options.csv, options.html}, &error)) {
        CommandError(error);
        return kExitUsage;
    }

    settings.mergeSeconds = options.inputs.mergeSeconds;
    settings.threads = options.inputs.threads;
    settings.tracesDir = options.traces;
    settings.progress = !options.quiet;
    settings.window = options.inputs.window;
    Evaluation evaluation{};
    EvalRun(inputs, options.inputs.labels.empty() ? nullptr : &manifest, settings, &evaluation);

    const Metrics metrics = EvalMetrics(evaluation);
    const Breakdowns breakdowns = BreakdownsOf(evaluation);
    const EvalIntervals intervals = EvalIntervalsOf(evaluation, metrics, breakdowns, options.intervals);
    EvalReport report{&evaluation,
                      &metrics,
                      &breakdowns,
                      &settings.config,
                      options.inputs.paths,
                      options.inputs.labels,
                      options.inputs.mergeSeconds,
                      options.inputs.threads,
                      {},
                      &intervals,
                      options.inputs.moreLabels,
                      options.inputs.window};
    bool met = true;
    for (const Requirement& r : requirements) {
        double value = 0.0;
        const bool ok = RequireMet(r, metrics, &value);
        report.requirements.push_back(RequirementResult{r, value, ok});
        met = met && ok;
    }
    // A report on standard output stands alone there.
    const bool toStandardOutput = options.json == "-" || options.csv == "-" || options.html == "-";
    if (!options.quiet && !toStandardOutput) {
        CommandPrint(ReportText(report, listing));
    }

    bool written = true;
    if (!options.json.empty()) {
        written &= CommandWriteOutput(options.json, [&](const TextSink& sink) { ReportJsonWrite(report, sink); });
    }
    if (!options.csv.empty()) {
        written &= CommandWriteOutput(options.csv, [&](const TextSink& sink) { ReportCsvWrite(report, sink); });
    }
    if (!options.html.empty()) {
        // The page charts every recording read, reading it again.
        Progress charted;
        uint64_t count = 0;
        for (const RecordingOutcome& o : evaluation.outcomes) {
            count += o.read ? 1 : 0;
        }
        ProgressStart(&charted, "recordings charted", count, !options.quiet);
        charted.bytesTotal = EvalBytesOf(evaluation);
        written &=
            CommandWriteOutput(options.html, [&](const TextSink& sink) { HtmlEvalPageWrite(report, sink, &charted); });
        ProgressEnd(charted);
    }
    bool unreadable = InputsSkippedFailed(inputs);
    for (const InputSkipped& s : evaluation.skipped) {
        if (s.failed) {
            CommandError(s.path + ": skipped: " + s.reason);
        }
    }
    for (const RecordingOutcome& o : evaluation.outcomes) {
        if (!o.failure.empty()) {
            CommandError(o.input.path + ": " + o.failure);
            unreadable = true;
        }
    }
    for (const RequirementResult& r : report.requirements) {
        if (!r.met) {
            char value[32] = "undefined";
            if (!std::isnan(r.value)) {
                std::snprintf(value, sizeof value, "%.6g", r.value);
            }
            CommandError("requirement not met: " + r.requirement.text + " (" + r.requirement.metric + " is " + value +
                         ")");
        }
    }
    if (!written) {
        return kExitUsage;
    }
    if (unreadable) {
        return kExitUnreadable;
    }
    return met ? kExitOk : kExitRequirement;
}
