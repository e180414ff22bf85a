// tumblewatch sweep: many configurations over the same labelled
// recordings, each row written as soon as it is known, with the Pareto
// front and the best configuration at the end.
#include <fcntl.h>
#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "html_reports.h"
#include "safe_files.h"
#include "sweep_plan.h"
#include "sweep_summary.h"

namespace fs = std::filesystem;

namespace {

// The sweep's plan, and its outputs checked before any work: --out against
// what the sweep reads, --best and --html against that and --out (which
// they follow and the page reads back).
bool Plan(const SweepOptions& options, SweepPlan* plan)
{
    std::string error;
    if (!SweepPlanMake(options.request, plan, &error)) {
        CommandError(error);
        return false;
    }
    FilesReads reads = InputsReads(options.request.inputs, plan->inputs);
    if (!CommandCheckOutputs({{"--out", options.out, false}}, reads)) {
        return false;
    }
    reads.files.push_back(options.out);
    return CommandCheckOutputs({{"--best", options.best, true}, {"--html", options.html, true}}, reads);
}

// The output file opened for appending after its first keep bytes: a
// regular file (checked again now that it is open). Null with the message
// printed.
FILE* OpenRows(const std::string& path, uint64_t keep)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd, static_cast<off_t>(keep)) != 0 ||
        lseek(fd, 0, SEEK_END) < 0) {
        CommandError("--out " + path + ": cannot be written: " +
                     (fd >= 0 && !S_ISREG(st.st_mode) ? SafeNotRegularText(st.st_mode) : SafeErrorText(errno)));
        if (fd >= 0) {
            close(fd);
        }
        return nullptr;
    }
    FILE* out = fdopen(fd, "w");
    if (out == nullptr) {
        CommandError("--out " + path + ": cannot be written: " + SafeErrorText(errno));
        close(fd);
    }
    return out;
}

}  // namespace

CLI::App* CommandSweepAdd(CLI::App* app, SweepOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "sweep", "Evaluate many configurations: grids and random draws, held-out subjects, Pareto front");
    CommandAddInputOptions(command, &options->request.inputs);
    command
        ->add_option("--grid", options->request.grids, "NAME=LO:HI:STEP or NAME=V1,V2,... (repeatable; all combined)")
        ->type_name("NAME=VALUES")
        ->allow_extra_args(false);
    command->add_option("--random", options->request.random, "N configurations drawn from the --range values")
        ->check(CommandIntRange(1));
    command->add_option("--range", options->request.ranges, "NAME=LO:HI for --random (repeatable)")
        ->type_name("NAME=VALUES")
        ->allow_extra_args(false);
    command->add_option("--seed", options->request.seed, "seed of the random draws (0 to 2^64-1)")
        ->check(CommandSeed())
        ->capture_default_str();
    command->add_option("--max-configs", options->request.maxConfigs, "refuse a sweep of more configurations")
        ->check(CommandIntRange(1))
        ->capture_default_str();
    command->add_option("--folds", options->request.folds, "K: held-out subjects in K groups (2 or more)")
        ->check(CommandIntRange(2));
    command->add_option("--out", options->out, "the rows, one per configuration (required)")
        ->required()
        ->check(CommandFileName());
    command->add_option("--format", options->request.format, "csv or jsonl")
        ->check(CLI::IsMember({"csv", "jsonl"}))
        ->capture_default_str();
    command->add_flag("--resume", options->resume, "continue the sweep whose rows --out holds");
    command->add_option("--objective", options->request.objective,
                        "max:f1 or max:sensitivity@fa<=X (default: highest sensitivity with false alarms per "
                        "hour at most the base configuration's)");
    command->add_option("--best", options->best, "write the best configuration as a TOML file for --config")
        ->check(CommandFileName());
    command
        ->add_option("--html", options->html,
                     "write the scatter of every configuration (with --resume: all rows) as an HTML page")
        ->check(CommandFileName());
    command->add_flag("-q,--quiet", options->quiet, "no summary and no progress on the terminal");
    return command;
}

