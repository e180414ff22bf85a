// tumblewatch sweep: many configurations over the same labelled
// recordings, each row written as soon as it is known, with the Pareto
// front, the best configuration and the nested selection at the end.
#include <fmt/core.h>

#include <filesystem>

#include "commands.h"
#include "sweep_results.h"
#include "sweep_rows_file.h"
#include "sweep_session.h"
#include "sweep_summary_text.h"

namespace fs = std::filesystem;

namespace {

// The sweep's plan, and its outputs checked before any work: --out against
// what the sweep reads, --best, --html and --summary against that and
// --out (which they follow and the page reads back). False with the
// message printed.
bool Plan(const SweepOptions& options, SweepPlan* plan)
{
    std::string error;
    if (!SweepPlanMake(options.request, plan, &error)) {
        CommandError(error);
        return false;
    }
    if (!SweepPlanCheckOutputs(
            options.request, *plan, options.out,
            {{"--best", options.best, true}, {"--html", options.html, true}, {"--summary", options.summary, true}},
            &error)) {
        CommandError(error);
        return false;
    }
    return true;
}

// Whether --out holds rows of an earlier run: false for a new or empty
// file; an existing one without --resume is refused (with the message
// printed).
bool Earlier(const SweepOptions& options, bool* exists)
{
    std::error_code ec;
    *exists = fs::exists(options.out, ec) && fs::file_size(options.out, ec) > 0;
    if (*exists && !options.resume) {
        CommandError("--out " + options.out + " exists: continue it with --resume, or give another file");
        return false;
    }
    return true;
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
    command
        ->add_option("--folds", options->request.folds,
                     "K (2 or more): held-out subjects in K groups; each group's best configuration is chosen on the "
                     "others")
        ->check(CommandIntRange(2));
    command
        ->add_option("--folds-by", options->request.foldsBy,
                     "the manifest column whose values the folds hold out: subject, or dataset, or any other")
        ->type_name("COLUMN")
        ->capture_default_str();
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
    command
        ->add_option("--summary", options->summary,
                     "write the front, the best configuration and the nested selection as JSON")
        ->check(CommandFileName());
    command
        ->add_option("--confidence", options->intervals.confidence, "confidence level of every interval (default 0.95)")
        ->check(CommandConfidence());
    command
        ->add_option("--bootstrap", options->intervals.bootstrap,
                     fmt::format("resamples of the nested selection's bootstrap over subjects, seeded with --seed (1 "
                                 "to {}; default {})",
                                 kIntervalMaxResamples, kSweepNestedResamples))
        ->check(CommandIntRange(1, kIntervalMaxResamples));
    command->add_flag("-q,--quiet", options->quiet, "no summary and no progress on the terminal");
    return command;
}

int CommandSweepRun(const SweepOptions& options)
{
    std::string error;
    SweepPlan plan{};
    bool exists = false;
    if (!Plan(options, &plan) || !Earlier(options, &exists)) {
        return kExitUsage;
    }
    const SweepSessionOptions run{true, !options.quiet, options.intervals};
    SweepSession session{};
    const bool started = SweepSessionStart(&plan, options.request, run, &session, &error);
    for (const std::string& f : session.data.failures) {
        CommandError(f);
    }
    for (const std::string& e : session.data.empty) {
        CommandError(e + ": no samples; left out");
    }
    for (const InputSkipped& s : plan.inputs.skipped) {
        if (s.failed) {
            CommandError(s.path + ": skipped: " + s.reason);
        }
    }
    if (!started) {
        CommandError(error);
        return kExitUsage;
    }
    // The earlier rows are read once the identifier, which covers the
    // recordings' content, is known.
    SweepResumeState earlier{{}, 0, 0};
    if (exists && !SweepResumeRead(options.out, plan, &earlier, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    SweepSessionResume(plan, earlier.rows, &session);

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
    // A result written to standard output is not mixed with the summary.
    if (!options.quiet && options.best != "-" && options.html != "-" && options.summary != "-") {
        CommandPrint(SweepSummaryText(plan, session.summary,
                                      SweepRunFigures{"tumblewatch sweep", "configuration", plan.count, session.runNow,
                                                      session.refusedNow, session.seconds, session.samples}));
    }
    if (!SweepWriteResults(options, plan, session)) {
        return kExitUsage;
    }
    return session.data.failures.empty() && !InputsSkippedFailed(plan.inputs) ? kExitOk : kExitUnreadable;
}
