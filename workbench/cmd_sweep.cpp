// tumblewatch sweep: many configurations over the same labelled
// recordings, each row written as soon as it is known, with the Pareto
// front and the best configuration at the end.
#include <fcntl.h>
#include <fmt/core.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

#include "commands.h"
#include "folds.h"
#include "html_reports.h"
#include "params.h"
#include "pareto.h"
#include "report.h"
#include "safe_files.h"
#include "sweep.h"
#include "sweep_output.h"

namespace fs = std::filesystem;

namespace {

// Everything a sweep needs, checked before any work.
struct SweepPlan {
    TumblewatchConfig base;
    Manifest manifest;
    InputSet inputs;
    SweepSpace space;
    int64_t count;
    std::vector<int> varied;
    Objective objective;
    SweepLayout layout;
    std::vector<RecordingLabels> labels;  // of inputs.recordings
};

RecordingLabels LabelsOf(const InputRecording& in, const Manifest* manifest)
{
    if (manifest != nullptr) {
        const auto it = manifest->entries.find(ManifestKey(in.path));
        if (it != manifest->entries.end()) {
            return it->second;
        }
    }
    return LabelsFromName(in.path);
}

std::string Rate(double v, int decimals = 3)
{
    return std::isnan(v) ? std::string("-") : fmt::format("{:.{}f}", v, decimals);
}

// "name=value ..." of the varied parameters.
std::string VariedText(const std::vector<int>& varied, const std::vector<int32_t>& values)
{
    std::string text;
    for (size_t i = 0; i < varied.size() && i < values.size(); ++i) {
        text += fmt::format("{}{}={}", text.empty() ? "" : " ", TumblewatchParams()[varied[i]].name, values[i]);
    }
    return text;
}

SweepPoint PointOf(const SweepRow& row, const std::vector<int>& varied)
{
    SweepPoint p{row.index,  row.all.sensitivity,  row.all.falseAlarmsPerHour,
                 row.all.f1, row.held.sensitivity, row.held.falseAlarmsPerHour,
                 {}};
    for (const int v : varied) {
        p.values.push_back(TumblewatchParamGet(&row.config, v));
    }
    return p;
}

// The text that the sweep's identifier is made from: what its rows depend on.
std::string IdentityText(const SweepPlan& plan, const SweepOptions& options)
{
    std::string text = "inputs";
    for (size_t i = 0; i < plan.inputs.recordings.size(); ++i) {
        const InputRecording& in = plan.inputs.recordings[i];
        std::error_code ec;
        const auto size = fs::file_size(in.path, ec);
        const RecordingLabels& l = plan.labels[i];
        text += fmt::format("|{} {} {} {} {} {} {}", in.relative, ec ? 0 : size, in.micom, LabelName(l.label),
                            l.activity, l.subject, l.impactSample);
    }
    text += "|base";
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        text += " " + std::to_string(TumblewatchParamGet(&plan.base, i));
    }
    text += fmt::format("|merge {}|folds {}", options.inputs.mergeSeconds, options.folds);
    for (const SweepGrid& g : plan.space.grids) {
        text += fmt::format("|grid {}", g.param);
        for (const int32_t v : g.values) {
            text += " " + std::to_string(v);
        }
    }
    for (const SweepRange& r : plan.space.ranges) {
        text += fmt::format("|range {} {} {}", r.param, r.low, r.high);
    }
    text += fmt::format("|random {} seed {}", plan.space.draws, plan.space.seed);
    return text;
}

std::string Description(const SweepPlan& plan, const SweepOptions& options)
{
    std::string d = fmt::format("{} recordings; {} configurations", plan.inputs.recordings.size(), plan.count);
    for (const std::string& g : options.grids) {
        d += "; grid " + g;
    }
    if (plan.space.draws > 0) {
        d += fmt::format("; {} random draws, seed {}", plan.space.draws, plan.space.seed);
        for (const std::string& r : options.ranges) {
            d += " range " + r;
        }
    }
    const std::vector<std::string> changes = ConfigChanges(plan.base);
    d += "; base " + (changes.empty() ? std::string("defaults") : fmt::format("{}", fmt::join(changes, " ")));
    if (options.folds > 0) {
        d += fmt::format("; {} folds", options.folds);
    }
    return d;
}

