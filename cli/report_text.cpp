// The terminal report of an evaluation.
#include <fmt/core.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <utility>

#include "commands.h"
#include "config.h"
#include "report_text.h"

namespace {

// A rate, or "-" when undefined.
std::string Rate(double v, int decimals = 3)
{
    return std::isnan(v) ? std::string("-") : fmt::format("{:.{}f}", v, decimals);
}

std::string Plural(int n, const char* one, const char* many)
{
    return fmt::format("{} {}", n, n == 1 ? one : many);
}

// A path or name fit for the terminal, cut to width bytes keeping its end
// (whole characters).
std::string Fit(const std::string& text, std::size_t width)
{
    const std::string s = CommandTerminalText(text);
    if (s.size() <= width) {
        return s;
    }
    std::size_t from = s.size() - (width - 3);
    while (from < s.size() && (static_cast<unsigned char>(s[from]) & 0xC0) == 0x80) {
        ++from;
    }
    return "..." + s.substr(from);
}

// A reason below its path: fit for the terminal, wrapped, indented.
std::string Reason(const std::string& reason)
{
    std::string text;
    for (const std::string& line : CommandWrap(CommandTerminalText(reason), 94)) {
        text += "    " + line + "\n";
    }
    return text;
}

// The fall window's lines of the summary, when some fall has its timing.
void FallWindowLines(std::string* out, const EvalReport& r)
{
    const Metrics& m = *r.metrics;
    if (m.timedFalls == 0) {
        return;
    }
    if (m.latencyEndCount > 0) {
        *out += fmt::format("  {:<22} {:>7}   min {:.2f}, max {:.2f}: from the fall's end\n", "  to the fall's end",
                            Rate(m.latencyEndMedian, 2), m.latencyEndMin, m.latencyEndMax);
    }
    *out += fmt::format("  {:<22} {:>7}   {} early, {} late in {:.2f} h of fall recordings outside the windows\n",
                        "outside alarms per hour", Rate(m.outsideEventsPerHour, 2), m.earlyEvents, m.lateEvents,
                        m.outsideHours);
    *out += fmt::format(
        "  fall window: {} of {} falls have their own timing; each counts as detected by an alarm "
        "from {:g} s before the fall starts to {:g} s after it ends\n",
        m.timedFalls, m.falls, r.window.beforeSeconds, r.window.afterSeconds);
}

void Summary(std::string* out, const EvalReport& r)
{
    const Evaluation& ev = *r.evaluation;
    const Metrics& m = *r.metrics;
    const ReportCounts counts = ReportCountsOf(ev);
    *out += fmt::format("tumblewatch eval: {} ({} falls, {} ADLs, {} unlabelled, {} unreadable{})\n",
                        Plural(static_cast<int>(ev.outcomes.size()), "recording", "recordings"), m.falls, m.adls,
                        counts.unlabelled, counts.unreadable,
                        counts.empty > 0 ? fmt::format(", {} without samples", counts.empty) : std::string());
    *out += fmt::format("  {} samples, {:.1f} min of recording", ev.samples, ev.samples / kSampleRate / 60.0);
    if (ev.twinsPassedOver > 0) {
        *out += fmt::format("; {} passed over", Plural(ev.twinsPassedOver, "CSV twin", "CSV twins"));
    }
    if (!ev.skipped.empty()) {
        *out += fmt::format("; {} skipped in the search", ev.skipped.size());
    }
    *out += fmt::format("\n  {:.2f} s on {}, {:.2f} million samples/s\n", ev.seconds,
                        Plural(r.threads, "thread", "threads"), ev.seconds > 0 ? ev.samples / ev.seconds / 1e6 : 0.0);
    const std::vector<std::string> changes = ConfigChanges(*r.config);
    std::string config = changes.empty() ? "the defaults" : "";
    for (const std::string& c : changes) {
        config += (config.empty() ? "" : " ") + c;
    }
    *out += fmt::format("  configuration: {}\n", config);
    *out += fmt::format("  events: alarms less than {:g} s apart are one event\n\n", r.mergeSeconds);

    const EvalIntervals intervals = ReportIntervals(r);
    const RateIntervals& in = intervals.summary;
    *out += fmt::format("{:<34}{:g} % interval\n", "Summary", intervals.settings.confidence * 100.0);
    *out += fmt::format("  {:<22} {:>7}  {:<16}  {} of {} detected\n", "sensitivity", Rate(m.sensitivity),
                        IntervalText(in.sensitivity, 3), m.tp, m.falls);
    *out += fmt::format("  {:<22} {:>7}  {:<16}  {} of {} without an alarm\n", "specificity", Rate(m.specificity),
                        IntervalText(in.specificity, 3), m.tn, m.adls);
    *out += fmt::format("  {:<22} {:>7}  {:<16}  {} of {} recordings with an alarm are falls\n", "precision",
                        Rate(m.precision), IntervalText(in.precision, 3), m.tp, m.tp + m.fp);
    *out += fmt::format("  {:<22} {:>7}\n", "F1", Rate(m.f1));
    *out += fmt::format("  {:<22} {:>7}\n", "accuracy", Rate(m.accuracy));
    *out += fmt::format("  {:<22} {:>7}  {:<16}  {} in {:.2f} h of ADL recordings\n", "false alarms per hour",
                        Rate(m.falseAlarmsPerHour, 2), IntervalText(in.falseAlarmsPerHour, 2),
                        Plural(m.falseAlarmEvents, "event", "events"), m.adlHours);
    if (m.latencyCount > 0 && m.timedFalls > 0) {
        *out += fmt::format(
            "  {:<22} {:>7}   min {:.2f}, max {:.2f}: from the fall's start (else the impact) to "
            "the first alarm in its window\n",
            "latency median (s)", Rate(m.latencyMedian, 2), m.latencyMin, m.latencyMax);
    } else if (m.latencyCount > 0) {
        *out += fmt::format("  {:<22} {:>7}   min {:.2f}, max {:.2f}: from the impact to the first alarm\n",
                            "latency median (s)", Rate(m.latencyMedian, 2), m.latencyMin, m.latencyMax);
    } else {
        *out += fmt::format("  {:<22} {:>7}\n", "latency median (s)", "-");
    }

    FallWindowLines(out, r);
    if (intervals.bootstrapped) {
        const IntervalBootstrap& b = intervals.bootstrap;
        *out += fmt::format("  over subjects: a bootstrap of {} resamples of the {} subjects (seed {}):\n", b.resamples,
                            b.subjects, b.seed);
        if (b.subjects < 2) {
            *out += "    too few subjects to resample: no interval\n";
        } else {
            *out += fmt::format("    sensitivity {}, specificity {}, precision {},\n    false alarms per hour {}\n",
                                IntervalText(b.sensitivity, 3), IntervalText(b.specificity, 3),
                                IntervalText(b.precision, 3), IntervalText(b.falseAlarmsPerHour, 2));
        }
    }
    *out += "  (Wilson intervals of shares, exact Poisson of false alarms per hour; - where nothing was counted)\n";

    *out += fmt::format("\nConfusion matrix        detected   not detected\n");
    *out += fmt::format("  falls {:>6}       {:>9}  {:>13}\n", m.falls, m.tp, m.fn);
    *out += fmt::format("  ADLs  {:>6}       {:>9}  {:>13}\n", m.adls, m.fp, m.tn);
}

// Text fit for the terminal, cut to width bytes keeping its beginning (whole
// characters).
std::string FitStart(const std::string& text, std::size_t width)
{
    const std::string s = CommandTerminalText(text);
    if (s.size() <= width) {
        return s;
    }
    std::size_t to = width - 3;
    while (to > 0 && (static_cast<unsigned char>(s[to]) & 0xC0) == 0x80) {
        --to;
    }
    return s.substr(0, to) + "...";
}

void Activities(std::string* out, const Breakdowns& b, const EvalIntervals& intervals)
{
    if (b.activities.empty()) {
        return;
    }
    // 100 columns: the activity and its description as wide as they can be.
    *out += fmt::format("\nBy activity\n  {:<5} {:<47} {:>5} {:>8} {:>14} {:>6} {:>7}\n", "label", "activity", "recs",
                        "alarmed", "share interval", "events", "hours");
    for (std::size_t i = 0; i < b.activities.size(); ++i) {
        const ActivityRow& a = b.activities[i];
        // The code, and beside it what the activity is when the labels say.
        std::string activity = a.activity.empty() ? "-" : Fit(a.activity, 47);
        if (!a.description.empty() && activity.size() + 2 < 47) {
            activity = FitStart((a.activity.empty() ? "-" : a.activity) + " " + a.description, 47);
        }
        const Interval share = i < intervals.activities.size() ? intervals.activities[i] : Interval{0, 0, false};
        *out += fmt::format("  {:<5} {:<47} {:>5} {:>8} {:>14} {:>6} {:>7.3f}\n", LabelName(a.label), activity,
                            a.recordings, a.detected, IntervalText(share, 3), a.events, a.hours);
    }
}

void Codes(std::string* out, const Breakdowns& b)
{
    if (b.codes.empty()) {
        return;
    }
    *out += fmt::format("\nBy fall code\n  {:>4} {:>8} {:>16} {:>16}\n", "code", "alarms", "events on falls",
                        "events on ADLs");
    for (const CodeRow& c : b.codes) {
        *out += fmt::format("  {:>4} {:>8} {:>16} {:>16}\n", c.code, c.alarms, c.eventsOnFalls, c.eventsOnAdls);
    }
}

void Folders(std::string* out, const Breakdowns& b, const EvalIntervals& intervals)
{
    if (b.folders.size() < 2) {
        return;
    }
    *out += fmt::format("\nBy folder\n  {:<24} {:>5} {:>4} {:>4} {:>5} {:>4} {:>4} {:>11} {:>11} {:>9}\n", "folder",
                        "falls", "TP", "FN", "ADLs", "FP", "TN", "sensitivity", "specificity", "FA/hour");
    for (std::size_t i = 0; i < b.folders.size(); ++i) {
        const FolderRow& f = b.folders[i];
        const Metrics& m = f.metrics;
        *out += fmt::format("  {:<24} {:>5} {:>4} {:>4} {:>5} {:>4} {:>4} {:>11} {:>11} {:>9}\n", Fit(f.folder, 24),
                            m.falls, m.tp, m.fn, m.adls, m.fp, m.tn, Rate(m.sensitivity), Rate(m.specificity),
                            Rate(m.falseAlarmsPerHour, 2));
        if (i < intervals.folders.size()) {
            const RateIntervals& in = intervals.folders[i];
            *out += fmt::format("    intervals: sensitivity {}, specificity {}, FA/hour {}\n",
                                IntervalText(in.sensitivity, 3), IntervalText(in.specificity, 3),
                                IntervalText(in.falseAlarmsPerHour, 2));
        }
    }
}

void Datasets(std::string* out, const Breakdowns& b)
{
    if (b.datasets.empty()) {
        return;
    }
    *out += fmt::format("\nBy dataset\n  {:<24} {:>5} {:>4} {:>4} {:>5} {:>4} {:>4} {:>11} {:>11} {:>9}\n", "dataset",
                        "falls", "TP", "FN", "ADLs", "FP", "TN", "sensitivity", "specificity", "FA/hour");
    for (const DatasetRow& d : b.datasets) {
        const Metrics& m = d.metrics;
        *out += fmt::format("  {:<24} {:>5} {:>4} {:>4} {:>5} {:>4} {:>4} {:>11} {:>11} {:>9}\n",
                            d.dataset.empty() ? std::string("-") : Fit(d.dataset, 24), m.falls, m.tp, m.fn, m.adls,
                            m.fp, m.tn, Rate(m.sensitivity), Rate(m.specificity), Rate(m.falseAlarmsPerHour, 2));
    }
}

// The timed falls with alarms before or after their windows.
void OutsideAlarms(std::string* out, const Evaluation& ev)
{
    std::vector<const RecordingOutcome*> outside;
    for (const RecordingOutcome& o : ev.outcomes) {
        if (o.counted && o.window.active && (o.window.earlyAlarms > 0 || o.window.lateAlarms > 0)) {
            outside.push_back(&o);
        }
    }
    if (outside.empty()) {
        return;
    }
    *out += fmt::format("\nAlarms outside the fall window ({})\n", outside.size());
    for (const RecordingOutcome* o : outside) {
        const FallWindowTally& w = o->window;
        std::string at;
        int shown = 0;
        for (const Alarm& a : o->detect.alarms) {
            const auto sample = static_cast<int64_t>(a.sample);
            if ((sample < w.first || sample > w.last) && shown < 4) {
                at += fmt::format("{}{}@{}", shown++ == 0 ? "" : " ", a.code, a.sample);
            }
        }
        if (w.earlyAlarms + w.lateAlarms > shown) {
            at += " ...";
        }
        *out += fmt::format("  {:<44} {:>3} early {:>3} late  window {}..{}  {}\n", Fit(o->input.path, 44),
                            w.earlyEvents, w.lateEvents, w.first, w.last, Fit(at, 30));
    }
}

// The recordings of a list that the listing shows: all of them, the first
// count, or none; the rest said in a line.
// word is the --list word that shows this list alone.
void Listed(std::string* out, const std::vector<const RecordingOutcome*>& list, bool shown, const char* word,
            const ReportListing& listing, const std::function<void(const RecordingOutcome*)>& line)
{
    std::size_t show = 0;
    if (shown) {
        show = listing.mode == ReportListMode::First ? std::min<std::size_t>(list.size(), listing.count) : list.size();
    }
    for (std::size_t i = 0; i < show; ++i) {
        line(list[i]);
    }
    if (show < list.size()) {
        *out += fmt::format("  ... {} more: --list {} shows {}\n", list.size() - show, shown ? "all" : word,
                            show == 0 ? "them" : "every one");
    }
}

void Lists(std::string* out, const Evaluation& ev, const ReportListing& listing)
{
    std::vector<const RecordingOutcome*> missed;
    std::vector<const RecordingOutcome*> alarmed;
    std::vector<const RecordingOutcome*> failed;
    std::vector<const RecordingOutcome*> empty;
    for (const RecordingOutcome& o : ev.outcomes) {
        if (!o.failure.empty()) {
            failed.push_back(&o);
        }
        if (o.read && o.detect.samples == 0) {
            empty.push_back(&o);
        }
        if (!o.counted) {
            continue;
        }
        if (o.labels.label == Label::Fall && !EvalDetected(o)) {
            missed.push_back(&o);
        } else if (o.labels.label == Label::Adl && o.alarmCount > 0) {
            alarmed.push_back(&o);
        }
    }
    const bool all = listing.mode == ReportListMode::All || listing.mode == ReportListMode::First;
    *out += fmt::format("\nMissed falls ({})\n", missed.size());
    Listed(out, missed, all || listing.mode == ReportListMode::Missed, "missed", listing,
           [&](const RecordingOutcome* o) { *out += fmt::format("  {}\n", Fit(o->input.path, 96)); });
    *out += fmt::format("\nFalse alarms ({})\n", alarmed.size());
    Listed(out, alarmed, all || listing.mode == ReportListMode::Alarms, "alarms", listing,
           [&](const RecordingOutcome* o) {
               std::string codes;
               for (std::size_t i = 0; i < o->detect.alarms.size() && i < 6; ++i) {
                   codes +=
                       fmt::format("{}{}@{}", i == 0 ? "" : " ", o->detect.alarms[i].code, o->detect.alarms[i].sample);
               }
               if (o->alarmCount > 6) {
                   codes += " ...";
               }
               *out += fmt::format("  {:<56} {:>3} ev  {}\n", Fit(o->input.path, 56), o->eventCount, Fit(codes, 34));
           });
    if (!failed.empty()) {
        *out += fmt::format("\nNot read, not counted or not traced completely ({})\n", failed.size());
        for (const RecordingOutcome* o : failed) {
            *out += fmt::format("  {}\n{}", Fit(o->input.path, 96), Reason(o->failure));
        }
    }
    if (!empty.empty()) {
        *out += fmt::format("\nWithout samples, not counted ({})\n", empty.size());
        for (const RecordingOutcome* o : empty) {
            *out += fmt::format("  {}\n", Fit(o->input.path, 96));
        }
    }
    if (!ev.skipped.empty()) {
        *out += fmt::format("\nSkipped in the search ({})\n", ev.skipped.size());
        for (const InputSkipped& s : ev.skipped) {
            *out += fmt::format("  {}\n{}", Fit(s.path, 96), Reason(s.reason));
        }
    }
}

}  // namespace

