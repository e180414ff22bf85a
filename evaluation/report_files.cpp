// The JSON and CSV reports of an evaluation, written piece by piece.
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "csv_format.h"
#include "params.h"
#include "report.h"

namespace {

using nlohmann::ordered_json;

// A number, or null when undefined.
ordered_json Number(double v)
{
    return std::isnan(v) ? ordered_json(nullptr) : ordered_json(v);
}

// A value as it stands at depth levels of the document (indent 2): every
// line after its first indented by two spaces per level. A name that is
// not valid UTF-8 gets replacement characters.
std::string Dumped(const ordered_json& value, int depth)
{
    const std::string text = value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    const std::string indent = "\n" + std::string(2 * static_cast<std::size_t>(depth), ' ');
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\n') {
            out += indent;
        } else {
            out += c;
        }
    }
    return out;
}

// Writes the members of the document's top-level object one at a time.
class DocumentWriter {
public:
    explicit DocumentWriter(const TextSink& sink) : sink_(sink) { sink_("{"); }
    void Member(const char* key, const ordered_json& value) { Key(key), sink_(Dumped(value, 1)); }
    // An array member whose elements come one at a time.
    void BeginArray(const char* key)
    {
        Key(key);
        elements_ = 0;
    }
    void Element(const ordered_json& value)
    {
        sink_(elements_++ == 0 ? "[\n    " : ",\n    ");
        sink_(Dumped(value, 2));
    }
    void EndArray() { sink_(elements_ == 0 ? "[]" : "\n  ]"); }
    void End() { sink_(members_ == 0 ? "}\n" : "\n}\n"); }

private:
    void Key(const char* key)
    {
        sink_(members_++ == 0 ? "\n  \"" : ",\n  \"");
        sink_(key);
        sink_("\": ");
    }
    const TextSink& sink_;
    int members_ = 0;
    int elements_ = 0;
};

ordered_json MetricsJson(const Metrics& m)
{
    ordered_json j;
    for (const std::string& name : MetricsNames()) {
        double v = 0.0;
        MetricsValue(m, name, &v);
        j[name] = MetricsIsCount(name) ? ordered_json(static_cast<int64_t>(v)) : Number(v);
    }
    j["latency_count"] = m.latencyCount;
    if (m.timedFalls > 0) {
        j["timed_falls"] = m.timedFalls;
        j["early_events"] = m.earlyEvents;
        j["late_events"] = m.lateEvents;
        j["outside_hours"] = m.outsideHours;
        j["outside_events_per_hour"] = Number(m.outsideEventsPerHour);
        j["latency_end_median"] = Number(m.latencyEndMedian);
        j["latency_end_min"] = Number(m.latencyEndMin);
        j["latency_end_max"] = Number(m.latencyEndMax);
        j["latency_end_count"] = m.latencyEndCount;
    }
    return j;
}

// The fall window of a timed fall's outcome.
ordered_json WindowJson(const RecordingOutcome& o)
{
    const FallWindowTally& w = o.window;
    const double latency = EvalLatency(o);
    const int64_t alarm = EvalDetectingAlarm(o);
    const auto sample = [](int64_t v) { return v < 0 ? ordered_json(nullptr) : ordered_json(v); };
    return {{"fall_start", o.labels.fallStart},
            {"fall_end", o.labels.fallEnd},
            {"alert_start", sample(o.labels.alertStart)},
            {"alert_end", sample(o.labels.alertEnd)},
            {"first", w.first},
            {"last", w.last},
            {"first_alarm", sample(w.firstAlarm)},
            {"alarms_in", w.inAlarms},
            {"early_alarms", w.earlyAlarms},
            {"late_alarms", w.lateAlarms},
            {"early_events", w.earlyEvents},
            {"late_events", w.lateEvents},
            {"outside_s", static_cast<double>(MetricsOutsideSamples(w, o.detect.samples)) / kSampleRate},
            {"latency_start_s", o.counted ? Number(latency) : ordered_json(nullptr)},
            {"latency_end_s", o.counted && alarm >= 0
                                  ? ordered_json(static_cast<double>(alarm - o.labels.fallEnd) / kSampleRate)
                                  : ordered_json(nullptr)}};
}