bool Plan(const SweepOptions& options, SweepPlan* plan, std::string* error)
{
    if (!CommandLoadInputs(options.inputs, &plan->base, &plan->manifest, &plan->inputs, error)) {
        return false;
    }
    for (const std::string& text : options.grids) {
        SweepGrid g;
        if (!SweepParseGrid(text, &g, error)) {
            return false;
        }
        plan->space.grids.push_back(g);
    }
    for (const std::string& text : options.ranges) {
        SweepRange r;
        if (!SweepParseRange(text, &r, error)) {
            return false;
        }
        plan->space.ranges.push_back(r);
    }
    plan->space.draws = options.random;
    plan->space.seed = options.seed;
    if (!SweepCheck(plan->space, error)) {
        return false;
    }
    plan->count = SweepCount(plan->space, options.maxConfigs);
    if (plan->count < 0) {
        const int64_t all = SweepCount(plan->space, INT64_MAX);
        *error = (all < 0 ? std::string("more than 9223372036854775807") : std::to_string(all)) +
                 " configurations: more than --max-configs " + std::to_string(options.maxConfigs);
        return false;
    }
    plan->varied = SweepVaried(plan->space);
    if (!ObjectiveParse(options.objective, &plan->objective, error)) {
        return false;
    }
    const Manifest* manifest = options.inputs.labels.empty() ? nullptr : &plan->manifest;
    std::set<std::string> subjects;
    int withoutSubject = 0;
    for (const InputRecording& in : plan->inputs.recordings) {
        plan->labels.push_back(LabelsOf(in, manifest));
        if (plan->labels.back().label != Label::None) {
            if (plan->labels.back().subject.empty()) {
                ++withoutSubject;
            } else {
                subjects.insert(plan->labels.back().subject);
            }
        }
    }
    if (options.folds == 1 || options.folds < 0) {
        *error = "--folds needs at least 2 groups";
        return false;
    }
    if (options.folds > 0 && withoutSubject > 0) {
        *error = fmt::format("--folds: {} labelled recordings have no subject (give them one in the manifest)",
                             withoutSubject);
        return false;
    }
    if (options.folds > static_cast<int>(subjects.size())) {
        *error = fmt::format("--folds {}: only {} subjects", options.folds, subjects.size());
        return false;
    }
    plan->layout.format = options.format == "jsonl" ? SweepFormat::Jsonl : SweepFormat::Csv;
    plan->layout.id = SweepId(IdentityText(*plan, options));
    plan->layout.description = Description(*plan, options);
    for (const int v : plan->varied) {
        plan->layout.varied.emplace_back(TumblewatchParams()[v].name);
    }
    plan->layout.folds = options.folds > 0;
    std::vector<std::string> read{options.inputs.labels, options.inputs.config.file};
    for (const InputRecording& in : plan->inputs.recordings) {
        read.push_back(in.path);
    }
    std::vector<std::string> readOrRows = read;
    readOrRows.push_back(options.out);
    return CommandCheckWritable("--out", options.out, error) && CommandCheckWritable("--best", options.best, error) &&
           CommandCheckWritable("--html", options.html, error) &&
           CommandCheckNotInput("--out", options.out, read, error) &&
           CommandCheckNotInput("--best", options.best, readOrRows, error) &&
           CommandCheckNotInput("--html", options.html, readOrRows, error);
}

