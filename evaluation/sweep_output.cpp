// Writing and reading the output file of a sweep.
#include "sweep_output.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "config.h"
#include "file_rules.h"
#include "folds.h"
#include "params.h"

namespace {

using nlohmann::ordered_json;

const char kCsvMark[] = "# tumblewatch sweep";
const char kJsonKey[] = "tumblewatch_sweep";

std::vector<double> MetricValues(const SweepRow& row, int folds)
{
    const Metrics& m = row.all;
    std::vector<double> v{static_cast<double>(m.tp),
                          static_cast<double>(m.fn),
                          static_cast<double>(m.fp),
                          static_cast<double>(m.tn),
                          m.sensitivity,
                          m.specificity,
                          m.f1,
                          m.falseAlarmsPerHour,
                          m.latencyMedian,
                          static_cast<double>(m.falseAlarmEvents)};
    if (folds > 0) {
        for (const FoldMetrics* f : {&row.tune, &row.held}) {
            v.insert(v.end(), {f->sensitivity, f->specificity, f->f1, f->falseAlarmsPerHour});
        }
        for (const Metrics& h : row.heldFolds) {
            v.insert(v.end(), {static_cast<double>(h.tp), static_cast<double>(h.fn), static_cast<double>(h.fp),
                               static_cast<double>(h.tn), static_cast<double>(h.falseAlarmEvents)});
        }
    }
    return v;
}

// A metric as a CSV field: counts as integers, rates with six decimals,
// nothing when undefined.
std::string CsvNumber(const std::string& column, double v)
{
    if (std::isnan(v)) {
        return std::string();
    }
    char text[64];
    if (SweepColumnIsCount(column)) {
        std::snprintf(text, sizeof text, "%.0f", v);
    } else {
        std::snprintf(text, sizeof text, "%.6f", v);
    }
    return text;
}

ordered_json JsonNumber(const std::string& column, double v)
{
    if (!std::isnan(v) && SweepColumnIsCount(column)) {
        return static_cast<int64_t>(v);
    }
    return SweepJsonRate(v);
}

std::vector<std::string> SplitCommas(const std::string& line)
{
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
        const size_t comma = line.find(',', at);
        fields.push_back(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos) {
            return fields;
        }
        at = comma + 1;
    }
}

// Digits from text[at]; the index after them.
std::size_t Digits(const std::string& text, std::size_t at)
{
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        ++at;
    }
    return at;
}

// A metric as the rows write it: empty (undefined), or a decimal number
// with an optional sign and fraction ("12", "-0.500000"); nothing else
// (no "nan", no exponent, no spaces).
bool ParseDouble(const std::string& text, double* v)
{
    if (text.empty()) {
        *v = std::nan("");
        return true;
    }
    const std::size_t start = text[0] == '-' ? 1 : 0;
    std::size_t at = Digits(text, start);
    if (at == start) {
        return false;
    }
    if (at < text.size() && text[at] == '.') {
        const std::size_t fraction = at + 1;
        at = Digits(text, fraction);
        if (at == fraction) {
            return false;
        }
    }
    if (at != text.size()) {
        return false;
    }
    *v = std::strtod(text.c_str(), nullptr);
    return std::isfinite(*v);
}

// A configuration number: decimal digits only, within int64.
bool ParseInt64(const std::string& text, int64_t* v)
{
    if (text.empty() || Digits(text, 0) != text.size() || text.size() > 19) {
        return false;
    }
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) {
        return false;
    }
    *v = value;
    return true;
}

// A count must be a whole number, 0 or more, and present.
bool CountOk(const std::string& column, double v)
{
    return !SweepColumnIsCount(column) || (!std::isnan(v) && v >= 0.0 && v == std::floor(v));
}

// The CSV header line of the columns.
std::string ColumnLine(const SweepLayout& layout)
{
    std::string line = "config";
    for (const std::string& v : layout.varied) {
        line += "," + v;
    }
    for (const std::string& c : layout.columns) {
        line += "," + c;
    }
    return line + "\n";
}

