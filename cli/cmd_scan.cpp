// tumblewatch scan: each parameter alone over its range, the others at the
// base configuration, with the parameters ranked by how far each moves the
// front.
#include <fmt/core.h>

#include <cmath>

#include "commands.h"
#include "html_scan.h"
#include "params.h"
#include "scan_json.h"

namespace {

std::string Rate(double v, int decimals)
{
    return std::isnan(v) ? std::string("-") : fmt::format("{:.{}f}", v, decimals);
}

// The rows of a parameter with runs of equal figures folded: "lo..hi".
void PrintRows(const ScanParam& param, const ScanParamResult& result)
{
    const auto same = [](const ScanValueRow& a, const ScanValueRow& b) {
        return a.metrics.tp == b.metrics.tp && a.metrics.fp == b.metrics.fp &&
               a.metrics.falseAlarmEvents == b.metrics.falseAlarmEvents;
    };
    const std::vector<ScanValueRow>& rows = result.rows;
    std::size_t k = 0;
    while (k < rows.size()) {
        std::size_t end = k;
        while (end + 1 < rows.size() && same(rows[k], rows[end + 1])) {
            ++end;
        }
        const bool base = static_cast<int>(k) <= param.baseValue && param.baseValue <= static_cast<int>(end);
        const std::string values =
            end == k ? fmt::format("{}", rows[k].value) : fmt::format("{}..{}", rows[k].value, rows[end].value);
        const ScanChanges& c = rows[k].changes;
        CommandPrint(fmt::format("    {:>13}{} {:>6} {:>8}   {:>5} {:>5} {:>5} {:>5}\n", values, base ? "*" : " ",
                                 Rate(rows[k].metrics.sensitivity, 3), Rate(rows[k].metrics.falseAlarmsPerHour, 2),
                                 c.fallsGained.size(), c.fallsLost.size(), c.falseAlarmsAdded.size(),
                                 c.falseAlarmsRemoved.size()));
        k = end + 1;
    }
}

void PrintScan(const ScanPlan& plan, const std::vector<ScanParamResult>& results, const SweepData& data,
               const ScanTable& table, int threads)
{
    const Metrics base = ScanMetrics(data, table, 0);
    CommandPrint(fmt::format(
        "tumblewatch scan: {} parameters, {} configurations over {} recordings ({} falls, {} "
        "ADLs) in {:.1f} s\n",
        plan.params.size(), plan.configs.size(), data.recordings.size(), base.falls, base.adls, table.seconds));
    CommandPrint(fmt::format("  base: sensitivity {} ({} of {}), false alarms per hour {} ({} events in {:.2f} h)\n",
                             Rate(base.sensitivity, 3), base.tp, base.falls, Rate(base.falseAlarmsPerHour, 2),
                             base.falseAlarmEvents, base.adlHours));
    CommandPrint(fmt::format("  {:.1f} M configuration-samples per second on {} threads\n\n",
                             table.seconds > 0 ? static_cast<double>(table.configSamples) / table.seconds / 1e6 : 0.0,
                             threads));
    CommandPrint(
        "Parameters by how far each alone moves the front (area added to the base's, in sensitivity x\n"
        "log10(1 + false alarms per hour)):\n");
    CommandPrint(fmt::format("  {:>4}  {:<18} {:>7} {:>9} {:>9} {:>8}  {}\n", "rank", "parameter", "area", "sens@FA",
                             "FA@sens", "changed", "values scanned"));
    std::vector<std::size_t> order(results.size());
    for (std::size_t p = 0; p < results.size(); ++p) {
        order[static_cast<std::size_t>(results[p].reach.rank - 1)] = p;
    }
    for (const std::size_t p : order) {
        const ScanParam& sp = plan.params[p];
        const ScanReach& r = results[p].reach;
        const std::string scanned = sp.step == 1
                                        ? fmt::format("every value {}..{}", sp.range.lo, sp.range.hi)
                                        : fmt::format("{}..{} in steps of {}", sp.range.lo, sp.range.hi, sp.step);
        CommandPrint(fmt::format("  {:>4}  {:<18} {:>7.4f} {:>9} {:>9} {:>8}  {}\n", r.rank,
                                 TumblewatchParams()[sp.index].name, r.area, Rate(r.bestSensitivityAtBaseFa, 3),
                                 Rate(r.lowestFaAtBaseSensitivity, 2), r.recordingsChanged, scanned));
    }
    CommandPrint(
        "  sens@FA: highest sensitivity at no more false alarms per hour than the base; FA@sens: fewest\n"
        "  false alarms per hour at no less sensitivity; changed: recordings some value changes.\n");
    for (const std::size_t p : order) {
        if (results[p].reach.recordingsChanged == 0) {
            continue;
        }
        const ScanParam& sp = plan.params[p];
        CommandPrint(fmt::format("\n  {} (base {}; values with the same figures folded; * the base):\n",
                                 TumblewatchParams()[sp.index].name, TumblewatchParamGet(&plan.base, sp.index)));
        CommandPrint(fmt::format("    {:>14} {:>6} {:>8}   {:>5} {:>5} {:>5} {:>5}\n", "value", "sens.", "FA/h",
                                 "+fall", "-fall", "+FA", "-FA"));
        PrintRows(sp, results[p]);
    }
    std::size_t still = 0;
    for (const ScanParamResult& r : results) {
        still += r.reach.recordingsChanged == 0 ? 1 : 0;
    }
    if (still > 0) {
        std::string names;
        for (const std::size_t p : order) {
            if (results[p].reach.recordingsChanged == 0) {
                names += std::string(names.empty() ? "" : ", ") + TumblewatchParams()[plan.params[p].index].name;
            }
        }
        CommandPrint(fmt::format("\n  No value changes any recording's outcome: {}.\n", names));
    }
}

}  // namespace