// The rows an earlier run of the same sweep left in the output file: fed
// to the front and the objective; *next is the first configuration still
// to run and *keep the length of the file's complete lines.
bool Resume(const SweepOptions& options, const SweepPlan& plan, ParetoFront* front, std::vector<SweepPoint>* points,
            int64_t* next, uint64_t* keep, std::string* error)
{
    SweepLayout found;
    int64_t last = -1;
    auto same = [&] {
        return found.id == plan.layout.id && found.varied == plan.layout.varied && found.folds == plan.layout.folds &&
               found.format == plan.layout.format;
    };
    bool other = false;
    auto onRow = [&](const SweepRecord& r, std::string* problem) {
        if (!same()) {
            other = true;
            return false;
        }
        if (r.index <= last || r.index >= plan.count) {
            *problem = "configuration " + std::to_string(r.index) + " is out of order or not of this sweep";
            return false;
        }
        const TumblewatchConfig cfg = SweepConfig(plan.space, plan.base, r.index);
        for (size_t i = 0; i < plan.varied.size(); ++i) {
            if (TumblewatchParamGet(&cfg, plan.varied[i]) != r.values[i]) {
                *problem = "configuration " + std::to_string(r.index) + " has other values than this sweep gives it";
                return false;
            }
        }
        last = r.index;
        const SweepPoint p{r.index,        r.Metric("sensitivity"),      r.Metric("false_alarms_per_hour"),
                           r.Metric("f1"), r.Metric("held_sensitivity"), r.Metric("held_false_alarms_per_hour"),
                           r.values};
        ParetoAdd(front, p);
        points->push_back(p);
        return true;
    };
    const bool read = SweepReadFile(options.out, &found, onRow, keep, error);
    if (other || (read && !same())) {
        *error = "--resume " + options.out +
                 ": the file holds another sweep (other recordings, base configuration, grids, ranges, seed, folds "
                 "or format): not mixed; its header says: " +
                 found.description;
        return false;
    }
    if (!read) {
        *error = "--resume: " + *error;
        return false;
    }
    *next = last + 1;
    return true;
}

void PrintSummary(const SweepPlan& plan, const SweepRow& base, const ParetoFront& front, const ObjectiveBest& best,
                  int64_t done, int64_t refused, double seconds, uint64_t samples)
{
    fmt::print("\ntumblewatch sweep: {} configurations, {} run now ({} refused by the detector)\n", plan.count, done,
               refused);
    fmt::print("  {:.1f} s, {:.1f} configurations/s, {:.2f} million samples/s\n", seconds,
               seconds > 0 ? done / seconds : 0.0, seconds > 0 ? samples / seconds / 1e6 : 0.0);
    fmt::print("  base configuration: sensitivity {}, false alarms per hour {}, F1 {}\n", Rate(base.all.sensitivity),
               Rate(base.all.falseAlarmsPerHour, 2), Rate(base.all.f1));
    const bool folds = plan.layout.folds;
    fmt::print("\nPareto front (sensitivity up, false alarms per hour down): {} configurations\n", front.points.size());
    if (folds) {
        fmt::print("  {:>8} {:>7} {:>7} {:>6} {:^15}\n", "", "", "", "", "held-out");
    }
    fmt::print("  {:>8} {:>7} {:>7} {:>6}", "config", "sens.", "FA/h", "F1");
    if (folds) {
        fmt::print(" {:>7} {:>7}", "sens.", "FA/h");
    }
    fmt::print("  varied values\n");
    const std::size_t width = folds ? 50 : 66;
    for (const SweepPoint& p : front.points) {
        std::string values = VariedText(plan.varied, p.values);
        if (values.size() > width) {
            values.replace(width - 3, std::string::npos, "...");
        }
        fmt::print("  {:>8} {:>7} {:>7} {:>6}", p.index, Rate(p.sensitivity), Rate(p.falseAlarmsPerHour, 2),
                   Rate(p.f1));
        if (folds) {
            fmt::print(" {:>7} {:>7}", Rate(p.heldSensitivity), Rate(p.heldFalseAlarmsPerHour, 2));
        }
        fmt::print("  {}\n", values);
    }
    const std::string objective = plan.objective.kind == ObjectiveKind::SensitivityAtBase
                                      ? fmt::format(
                                            "highest sensitivity with at most {} false alarms per hour "
                                            "(the base's)",
                                            Rate(plan.objective.limit, 2))
                                      : plan.objective.text;
    fmt::print("\nBest under {}:\n", objective);
    if (!best.found) {
        fmt::print("  no configuration qualifies\n");
        return;
    }
    fmt::print("  configuration {}: sensitivity {}, false alarms per hour {}, F1 {}\n", best.point.index,
               Rate(best.point.sensitivity), Rate(best.point.falseAlarmsPerHour, 2), Rate(best.point.f1));
}

}  // namespace

