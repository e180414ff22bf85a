// tumblewatch: evaluates and tunes the fall detector on labelled
// recordings.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "commands.h"
#include "tumblewatch.h"

int main(int argc, char** argv)
{
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

    std::string names;
    bool known = false;
    for (const CLI::App* command : app.get_subcommands({})) {
        names += (names.empty() ? "" : ", ") + command->get_name();
        known = known || (argc > 1 && command->get_name() == argv[1]);
    }
    if (argc > 1 && argv[1][0] != '-' && !known) {
        std::fprintf(stderr, "tumblewatch: unknown command '%s' (the commands: %s; see --help)\n", argv[1],
                     names.c_str());
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    if (paramsCommand->parsed()) {
        return CommandParamsRun(params);
    }
    if (evalCommand->parsed()) {
        return CommandEvalRun(eval);
    }
    if (sweepCommand->parsed()) {
        return CommandSweepRun(sweep);
    }
    if (plotCommand->parsed()) {
        return CommandPlotRun(plot);
    }
    if (reportCommand->parsed()) {
        return CommandReportRun(report);
    }
    if (importCommand->parsed()) {
        return CommandImportRun(import);
    }
    return kExitUsage;
}
