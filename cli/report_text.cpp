// The terminal report of an evaluation.
#include <fmt/core.h>

#include <cmath>

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

// A path cut to width characters, keeping its end.
std::string Fit(const std::string& s, std::size_t width)
{
    return s.size() <= width ? s : "..." + s.substr(s.size() - (width - 3));
}

void Summary(FILE* out, const EvalReport& r)
{
    const Evaluation& ev = *r.evaluation;
    const Metrics& m = *r.metrics;
    int unlabelled = 0;
    int unreadable = 0;
    for (const RecordingOutcome& o : ev.outcomes) {
        unreadable += o.read ? 0 : 1;
        unlabelled += o.read && o.labels.label == Label::None ? 1 : 0;
    }
    fmt::print(out, "tumblewatch eval: {} ({} falls, {} ADLs, {} unlabelled, {} unreadable)\n",
               Plural(static_cast<int>(ev.outcomes.size()), "recording", "recordings"), m.falls, m.adls, unlabelled,
               unreadable);
    fmt::print(out, "  {} samples, {:.1f} min of recording", ev.samples, ev.samples / kSampleRate / 60.0);
    if (ev.twinsPassedOver > 0) {
        fmt::print(out, "; {} passed over", Plural(ev.twinsPassedOver, "CSV twin", "CSV twins"));
    }
    fmt::print(out, "\n  {:.2f} s on {}, {:.2f} million samples/s\n", ev.seconds,
               Plural(r.threads, "thread", "threads"), ev.seconds > 0 ? ev.samples / ev.seconds / 1e6 : 0.0);
    const std::vector<std::string> changes = ConfigChanges(*r.config);
    std::string config = changes.empty() ? "the defaults" : "";
    for (const std::string& c : changes) {
        config += (config.empty() ? "" : " ") + c;
    }
    fmt::print(out, "  configuration: {}\n", config);
    fmt::print(out, "  events: alarms less than {:g} s apart are one event\n\n", r.mergeSeconds);

    fmt::print(out, "Summary\n");
    fmt::print(out, "  {:<22} {:>7}   {} of {} detected\n", "sensitivity", Rate(m.sensitivity), m.tp, m.falls);
    fmt::print(out, "  {:<22} {:>7}   {} of {} without an alarm\n", "specificity", Rate(m.specificity), m.tn, m.adls);
    fmt::print(out, "  {:<22} {:>7}\n", "precision", Rate(m.precision));
    fmt::print(out, "  {:<22} {:>7}\n", "F1", Rate(m.f1));
    fmt::print(out, "  {:<22} {:>7}\n", "accuracy", Rate(m.accuracy));
    fmt::print(out, "  {:<22} {:>7}   {} in {:.2f} h of ADL recordings\n", "false alarms per hour",
               Rate(m.falseAlarmsPerHour, 2), Plural(m.falseAlarmEvents, "event", "events"), m.adlHours);
    if (m.latencyCount > 0) {
        fmt::print(out, "  {:<22} {:>7}   min {:.2f}, max {:.2f}: from the impact to the first alarm\n",
                   "latency median (s)", Rate(m.latencyMedian, 2), m.latencyMin, m.latencyMax);
    } else {
        fmt::print(out, "  {:<22} {:>7}\n", "latency median (s)", "-");
    }

    fmt::print(out, "\nConfusion matrix        detected   not detected\n");
    fmt::print(out, "  falls {:>6}       {:>9}  {:>13}\n", m.falls, m.tp, m.fn);
    fmt::print(out, "  ADLs  {:>6}       {:>9}  {:>13}\n", m.adls, m.fp, m.tn);
}

// Text cut to width characters, keeping its beginning.
std::string FitStart(const std::string& s, std::size_t width)
{
    return s.size() <= width ? s : s.substr(0, width - 3) + "...";
}

void Activities(FILE* out, const Breakdowns& b)
{
    if (b.activities.empty()) {
        return;
    }
    fmt::print(out, "\nBy activity\n  {:<5} {:<53} {:>10} {:>9} {:>6} {:>8}\n", "label", "activity", "recordings",
               "detected", "events", "hours");
    for (const ActivityRow& a : b.activities) {
        // The code, and beside it what the activity is when the labels say.
        std::string activity = a.activity.empty() ? "-" : Fit(a.activity, 53);
        if (!a.description.empty() && activity.size() + 2 < 53) {
            activity = FitStart(activity + " " + a.description, 53);
        }
        fmt::print(out, "  {:<5} {:<53} {:>10} {:>9} {:>6} {:>8.3f}\n", LabelName(a.label), activity, a.recordings,
                   a.detected, a.events, a.hours);
    }
}

