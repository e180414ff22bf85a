// tumblewatch params: the detector's parameters with their default and
// effective values.
#include <fmt/core.h>

#include "commands.h"
#include "params.h"
#include "scan_json.h"

void CommandAddConfigOptions(CLI::App* command, ConfigSource* source)
{
    command->add_option("--config", source->file, "TOML file of 'name = value' lines")->check(CommandFileName());
    command->add_option("--set", source->settings, "NAME=VALUE, repeatable; applied after --config")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
}

CLI::App* CommandParamsAdd(CLI::App* app, ParamsOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "params", "List the 35 parameters: default and effective values, and the stages that read each");
    CommandAddConfigOptions(command, &options->config);
    command->add_option("--scan", options->scan, "a tumblewatch scan's --json file: adds its ranking as a column")
        ->check(CommandFileName());
    return command;
}

int CommandParamsRun(const ParamsOptions& options)
{
    TumblewatchConfig cfg;
    std::string error;
    if (!ConfigBuild(options.config, &cfg, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    // The scan's rank of each parameter (0: not scanned).
    std::vector<int> rank(kTumblewatchParamCount, 0);
    if (!options.scan.empty()) {
        std::string text;
        std::vector<std::pair<std::string, int>> ranking;
        if (!FilesReadText(options.scan, &text, &error) || !ScanJsonRanking(text, &ranking, &error)) {
            CommandError("--scan " + options.scan + ": " + error);
            return kExitUsage;
        }
        for (const auto& [name, r] : ranking) {
            rank[static_cast<std::size_t>(TumblewatchParamIndex(name.c_str()))] = r;
        }
    }
    const bool ranked = !options.scan.empty();
    const std::string rankHead = ranked ? fmt::format("{:>4}  ", "rank") : std::string();
    constexpr std::size_t kMeaningWidth = 42;
    const std::size_t indent = 57 + rankHead.size();
    CommandPrint(fmt::format("{:>2}  {:<18} {:>7} {:>7}  {}{:<16} {}\n", "#", "name", "default", "value", rankHead,
                             "unit", "meaning"));
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const TumblewatchParam& p = TumblewatchParams()[i];
        const int32_t value = TumblewatchParamGet(&cfg, i);
        std::vector<std::string> meaning = CommandWrap(p.meaning, kMeaningWidth);
        if (p.read) {
            for (const std::string& line : CommandWrap(std::string("Read by ") + p.stages + ".", kMeaningWidth)) {
                meaning.push_back(line);
            }
        }
        const std::string rankText =
            !ranked ? std::string()
                    : fmt::format("{:>4}  ", rank[static_cast<std::size_t>(i)] > 0
                                                 ? std::to_string(rank[static_cast<std::size_t>(i)])
                                                 : std::string("-"));
        CommandPrint(fmt::format("{:>2}  {:<18} {:>7} {:>6}{}  {}{:<16} {}\n", i, p.name, p.defaultValue, value,
                                 value != p.defaultValue ? "*" : " ", rankText, p.unit,
                                 meaning.empty() ? "" : meaning[0]));
        for (std::size_t k = 1; k < meaning.size(); ++k) {
            CommandPrint(fmt::format("{:{}}{}\n", "", indent, meaning[k]));
        }
    }
    CommandPrint("\n* differs from the default.\n");
    CommandPrint("A sweep may vary any parameter that a stage reads, none of the ten that none reads.\n");
    if (ranked) {
        CommandPrint("rank: how far the parameter alone moved the front in the scan " +
                     CommandTerminalText(options.scan) + " (1: most; -: not scanned).\n");
    }
    return kExitOk;
}
