// tumblewatch plot: the chart of one recording as a self-contained HTML
// page.
#include <fmt/core.h>

#include "breakdown.h"
#include "chart.h"
#include "commands.h"
#include "evaluation.h"
#include "html_reports.h"

CLI::App* CommandPlotAdd(CLI::App* app, PlotOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "plot", "Chart what the detector did on one recording: its magnitudes, attitude and trackers, the alarms");
    command->add_option("RECORDING", options->recording, "the recording (.bin or .csv)")->required();
    CommandAddLabelsOption(command, &options->labels, &options->moreLabels);
    CommandAddWindowOptions(command, &options->window);
    CommandAddConfigOptions(command, &options->config);
    command->add_option("--merge", options->mergeSeconds, "alarms closer than this many seconds are one event")
        ->check(CommandSeconds())
        ->capture_default_str();
    command->add_option("--html", options->html, "the page to write (required; - for standard output)")
        ->required()
        ->check(CommandFileName());
    return command;
}

int CommandPlotRun(const PlotOptions& options)
{
    std::string error;
    TumblewatchConfig config;
    Manifest manifest;
    InputSet inputs{};
    InputOptions read;
    read.labels = options.labels;
    read.moreLabels = options.moreLabels;
    read.config = options.config;
    read.window = options.window;
    if (!InputsCheckMerge("--merge", options.mergeSeconds, &error) || !ConfigBuild(options.config, &config, &error) ||
        !InputsCheckWindow(options.window, &error) ||
        (!options.labels.empty() && !InputsReadManifests(read, &manifest, &error)) ||
        !InputsFind({options.recording}, &inputs, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    if (inputs.recordings.size() != 1) {
        CommandError(fmt::format("{}: holds {} recordings; plot charts one recording", options.recording,
                                 inputs.recordings.size()));
        return kExitUsage;
    }
    if (!CommandCheckOutputs({{"--html", options.html, true}}, InputsReads(read, inputs))) {
        return kExitUsage;
    }

    Evaluation evaluation{};
    evaluation.outcomes.push_back(RecordingOutcome{});
    RecordingOutcome& o = evaluation.outcomes[0];
    o.input = inputs.recordings[0];
    const RecordingLabels* listed = ManifestFind(manifest, o.input.path);
    o.labels = listed != nullptr ? *listed : LabelsFromName(o.input.path);
    o.labelsFromManifest = listed != nullptr;
    RecordingChart chart;
    ChartStart(&chart);
    EvalPassResult pass;
    EvalPassWindowed(o.input, config, options.mergeSeconds, EvalWindowOf(o.labels, options.window), std::string(),
                     ChartObserve, &chart, nullptr, &pass);
    ChartFinish(&chart);
    EvalTakePass(&pass, &manifest, &o);
    if (!o.read) {
        CommandError(o.input.path + ": " + o.failure);
        return kExitUnreadable;
    }
    evaluation.twinsPassedOver = inputs.twinsPassedOver;
    evaluation.samples = o.detect.samples;

    const Metrics metrics = EvalMetrics(evaluation);
    const Breakdowns breakdowns = BreakdownsOf(evaluation);
    const EvalReport report{&evaluation,          &metrics, &breakdowns, &config, {options.recording}, options.labels,
                            options.mergeSeconds, 1,        {},          nullptr, options.moreLabels,  options.window};
    if (!CommandWriteOutput(options.html, [&](const TextSink& sink) { HtmlPlotPageWrite(report, chart, sink); })) {
        return kExitUsage;
    }
    if (options.html != "-") {
        CommandPrint(fmt::format("tumblewatch plot: {}: {} samples, {} alarms; wrote {}\n",
                                 CommandTerminalText(o.input.path), o.detect.samples, o.alarmCount,
                                 CommandTerminalText(options.html)));
    }
    if (!o.failure.empty()) {
        CommandError(o.input.path + ": " + o.failure);
        return kExitUnreadable;
    }
    return kExitOk;
}
