// tumblewatch: evaluates and tunes the fall detector on labelled
// recordings.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <string>

#include "commands.h"
#include "tumblewatch.h"

namespace {

// Runs the command that was parsed.
int Run(const CLI::App* const commands[], const std::function<int()> runs[], std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (commands[i]->parsed()) {
            return runs[i]();
        }
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    CommandGuardStandardStreams();
    CLI::App app{
        "tumblewatch: evaluate and tune the fall detector on labelled recordings, see what it did, and bring\n"
        "public datasets in.\n"
        "Exit status: 0 done (every --require met), 1 a --require not met, 2 a usage or\n"
        "configuration error (nothing evaluated or imported), 3 some recording could not be read (or\n"
        "some raw file not imported).",
        "tumblewatch"};
    app.set_version_flag("--version", TumblewatchVersion());
    app.require_subcommand(1, 1);
    app.fallthrough(false);

    ParamsOptions params;
    const CLI::App* paramsCommand = CommandParamsAdd(&app, &params);
    EvalOptions eval;
    const CLI::App* evalCommand = CommandEvalAdd(&app, &eval);
    SweepOptions sweep;
    const CLI::App* sweepCommand = CommandSweepAdd(&app, &sweep);
    PlotOptions plot;
    const CLI::App* plotCommand = CommandPlotAdd(&app, &plot);
    ReportOptions report;
    const CLI::App* reportCommand = CommandReportAdd(&app, &report);
    ImportOptions import;
    const CLI::App* importCommand = CommandImportAdd(&app, &import);
    LiveOptions live;
    const CLI::App* liveCommand = CommandLiveAdd(&app, &live);

    std::string names;
    bool known = false;
    for (const CLI::App* command : app.get_subcommands({})) {
        names += (names.empty() ? "" : ", ") + command->get_name();
        known = known || (argc > 1 && command->get_name() == argv[1]);
    }
    if (argc > 1 && argv[1][0] != '-' && !known) {
        CommandError(std::string("unknown command '") + argv[1] + "' (the commands: " + names + "; see --help)");
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return CommandFinishOutput(app.exit(e));
    } catch (const CLI::CallForAllHelp& e) {
        return CommandFinishOutput(app.exit(e));
    } catch (const CLI::CallForVersion& e) {
        return CommandFinishOutput(app.exit(e));
    } catch (const CLI::ParseError& e) {
        std::fflush(stdout);
        CommandError(e.what());
        std::fputs("Run with --help for more information.\n", stderr);
        return kExitUsage;
    }
    const CLI::App* const commands[] = {paramsCommand, evalCommand,   sweepCommand, plotCommand,
                                        reportCommand, importCommand, liveCommand};
    const std::function<int()> runs[] = {
        [&] { return CommandParamsRun(params); }, [&] { return CommandEvalRun(eval); },
        [&] { return CommandSweepRun(sweep); },   [&] { return CommandPlotRun(plot); },
        [&] { return CommandReportRun(report); }, [&] { return CommandImportRun(import); },
        [&] { return CommandLiveRun(live); }};
    int status = kExitUsage;
    try {
        status = Run(commands, runs, sizeof commands / sizeof commands[0]);
    } catch (const std::bad_alloc&) {
        CommandError("out of memory; nothing more was done");
        return CommandFinishOutput(kExitUsage);
    } catch (const std::exception& e) {
        CommandError(std::string("stopped by an unexpected error: ") + e.what());
        return CommandFinishOutput(kExitUsage);
    }
    return CommandFinishOutput(status);
}