bool ReportParseListing(const std::string& text, ReportListing* listing, std::string* error)
{
    static const std::pair<const char*, ReportListMode> kWords[] = {{"all", ReportListMode::All},
                                                                    {"missed", ReportListMode::Missed},
                                                                    {"alarms", ReportListMode::Alarms},
                                                                    {"none", ReportListMode::None}};
    for (const auto& word : kWords) {
        if (text == word.first) {
            *listing = ReportListing{word.second, 0};
            return true;
        }
    }
    std::size_t used = 0;
    long long n = -1;
    try {
        n = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || n < 0 || n > 1000000000 ||
        !std::isdigit(static_cast<unsigned char>(text[0]))) {
        *error = "--list " + text + ": expected a number of recordings (0 to 1000000000), all, missed, alarms or none";
        return false;
    }
    *listing = ReportListing{ReportListMode::First, static_cast<std::size_t>(n)};
    return true;
}

std::string ReportText(const EvalReport& report)
{
    return ReportText(report, ReportListing{ReportListMode::First, kReportListDefault});
}

std::string ReportText(const EvalReport& report, const ReportListing& listing)
{
    std::string text;
    std::string* out = &text;
    const EvalIntervals intervals = ReportIntervals(report);
    Summary(out, report);
    Activities(out, *report.breakdowns, intervals);
    Codes(out, *report.breakdowns);
    Folders(out, *report.breakdowns, intervals);
    Datasets(out, *report.breakdowns);
    Lists(out, *report.evaluation, listing);
    OutsideAlarms(out, *report.evaluation);
    if (!report.requirements.empty()) {
        *out += fmt::format("\nRequirements\n");
        for (const RequirementResult& r : report.requirements) {
            *out += fmt::format("  {:<40} {:>10}   {}\n", Fit(r.requirement.text, 40), Rate(r.value, 4),
                                r.met ? "met" : "NOT MET");
        }
    }
    return text;
}