void Codes(FILE* out, const Breakdowns& b)
{
    if (b.codes.empty()) {
        return;
    }
    fmt::print(out, "\nBy fall code\n  {:>4} {:>8} {:>16} {:>16}\n", "code", "alarms", "events on falls",
               "events on ADLs");
    for (const CodeRow& c : b.codes) {
        fmt::print(out, "  {:>4} {:>8} {:>16} {:>16}\n", c.code, c.alarms, c.eventsOnFalls, c.eventsOnAdls);
    }
}

void Folders(FILE* out, const Breakdowns& b)
{
    if (b.folders.size() < 2) {
        return;
    }
    fmt::print(out, "\nBy folder\n  {:<24} {:>5} {:>4} {:>4} {:>5} {:>4} {:>4} {:>11} {:>11} {:>9}\n", "folder",
               "falls", "TP", "FN", "ADLs", "FP", "TN", "sensitivity", "specificity", "FA/hour");
    for (const FolderRow& f : b.folders) {
        const Metrics& m = f.metrics;
        fmt::print(out, "  {:<24} {:>5} {:>4} {:>4} {:>5} {:>4} {:>4} {:>11} {:>11} {:>9}\n", Fit(f.folder, 24),
                   m.falls, m.tp, m.fn, m.adls, m.fp, m.tn, Rate(m.sensitivity), Rate(m.specificity),
                   Rate(m.falseAlarmsPerHour, 2));
    }
}

void Lists(FILE* out, const Evaluation& ev)
{
    std::vector<const RecordingOutcome*> missed;
    std::vector<const RecordingOutcome*> alarmed;
    std::vector<const RecordingOutcome*> failed;
    for (const RecordingOutcome& o : ev.outcomes) {
        if (!o.failure.empty()) {
            failed.push_back(&o);
        }
        if (!o.read) {
            continue;
        }
        if (o.labels.label == Label::Fall && o.detect.alarms.empty()) {
            missed.push_back(&o);
        } else if (o.labels.label == Label::Adl && !o.detect.alarms.empty()) {
            alarmed.push_back(&o);
        }
    }
    fmt::print(out, "\nMissed falls ({})\n", missed.size());
    for (const RecordingOutcome* o : missed) {
        fmt::print(out, "  {}\n", Fit(o->input.path, 96));
    }
    fmt::print(out, "\nFalse alarms ({})\n", alarmed.size());
    for (const RecordingOutcome* o : alarmed) {
        std::string codes;
        for (std::size_t i = 0; i < o->detect.alarms.size() && i < 6; ++i) {
            codes += fmt::format("{}{}@{}", i == 0 ? "" : " ", o->detect.alarms[i].code, o->detect.alarms[i].sample);
        }
        if (o->detect.alarms.size() > 6) {
            codes += " ...";
        }
        fmt::print(out, "  {:<56} {:>3} ev  {}\n", Fit(o->input.path, 56), o->events.size(), Fit(codes, 34));
    }
    if (!failed.empty()) {
        fmt::print(out, "\nNot read or not traced completely ({})\n", failed.size());
        for (const RecordingOutcome* o : failed) {
            fmt::print(out, "  {}\n    {}\n", Fit(o->input.path, 96), Fit(o->failure, 94));
        }
    }
}

}  // namespace

void ReportText(FILE* out, const EvalReport& report)
{
    Summary(out, report);
    Activities(out, *report.breakdowns);
    Codes(out, *report.breakdowns);
    Folders(out, *report.breakdowns);
    Lists(out, *report.evaluation);
    if (!report.requirements.empty()) {
        fmt::print(out, "\nRequirements\n");
        for (const RequirementResult& r : report.requirements) {
            fmt::print(out, "  {:<40} {:>10}   {}\n", r.requirement.text, Rate(r.value, 4), r.met ? "met" : "NOT MET");
        }
    }
}
