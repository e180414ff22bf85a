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

std::string ImportManifestText(const ImportSettings& settings, const ImportResult& result)
{
    std::string text = "path,label,activity,subject,trial,dataset,source,samples,description\n";
    for (const ImportRecording& r : result.recordings) {
        text += CsvField(r.path) + "," + r.label + "," + CsvField(r.activity) + "," + CsvField(r.subject) + "," +
                CsvField(r.trial) + "," + ImportDatasetName(settings.dataset) + "," + CsvField(Joined(r.sources, "+")) +
                "," + std::to_string(r.samples) + "," + CsvField(r.description) + "\n";
    }
    return text;
}

std::string ImportReportJson(const ImportSettings& settings, const ImportDatasetInfo& info, const ImportResult& result)
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
    j["format"] =
        settings.format == ImportFormat::Bin ? "bin" : (settings.format == ImportFormat::Csv ? "csv" : "both");
    j["axes_given"] = settings.axesGiven ? ordered_json(ImportAxesText(settings.axes)) : ordered_json(nullptr);
    j["rules"] = info.rules;

    int64_t samples = 0;
    int64_t clipped = 0;
    int falls = 0;
    int adls = 0;
    ordered_json recordings = ordered_json::array();
    for (const ImportRecording& r : result.recordings) {
        samples += r.samples;
        clipped += r.clipped;
        falls += r.label == "fall" ? 1 : 0;
        adls += r.label == "adl" ? 1 : 0;
        recordings.push_back({{"path", r.path},
                              {"label", r.label.empty() ? ordered_json(nullptr) : ordered_json(r.label)},
                              {"activity", r.activity},
                              {"subject", r.subject},
                              {"trial", r.trial},
                              {"description", r.description},
                              {"source", r.sources},
                              {"samples", r.samples},
                              {"axes", r.axes},
                              {"clipped", r.clipped},
                              {"conversion", r.conversion}});
    }
    ordered_json skipped = ordered_json::array();
    for (const ImportSkip& s : result.skipped) {
        skipped.push_back({{"source", s.source},
                           {"line", s.line > 0 ? ordered_json(s.line) : ordered_json(nullptr)},
                           {"reason", s.reason}});
    }
    j["summary"] = {{"recordings", result.recordings.size()},
                    {"falls", falls},
                    {"adls", adls},
                    {"unlabelled", static_cast<int>(result.recordings.size()) - falls - adls},
                    {"samples", samples},
                    {"clipped", clipped},
                    {"skipped", result.skipped.size()},
                    {"raw_bytes", result.rawBytes}};
    j["recordings"] = recordings;
    j["skipped"] = skipped;
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool ImportWriteFile(const std::string& path, const std::string& bytes, std::string* error)
{
    return FilesWriteWhole(path, bytes, error);
}
