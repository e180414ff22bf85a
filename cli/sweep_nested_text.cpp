// The nested selection on the terminal: per fold the configuration chosen
// on the other folds and its figures on the fold's held-out subjects.
#include <fmt/core.h>

#include <cmath>

#include "commands.h"
#include "sweep_summary_text.h"

namespace {

// Columns of a fold's line before the varied values.
constexpr const char* kRow = "  {:>4} {:>6} {:>7} {:>5} {:>5} {:>5} {:>5} {:>6} {:>6} {:>6} {:>7}";
constexpr std::size_t kLineWidth = 100;

std::string Rate(double v, int decimals)
{
    return std::isnan(v) ? std::string("-") : fmt::format("{:.{}f}", v, decimals);
}

// Words joined by spaces into lines of at most kLineWidth characters, the
// first starting with lead, the others indented as deep.
void PrintWrapped(const std::string& lead, const std::vector<std::string>& words)
{
    std::string line = lead;
    const std::string indent(lead.size(), ' ');
    for (const std::string& w : words) {
        if (line.size() > indent.size() && line.size() + 1 + w.size() > kLineWidth) {
            CommandPrintFormat("{}\n", line);
            line = indent;
        }
        line += " " + w;
    }
    CommandPrintFormat("{}\n", line);
}

// A line of the table, without trailing blanks.
template <typename... Args>
void PrintRow(const Args&... args)
{
    std::string line = fmt::format(kRow, args...);
    line.erase(line.find_last_not_of(' ') + 1);
    CommandPrintFormat("{}\n", line);
}

void PrintSpreadLine(const char* what, const SweepNestedSpread& s, double SweepSpread::*part)
{
    PrintRow(what, "", "", Rate(s.tp.*part, 1), Rate(s.fn.*part, 1), Rate(s.fp.*part, 1), Rate(s.tn.*part, 1),
             Rate(s.sensitivity.*part, 3), Rate(s.specificity.*part, 3), Rate(s.f1.*part, 3),
             Rate(s.falseAlarmsPerHour.*part, 2));
}

}  // namespace

void SweepPrintNested(const SweepPlan& plan, const SweepSummary& summary)
{
    const std::size_t k = summary.nested.size();
    CommandPrintFormat("\nTuned on other subjects, tested on new ones ({} folds, objective {}):\n", k,
                       summary.objective.text);
    CommandPrintFormat("each fold's best on the other folds' subjects alone, scored on its own held-out subjects\n");
    PrintRow("fold", "limit", "config", "TP", "FN", "FP", "TN", "sens.", "spec.", "F1", "FA/h", "varied values");
    for (std::size_t i = 0; i < k; ++i) {
        const SweepNestedFold& f = summary.nested[i];
        const std::string limit = f.objective.kind == ObjectiveKind::F1 ? "-" : Rate(f.objective.limit, 2);
        if (!f.chosen.found) {
            CommandPrintFormat("  {:>4} {:>6} {:>7}  no configuration meets the objective on the tuning part\n", i + 1,
                               limit, "-");
            continue;
        }
        const Metrics& h = f.held;
        PrintRow(i + 1, limit, f.chosen.point.index, h.tp, h.fn, h.fp, h.tn, Rate(h.sensitivity, 3),
                 Rate(h.specificity, 3), Rate(h.f1, 3), Rate(h.falseAlarmsPerHour, 2));
    }
    const SweepNestedSpread s = SweepSummaryNestedSpread(summary);
    PrintSpreadLine("mean", s, &SweepSpread::mean);
    PrintSpreadLine("sd", s, &SweepSpread::sd);
    CommandPrintFormat("  mean and sd over the {} of {} folds that chose a configuration\n", s.chosen, s.folds);
    if (s.sensitivity.folds < s.chosen || s.specificity.folds < s.chosen || s.falseAlarmsPerHour.folds < s.chosen) {
        CommandPrintFormat(
            "  (where defined: sensitivity in {}, specificity in {}, false alarms per hour in {} of them)\n",
            s.sensitivity.folds, s.specificity.folds, s.falseAlarmsPerHour.folds);
    }
    if (summary.objective.kind == ObjectiveKind::SensitivityAtBase) {
        CommandPrintFormat("  limit: the base configuration's false alarms per hour on the fold's tuning part\n");
    }
    for (std::size_t i = 0; i < k; ++i) {
        const SweepNestedFold& f = summary.nested[i];
        if (f.chosen.found) {
            std::vector<std::string> values;
            for (std::size_t v = 0; v < plan.varied.size() && v < f.chosen.point.values.size(); ++v) {
                values.push_back(SweepVariedText({plan.varied[v]}, {f.chosen.point.values[v]}));
            }
            PrintWrapped(fmt::format("  fold {} chose configuration {}:", i + 1, f.chosen.point.index), values);
        }
        PrintWrapped(fmt::format("  fold {} holds out:", i + 1), f.subjects);
    }
}