CLI::App* CommandSweepAdd(CLI::App* app, SweepOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "sweep", "Evaluate many configurations: grids and random draws, held-out subjects, Pareto front");
    CommandAddInputOptions(command, &options->inputs);
    command->add_option("--grid", options->grids, "NAME=LO:HI:STEP or NAME=V1,V2,... (repeatable; all combined)")
        ->type_name("NAME=VALUES")
        ->allow_extra_args(false);
    command->add_option("--random", options->random, "N configurations drawn from the --range values")
        ->check(CLI::PositiveNumber);
    command->add_option("--range", options->ranges, "NAME=LO:HI for --random (repeatable)")
        ->type_name("NAME=VALUES")
        ->allow_extra_args(false);
    command->add_option("--seed", options->seed, "seed of the random draws")->capture_default_str();
    command->add_option("--max-configs", options->maxConfigs, "refuse a sweep of more configurations")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    command->add_option("--folds", options->folds, "K: held-out subjects in K groups");
    command->add_option("--out", options->out, "the rows, one per configuration (required)")->required();
    command->add_option("--format", options->format, "csv or jsonl")
        ->check(CLI::IsMember({"csv", "jsonl"}))
        ->capture_default_str();
    command->add_flag("--resume", options->resume, "continue the sweep whose rows --out holds");
    command->add_option("--objective", options->objective,
                        "max:f1 or max:sensitivity@fa<=X (default: highest sensitivity with false alarms per "
                        "hour at most the base configuration's)");
    command->add_option("--best", options->best, "write the best configuration as a TOML file for --config");
    command->add_option("--html", options->html,
                        "write the scatter of every configuration (with --resume: all rows) as an HTML page");
    command->add_flag("-q,--quiet", options->quiet, "no summary and no progress on the terminal");
    return command;
}