// The number of held-out groups whose counts the columns carry; -1 when the
// columns are neither this version's nor a previous one's.
int FoldsOfColumns(const std::vector<std::string>& columns)
{
    int folds = 0;
    while (std::find(columns.begin(), columns.end(), "fold" + std::to_string(folds + 1) + "_tp") != columns.end()) {
        ++folds;
    }
    if (columns == SweepMetricColumns(folds) || columns == SweepLegacyMetricColumns(false) ||
        columns == SweepLegacyMetricColumns(true)) {
        return folds;
    }
    return -1;
}

// The layout's varied parameters and columns from the CSV column line:
// the varied names run from "config" up to "tp".
bool ParseColumnLine(const std::string& line, SweepLayout* layout)
{
    const std::vector<std::string> fields = SplitCommas(line);
    const auto tp = std::find(fields.begin(), fields.end(), "tp");
    if (fields.empty() || fields[0] != "config" || tp == fields.end()) {
        return false;
    }
    layout->varied.assign(fields.begin() + 1, tp);
    layout->columns.assign(tp, fields.end());
    layout->folds = FoldsOfColumns(layout->columns);
    return layout->folds >= 0;
}

bool ParseCsvRow(const SweepLayout& layout, const std::string& line, SweepRecord* record, std::string* error)
{
    const std::vector<std::string> fields = SplitCommas(line);
    const std::vector<std::string>& columns = layout.columns;
    if (fields.size() != 1 + layout.varied.size() + columns.size()) {
        *error = "a row has " + std::to_string(fields.size()) + " fields";
        return false;
    }
    if (!ParseInt64(fields[0], &record->index)) {
        *error = "a row's configuration number is '" + fields[0] + "'";
        return false;
    }
    record->values.clear();
    for (size_t i = 0; i < layout.varied.size(); ++i) {
        int32_t v = 0;
        if (!ConfigParseInt32(fields[1 + i], &v)) {
            *error = "row " + fields[0] + ": " + layout.varied[i] + " is '" + fields[1 + i] + "'";
            return false;
        }
        record->values.push_back(v);
    }
    record->metrics.clear();
    for (size_t i = 0; i < columns.size(); ++i) {
        double v = 0.0;
        const std::string& field = fields[1 + layout.varied.size() + i];
        if (!ParseDouble(field, &v) || !CountOk(columns[i], v)) {
            *error = "row " + fields[0] + ": " + columns[i] + " is '" + field + "', not " +
                     (SweepColumnIsCount(columns[i]) ? "a count" : "a number");
            return false;
        }
        record->metrics.emplace_back(columns[i], v);
    }
    return true;
}

bool ParseJsonRow(const SweepLayout& layout, const std::string& line, SweepRecord* record, std::string* error)
{
    const ordered_json j = ordered_json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("config") || !j["config"].is_number_integer() ||
        j["config"].get<int64_t>() < 0) {
        *error = "a row is not a JSON object with a configuration number";
        return false;
    }
    record->index = j["config"].get<int64_t>();
    record->values.clear();
    for (const std::string& name : layout.varied) {
        if (!j.contains(name) || !j[name].is_number_integer() || j[name].get<int64_t>() < INT32_MIN ||
            j[name].get<int64_t>() > INT32_MAX) {
            *error = "row " + std::to_string(record->index) + " has no value of " + name;
            return false;
        }
        record->values.push_back(static_cast<int32_t>(j[name].get<int64_t>()));
    }
    record->metrics.clear();
    for (const std::string& c : layout.columns) {
        if (!j.contains(c) || !(j[c].is_null() || j[c].is_number()) ||
            !CountOk(c, j[c].is_null() ? std::nan("") : j[c].get<double>())) {
            *error = "row " + std::to_string(record->index) + " has no " + c;
            return false;
        }
        record->metrics.emplace_back(c, j[c].is_null() ? std::nan("") : j[c].get<double>());
    }
    return true;
}