int CommandSweepRun(const SweepOptions& options)
{
    std::string error;
    SweepPlan plan{};
    if (!Plan(options, &plan)) {
        return kExitUsage;
    }
    std::error_code ec;
    const bool exists = fs::exists(options.out, ec) && fs::file_size(options.out, ec) > 0;
    if (exists && !options.resume) {
        CommandError("--out " + options.out + " exists: continue it with --resume, or give another file");
        return kExitUsage;
    }

    SweepData data{};
    SweepLoad(plan.inputs, SweepPlanManifest(options.request, plan), options.request.inputs.threads, &data);
    for (const std::string& f : data.failures) {
        CommandError(f);
    }
    for (const std::string& e : data.empty) {
        CommandError(e + ": no samples; left out");
    }
    for (const InputSkipped& s : plan.inputs.skipped) {
        if (s.failed) {
            CommandError(s.path + ": skipped: " + s.reason);
        }
    }
    if (data.recordings.empty()) {
        CommandError("no labelled recording could be read: nothing to sweep");
        return kExitUsage;
    }
    if (!SweepPlanIdentify(options.request, data, &plan, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    SweepResumeState earlier{{}, 0, 0};
    if (exists && !SweepResumeRead(options.out, plan, &earlier, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    ParetoFront front;
    for (const SweepPoint& p : earlier.points) {
        ParetoAdd(&front, p);
    }
    const int64_t first = earlier.next;
    SweepAssignFolds(&data, options.request.folds);

    // The output: continued after its last complete row, or begun.
    FILE* out = OpenRows(options.out, earlier.keep);
    if (out == nullptr) {
        return kExitUsage;
    }
    int writeError = 0;
    if (earlier.keep == 0) {
        const std::string header = SweepHeaderText(plan.layout);
        if (std::fwrite(header.data(), 1, header.size(), out) != header.size() || std::fflush(out) != 0) {
            writeError = errno;
        }
    }

    const SweepSettings settings{options.request.inputs.mergeSeconds, options.request.inputs.threads,
                                 options.request.folds};
    const SweepRow base = SweepEvaluate(data, plan.base, -1, settings);
    if (plan.objective.kind == ObjectiveKind::SensitivityAtBase) {
        plan.objective.limit = base.all.falseAlarmsPerHour;
    }
    ObjectiveBest best{false, {}};
    for (const SweepPoint& p : earlier.points) {
        ObjectiveOffer(plan.objective, &best, p);
    }

    Progress progress;
    ProgressStart(&progress, "configurations", static_cast<uint64_t>(plan.count - first), !options.quiet);
    int64_t refused = 0;
    int64_t done = 0;
    std::string firstRefusal;
    if (writeError == 0) {
        SweepRun(data, plan.space, plan.base, first, plan.count - first, settings, &progress, [&](const SweepRow& row) {
            ++done;
            if (row.refused) {
                if (refused++ == 0) {
                    firstRefusal = fmt::format("configuration {}: {}", row.index, row.refusal);
                }
                return true;
            }
            const std::string text = SweepRowText(plan.layout, plan.varied, row);
            if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) {
                writeError = errno != 0 ? errno : EIO;
                return false;
            }
            const SweepPoint p = SweepPointOf(row, plan.varied);
            ParetoAdd(&front, p);
            ObjectiveOffer(plan.objective, &best, p);
            return true;
        });
    }
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
    const bool summary = !options.quiet && options.best != "-" && options.html != "-";
    if (summary) {
        CommandPrint(
            SweepSummaryText(plan, base, front, best, done, refused, ProgressSeconds(progress), progress.samples));
    }
    bool written = true;
    if (best.found) {
        const TumblewatchConfig cfg = SweepConfig(plan.space, plan.base, best.point.index);
        if (summary) {
            std::string sets;
            for (const std::string& c : ConfigChanges(cfg)) {
                sets += " --set " + c;
            }
            CommandPrint(fmt::format("  as options:{}\n", sets.empty() ? " (the defaults)" : sets));
        }
        if (!options.best.empty()) {
            const std::string toml =
                ConfigToToml(cfg, fmt::format("tumblewatch sweep {}: configuration {} (objective {})", plan.layout.id,
                                              best.point.index, plan.objective.text));
            written &= CommandWriteOutput(options.best, [&toml](const TextSink& sink) { sink(toml); });
        }
    } else if (!options.best.empty()) {
        CommandError("--best: no configuration qualifies under the objective; nothing written");
    }
    if (!options.html.empty()) {
        std::string page;
        if (HtmlSweepPage(options.out, &base, &page, &error)) {
            written &= CommandWriteOutput(options.html, [&page](const TextSink& sink) { sink(page); });
        } else {
            CommandError(error);
            written = false;
        }
    }
    if (!written) {
        return kExitUsage;
    }
    return data.failures.empty() && !InputsSkippedFailed(plan.inputs) ? kExitOk : kExitUnreadable;
}
