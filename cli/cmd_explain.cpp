// tumblewatch explain: why each missed fall was missed and each false alarm
// raised, and the smallest change of one parameter that would change it,
// with what that change does to the other recordings.
#include <fmt/core.h>
#include <fmt/ranges.h>

#include <cmath>

#include "commands.h"
#include "explain.h"
#include "html_scan.h"
#include "params.h"
#include "scan_json.h"

namespace {

// Changes shown per case on the terminal (the JSON holds all).
constexpr std::size_t kChangesShown = 3;

std::string Rate(double v, int decimals)
{
    return std::isnan(v) ? std::string("-") : fmt::format("{:.{}f}", v, decimals);
}

std::string Signed(int64_t v)
{
    return v > 0 ? fmt::format("+{}", v) : fmt::format("{}", v);
}

void PrintApproaches(const ExplainCase& c)
{
    CommandPrint(fmt::format("    {:<34} {:>7}  {:<20} {:>9} {:>7}  {}\n", "criterion (codes)", "closest", "threshold",
                             "margin", "sample", "unit"));
    for (const ExplainApproach& a : c.approaches) {
        const TumblewatchParam& p = TumblewatchParams()[a.param];
        const std::string name = a.criterion + " (" + a.codes + ")";
        const std::string threshold = fmt::format("{} {}", p.name, a.threshold);
        if (!a.seen) {
            CommandPrint(fmt::format("    {:<34} {:>7}  {:<20} never tested: {}\n", name, "-", threshold, a.unseen));
            continue;
        }
        const std::string margin = a.margin > 0 ? fmt::format("{} short", a.margin) : "passed";
        CommandPrint(fmt::format("    {:<34} {:>7}  {:<20} {:>9} {:>7}  {}\n", name, a.value, threshold, margin,
                                 a.sample, p.unit));
    }
}

void PrintChanges(const ExplainCase& c, const SweepData& data)
{
    if (c.changes.empty()) {
        CommandPrint(
            fmt::format("    no single scanned change of one parameter {} it\n", c.missedFall ? "catches" : "removes"));
        return;
    }
    CommandPrint(fmt::format("    smallest change of one parameter that {} it (run and confirmed), best first:\n",
                             c.missedFall ? "catches" : "removes"));
    for (std::size_t i = 0; i < c.changes.size() && i < kChangesShown; ++i) {
        const ExplainChange& ch = c.changes[i];
        const ScanChanges& s = ch.changes;
        const std::string what =
            c.missedFall ? fmt::format("code {} at sample {}", ch.code, ch.alarm) : std::string("no alarm");
        // The recording itself is among the falls gained (or alarms removed).
        const std::string cost =
            c.missedFall ? fmt::format("{} more falls, {} false alarms added, {} removed, {} falls lost",
                                       s.fallsGained.size() - 1, s.falseAlarmsAdded.size(), s.falseAlarmsRemoved.size(),
                                       s.fallsLost.size())
                         : fmt::format("{} falls lost, {} more false alarms removed, {} added, {} falls gained",
                                       s.fallsLost.size(), s.falseAlarmsRemoved.size() - 1, s.falseAlarmsAdded.size(),
                                       s.fallsGained.size());
        CommandPrint(fmt::format("      {} {} -> {} ({}): {}; {} (sensitivity {}, {} false alarms per hour){}\n",
                                 TumblewatchParams()[ch.param].name, ch.from, ch.to, Signed(int64_t{ch.to} - ch.from),
                                 what, cost, Rate(ch.metrics.sensitivity, 3), Rate(ch.metrics.falseAlarmsPerHour, 2),
                                 ch.verified ? "" : " NOT CONFIRMED by the rerun"));
        if (!c.missedFall && !s.fallsLost.empty()) {
            std::string lost;
            for (std::size_t k = 0; k < s.fallsLost.size() && k < 3; ++k) {
                lost += (k ? ", " : "") + data.recordings[s.fallsLost[k]].input.relative;
            }
            CommandPrint(fmt::format("        falls lost: {}{}\n", lost, s.fallsLost.size() > 3 ? ", ..." : ""));
        }
    }
    if (c.changes.size() > kChangesShown) {
        CommandPrint(
            fmt::format("      and {} more parameters (--json has them all)\n", c.changes.size() - kChangesShown));
    }
}

void PrintExplanation(const Explanation& e, const SweepData& data, std::size_t listed)
{
    int missed = 0;
    for (const ExplainCase& c : e.cases) {
        missed += c.missedFall ? 1 : 0;
    }
    const int alarms = static_cast<int>(e.cases.size()) - missed;
    CommandPrint(
        fmt::format("tumblewatch explain: {} recordings: {} falls ({} missed), {} ADLs ({} with a false "
                    "alarm)\n",
                    data.recordings.size(), e.base.falls, missed, e.base.adls, alarms));
    CommandPrint(
        fmt::format("  configuration: {}\n", ConfigChanges(e.plan.base).empty()
                                                 ? std::string("the defaults")
                                                 : fmt::format("{}", fmt::join(ConfigChanges(e.plan.base), " "))));
    CommandPrint(fmt::format("  {} parameters scanned ({} configurations) in {:.1f} s\n", e.plan.params.size(),
                             e.plan.configs.size(), e.table.seconds));
    if (e.cases.empty()) {
        CommandPrint("\nNothing to explain: every fall is detected and no activity raised an alarm.\n");
        return;
    }
    std::size_t shown = 0;
    for (const ExplainCase& c : e.cases) {
        if (shown == listed) {
            break;
        }
        ++shown;
        const SweepRecording& rec = data.recordings[c.recording];
        CommandPrint(fmt::format("\n{}: {} ({}{}{}, {} samples)\n", c.missedFall ? "Missed fall" : "False alarm",
                                 CommandTerminalText(rec.input.path), rec.labels.activity,
                                 rec.labels.subject.empty() ? "" : ", subject ", rec.labels.subject,
                                 rec.samples.size()));
        if (c.missedFall) {
            PrintApproaches(c);
        } else {
            std::string fired;
            for (std::size_t k = 0; k < c.alarms.size() && k < 5; ++k) {
                fired += fmt::format("{}code {} at sample {}", k ? ", " : "", c.alarms[k].code, c.alarms[k].sample);
            }
            CommandPrint(fmt::format("    {} alarms: {}{}\n", c.alarmCount, fired, c.alarmCount > 5 ? ", ..." : ""));
        }
        PrintChanges(c, data);
    }
    if (shown < e.cases.size()) {
        CommandPrint(
            fmt::format("\n{} more (--list all to see them, --json for everything)\n", e.cases.size() - shown));
    }
    CommandPrint(
        "\nmargin: how far the quantity fell short of the threshold in the parameter's unit (\"passed\": it\n"
        "reached it there, and the criterion's other conditions failed). A change is the scanned value\n"
        "nearest the base value (every value of a small range, else the scan's step: --step NAME=1 for\n"
        "every value), run on every recording.\n");
}

}  // namespace

