// The subcommands of the tumblewatch program: each adds its options to the
// command line and runs once it is parsed.
#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

#include <fmt/core.h>
#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config.h"
#include "eval_intervals.h"
#include "file_rules.h"
#include "load_inputs.h"
#include "scan.h"
#include "sweep_plan.h"
#include "sweep_summary.h"

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitRequirement = 1;  // a --require was not met
constexpr int kExitUsage = 2;        // usage or configuration error: nothing was evaluated
constexpr int kExitUnreadable = 3;   // some recording could not be read (or traced)

// Prints "tumblewatch: MESSAGE" on standard error, made fit for a
// terminal (CommandTerminalText).
void CommandError(const std::string& message);

// text fit for a terminal: control bytes (and the C1 controls of UTF-8)
// written as escapes ("\n", "\x1b", "\u009b"), every run of more than
// 160 bytes without a space shortened to its start and end around "...",
// and the whole at most about 4,000 bytes.
std::string CommandTerminalText(const std::string& text);

// text split at spaces into lines of at most width bytes (a longer word
// stands alone on its line).
std::vector<std::string> CommandWrap(const std::string& text, std::size_t width);

// Writes text to standard output; a failure is noted for
// CommandFinishOutput (nothing is thrown).
void CommandPrint(const std::string& text);

// Formats with {fmt} and writes the text as CommandPrint does.
template <typename... Args>
void CommandPrintFormat(fmt::format_string<Args...> format, Args&&... args)
{
    CommandPrint(fmt::format(format, std::forward<Args>(args)...));
}

// Makes sure file descriptors 0, 1 and 2 are open, so that no file the
// program opens takes their place: a closed one is replaced by /dev/null,
// opened so that writes to standard output still fail (and are reported).
void CommandGuardStandardStreams();

// Flushes standard output. When a write to it failed, reports that once on
// standard error and returns kExitUsage; else status.
int CommandFinishOutput(int status);

// Checks a command's outputs against what it reads (FilesCheckOutputs).
// False with the message printed.
bool CommandCheckOutputs(const std::vector<FilesOutput>& outputs, const FilesReads& reads);

// Writes an output through a FilesWriter: write writes its text to the
// sink it is given. False with the message printed when it cannot be
// written (nothing is left of it then).
bool CommandWriteOutput(const std::string& path, const std::function<void(const TextSink&)>& write);

// The options that choose a configuration: --config FILE and --set
// NAME=VALUE (repeatable, applied after the file).
void CommandAddConfigOptions(CLI::App* command, ConfigSource* source);

// The options of eval and sweep that name what they run on: PATH...,
// --labels, --config, --set, -j and --merge.
void CommandAddInputOptions(CLI::App* command, InputOptions* options);

// --labels FILE, repeatable: the first manifest into *first, the others
// into *more, in the order given.
void CommandAddLabelsOption(CLI::App* command, std::string* first, std::vector<std::string>* more);

// --before SECONDS and --after SECONDS: the margins of a timed fall's window.
void CommandAddWindowOptions(CLI::App* command, FallWindowSettings* window);

// A validator of an integer option: MIN or more (and at most MAX when MAX
// is given), said as people say it.
CLI::Validator CommandIntRange(int64_t min, int64_t max = INT64_MAX);

// A validator of --merge: a finite number of seconds, 0 or more.
CLI::Validator CommandSeconds();

// A validator of --seed: a whole number from 0 to 18446744073709551615.
CLI::Validator CommandSeed();

// A validator of --confidence: a number strictly between 0 and 1.
CLI::Validator CommandConfidence();

// The options of the intervals: --confidence LEVEL, --bootstrap N and, when
// seed, --seed S (a command with a seed of its own leaves it out and sets
// settings->seed itself).
void CommandAddIntervalOptions(CLI::App* command, IntervalSettings* settings, bool seed);

// A validator of a file's name: not empty.
CLI::Validator CommandFileName();