int CommandSweepRun(const SweepOptions& options)
{
    std::string error;
    SweepPlan plan{};
    if (!Plan(options, &plan, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    std::error_code ec;
    const bool exists = fs::exists(options.out, ec) && fs::file_size(options.out, ec) > 0;
    if (exists && !options.resume) {
        CommandError("--out " + options.out + " exists: continue it with --resume, or give another file");
        return kExitUsage;
    }
    ParetoFront front;
    std::vector<SweepPoint> earlier;
    int64_t first = 0;
    uint64_t keep = 0;
    if (exists && !Resume(options, plan, &front, &earlier, &first, &keep, &error)) {
        CommandError(error);
        return kExitUsage;
    }

    SweepData data{};
    SweepLoad(plan.inputs, options.inputs.labels.empty() ? nullptr : &plan.manifest, options.inputs.threads, &data);
    for (const std::string& f : data.failures) {
        CommandError(f);
    }
    if (data.recordings.empty()) {
        CommandError("no labelled recording could be read: nothing to sweep");
        return kExitUsage;
    }
    if (options.folds > 0) {
        std::vector<std::string> subjects;
        for (const SweepRecording& r : data.recordings) {
            subjects.push_back(r.labels.subject);
        }
        const std::vector<int> folds = FoldsAssign(subjects, options.folds);
        for (size_t i = 0; i < data.recordings.size(); ++i) {
            data.recordings[i].fold = folds[i];
        }
    }

    // The output: continued after its last complete row, or begun.
    const int fd = open(options.out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(keep)) != 0 || lseek(fd, 0, SEEK_END) < 0) {
        CommandError("--out " + options.out + ": cannot be written: " + SafeErrorText(errno));
        if (fd >= 0) {
            close(fd);
        }
        return kExitUsage;
    }
    FILE* out = fdopen(fd, "w");
    if (out == nullptr) {
        CommandError("--out " + options.out + ": cannot be written: " + SafeErrorText(errno));
        close(fd);
        return kExitUsage;
    }
    if (keep == 0) {
        std::fputs(SweepHeaderText(plan.layout).c_str(), out);
        std::fflush(out);
    }

    const SweepSettings settings{options.inputs.mergeSeconds, options.inputs.threads, options.folds};
    const SweepRow base = SweepEvaluate(data, plan.base, -1, settings);
    if (plan.objective.kind == ObjectiveKind::SensitivityAtBase) {
        plan.objective.limit = base.all.falseAlarmsPerHour;
    }
    ObjectiveBest best{false, {}};
    for (const SweepPoint& p : earlier) {
        ObjectiveOffer(plan.objective, &best, p);
    }

    Progress progress;
    ProgressStart(&progress, "configurations", static_cast<uint64_t>(plan.count - first), !options.quiet);
    int64_t refused = 0;
    int64_t done = 0;
    std::string firstRefusal;
    int writeError = 0;
    SweepRun(data, plan.space, plan.base, first, plan.count - first, settings, &progress, [&](const SweepRow& row) {
        ++done;
        if (row.refused) {
            if (refused++ == 0) {
                firstRefusal = fmt::format("configuration {}: {}", row.index, row.refusal);
            }
            return true;
        }
        const std::string text = SweepRowText(plan.layout, plan.varied, row);
        std::fwrite(text.data(), 1, text.size(), out);
        if (std::fflush(out) != 0) {
            writeError = errno;
            return false;
        }
        const SweepPoint p = PointOf(row, plan.varied);
        ParetoAdd(&front, p);
        ObjectiveOffer(plan.objective, &best, p);
        return true;
    });
    ProgressEnd(progress);
    std::string reason;
    if (!SafeCloseOutput(out, writeError, &reason)) {
        CommandError("--out " + options.out + ": not written completely: " + reason +
                     "; the rows written so far are kept (continue with --resume)");
        return kExitUsage;
    }
    if (refused > 0) {
        CommandError(
            fmt::format("{} configurations refused by the detector and skipped, e.g. {}", refused, firstRefusal));
    }
    if (!options.quiet) {
        PrintSummary(plan, base, front, best, done, refused, ProgressSeconds(progress), progress.samples);
    }
    if (best.found) {
        const TumblewatchConfig cfg = SweepConfig(plan.space, plan.base, best.point.index);
        if (!options.quiet) {
            std::string sets;
            for (const std::string& c : ConfigChanges(cfg)) {
                sets += " --set " + c;
            }
            fmt::print("  as options:{}\n", sets.empty() ? " (the defaults)" : sets);
        }
        if (!options.best.empty() &&
            !ReportWriteFile(options.best,
                             ConfigToToml(cfg, fmt::format("tumblewatch sweep {}: configuration {} (objective {})",
                                                           plan.layout.id, best.point.index, plan.objective.text)),
                             &error)) {
            CommandError(error);
            return kExitUsage;
        }
    } else if (!options.best.empty()) {
        CommandError("--best: no configuration qualifies under the objective; nothing written");
    }
    std::string page;
    if (!options.html.empty() &&
        (!HtmlSweepPage(options.out, &base, &page, &error) || !ReportWriteFile(options.html, page, &error))) {
        CommandError(error);
        return kExitUsage;
    }
    std::fflush(stdout);
    return data.failures.empty() ? kExitOk : kExitUnreadable;
}
