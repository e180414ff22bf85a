// The JSON and CSV reports of an evaluation, and writing report files.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "csv_format.h"
#include "params.h"
#include "report.h"
#include "safe_files.h"

namespace {

using nlohmann::ordered_json;

// A number, or null when undefined.
ordered_json Number(double v)
{
    return std::isnan(v) ? ordered_json(nullptr) : ordered_json(v);
}

ordered_json MetricsJson(const Metrics& m)
{
    ordered_json j;
    for (const std::string& name : MetricsNames()) {
        double v = 0.0;
        MetricsValue(m, name, &v);
        j[name] = MetricsIsCount(name) ? ordered_json(static_cast<int64_t>(v)) : Number(v);
    }
    j["latency_count"] = m.latencyCount;
    return j;
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
    j["read"] = o.read;
    j["failure"] = o.failure.empty() ? ordered_json(nullptr) : ordered_json(o.failure);
    if (!o.read) {
        return j;
    }
    j["samples"] = o.detect.samples;
    j["duration_s"] = o.detect.samples / kSampleRate;
    ordered_json alarms = ordered_json::array();
    for (const Alarm& a : o.detect.alarms) {
        alarms.push_back({{"sample", a.sample}, {"code", a.code}});
    }
    j["alarms"] = alarms;
    ordered_json events = ordered_json::array();
    for (const AlarmEvent& e : o.events) {
        events.push_back({{"first", e.first}, {"last", e.last}, {"alarms", e.alarms}});
    }
    j["events"] = events;
    j["detected"] = !o.detect.alarms.empty();
    j["first_alarm"] = o.detect.alarms.empty() ? ordered_json(nullptr) : ordered_json(o.detect.alarms[0].sample);
    j["impact"] = {{"sample", o.impact},
                   {"source", o.impactFromManifest ? "manifest" : "peak"},
                   {"peak_magnitude", o.detect.peakMagnitude}};
    j["latency_s"] = o.detect.alarms.empty()
                         ? ordered_json(nullptr)
                         : ordered_json((static_cast<double>(o.detect.alarms[0].sample) - o.impact) / kSampleRate);
    if (!o.tracePath.empty()) {
        j["trace"] = o.tracePath;
    }
    return j;
}

// A CSV field, quoted when it holds a comma, a quote or a line end.
std::string Field(const std::string& s)
{
    return CsvField(s);
}

}  // namespace

std::string ReportJson(const EvalReport& r)
{
    const Evaluation& ev = *r.evaluation;
    ordered_json j;
    j["tool"] = "tumblewatch eval";
    j["version"] = TumblewatchVersion();
    j["inputs"] = r.arguments;
    j["manifest"] = r.manifest.empty() ? ordered_json(nullptr) : ordered_json(r.manifest);
    j["merge_seconds"] = r.mergeSeconds;
    ordered_json config;
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        config[TumblewatchParams()[i].name] = TumblewatchParamGet(r.config, i);
    }
    j["config"] = config;

    ordered_json summary = MetricsJson(*r.metrics);
    int unreadable = 0;
    for (const RecordingOutcome& o : ev.outcomes) {
        unreadable += o.read ? 0 : 1;
    }
    summary["recordings_found"] = ev.outcomes.size();
    summary["unreadable"] = unreadable;
    summary["unlabelled"] = static_cast<int>(ev.outcomes.size()) - unreadable - r.metrics->recordings;
    summary["csv_twins_passed_over"] = ev.twinsPassedOver;
    summary["samples"] = ev.samples;
    summary["seconds"] = ev.seconds;
    j["summary"] = summary;

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
    j["by_activity"] = activities;
    ordered_json codes = ordered_json::array();
    for (const CodeRow& c : r.breakdowns->codes) {
        codes.push_back({{"code", c.code},
                         {"alarms", c.alarms},
                         {"events_on_falls", c.eventsOnFalls},
                         {"events_on_adls", c.eventsOnAdls}});
    }
    j["by_code"] = codes;
    ordered_json folders = ordered_json::array();
    for (const FolderRow& f : r.breakdowns->folders) {
        ordered_json row = MetricsJson(f.metrics);
        row["folder"] = f.folder;
        folders.push_back(row);
    }
    j["by_folder"] = folders;

    ordered_json recordings = ordered_json::array();
    ordered_json failed = ordered_json::array();
    for (const RecordingOutcome& o : ev.outcomes) {
        recordings.push_back(OutcomeJson(o));
        if (!o.failure.empty()) {
            failed.push_back({{"path", o.input.path}, {"reason", o.failure}});
        }
    }
    j["recordings"] = recordings;
    j["failures"] = failed;
    ordered_json requirements = ordered_json::array();
    for (const RequirementResult& q : r.requirements) {
        requirements.push_back({{"requirement", q.requirement.text}, {"value", Number(q.value)}, {"met", q.met}});
    }
    j["requirements"] = requirements;
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string ReportCsv(const EvalReport& r)
{
    std::string text =
        "path,label,activity,subject,folder,format,read,samples,duration_s,alarms,events,detected,first_alarm,"
        "first_code,codes,impact_sample,impact_source,latency_s,failure\n";
    for (const RecordingOutcome& o : r.evaluation->outcomes) {
        const auto& alarms = o.detect.alarms;
        std::set<int> distinct;
        for (const Alarm& a : alarms) {
            distinct.insert(a.code);
        }
        std::string codes;
        for (const int c : distinct) {
            codes += (codes.empty() ? "" : " ") + std::to_string(c);
        }
        char latency[32] = "";
        if (!alarms.empty()) {
            std::snprintf(latency, sizeof latency, "%.2f",
                          (static_cast<double>(alarms[0].sample) - o.impact) / kSampleRate);
        }
        text += Field(o.input.path) + "," + LabelName(o.labels.label) + "," + Field(o.labels.activity) + "," +
                Field(o.labels.subject) + "," + Field(o.input.folder) + "," +
                (o.input.format == RecordingFormat::DataSet ? "bin" : "csv") + "," + (o.read ? "1" : "0") + ",";
        if (o.read) {
            char duration[32];
            std::snprintf(duration, sizeof duration, "%.2f", o.detect.samples / kSampleRate);
            text += std::to_string(o.detect.samples) + "," + duration + "," + std::to_string(alarms.size()) + "," +
                    std::to_string(o.events.size()) + "," + (alarms.empty() ? "0" : "1") + "," +
                    (alarms.empty() ? "" : std::to_string(alarms[0].sample)) + "," +
                    (alarms.empty() ? "" : std::to_string(alarms[0].code)) + "," + codes + "," +
                    std::to_string(o.impact) + "," + (o.impactFromManifest ? "manifest" : "peak") + "," + latency;
        } else {
            text += ",,,,,,,,,,";
        }
        text += "," + Field(o.failure) + "\n";
    }
    return text;
}

bool ReportWriteFile(const std::string& path, const std::string& text, std::string* error)
{
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = path + ": cannot be written: " + SafeErrorText(errno);
        return false;
    }
    FILE* file = fdopen(fd, "w");
    if (file == nullptr) {
        close(fd);
        std::remove(temp.c_str());
        *error = path + ": cannot be written: " + SafeErrorText(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    std::string reason;
    const bool closed = SafeCloseOutput(file, written ? 0 : errno, &reason);
    if (!written || !closed) {
        std::remove(temp.c_str());
        *error = path + ": cannot be written: " + reason;
        return false;
    }
    // mkstemp creates the file readable by its owner only; a report is an
    // ordinary file.
    chmod(temp.c_str(), 0644);
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        *error = path + ": cannot be written: " + SafeErrorText(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}