struct ParamsOptions {
    ConfigSource config;
    std::string scan;  // a scan's --json file: its ranking becomes a column; empty for none
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
    IntervalSettings intervals = IntervalDefaultSettings();
    std::string list;  // --list: N, all, missed, alarms or none; empty for the default
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
    // The intervals' level and the nested selection's bootstrap resamples
    // (its seed is --seed's).
    IntervalSettings intervals{kIntervalDefaultConfidence, kSweepNestedResamples, 1};
};
CLI::App* CommandSweepAdd(CLI::App* app, SweepOptions* options);
int CommandSweepRun(const SweepOptions& options);

struct PlotOptions {
    std::string recording;
    std::string labels;
    std::vector<std::string> moreLabels;  // --labels given again
    FallWindowSettings window;
    ConfigSource config;
    double mergeSeconds = kDefaultMergeSeconds;
    std::string html;
};
CLI::App* CommandPlotAdd(CLI::App* app, PlotOptions* options);
int CommandPlotRun(const PlotOptions& options);

struct ImportOptions {
    std::string dataset;
    std::string rawDir;
    std::string outDir;
    std::string format = "bin";
    int threads = 1;
    std::string axes;
    bool quiet = false;
    std::string annotations;  // sisfall only: the per-sample annotation's folder
    bool annotate = false;    // annotate an import: RAW_DIR is its manifest, OUT_DIR the new one
    // csv only
    std::string columns;
    std::string delimiter = ",";
    int skip = 0;
    std::string accelUnit = "g";
    std::string gyroUnit = "dps";
    double rate = 0;
    std::string timeUnit;
    std::string files = "*.csv";
    std::vector<std::string> fall;
    std::vector<std::string> adl;
    std::string subject;
    std::string trial;
    std::string activity;
    const CLI::App* command = nullptr;  // to tell which options were given
};
CLI::App* CommandImportAdd(CLI::App* app, ImportOptions* options);
int CommandImportRun(const ImportOptions& options);

struct ReportOptions {
    std::string sweep;
    std::string html;
    std::string summary;  // the sweep's --summary file, for the nested selection; empty for none
};
CLI::App* CommandReportAdd(CLI::App* app, ReportOptions* options);
int CommandReportRun(const ReportOptions& options);

// What scan and explain share: the parameters scanned and their values.
struct ScanOptions {
    InputOptions inputs;
    std::vector<std::string> params;  // names; empty for every parameter a stage reads
    std::vector<std::string> steps;   // "NAME=STEP"
    int maxValues = kScanDefaultMaxValues;
    std::string json;
    std::string html;
    bool quiet = false;
};
CLI::App* CommandScanAdd(CLI::App* app, ScanOptions* options);
int CommandScanRun(const ScanOptions& options);

struct ExplainOptions {
    ScanOptions scan;
    std::string list = "10";  // cases listed on the terminal: a number or "all"
};
CLI::App* CommandExplainAdd(CLI::App* app, ExplainOptions* options);
int CommandExplainRun(const ExplainOptions& options);

// Adds the options that scan and explain share to command.
void CommandAddScanOptions(CLI::App* command, ScanOptions* options);

// Builds the base configuration, checks the parameters and the outputs
// and loads the labelled recordings with their front ends, for a scan or
// an explanation (what: "scan", "explain"). Prints what loading left out.
// Returns kExitOk when the work can start, else the status to exit with
// (the message printed).
int CommandScanPrepare(const ScanOptions& options, const std::string& what, TumblewatchConfig* base, Manifest* manifest,
                       InputSet* inputs, SweepData* data, ScanPlan* plan);

struct LiveOptions {
    std::vector<std::string> sources;
    std::string format;
    std::string session;
    bool noRecord = false;
    bool json = false;
    double idleSeconds = 0;
    int threads = 2;
    int queueSamples = 1000;
    int baud = 115200;
    std::string framing = "8N1";
    int deviceLevel = -1;
    std::string share;
    std::string publish;
    std::string mqttUser;
    std::string mqttPasswordFile;
    std::string mqttCaFile;
    std::string mqttCaPath;
    std::string mqttCert;
    std::string mqttKey;
    bool mqttInsecure = false;
    bool quiet = false;
    ConfigSource config;
};
CLI::App* CommandLiveAdd(CLI::App* app, LiveOptions* options);
int CommandLiveRun(const LiveOptions& options);

#endif