// Reads the header and the rows of a sweep's output from in.
bool ReadLines(const std::string& path, FilesLineReader* in, SweepLayout* layout,
               const std::function<bool(const SweepRecord&, std::string*)>& onRow, std::string* error)
{
    const std::string& line = in->line;
    std::string reason;
    bool failed = false;
    auto next = [&]() {
        const int got = FilesLinesNext(in, &reason);
        if (got < 0) {
            failed = true;
            *error = path + ": " + reason;
        }
        // The unfinished last line of a stopped sweep is no line.
        return got > 0 && in->complete;
    };
    const std::string notSweep = path + ": not the output of tumblewatch sweep";
    if (!next()) {
        if (!failed) {
            *error = notSweep + " (no header line)";
        }
        return false;
    }
    if (line.rfind(kCsvMark, 0) == 0) {
        layout->format = SweepFormat::Csv;
        const size_t semi = line.find("; ");
        const size_t idAt = std::min(sizeof(kCsvMark), line.size());  // the mark alone has no identifier
        layout->id = line.substr(idAt, semi == std::string::npos || semi < idAt ? std::string::npos : semi - idAt);
        layout->description = semi == std::string::npos ? std::string() : line.substr(semi + 2);
        if (!next()) {
            if (!failed) {
                *error = notSweep + " (no column line)";
            }
            return false;
        }
        if (!ParseColumnLine(line, layout)) {
            *error = notSweep + " (line 2 is not its column line)";
            return false;
        }
    } else {
        const ordered_json j = ordered_json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object() || !j.contains(kJsonKey) || !j[kJsonKey].is_object()) {
            *error = notSweep;
            return false;
        }
        const ordered_json& h = j[kJsonKey];
        try {
            layout->format = SweepFormat::Jsonl;
            layout->id = h.at("id").get<std::string>();
            layout->description = h.at("description").get<std::string>();
            layout->varied = h.at("varied").get<std::vector<std::string>>();
            layout->columns = h.at("columns").get<std::vector<std::string>>();
        } catch (const nlohmann::json::exception&) {
            *error = notSweep + " (its header line lacks a field)";
            return false;
        }
        layout->folds = FoldsOfColumns(layout->columns);
        if (layout->folds < 0) {
            *error = notSweep + " (its header names other columns)";
            return false;
        }
    }
    for (const std::string& name : layout->varied) {
        if (ConfigParamIndex(name) < 0) {
            *error = notSweep + " (it varies an unknown parameter '" + name + "')";
            return false;
        }
    }
    SweepRecord record;
    while (next()) {
        std::string problem;
        const bool parsed = layout->format == SweepFormat::Csv ? ParseCsvRow(*layout, line, &record, &problem)
                                                               : ParseJsonRow(*layout, line, &record, &problem);
        if (!parsed || !onRow(record, &problem)) {
            *error = path + ", line " + std::to_string(in->number) + ": " + problem;
            return false;
        }
    }
    return !failed;
}

}  // namespace

double SweepRecord::Metric(const std::string& name) const
{
    for (const auto& [column, value] : metrics) {
        if (column == name) {
            return value;
        }
    }
    return std::nan("");
}

std::vector<std::string> SweepMetricColumns(int folds)
{
    std::vector<std::string> columns = SweepLegacyMetricColumns(folds > 0);
    columns.insert(columns.begin() + 9, "false_alarm_events");
    for (int k = 1; k <= folds; ++k) {
        for (const char* count : {"_tp", "_fn", "_fp", "_tn", "_false_alarm_events"}) {
            columns.push_back("fold" + std::to_string(k) + count);
        }
    }
    return columns;
}

std::vector<std::string> SweepLegacyMetricColumns(bool folds)
{
    std::vector<std::string> columns{
        "tp", "fn", "fp", "tn", "sensitivity", "specificity", "f1", "false_alarms_per_hour", "latency_median"};
    if (folds) {
        for (const char* part : {"tune_", "held_"}) {
            for (const char* m : {"sensitivity", "specificity", "f1", "false_alarms_per_hour"}) {
                columns.push_back(std::string(part) + m);
            }
        }
    }
    return columns;
}