ordered_json OutcomeJson(const RecordingOutcome& o)
{
    ordered_json j;
    j["path"] = o.input.path;
    j["relative_path"] = o.input.relative;
    j["folder"] = o.input.folder;
    j["format"] = o.input.format == RecordingFormat::DataSet ? "bin" : "csv";
    j["micom_layout"] = o.input.micom;
    j["csv_twin_passed_over"] = o.input.hadTwin;
    j["label"] = o.labels.label == Label::None ? ordered_json(nullptr) : ordered_json(LabelName(o.labels.label));
    j["activity"] = o.labels.activity;
    j["description"] = o.labels.description;
    j["subject"] = o.labels.subject;
    j["labels_from"] = o.labelsFromManifest ? "manifest" : "file name";
    if (!o.labels.dataset.empty()) {
        j["dataset"] = o.labels.dataset;
    }
    if (!o.labels.take.empty()) {
        j["take"] = o.labels.take;
    }
    j["read"] = o.read;
    j["failure"] = o.failure.empty() ? ordered_json(nullptr) : ordered_json(o.failure);
    if (!o.read) {
        return j;
    }
    j["counted"] = o.counted;
    j["samples"] = o.detect.samples;
    j["duration_s"] = o.detect.samples / kSampleRate;
    ordered_json alarms = ordered_json::array();
    for (const Alarm& a : o.detect.alarms) {
        alarms.push_back({{"sample", a.sample}, {"code", a.code}});
    }
    j["alarms"] = alarms;
    j["alarm_count"] = o.alarmCount;
    ordered_json events = ordered_json::array();
    for (const AlarmEvent& e : o.events) {
        events.push_back({{"first", e.first}, {"last", e.last}, {"alarms", e.alarms}});
    }
    j["events"] = events;
    j["event_count"] = o.eventCount;
    j["detected"] = o.alarmCount > 0;
    j["first_alarm"] = o.detect.alarms.empty() ? ordered_json(nullptr) : ordered_json(o.detect.alarms[0].sample);
    j["impact"] = {{"sample", o.impact},
                   {"source", o.impactFromManifest ? "manifest" : "peak"},
                   {"peak_magnitude", o.detect.peakMagnitude}};
    j["latency_s"] = o.detect.alarms.empty() || !o.counted
                         ? ordered_json(nullptr)
                         : ordered_json((static_cast<double>(o.detect.alarms[0].sample) - o.impact) / kSampleRate);
    if (o.window.active) {
        j["detected"] = EvalDetected(o);
        j["latency_s"] = o.counted ? Number(EvalLatency(o)) : ordered_json(nullptr);
        j["fall_window"] = WindowJson(o);
    }
    if (!o.tracePath.empty()) {
        j["trace"] = o.tracePath;
    }
    return j;
}

// An interval as {lower, upper}, null when undefined.
ordered_json IntervalJson(const Interval& i)
{
    return i.defined ? ordered_json{{"lower", i.lower}, {"upper", i.upper}} : ordered_json(nullptr);
}

ordered_json RateIntervalsJson(const RateIntervals& r)
{
    return {{"sensitivity", IntervalJson(r.sensitivity)},
            {"specificity", IntervalJson(r.specificity)},
            {"precision", IntervalJson(r.precision)},
            {"false_alarms_per_hour", IntervalJson(r.falseAlarmsPerHour)}};
}

// The "intervals" member: the summary's, per activity, per folder and the
// bootstrap's (null without one).
ordered_json IntervalsJson(const EvalIntervals& in, const Breakdowns& b)
{
    ordered_json j = RateIntervalsJson(in.summary);
    j["confidence"] = in.settings.confidence;
    j["methods"] = {{"shares", "wilson"}, {"false_alarms_per_hour", "poisson exact (garwood)"}};
    ordered_json activities = ordered_json::array();
    for (std::size_t i = 0; i < in.activities.size() && i < b.activities.size(); ++i) {
        activities.push_back({{"label", LabelName(b.activities[i].label)},
                              {"activity", b.activities[i].activity},
                              {"detected", IntervalJson(in.activities[i])}});
    }
    j["by_activity"] = activities;
    ordered_json folders = ordered_json::array();
    for (std::size_t i = 0; i < in.folders.size() && i < b.folders.size(); ++i) {
        ordered_json row = RateIntervalsJson(in.folders[i]);
        row["folder"] = b.folders[i].folder;
        folders.push_back(row);
    }
    j["by_folder"] = folders;
    if (!in.bootstrapped) {
        j["bootstrap"] = nullptr;
        return j;
    }
    const IntervalBootstrap& boot = in.bootstrap;
    ordered_json bootstrap =
        RateIntervalsJson(RateIntervals{boot.sensitivity, boot.specificity, boot.precision, boot.falseAlarmsPerHour});
    bootstrap["subjects"] = boot.subjects;
    bootstrap["resamples"] = boot.resamples;
    bootstrap["seed"] = boot.seed;
    j["bootstrap"] = bootstrap;
    return j;
}

// A CSV field, quoted when it holds a comma, a quote or a line end.
std::string Field(const std::string& s)
{
    return CsvField(s);
}

