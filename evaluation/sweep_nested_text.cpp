// The nested selection on the terminal: per fold the row chosen on the
// other folds and its figures on the fold's held-out subjects.
#include <fmt/core.h>

#include "sweep_summary_text.h"

namespace {

// Columns of a fold's line before the varied values.
constexpr const char* kRow = "  {:>4} {:>6} {:>7} {:>5} {:>5} {:>5} {:>5} {:>6} {:>6} {:>6} {:>7}";
constexpr std::size_t kLineWidth = 100;

// Words joined by spaces into lines of at most kLineWidth characters, the
// first starting with lead, the others indented as deep.
std::string Wrapped(const std::string& lead, const std::vector<std::string>& words)
{
    std::string text;
    std::string line = lead;
    const std::string indent(lead.size(), ' ');
    for (const std::string& w : words) {
        if (line.size() > indent.size() && line.size() + 1 + w.size() > kLineWidth) {
            text += line + "\n";
            line = indent;
        }
        line += " " + w;
    }
    return text + line + "\n";
}

// A line of the table, without trailing blanks.
template <typename... Args>
std::string Row(const Args&... args)
{
    std::string line = fmt::format(kRow, args...);
    line.erase(line.find_last_not_of(' ') + 1);
    return line + "\n";
}

std::string SpreadLine(const char* what, const SweepNestedSpread& s, double SweepSpread::*part)
{
    return Row(what, "", "", SweepRateText(s.tp.*part, 1), SweepRateText(s.fn.*part, 1), SweepRateText(s.fp.*part, 1),
               SweepRateText(s.tn.*part, 1), SweepRateText(s.sensitivity.*part, 3),
               SweepRateText(s.specificity.*part, 3), SweepRateText(s.f1.*part, 3),
               SweepRateText(s.falseAlarmsPerHour.*part, 2));
}

// The held-out figures pooled over every held-out subject, with their
// intervals from the counts and over the subjects.
std::string Pooled(const SweepSummary& summary)
{
    if (SweepSummaryNestedSpread(summary).chosen == 0) {
        return "  pooled over the held-out subjects: nothing, as no fold chose a configuration\n";
    }
    const Metrics m = SweepSummaryNestedPooled(summary);
    const RateIntervals r = IntervalsOfMetrics(m, summary.intervals.confidence);
    std::string text =
        fmt::format("  pooled over every held-out subject, each scored by its fold's choice: TP {} FN {} FP {} TN {}\n",
                    m.tp, m.fn, m.fp, m.tn);
    const bool boot = summary.nestedBootstrapped;
    const IntervalBootstrap& b = summary.nestedBootstrap;
    text += fmt::format("    sensitivity {} {}{}\n", SweepRateText(m.sensitivity, 3), IntervalText(r.sensitivity, 3),
                        boot ? ", over subjects " + IntervalText(b.sensitivity, 3) : std::string());
    text += fmt::format("    specificity {} {}{}\n", SweepRateText(m.specificity, 3), IntervalText(r.specificity, 3),
                        boot ? ", over subjects " + IntervalText(b.specificity, 3) : std::string());
    text += fmt::format("    false alarms per hour {} {}{}\n", SweepRateText(m.falseAlarmsPerHour, 2),
                        IntervalText(r.falseAlarmsPerHour, 2),
                        boot ? ", over subjects " + IntervalText(b.falseAlarmsPerHour, 2) : std::string());
    text += fmt::format("    ({:g} % intervals: Wilson and exact Poisson from the counts",
                        summary.intervals.confidence * 100.0);
    if (boot) {
        text += fmt::format("; over subjects: a bootstrap of\n    {} resamples of the {} subjects, seed {}",
                            b.resamples, b.subjects, b.seed);
    }
    return text + ")\n";
}

}  // namespace

std::string SweepNestedText(const SweepPlan& plan, const SweepSummary& summary, const std::string& item)
{
    const std::size_t k = summary.nested.size();
    std::string text = fmt::format("\nTuned on other subjects, tested on new ones ({} folds, objective {}):\n", k,
                                   summary.objective.text);
    text += "each fold's best on the other folds' subjects alone, scored on its own held-out subjects\n";
    text += Row("fold", "limit", item == "configuration" ? std::string("config") : item, "TP", "FN", "FP", "TN",
                "sens.", "specif", "F1", "FA/h", "varied values");
    for (std::size_t i = 0; i < k; ++i) {
        const SweepNestedFold& f = summary.nested[i];
        const std::string limit = f.objective.kind == ObjectiveKind::F1 ? "-" : SweepRateText(f.objective.limit, 2);
        if (!f.chosen.found) {
            text += fmt::format("  {:>4} {:>6} {:>7}  no configuration meets the objective on the tuning part\n", i + 1,
                                limit, "-");
            continue;
        }
        const Metrics& h = f.held;
        text += Row(i + 1, limit, f.chosen.point.index, h.tp, h.fn, h.fp, h.tn, SweepRateText(h.sensitivity, 3),
                    SweepRateText(h.specificity, 3), SweepRateText(h.f1, 3), SweepRateText(h.falseAlarmsPerHour, 2));
    }
    const SweepNestedSpread s = SweepSummaryNestedSpread(summary);
    text += SpreadLine("mean", s, &SweepSpread::mean);
    text += SpreadLine("sd", s, &SweepSpread::sd);
    text += fmt::format("  mean and sd over the {} of {} folds that chose a configuration\n", s.chosen, s.folds);
    if (s.sensitivity.folds < s.chosen || s.specificity.folds < s.chosen || s.falseAlarmsPerHour.folds < s.chosen) {
        text += fmt::format(
            "  (where defined: sensitivity in {}, specificity in {}, false alarms per hour in {} of them)\n",
            s.sensitivity.folds, s.specificity.folds, s.falseAlarmsPerHour.folds);
    }
    if (summary.objective.kind == ObjectiveKind::SensitivityAtBase) {
        text += "  limit: the base configuration's false alarms per hour on the fold's tuning part\n";
    }
    text += Pooled(summary);
    for (std::size_t i = 0; i < k; ++i) {
        const SweepNestedFold& f = summary.nested[i];
        if (f.chosen.found) {
            std::vector<std::string> values;
            for (std::size_t v = 0; v < plan.varied.size() && v < f.chosen.point.values.size(); ++v) {
                values.push_back(SweepVariedText({plan.varied[v]}, {f.chosen.point.values[v]}));
            }
            text += Wrapped(fmt::format("  fold {} chose {} {}:", i + 1, item, f.chosen.point.index), values);
            const RateIntervals r = IntervalsOfMetrics(f.held, summary.intervals.confidence);
            text += fmt::format("  fold {} held out, {:g} %: sens. {}, specif. {}, FA/h {}\n", i + 1,
                                summary.intervals.confidence * 100.0, IntervalText(r.sensitivity, 3),
                                IntervalText(r.specificity, 3), IntervalText(r.falseAlarmsPerHour, 2));
        }
        text += Wrapped(fmt::format("  fold {} holds out:", i + 1), f.subjects);
    }
    return text;
}