CLI::App* CommandExplainAdd(CLI::App* app, ExplainOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "explain", "Why each fall was missed and each false alarm raised, and the one change that would alter it");
    CommandAddScanOptions(command, &options->scan);
    command->add_option("--list", options->list, "cases shown on the terminal: a number, or all")
        ->check([](const std::string& v) -> std::string {
            if (v == "all") {
                return std::string();
            }
            int32_t n = 0;
            return ConfigParseInt32(v, &n) && n >= 0 ? std::string() : "expected a number of 0 or more, or all";
        })
        ->capture_default_str();
    return command;
}

int CommandExplainRun(const ExplainOptions& options)
{
    const ScanOptions& scan = options.scan;
    TumblewatchConfig base{};
    Manifest manifest;
    InputSet inputs{};
    SweepData data{};
    ScanPlan plan{};
    const int prepared = CommandScanPrepare(scan, "explain", &base, &manifest, &inputs, &data, &plan);
    if (prepared != kExitOk) {
        return prepared;
    }
    Progress progress;
    ProgressStart(&progress, "recordings", data.recordings.size(), !scan.quiet);
    Explanation explanation{};
    ExplainRun(data, plan, scan.inputs.mergeSeconds, scan.inputs.threads, &progress, &explanation);
    ProgressEnd(progress);
    if (!scan.quiet && scan.json != "-" && scan.html != "-") {
        int32_t listed = 0;
        ConfigParseInt32(options.list, &listed);
        PrintExplanation(explanation, data, options.list == "all" ? SIZE_MAX : static_cast<std::size_t>(listed));
    }
    const ScanSource source{scan.inputs.paths, scan.inputs.labels, scan.inputs.mergeSeconds};
    bool ok = true;
    if (!scan.json.empty() || !scan.html.empty()) {
        const nlohmann::ordered_json json = ExplainJson(source, data, explanation);
        if (!scan.json.empty()) {
            const std::string text = json.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
            ok &= CommandWriteOutput(scan.json, [&text](const TextSink& sink) { sink(text); });
        }
        if (!scan.html.empty()) {
            const std::string page = HtmlExplainPage(json, data, explanation);
            ok &= CommandWriteOutput(scan.html, [&page](const TextSink& sink) { sink(page); });
        }
    }
    if (!ok) {
        return kExitUsage;
    }
    return data.failures.empty() && !InputsSkippedFailed(inputs) ? kExitOk : kExitUnreadable;
}
