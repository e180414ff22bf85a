// tumblewatch params: the detector's parameters with their default and
// effective values.
#include <fmt/core.h>

#include "commands.h"
#include "params.h"

void CommandError(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tumblewatch: %s\n", message.c_str());
}

void CommandAddConfigOptions(CLI::App* command, ConfigSource* source)
{
    command->add_option("--config", source->file, "TOML file of 'name = value' lines")->check(CLI::ExistingFile);
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

namespace {

// Splits text into lines of at most width characters at spaces.
std::vector<std::string> Wrap(const std::string& text, std::size_t width)
{
    std::vector<std::string> lines;
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

int CommandParamsRun(const ParamsOptions& options)
{
    TumblewatchConfig cfg;
    std::string error;
    if (!ConfigBuild(options.config, &cfg, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    constexpr std::size_t kMeaningWidth = 42;
    fmt::print("{:>2}  {:<18} {:>7} {:>7}  {:<16} {}\n", "#", "name", "default", "value", "unit", "meaning");
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const TumblewatchParam& p = TumblewatchParams()[i];
        const int32_t value = TumblewatchParamGet(&cfg, i);
        std::vector<std::string> meaning = Wrap(p.meaning, kMeaningWidth);
        if (p.read) {
            for (const std::string& line : Wrap(std::string("Read by ") + p.stages + ".", kMeaningWidth)) {
                meaning.push_back(line);
            }
        }
        fmt::print("{:>2}  {:<18} {:>7} {:>6}{}  {:<16} {}\n", i, p.name, p.defaultValue, value,
                   value != p.defaultValue ? "*" : " ", p.unit, meaning.empty() ? "" : meaning[0]);
        for (std::size_t k = 1; k < meaning.size(); ++k) {
            fmt::print("{:57}{}\n", "", meaning[k]);
        }
    }
    fmt::print("\n* differs from the default.\n");
    fmt::print("A sweep may vary any parameter that a stage reads, none of the ten that none reads.\n");
    return kExitOk;
}
