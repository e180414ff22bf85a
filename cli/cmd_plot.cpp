// tumblewatch plot: the chart of one recording as a self-contained HTML
// page.
#include <fmt/core.h>

#include "breakdown.h"
#include "chart.h"
#include "commands.h"
#include "html_reports.h"

CLI::App* CommandPlotAdd(CLI::App* app, PlotOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "plot", "Chart what the detector did on one recording: its magnitudes, attitude and trackers, the alarms");
    command->add_option("RECORDING", options->recording, "the recording (.bin or .csv)")->required();
    command->add_option("--labels", options->labels, "manifest CSV for the recording's label and impact sample");
    CommandAddConfigOptions(command, &options->config);
    command->add_option("--merge", options->mergeSeconds, "alarms closer than this many seconds are one event")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    command->add_option("--html", options->html, "the page to write (required)")->required();
    return command;
}

int CommandPlotRun(const PlotOptions& options)
{
    std::string error;
    TumblewatchConfig config;
    Manifest manifest;
    InputSet inputs{};
    if (!ConfigBuild(options.config, &config, &error) ||
        (!options.labels.empty() && !ManifestRead(options.labels, &manifest, &error)) ||
        !InputsFind({options.recording}, &inputs, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    if (inputs.recordings.size() != 1) {
        CommandError(fmt::format("{}: holds {} recordings; plot charts one recording", options.recording,
                                 inputs.recordings.size()));
        return kExitUsage;
    }
    if (!CommandCheckWritable("--html", options.html, &error) ||
        !CommandCheckNotInput("--html", options.html, {inputs.recordings[0].path, options.labels, options.config.file},
                              &error)) {
        CommandError(error);
        return kExitUsage;
    }

    Evaluation evaluation{};
    evaluation.outcomes.push_back(RecordingOutcome{});
    RecordingOutcome& o = evaluation.outcomes[0];
    o.input = inputs.recordings[0];
    o.labels = LabelsFromName(o.input.path);
    const auto entry = manifest.entries.find(ManifestKey(o.input.path));
    if (entry != manifest.entries.end()) {
        o.labels = entry->second;
        o.labelsFromManifest = true;
    }
    std::vector<ImuSample> samples;
    std::string reason;
    if (RecordingLoad(o.input.path, o.input.format, o.input.micom, &samples, &reason) != 0) {
        CommandError(o.input.path + ": " + reason);
        return kExitUnreadable;
    }
    RecordingChart chart{};
    ChartCapture(config, samples.data(), samples.size(), &chart, &o.detect);
    o.read = true;
    o.events = MetricsEvents(o.detect.alarms, options.mergeSeconds);
    o.impactFromManifest = o.labels.impactSample >= 0;
    o.impact = o.impactFromManifest ? o.labels.impactSample : o.detect.peakSample;
    evaluation.twinsPassedOver = inputs.twinsPassedOver;
    evaluation.samples = o.detect.samples;

    const Metrics metrics = EvalMetrics(evaluation);
    const Breakdowns breakdowns = BreakdownsOf(evaluation);
    const EvalReport report{&evaluation,          &metrics, &breakdowns, &config, {options.recording}, options.labels,
                            options.mergeSeconds, 1,        {}};
    if (!ReportWriteFile(options.html, HtmlPlotPage(report, chart), &error)) {
        CommandError(error);
        return kExitUsage;
    }
    fmt::print("tumblewatch plot: {}: {} samples, {} alarms; wrote {}\n", o.input.path, o.detect.samples,
               o.detect.alarms.size(), options.html);
    return kExitOk;
}
