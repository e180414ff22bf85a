// tumblewatch params: the detector's parameters with their default and
// effective values.
#include <fmt/core.h>

#include "commands.h"
#include "params.h"

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
    constexpr std::size_t kMeaningWidth = 42;
    CommandPrint(
        fmt::format("{:>2}  {:<18} {:>7} {:>7}  {:<16} {}\n", "#", "name", "default", "value", "unit", "meaning"));
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const TumblewatchParam& p = TumblewatchParams()[i];
        const int32_t value = TumblewatchParamGet(&cfg, i);
        std::vector<std::string> meaning = CommandWrap(p.meaning, kMeaningWidth);
        if (p.read) {
            for (const std::string& line : CommandWrap(std::string("Read by ") + p.stages + ".", kMeaningWidth)) {
                meaning.push_back(line);
            }
        }
        CommandPrint(fmt::format("{:>2}  {:<18} {:>7} {:>6}{}  {:<16} {}\n", i, p.name, p.defaultValue, value,
                                 value != p.defaultValue ? "*" : " ", p.unit, meaning.empty() ? "" : meaning[0]));
        for (std::size_t k = 1; k < meaning.size(); ++k) {
            CommandPrint(fmt::format("{:57}{}\n", "", meaning[k]));
        }
    }
    CommandPrint("\n* differs from the default.\n");
    CommandPrint("A sweep may vary any parameter that a stage reads, none of the ten that none reads.\n");
    return kExitOk;
}
