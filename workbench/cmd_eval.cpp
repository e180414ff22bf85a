// tumblewatch eval: how well the detector finds falls and avoids false
// alarms on a labelled set of recordings.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "breakdown.h"
#include "commands.h"
#include "evaluation.h"
#include "report.h"

namespace fs = std::filesystem;

namespace {

int HardwareThreads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

// An output file's folder must exist and be writable before any work.
bool CheckWritable(const std::string& option, const std::string& path, std::string* error)
{
    if (path.empty()) {
        return true;
    }
    const fs::path p(path);
    const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
        *error = option + " " + path + ": is a folder";
        return false;
    }
    if (!fs::is_directory(folder, ec) || access(folder.c_str(), W_OK) != 0) {
        *error = option + " " + path + ": cannot be written (no writable folder " + folder.string() + ")";
        return false;
    }
    return true;
}

}  // namespace

CLI::App* CommandEvalAdd(CLI::App* app, EvalOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "eval", "Evaluate the detector on recordings: sensitivity, specificity, false alarms per hour, latency");
    command->add_option("PATH", options->paths,
                        "recording, folder (searched recursively) or quoted pattern; optional with --labels");
    command->add_option("--labels", options->labels, "manifest CSV: path,label[,activity,subject,impact_sample]");
    CommandAddConfigOptions(command, &options->config);
    options->threads = HardwareThreads();
    command->add_option("-j,--jobs", options->threads, "worker threads (default: every hardware thread)")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    command->add_option("--merge", options->mergeSeconds, "alarms closer than this many seconds are one event")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    command->add_option("--json", options->json, "write the whole evaluation as JSON");
    command->add_option("--csv", options->csv, "write one CSV row per recording");
    command->add_option("--traces", options->traces, "write each recording's trace below this folder");
    command->add_option("--require", options->requires, "e.g. sensitivity>=0.9 (repeatable); unmet: exit 1")
        ->type_name("EXPR")
        ->allow_extra_args(false);
    command->add_flag("-q,--quiet", options->quiet, "no report and no progress on the terminal");
    return command;
}

int CommandEvalRun(const EvalOptions& options)
{
    std::string error;
    EvalSettings settings{};
    if (!ConfigBuild(options.config, &settings.config, &error)) {
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
    Manifest manifest;
    if (!options.labels.empty() && !ManifestRead(options.labels, &manifest, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    if (options.paths.empty() && options.labels.empty()) {
        CommandError("eval: give a PATH to evaluate, or a manifest with --labels");
        return kExitUsage;
    }
    InputSet inputs{};
    const bool found =
        options.paths.empty()
            ? InputsFromList(manifest.files, fs::path(options.labels).parent_path().string(), &inputs, &error)
            : InputsFind(options.paths, &inputs, &error);
    if (!found) {
        CommandError(error);
        return kExitUsage;
    }
    if (inputs.recordings.empty()) {
        CommandError("eval: no recording (.bin or .csv) found");
        return kExitUsage;
    }
    if (!CheckWritable("--json", options.json, &error) || !CheckWritable("--csv", options.csv, &error) ||
        (!options.traces.empty() && !EvalCheckTraces(options.traces, inputs, &error))) {
        CommandError(error);
        return kExitUsage;
    }

    settings.mergeSeconds = options.mergeSeconds;
    settings.threads = options.threads;
    settings.tracesDir = options.traces;
    settings.progress = !options.quiet;
    Evaluation evaluation{};
    EvalRun(inputs, options.labels.empty() ? nullptr : &manifest, settings, &evaluation);

    const Metrics metrics = EvalMetrics(evaluation);
    const Breakdowns breakdowns = BreakdownsOf(evaluation);
    EvalReport report{&evaluation,          &metrics,        &breakdowns,
                      &settings.config,     options.paths,   options.labels,
                      options.mergeSeconds, options.threads, {}};
    bool met = true;
    for (const Requirement& r : requirements) {
        double value = 0.0;
        const bool ok = RequireMet(r, metrics, &value);
        report.requirements.push_back(RequirementResult{r, value, ok});
        met = met && ok;
    }
    if (!options.quiet) {
        ReportText(stdout, report);
    }
    std::fflush(stdout);

    bool written = true;
    if (!options.json.empty() && !ReportWriteFile(options.json, ReportJson(report), &error)) {
        CommandError(error);
        written = false;
    }
    if (!options.csv.empty() && !ReportWriteFile(options.csv, ReportCsv(report), &error)) {
        CommandError(error);
        written = false;
    }
    bool unreadable = false;
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
