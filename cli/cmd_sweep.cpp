// tumblewatch sweep: many configurations over the same labelled
// recordings, each row written as soon as it is known, with the Pareto
// front, the best configuration and the nested selection at the end.
#include <filesystem>

#include "commands.h"
#include "sweep_results.h"
#include "sweep_rows_file.h"
#include "sweep_session.h"
#include "sweep_summary_text.h"

namespace fs = std::filesystem;

namespace {

// The sweep's plan, and its outputs checked before any work: writable,
// none of them a file the sweep reads, no two of them the same.
bool Plan(const SweepOptions& options, SweepPlan* plan, std::string* error)
{
    if (!SweepPlanMake(options.request, plan, error)) {
        return false;
    }
    const std::vector<std::string> read = SweepPlanInputFiles(options.request, *plan);
    std::vector<std::string> readOrRows = read;
    readOrRows.push_back(options.out);
    const std::pair<const char*, const std::string*> results[] = {
        {"--best", &options.best}, {"--html", &options.html}, {"--summary", &options.summary}};
    if (!CommandCheckWritable("--out", options.out, error) ||
        !CommandCheckNotInput("--out", options.out, read, error)) {
        return false;
    }
    for (const auto& [option, path] : results) {
        if (!CommandCheckWritable(option, *path, error) || !CommandCheckNotInput(option, *path, readOrRows, error)) {
            return false;
        }
    }
    return CommandCheckDistinctOutputs(
        {{"--best", options.best}, {"--html", options.html}, {"--summary", options.summary}}, error);
}

// What an earlier run left in --out: nothing when the file is new or
// empty. False with a message for an existing file without --resume, or
// one that holds another sweep.
bool Earlier(const SweepOptions& options, const SweepPlan& plan, SweepResumeState* earlier, std::string* error)
{
    std::error_code ec;
    const bool exists = fs::exists(options.out, ec) && fs::file_size(options.out, ec) > 0;
    if (exists && !options.resume) {
        *error = "--out " + options.out + " exists: continue it with --resume, or give another file";
        return false;
    }
    return !exists || SweepResumeRead(options.out, plan, earlier, error);
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
    command->add_option("--folds", options->request.folds,
                        "K: held-out subjects in K groups; each group's best configuration is chosen on the others");
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
    command->add_option("--summary", options->summary,
                        "write the front, the best configuration and the nested selection as JSON");
    command->add_flag("-q,--quiet", options->quiet, "no summary and no progress on the terminal");
    return command;
}

int CommandSweepRun(const SweepOptions& options)
{
    std::string error;
    SweepPlan plan{};
    SweepResumeState earlier{{}, 0, 0};
    if (!Plan(options, &plan, &error) || !Earlier(options, plan, &earlier, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    const SweepSessionOptions run{true, !options.quiet};
    SweepSession session{};
    const bool started = SweepSessionStart(plan, options.request, earlier.rows, run, &session, &error);
    for (const std::string& f : session.data.failures) {
        CommandError(f);
    }
    if (!started) {
        CommandError(error);
        return kExitUsage;
    }

    SweepRowsFile rows{};
    if (!SweepRowsOpen(options.out, earlier.keep, plan.layout, &rows, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    SweepSessionRun(plan, options.request, earlier.next, run, &session, [&](const SweepRow& row) {
        return row.refused || SweepRowsAppend(&rows, SweepRowText(plan.layout, plan.varied, row));
    });
    std::string reason;
    if (!SweepRowsClose(&rows, &reason)) {
        CommandError("--out " + options.out + ": not written completely: " + reason +
                     "; the rows written so far are kept (continue with --resume)");
        return kExitUsage;
    }
    if (session.refusedNow > 0) {
        CommandError(std::to_string(session.refusedNow) + " configurations refused by the detector and skipped, e.g. " +
                     session.firstRefusal);
    }
    if (!options.quiet) {
        SweepPrintSummary(plan, session);
    }
    if (!SweepWriteResults(options, plan, session)) {
        return kExitUsage;
    }
    std::fflush(stdout);
    return session.data.failures.empty() ? kExitOk : kExitUnreadable;
}
