// The subcommands of the tumblewatch program: each adds its options to the
// command line and runs once it is parsed.
#ifndef WORKBENCH_COMMANDS_H
#define WORKBENCH_COMMANDS_H

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "config.h"
#include "metrics.h"

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

struct ParamsOptions {
    ConfigSource config;
};
CLI::App* CommandParamsAdd(CLI::App* app, ParamsOptions* options);
int CommandParamsRun(const ParamsOptions& options);

struct EvalOptions {
    std::vector<std::string> paths;
    std::string labels;
    ConfigSource config;
    int threads;
    double mergeSeconds = kDefaultMergeSeconds;
    std::string json;
    std::string csv;
    std::string traces;
    std::vector<std::string>
    requires;
    bool quiet = false;
};
CLI::App* CommandEvalAdd(CLI::App* app, EvalOptions* options);
int CommandEvalRun(const EvalOptions& options);

#endif