bool SweepColumnIsCount(const std::string& column)
{
    auto endsWith = [&](const std::string& end) {
        return column.size() >= end.size() && column.compare(column.size() - end.size(), end.size(), end) == 0;
    };
    return column == "tp" || column == "fn" || column == "fp" || column == "tn" || endsWith("_tp") || endsWith("_fn") ||
           endsWith("_fp") || endsWith("_tn") || endsWith("false_alarm_events");
}

ordered_json SweepJsonRate(double v)
{
    if (std::isnan(v)) {
        return nullptr;
    }
    // The same six decimals as the CSV, so both formats carry equal values.
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", v);
    return std::strtod(text, nullptr);
}

std::string SweepId(const std::string& text)
{
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(FoldsHash(text)));
    return hex;
}

std::string SweepHeaderText(const SweepLayout& layout)
{
    if (layout.format == SweepFormat::Csv) {
        return std::string(kCsvMark) + " " + layout.id + "; " + layout.description + "\n" + ColumnLine(layout);
    }
    ordered_json j;
    j[kJsonKey] = {{"id", layout.id},
                   {"description", layout.description},
                   {"varied", layout.varied},
                   {"folds", layout.folds},
                   {"columns", layout.columns}};
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string SweepRowText(const SweepLayout& layout, const std::vector<int>& variedParams, const SweepRow& row)
{
    const std::vector<std::string>& columns = layout.columns;
    const std::vector<double> values = MetricValues(row, layout.folds);
    if (values.size() != columns.size()) {
        return std::string();  // not a row of this layout (a programming error)
    }
    if (layout.format == SweepFormat::Csv) {
        std::string line = std::to_string(row.index);
        for (const int p : variedParams) {
            line += "," + std::to_string(TumblewatchParamGet(&row.config, p));
        }
        for (size_t i = 0; i < columns.size(); ++i) {
            line += "," + CsvNumber(columns[i], values[i]);
        }
        return line + "\n";
    }
    ordered_json j;
    j["config"] = row.index;
    for (const int p : variedParams) {
        j[TumblewatchParams()[p].name] = TumblewatchParamGet(&row.config, p);
    }
    for (size_t i = 0; i < columns.size(); ++i) {
        j[columns[i]] = JsonNumber(columns[i], values[i]);
    }
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

namespace {

// Reads a sweep output from in, which FilesLinesOpen or
// FilesLinesOpenMemory opened (opened false: it failed for reason), and
// closes it.
bool ReadOpened(const std::string& name, FilesLineReader* in, bool opened, const std::string& reason,
                SweepLayout* layout, const std::function<bool(const SweepRecord&, std::string*)>& onRow,
                uint64_t* completeBytes, std::string* error)
{
    if (!opened) {
        *error = name + ": cannot be read: " + reason;
        return false;
    }
    const bool read = ReadLines(name, in, layout, onRow, error);
    FilesLinesClose(in);
    if (read) {
        *completeBytes = in->bytes;
    }
    return read;
}

}  // namespace

bool SweepReadFile(const std::string& path, SweepLayout* layout,
                   const std::function<bool(const SweepRecord&, std::string*)>& onRow, uint64_t* completeBytes,
                   std::string* error)
{
    FilesLineReader in;
    std::string reason;
    const bool opened = FilesLinesOpen(&in, path, &reason);
    return ReadOpened(path, &in, opened, reason, layout, onRow, completeBytes, error);
}

bool SweepReadText(const std::string& name, std::string_view bytes, SweepLayout* layout,
                   const std::function<bool(const SweepRecord&, std::string*)>& onRow, uint64_t* completeBytes,
                   std::string* error)
{
    FilesLineReader in;
    std::string reason;
    const bool opened = FilesLinesOpenMemory(&in, bytes, &reason);
    return ReadOpened(name, &in, opened, reason, layout, onRow, completeBytes, error);
}