void CommandAddScanOptions(CLI::App* command, ScanOptions* options)
{
    CommandAddInputOptions(command, &options->inputs);
    command->add_option("--param", options->params, "scan only this parameter (repeatable; default: all that are read)")
        ->type_name("NAME")
        ->allow_extra_args(false);
    command
        ->add_option("--max-values", options->maxValues,
                     "a range of more values is scanned in even steps of at most this many values")
        ->check(CommandIntRange(2, 100000))
        ->capture_default_str();
    command->add_option("--step", options->steps, "NAME=STEP: scan NAME in steps of STEP (repeatable)")
        ->type_name("NAME=STEP")
        ->allow_extra_args(false);
    command->add_option("--json", options->json, "write the whole result as JSON (-: standard output)")
        ->check(CommandFileName());
    command->add_option("--html", options->html, "write the result as a self-contained HTML page (-: standard output)")
        ->check(CommandFileName());
    command->add_flag("-q,--quiet", options->quiet, "nothing on the terminal but errors");
}

int CommandScanPrepare(const ScanOptions& options, const std::string& what, TumblewatchConfig* base, Manifest* manifest,
                       InputSet* inputs, SweepData* data, ScanPlan* plan)
{
    std::string error;
    if (!InputsLoad(options.inputs, base, manifest, inputs, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    // The parameters are checked before any recording is read.
    if (!ScanPlanMake(options.params, options.steps, options.maxValues, *base, 0, plan, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    if (options.json == "-" && options.html == "-") {
        CommandError("--json - and --html - both name standard output: give one of them a file");
        return kExitUsage;
    }
    if (!CommandCheckOutputs({{"--json", options.json, true}, {"--html", options.html, true}},
                             InputsReads(options.inputs, *inputs))) {
        return kExitUsage;
    }
    const bool loaded = ScanLoad(*inputs, options.inputs.labels.empty() ? nullptr : manifest, options.inputs.threads,
                                 what, data, &error);
    for (const std::string& f : data->failures) {
        CommandError(f);
    }
    for (const std::string& e : data->empty) {
        CommandError(e + ": no samples; left out");
    }
    if (data->unlabelled > 0 && !options.quiet) {
        CommandError(
            fmt::format("{} recordings without a label left out: a fall or an activity is needed to say "
                        "what the detector should have done",
                        data->unlabelled));
    }
    if (!loaded) {
        CommandError(error);
        return kExitUsage;
    }
    ScanPlanMake(options.params, options.steps, options.maxValues, *base, ScanLongest(*data), plan, &error);
    return kExitOk;
}

CLI::App* CommandScanAdd(CLI::App* app, ScanOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "scan", "Each parameter alone over its range: sensitivity and false alarms per value, and a ranking");
    CommandAddScanOptions(command, options);
    return command;
}

int CommandScanRun(const ScanOptions& options)
{
    TumblewatchConfig base{};
    Manifest manifest;
    InputSet inputs{};
    SweepData data{};
    ScanPlan plan{};
    const int prepared = CommandScanPrepare(options, "scan", &base, &manifest, &inputs, &data, &plan);
    if (prepared != kExitOk) {
        return prepared;
    }
    Progress progress;
    ProgressStart(&progress, "recordings", data.recordings.size(), !options.quiet);
    ScanTable table{};
    ScanRun(data, plan, options.inputs.mergeSeconds, options.inputs.threads, &progress, &table);
    ProgressEnd(progress);
    const std::vector<ScanParamResult> results = ScanResults(data, plan, table);
    if (!options.quiet && options.json != "-" && options.html != "-") {
        PrintScan(plan, results, data, table, options.inputs.threads);
    }
    const ScanSource source{options.inputs.paths, options.inputs.labels, options.inputs.mergeSeconds};
    bool ok = true;
    if (!options.json.empty() || !options.html.empty()) {
        const nlohmann::ordered_json json = ScanJson(source, data, plan, results);
        if (!options.json.empty()) {
            const std::string text = json.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
            ok &= CommandWriteOutput(options.json, [&text](const TextSink& sink) { sink(text); });
        }
        if (!options.html.empty()) {
            const std::string page = HtmlScanPage(json);
            ok &= CommandWriteOutput(options.html, [&page](const TextSink& sink) { sink(page); });
        }
    }
    if (!ok) {
        return kExitUsage;
    }
    return data.failures.empty() && !InputsSkippedFailed(inputs) ? kExitOk : kExitUnreadable;
}
