// The options that eval and sweep share, and the checks of option values.
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "commands.h"
#include "evaluation.h"

namespace {

// text is a whole number (an optional '-', then digits only).
bool IsWholeNumber(const std::string& text)
{
    const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > start && text.find_first_not_of("0123456789", start) == std::string::npos;
}

}  // namespace

CLI::Validator CommandIntRange(int64_t min, int64_t max)
{
    const std::string range = max == INT64_MAX ? ", " + std::to_string(min) + " or more"
                                               : " from " + std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [min, max, range](std::string& text) {
            errno = 0;
            const long long value = IsWholeNumber(text) ? std::strtoll(text.c_str(), nullptr, 10) : 0;
            if (!IsWholeNumber(text) || errno == ERANGE || value < min || value > max) {
                return "'" + text + "': must be a whole number" + range;
            }
            return std::string();
        },
        "N");
}

CLI::Validator CommandSeconds()
{
    return CLI::Validator(
        [](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) || value < 0.0) {
                return "'" + text + "': must be a number of seconds, 0 or more";
            }
            return std::string();
        },
        "SECONDS");
}

CLI::Validator CommandSeed()
{
    return CLI::Validator(
        [](std::string& text) {
            errno = 0;
            const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
            if (digits) {
                std::strtoull(text.c_str(), nullptr, 10);
            }
            if (!digits || errno == ERANGE) {
                return "'" + text + "': must be a whole number from 0 to 18446744073709551615";
            }
            return std::string();
        },
        "0..2^64-1");
}

CLI::Validator CommandConfidence()
{
    return CLI::Validator(
        [](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (text.empty() || end != text.c_str() + text.size() || !IntervalConfidenceValid(value)) {
                return "'" + text + "': must be a confidence level between 0 and 1, such as 0.95";
            }
            return std::string();
        },
        "LEVEL");
}

void CommandAddIntervalOptions(CLI::App* command, IntervalSettings* settings, bool seed)
{
    command->add_option("--confidence", settings->confidence, "confidence level of every interval (default 0.95)")
        ->check(CommandConfidence());
    command
        ->add_option("--bootstrap", settings->bootstrap,
                     fmt::format("subject-level bootstrap intervals from N resamples (1 to {}; default none)",
                                 kIntervalMaxResamples))
        ->check(CommandIntRange(1, kIntervalMaxResamples));
    if (seed) {
        command->add_option("--seed", settings->seed, "seed of the bootstrap (0 to 2^64-1; default 1)")
            ->check(CommandSeed());
    }
}

CLI::Validator CommandFileName()
{
    // CLI11 hands validators a mutable string.
    // cppcheck-suppress constParameter
    return CLI::Validator([](std::string& text) { return text.empty() ? "the file name is empty" : std::string(); },
                          "FILE");
}

void CommandAddInputOptions(CLI::App* command, InputOptions* options)
{
    command->add_option("PATH", options->paths,
                        "recording, folder (searched recursively) or quoted pattern; optional with --labels");
    CommandAddLabelsOption(command, &options->labels, &options->moreLabels);
    CommandAddWindowOptions(command, &options->window);
    CommandAddConfigOptions(command, &options->config);
    options->threads = EvalHardwareThreads();
    command->add_option("-j,--jobs", options->threads, "worker threads (default: every hardware thread)")
        ->check(CommandIntRange(1, 1024))
        ->capture_default_str();
    command->add_option("--merge", options->mergeSeconds, "alarms closer than this many seconds are one event")
        ->check(CommandSeconds())
        ->capture_default_str();
}

void CommandAddLabelsOption(CLI::App* command, std::string* first, std::vector<std::string>* more)
{
    command
        ->add_option_function<std::vector<std::string>>(
            "--labels",
            [first, more](const std::vector<std::string>& files) {
                *first = files.front();
                more->assign(files.begin() + 1, files.end());
            },
            "manifest CSV: path,label[,activity,subject,impact_sample,dataset,fall_start,...] (repeatable: "
            "several manifests, e.g. one per dataset)")
        ->type_name("FILE")
        ->allow_extra_args(false)
        ->check(CommandFileName());
}

void CommandAddWindowOptions(CLI::App* command, FallWindowSettings* window)
{
    command
        ->add_option("--before", window->beforeSeconds,
                     "a fall with its own timing in the manifest counts as detected from this many seconds before "
                     "the fall starts")
        ->check(CommandSeconds())
        ->capture_default_str();
    command
        ->add_option("--after", window->afterSeconds,
                     "... to this many seconds after it ends; alarms outside are early or late")
        ->check(CommandSeconds())
        ->capture_default_str();
}
