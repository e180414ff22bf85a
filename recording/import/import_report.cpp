// The manifest, the report and the CSV headers of an import.
#include "import_report.h"

#include <nlohmann/json.hpp>

#include "csv_format.h"
#include "report.h"
#include "tumblewatch.h"

namespace {

using nlohmann::ordered_json;

std::string Joined(const std::vector<std::string>& parts, const std::string& between)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i > 0 ? between : "") + parts[i];
    }
    return text;
}

}  // namespace

std::vector<std::string> ImportCsvHeader(const ImportSettings& settings, const ImportDatasetInfo& info,
                                         const ImportTrial& trial, const ImportRecording& recording)
{
    const bool dataset = settings.dataset != ImportDataset::Csv;
    std::string activity = recording.activity;
    if (!recording.description.empty()) {
        activity += " " + recording.description;
    }
    std::string who;
    if (!recording.subject.empty()) {
        who = "subject " + recording.subject;
    }
    if (!recording.trial.empty()) {
        who += (who.empty() ? "" : ", ") + std::string("trial ") + recording.trial;
    }
    if (!who.empty()) {
        activity += " (" + who + ")";
    }
    if (info.placement[0] != '\0') {
        activity += std::string("; placement: ") + info.placement;
    }
    return {
        "# recording " + trial.name + " (" + (recording.label.empty() ? "unlabelled" : recording.label) +
            "), converted from " + (dataset ? std::string("the ") + info.title + " dataset" : "a CSV file"),
        "# source: " + Joined(recording.sources, " + "),
        "# activity: " + activity,
        "# conversion: " + recording.conversion + "; 50 samples per second",
        "# axes: out(x,y,z) = src(" + recording.axes + "), accelerometer and gyro alike" +
            (dataset ? "; upright reads about (0,-8192,0)" : ""),
        "# counts: accel 8192 per g, gyro 65.536 per deg/s, rounded half away from zero, clipped to int16",
        "# row,accel x,accel y,accel z,gyro x,gyro y,gyro z (" + std::to_string(recording.samples) + " rows from 0)"};
}

std::string ImportManifestHeader()
{
    return "path,label,activity,subject,trial,dataset,source,samples,description,take,fall_start,fall_end,"
           "alert_start,alert_end\n";
}

std::string ImportManifestRow(const ImportSettings& settings, const ImportRecording& r)
{
    auto sample = [](int64_t s) { return s < 0 ? std::string() : std::to_string(s); };
    return CsvField(r.path) + "," + r.label + "," + CsvField(r.activity) + "," + CsvField(r.subject) + "," +
           CsvField(r.trial) + "," + ImportDatasetName(settings.dataset) + "," + CsvField(Joined(r.sources, "+")) +
           "," + std::to_string(r.samples) + "," + CsvField(r.description) + "," + std::to_string(r.take) + "," +
           sample(r.phases.fallStart) + "," + sample(r.phases.fallEnd) + "," + sample(r.phases.alertStart) + "," +
           sample(r.phases.alertEnd) + "\n";
}

namespace {

std::string Dumped(const ordered_json& j)
{
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A value dumped as it stands at depth levels of a pretty-printed file.
std::string Indented(const ordered_json& j, int levels)
{
    const std::string pad(static_cast<std::size_t>(levels) * 2, ' ');
    std::string text = Dumped(j);
    std::string out = pad;
    for (const char c : text) {
        out += c;
        if (c == '\n') {
            out += pad;
        }
    }
    return out;
}

ordered_json PhaseValue(int64_t sample)
{
    return sample < 0 ? ordered_json(nullptr) : ordered_json(sample);
}

ordered_json Skips(const std::vector<ImportSkip>& skips)
{
    ordered_json list = ordered_json::array();
    for (const ImportSkip& s : skips) {
        list.push_back({{"source", s.source},
                        {"line", s.line > 0 ? ordered_json(s.line) : ordered_json(nullptr)},
                        {"reason", s.reason}});
    }
    return list;
}

}  // namespace

std::string ImportReportHead(const ImportSettings& settings, const ImportDatasetInfo& info)
{
    ordered_json j;
    j["tool"] = "tumblewatch import";
    j["version"] = TumblewatchVersion();
    j["dataset"] = ImportDatasetName(settings.dataset);
    j["title"] = info.title;
    j["citation"] = info.citation;
    j["licence"] = info.licence;
    j["published"] = info.published;
    j["placement"] = info.placement;
    j["raw_dir"] = settings.rawDir;
    j["annotation_dir"] = settings.annotationDir.empty() ? ordered_json(nullptr) : ordered_json(settings.annotationDir);
    j["format"] =
        settings.format == ImportFormat::Bin ? "bin" : (settings.format == ImportFormat::Csv ? "csv" : "both");
    j["axes_given"] = settings.axesGiven ? ordered_json(ImportAxesText(settings.axes)) : ordered_json(nullptr);
    j["rules"] = info.rules;
    std::string text = Dumped(j);
    text.pop_back();  // the closing brace: the recordings follow
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text + ",\n  \"recordings\": [";
}

std::string ImportReportRecording(const ImportRecording& r, bool first)
{
    const ordered_json j{{"path", r.path},
                         {"label", r.label.empty() ? ordered_json(nullptr) : ordered_json(r.label)},
                         {"activity", r.activity},
                         {"subject", r.subject},
                         {"trial", r.trial},
                         {"take", r.take},
                         {"description", r.description},
                         {"source", r.sources},
                         {"samples", r.samples},
                         {"axes", r.axes},
                         {"clipped", r.clipped},
                         {"conversion", r.conversion},
                         {"fall_start", PhaseValue(r.phases.fallStart)},
                         {"fall_end", PhaseValue(r.phases.fallEnd)},
                         {"alert_start", PhaseValue(r.phases.alertStart)},
                         {"alert_end", PhaseValue(r.phases.alertEnd)}};
    return std::string(first ? "\n" : ",\n") + Indented(j, 2);
}

std::string ImportReportTail(const ImportResult& result)
{
    ordered_json tail;
    tail["skipped"] = Skips(result.skipped);
    tail["notes"] = Skips(result.notes);
    tail["unannotated"] = Skips(result.unannotated);
    tail["summary"] = {{"recordings", result.made},
                       {"falls", result.falls},
                       {"adls", result.adls},
                       {"unlabelled", result.made - result.falls - result.adls},
                       {"samples", result.samples},
                       {"clipped", result.clipped},
                       {"skipped", result.skipped.size()},
                       {"notes", result.notes.size()},
                       {"unannotated", result.unannotated.size()},
                       {"raw_bytes", result.rawBytes}};
    std::string text = Dumped(tail);  // "{\n  \"skipped\": ...\n}"
    return std::string(result.made > 0 ? "\n  ]," : "],") + text.substr(1) + "\n";
}

bool ImportWriteFile(const std::string& path, const std::string& bytes, std::string* error)
{
    return FilesWriteWhole(path, bytes, error);
}
