// The subcommands of the tumblewatch program: each adds its options to the
// command line and runs once it is parsed.
#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

#include <CLI/CLI.hpp>
#include <string>
#include <utility>
#include <vector>

#include "config.h"
#include "load_inputs.h"
#include "sweep_plan.h"

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitRequirement = 1;  // a --require was not met
constexpr int kExitUsage = 2;        // usage or configuration error: nothing was evaluated
constexpr int kExitUnreadable = 3;   // some recording could not be read (or traced)

// Prints "tumblewatch: MESSAGE" on standard error.
void CommandError(const std::string& message);

// The options that choose a configuration: --config FILE and --set
// NAME=VALUE (repeatable, applied after the file).
void CommandAddConfigOptions(CLI::App* command, ConfigSource* source);

// The options of eval and sweep that name what they run on: PATH...,
// --labels, --config, --set, -j and --merge.
void CommandAddInputOptions(CLI::App* command, InputOptions* options);

// An output file's folder must exist and be writable before any work;
// an empty path is fine.
bool CommandCheckWritable(const std::string& option, const std::string& path, std::string* error);

// An --html FILE (or another output) must not be one of the files a
// command reads: false with a message when path names the same file as one
// of inputs (by identity when both exist, else by their absolute paths).
bool CommandCheckNotInput(const std::string& option, const std::string& path, const std::vector<std::string>& inputs,
                          std::string* error);

// Outputs given as (option, path) pairs must name different files (empty
// paths are left out): false with a message naming the two options.
bool CommandCheckDistinctOutputs(const std::vector<std::pair<std::string, std::string>>& outputs, std::string* error);

struct ParamsOptions {
    ConfigSource config;
};
CLI::App* CommandParamsAdd(CLI::App* app, ParamsOptions* options);
int CommandParamsRun(const ParamsOptions& options);

struct EvalOptions {
    InputOptions inputs;
    std::string json;
    std::string csv;
    std::string traces;
    std::string html;
    std::vector<std::string>
    requires;
    bool quiet = false;
};
CLI::App* CommandEvalAdd(CLI::App* app, EvalOptions* options);
int CommandEvalRun(const EvalOptions& options);

struct SweepOptions {
    SweepRequest request;
    std::string out;
    bool resume = false;
    std::string best;
    std::string html;
    std::string summary;
    bool quiet = false;
};
CLI::App* CommandSweepAdd(CLI::App* app, SweepOptions* options);
int CommandSweepRun(const SweepOptions& options);

struct PlotOptions {
    std::string recording;
    std::string labels;
    ConfigSource config;
    double mergeSeconds = kDefaultMergeSeconds;
    std::string html;
};
CLI::App* CommandPlotAdd(CLI::App* app, PlotOptions* options);
int CommandPlotRun(const PlotOptions& options);

struct ReportOptions {
    std::string sweep;
    std::string html;
    std::string summary;  // the sweep's --summary file, for the nested selection; empty for none
};
CLI::App* CommandReportAdd(CLI::App* app, ReportOptions* options);
int CommandReportRun(const ReportOptions& options);

#endif
