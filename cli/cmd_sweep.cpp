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
#include "report.h"
#include "safe_files.h"
#include "sweep_plan.h"
#include "sweep_summary.h"

namespace fs = std::filesystem;

namespace {

// The sweep's plan, and its outputs checked before any work.
bool Plan(const SweepOptions& options, SweepPlan* plan, std::string* error)
{
    if (!SweepPlanMake(options.request, plan, error)) {
        return false;
    }
    const std::vector<std::string> read = SweepPlanInputFiles(options.request, *plan);
    std::vector<std::string> readOrRows = read;
    readOrRows.push_back(options.out);
    return CommandCheckWritable("--out", options.out, error) && CommandCheckWritable("--best", options.best, error) &&
           CommandCheckWritable("--html", options.html, error) &&
           CommandCheckNotInput("--out", options.out, read, error) &&
           CommandCheckNotInput("--best", options.best, readOrRows, error) &&
           CommandCheckNotInput("--html", options.html, readOrRows, error);
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
        ->check(CLI::PositiveNumber);
    command->add_option("--range", options->request.ranges, "NAME=LO:HI for --random (repeatable)")
        ->type_name("NAME=VALUES")
        ->allow_extra_args(false);
    command->add_option("--seed", options->request.seed, "seed of the random draws")->capture_default_str();
    command->add_option("--max-configs", options->request.maxConfigs, "refuse a sweep of more configurations")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    command->add_option("--folds", options->request.folds, "K: held-out subjects in K groups");
    command->add_option("--out", options->out, "the rows, one per configuration (required)")->required();
    command->add_option("--format", options->request.format, "csv or jsonl")
        ->check(CLI::IsMember({"csv", "jsonl"}))
        ->capture_default_str();
    command->add_flag("--resume", options->resume, "continue the sweep whose rows --out holds");
    command->add_option("--objective", options->request.objective,
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
    const uint64_t keep = earlier.keep;

    SweepData data{};
    SweepLoad(plan.inputs, SweepPlanManifest(options.request, plan), options.request.inputs.threads, &data);
    for (const std::string& f : data.failures) {
        CommandError(f);
    }
    if (data.recordings.empty()) {
        CommandError("no labelled recording could be read: nothing to sweep");
        return kExitUsage;
    }
    SweepAssignFolds(&data, options.request.folds);

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
        const SweepPoint p = SweepPointOf(row, plan.varied);
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
        SweepPrintSummary(plan, base, front, best, done, refused, ProgressSeconds(progress), progress.samples);
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