std::string CsvRow(const RecordingOutcome& o)
{
    // A timed fall's first alarm is its first in the window.
    std::vector<Alarm> detecting;
    for (const Alarm& a : o.detect.alarms) {
        if (!o.window.active || static_cast<int64_t>(a.sample) == o.window.firstAlarm) {
            detecting.push_back(a);
            break;
        }
    }
    const auto& alarms = detecting;
    std::string codes;
    for (const CodeTally& c : o.codes) {
        codes += (codes.empty() ? "" : " ") + std::to_string(c.code);
    }
    char latency[32] = "";
    if (!alarms.empty() && o.counted) {
        std::snprintf(
            latency, sizeof latency, "%.2f",
            o.window.active ? EvalLatency(o) : (static_cast<double>(alarms[0].sample) - o.impact) / kSampleRate);
    }
    std::string text = Field(o.input.path) + "," + LabelName(o.labels.label) + "," + Field(o.labels.activity) + "," +
                       Field(o.labels.subject) + "," + Field(o.input.folder) + "," +
                       (o.input.format == RecordingFormat::DataSet ? "bin" : "csv") + "," + (o.read ? "1" : "0") + ",";
    if (o.read) {
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.2f", o.detect.samples / kSampleRate);
        text += std::to_string(o.detect.samples) + "," + duration + "," + std::to_string(o.alarmCount) + "," +
                std::to_string(o.eventCount) + "," + (alarms.empty() ? "0" : "1") + "," +
                (alarms.empty() ? "" : std::to_string(alarms[0].sample)) + "," +
                (alarms.empty() ? "" : std::to_string(alarms[0].code)) + "," + codes + "," + std::to_string(o.impact) +
                "," + (o.impactFromManifest ? "manifest" : "peak") + "," + latency;
    } else {
        text += ",,,,,,,,,,";
    }
    return text + "," + Field(o.failure) + "\n";
}

// The columns a set with timed falls adds to each row: the fall's timing,
// its window, the first alarm in it, the early and late events and the
// latency to the fall's end (empty for the other recordings).
std::string CsvWindowColumns(const RecordingOutcome& o)
{
    if (!o.window.active || !o.read) {
        return ",,,,,,,,,";
    }
    const FallWindowTally& w = o.window;
    const auto sample = [](int64_t v) { return v < 0 ? std::string() : std::to_string(v); };
    char end[32] = "";
    const int64_t alarm = EvalDetectingAlarm(o);
    if (alarm >= 0 && o.counted) {
        std::snprintf(end, sizeof end, "%.2f", static_cast<double>(alarm - o.labels.fallEnd) / kSampleRate);
    }
    return "," + std::to_string(o.labels.fallStart) + "," + std::to_string(o.labels.fallEnd) + "," +
           std::to_string(w.first) + "," + std::to_string(w.last) + "," + sample(w.firstAlarm) + "," +
           std::to_string(w.earlyEvents) + "," + std::to_string(w.lateEvents) + "," + end + "," +
           (o.labels.take.empty() ? std::string() : o.labels.take);
}

}  // namespace

EvalIntervals ReportIntervals(const EvalReport& report)
{
    if (report.intervals != nullptr) {
        return *report.intervals;
    }
    return EvalIntervalsOf(*report.evaluation, *report.metrics, *report.breakdowns, IntervalDefaultSettings());
}

ReportCounts ReportCountsOf(const Evaluation& evaluation)
{
    ReportCounts c{0, 0, 0};
    for (const RecordingOutcome& o : evaluation.outcomes) {
        c.unreadable += o.read ? 0 : 1;
        c.empty += o.read && o.detect.samples == 0 ? 1 : 0;
        c.unlabelled += o.counted && o.labels.label == Label::None ? 1 : 0;
    }
    return c;
}

void ReportJsonWrite(const EvalReport& r, const TextSink& sink)
{
    const Evaluation& ev = *r.evaluation;
    DocumentWriter doc(sink);
    doc.Member("tool", "tumblewatch eval");
    doc.Member("version", TumblewatchVersion());
    doc.Member("inputs", r.arguments);
    doc.Member("manifest", r.manifest.empty() ? ordered_json(nullptr) : ordered_json(r.manifest));
    if (!r.moreManifests.empty()) {
        ordered_json all = ordered_json::array({r.manifest});
        for (const std::string& m : r.moreManifests) {
            all.push_back(m);
        }
        doc.Member("manifests", all);
    }
    doc.Member("merge_seconds", r.mergeSeconds);
    ordered_json config;
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        config[TumblewatchParams()[i].name] = TumblewatchParamGet(r.config, i);
    }
    doc.Member("config", config);
    if (r.metrics->timedFalls > 0) {
        doc.Member("fall_window", {{"before_s", r.window.beforeSeconds}, {"after_s", r.window.afterSeconds}});
    }

    ordered_json summary = MetricsJson(*r.metrics);
    const ReportCounts counts = ReportCountsOf(ev);
    summary["recordings_found"] = ev.outcomes.size();
    summary["unreadable"] = counts.unreadable;
    summary["unlabelled"] = counts.unlabelled;
    summary["empty"] = counts.empty;
    summary["csv_twins_passed_over"] = ev.twinsPassedOver;
    summary["skipped"] = ev.skipped.size();
    summary["samples"] = ev.samples;
    summary["seconds"] = ev.seconds;
    doc.Member("summary", summary);
    doc.Member("intervals", IntervalsJson(ReportIntervals(r), *r.breakdowns));

    ordered_json activities = ordered_json::array();
    for (const ActivityRow& a : r.breakdowns->activities) {
        activities.push_back({{"label", LabelName(a.label)},
                              {"activity", a.activity},
                              {"description", a.description},
                              {"recordings", a.recordings},
                              {"detected", a.detected},
                              {"events", a.events},
                              {"hours", a.hours}});
    }
    doc.Member("by_activity", activities);
    ordered_json codes = ordered_json::array();
    for (const CodeRow& c : r.breakdowns->codes) {
        codes.push_back({{"code", c.code},
                         {"alarms", c.alarms},
                         {"events_on_falls", c.eventsOnFalls},
                         {"events_on_adls", c.eventsOnAdls}});
    }
    doc.Member("by_code", codes);
    ordered_json folders = ordered_json::array();
    for (const FolderRow& f : r.breakdowns->folders) {
        ordered_json row = MetricsJson(f.metrics);
        row["folder"] = f.folder;
        folders.push_back(row);
    }
    doc.Member("by_folder", folders);
    if (!r.breakdowns->datasets.empty()) {
        ordered_json datasets = ordered_json::array();
        for (const DatasetRow& d : r.breakdowns->datasets) {
            ordered_json row = MetricsJson(d.metrics);
            row["dataset"] = d.dataset;
            datasets.push_back(row);
        }
        doc.Member("by_dataset", datasets);
    }

    doc.BeginArray("recordings");
    for (const RecordingOutcome& o : ev.outcomes) {
        doc.Element(OutcomeJson(o));
    }
    doc.EndArray();
    doc.BeginArray("failures");
    for (const RecordingOutcome& o : ev.outcomes) {
        if (!o.failure.empty()) {
            doc.Element({{"path", o.input.path}, {"reason", o.failure}});
        }
    }
    doc.EndArray();
    doc.BeginArray("skipped");
    for (const InputSkipped& s : ev.skipped) {
        doc.Element({{"path", s.path}, {"reason", s.reason}, {"failed", s.failed}});
    }
    doc.EndArray();
    ordered_json requirements = ordered_json::array();
    for (const RequirementResult& q : r.requirements) {
        requirements.push_back({{"requirement", q.requirement.text}, {"value", Number(q.value)}, {"met", q.met}});
    }
    doc.Member("requirements", requirements);
    doc.End();
}

std::string ReportJson(const EvalReport& report)
{
    std::string text;
    ReportJsonWrite(report, [&text](std::string_view piece) { text += piece; });
    return text;
}

void ReportCsvWrite(const EvalReport& r, const TextSink& sink)
{
    bool timed = false;
    for (const RecordingOutcome& o : r.evaluation->outcomes) {
        timed = timed || o.window.active;
    }
    if (!timed) {
        sink(
            "path,label,activity,subject,folder,format,read,samples,duration_s,alarms,events,detected,first_alarm,"
            "first_code,codes,impact_sample,impact_source,latency_s,failure\n");
        for (const RecordingOutcome& o : r.evaluation->outcomes) {
            sink(CsvRow(o));
        }
        return;
    }
    sink(
        "path,label,activity,subject,folder,format,read,samples,duration_s,alarms,events,detected,first_alarm,"
        "first_code,codes,impact_sample,impact_source,latency_s,failure,fall_start,fall_end,window_first,"
        "window_last,first_alarm_in_window,early_events,late_events,latency_end_s,take\n");
    for (const RecordingOutcome& o : r.evaluation->outcomes) {
        std::string row = CsvRow(o);
        row.pop_back();  // its line end
        sink(row + CsvWindowColumns(o) + "\n");
    }
}

std::string ReportCsv(const EvalReport& report)
{
    std::string text;
    ReportCsvWrite(report, [&text](std::string_view piece) { text += piece; });
    return text;
}
