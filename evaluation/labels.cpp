// Labels from manifests and from file names.
#include "labels.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "config.h"
#include "file_rules.h"
#include "safe_files.h"

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) {
        return std::string();
    }
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// One row of CSV from text[*at]: fields separated by commas, ending at a
// line end outside quotes or at the end of the text. A field that starts
// (after blanks) with a double quote runs to the closing quote, holding
// any bytes ("" is one quote, line ends included) and is kept as it is;
// text after its closing quote up to the next comma is added to it, blanks
// aside. An unquoted field loses its surrounding blanks. *at moves past the
// row, *lines counts the line ends passed. False when a quote is not
// closed (*at is then the end of the text).
bool ReadCsvRow(const std::string& text, std::size_t* at, int* lines, std::vector<std::string>* fields)
{
    fields->clear();
    std::size_t i = *at;
    const std::size_t n = text.size();
    for (;;) {
        std::size_t j = i;
        while (j < n && IsBlank(text[j])) {
            ++j;
        }
        std::string field;
        if (j < n && text[j] == '"') {
            for (i = j + 1;; ++i) {
                if (i >= n) {
                    *at = n;
                    return false;
                }
                if (text[i] == '"' && i + 1 < n && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else if (text[i] == '"') {
                    ++i;
                    break;
                } else {
                    *lines += text[i] == '\n' ? 1 : 0;
                    field += text[i];
                }
            }
            std::string rest;
            while (i < n && text[i] != ',' && text[i] != '\n') {
                rest += text[i++];
            }
            const std::size_t e = rest.find_last_not_of(" \t\r");
            const std::size_t b = rest.find_first_not_of(" \t\r");
            field += b == std::string::npos ? std::string() : rest.substr(b, e - b + 1);
        } else {
            while (i < n && text[i] != ',' && text[i] != '\n') {
                field += text[i++];
            }
            field = Trim(field);
        }
        fields->push_back(field);
        if (i < n && text[i] == ',') {
            ++i;
            continue;
        }
        if (i < n) {
            ++*lines;  // the row's line end
            ++i;
        }
        *at = i;
        return true;
    }
}

// The timing of a row: each pair given whole (or not at all), its start
// not after its end.
bool CheckTiming(const RecordingLabels& labels, const std::string& where, std::string* error)
{
    const struct {
        const char* name;
        int64_t start;
        int64_t end;
    } pairs[] = {{"fall", labels.fallStart, labels.fallEnd}, {"alert", labels.alertStart, labels.alertEnd}};
    for (const auto& p : pairs) {
        if ((p.start < 0) != (p.end < 0)) {
            *error = where + p.name + "_start and " + p.name + "_end are given together or not at all";
            return false;
        }
        if (p.start > p.end) {
            *error = where + p.name + "_start " + std::to_string(p.start) + " lies after " + p.name + "_end " +
                     std::to_string(p.end);
            return false;
        }
    }
    return true;
}

// The physical line of text starting at at, without its line end.
std::string LineAt(const std::string& text, std::size_t at)
{
    const std::size_t end = text.find('\n', at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The columns a manifest may name.
const std::set<std::string>& KnownColumns()
{
    static const std::set<std::string> known{"path",        "label",      "activity", "subject",     "impact_sample",
                                             "description", "trial",      "dataset",  "source",      "samples",
                                             "take",        "fall_start", "fall_end", "alert_start", "alert_end"};
    return known;
}

// The fields of a header line: each a known column, path and label among them.
bool IsHeader(const std::vector<std::string>& fields)
{
    std::set<std::string> seen;
    for (const std::string& f : fields) {
        if (KnownColumns().count(f) == 0 || !seen.insert(f).second) {
            return false;
        }
    }
    return seen.count("path") != 0 && seen.count("label") != 0;
}

std::vector<std::string> SplitOn(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        const std::size_t next = s.find(sep, at);
        parts.push_back(s.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) {
            return parts;
        }
        at = next + 1;
    }
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// s[from, end) is one or more decimal digits.
bool AllDigits(const std::string& s, std::size_t from)
{
    if (from >= s.size()) {
        return false;
    }
    for (std::size_t i = from; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return false;
        }
    }
    return true;
}

// A subject: letters, then digits ("sa01", "s3", "SE06").
bool IsSubject(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size() && IsLetter(s[i])) {
        ++i;
    }
    return i > 0 && AllDigits(s, i);
}

// A run: "r" or "R", then digits ("r1", "R01").
bool IsRun(const std::string& s)
{
    return !s.empty() && (s[0] == 'r' || s[0] == 'R') && AllDigits(s, 1);
}

}  // namespace

const char* LabelName(Label label)
{
    switch (label) {
    case Label::Fall:
        return "fall";
    case Label::Adl:
        return "adl";
    case Label::None:
        break;
    }
    return "";
}

RecordingLabels LabelsFromName(const std::string& path)
{
    const std::string stem = fs::path(path).stem().string();
    RecordingLabels labels{Label::None, std::string(), std::string(), -1, std::string()};
    const std::vector<std::string> t = SplitOn(stem, '_');
    const std::size_t n = t.size();

    // F05_SA01_R01, D17_SE06_R01: a coded activity, a subject, a run.
    const bool coded = t[0].size() >= 2 && (t[0][0] == 'F' || t[0][0] == 'D') && AllDigits(t[0], 1);
    if (coded && (n == 2 || (n == 3 && IsRun(t[2]))) && IsSubject(t[1])) {
        labels.label = t[0][0] == 'F' ? Label::Fall : Label::Adl;
        labels.activity = t[0];
        labels.subject = t[1];
        return labels;
    }

    // fall_forward_slip_sa01_r1, adl_walking_s03_r1, fall_forward.
    if (n < 2 || (t[0] != "fall" && t[0] != "adl")) {
        return labels;
    }
    labels.label = t[0] == "fall" ? Label::Fall : Label::Adl;
    std::size_t end = n;  // the activity is t[1, end)
    if (n >= 4 && IsRun(t[n - 1]) && IsSubject(t[n - 2])) {
        labels.subject = t[n - 2];
        end = n - 2;
    } else if (n >= 3 && IsSubject(t[n - 1])) {
        labels.subject = t[n - 1];
        end = n - 1;
    }
    for (std::size_t i = 1; i < end; ++i) {
        labels.activity += (i > 1 ? "_" : "") + t[i];
    }
    return labels;
}

std::string ManifestKey(const std::string& path)
{
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec) {
        p = fs::path(path);
    }
    return p.lexically_normal().string();
}

bool ManifestRead(const std::string& path, Manifest* manifest, std::string* error)
{
    std::string text;
    std::string reason;
    if (!FilesReadText(path, &text, &reason)) {
        *error = "manifest " + path + ": " + reason;
        return false;
    }
    return ManifestParse(text, path, manifest, error);
}

bool ManifestParse(const std::string& text, const std::string& path, Manifest* result, std::string* error)
{
    Manifest read;  // *result changes only when the whole manifest is good
    Manifest* manifest = &read;
    manifest->path = path;
    std::string reason;
    const fs::path folder = fs::path(path).parent_path();

    std::vector<std::string> fields;
    std::vector<std::string> columns;
    int lineNumber = 1;  // the line at `at`
    for (std::size_t at = 0; at < text.size();) {
        const int rowLine = lineNumber;
        const std::string where = "manifest " + path + ", line " + std::to_string(rowLine) + ": ";
        const std::string line = LineAt(text, at);
        if (Trim(line).empty() || Trim(line)[0] == '#') {
            at += line.size() + 1;
            ++lineNumber;
            continue;
        }
        if (!ReadCsvRow(text, &at, &lineNumber, &fields)) {
            *error = where + "a quoted field is not closed";
            return false;
        }
        if (columns.empty()) {
            columns = fields;
            std::set<std::string> seen;
            for (const std::string& c : columns) {
                if (KnownColumns().count(c) == 0) {
                    *error = where + "unknown column '" + c +
                             "' (the columns are path, label, activity, subject, impact_sample, description, "
                             "dataset, take, fall_start, fall_end, alert_start, alert_end, and from an import "
                             "trial, source, samples)";
                    return false;
                }
                if (!seen.insert(c).second) {
                    *error = where + "column '" + c + "' appears twice";
                    return false;
                }
            }
            if (seen.count("path") == 0 || seen.count("label") == 0) {
                *error = where + "the header must name the columns path and label";
                return false;
            }
            for (const char* pair : {"fall", "alert"}) {
                if (seen.count(pair + std::string("_start")) != seen.count(pair + std::string("_end"))) {
                    *error = where + "the columns " + pair + "_start and " + pair + "_end go together";
                    return false;
                }
            }
            continue;
        }
        if (fields.size() != columns.size()) {
            *error = where + std::to_string(fields.size()) + " fields where the header names " +
                     std::to_string(columns.size());
            return false;
        }
        std::string file;
        RecordingLabels labels{Label::None, std::string(), std::string(), -1, std::string()};
        labels.manifestLine = rowLine;
        for (size_t i = 0; i < columns.size(); ++i) {
            const std::string& c = columns[i];
            const std::string& v = fields[i];
            if (c == "path") {
                file = v;
            } else if (c == "label") {
                if (v == "fall") {
                    labels.label = Label::Fall;
                } else if (v == "adl") {
                    labels.label = Label::Adl;
                } else if (!v.empty()) {
                    *error = where + "label '" + v + "' is neither fall nor adl";
                    return false;
                }
            } else if (c == "activity") {
                labels.activity = v;
            } else if (c == "subject") {
                labels.subject = v;
            } else if (c == "description") {
                labels.description = v;
            } else if (c == "dataset") {
                labels.dataset = v;
            } else if (c == "take") {
                int32_t take = 0;
                if (!v.empty() && (!ConfigParseInt32(v, &take) || take < 0)) {
                    *error = where + "take '" + v + "' is not a whole number of 0 or more";
                    return false;
                }
                labels.take = v;
            } else if (c == "fall_start" || c == "fall_end" || c == "alert_start" || c == "alert_end") {
                int32_t sample = 0;
                if (!v.empty() && (!ConfigParseInt32(v, &sample) || sample < 0)) {
                    *error = where + c + " '" + v + "' is not a sample number";
                    return false;
                }
                int64_t* slot = c == "fall_start"    ? &labels.fallStart
                                : c == "fall_end"    ? &labels.fallEnd
                                : c == "alert_start" ? &labels.alertStart
                                                     : &labels.alertEnd;
                *slot = v.empty() ? -1 : sample;
            } else if (c != "impact_sample") {
                continue;  // what an import notes of the recording: not a label
            } else if (!v.empty()) {
                int32_t sample = 0;
                if (!ConfigParseInt32(v, &sample) || sample < 0) {
                    *error = where + "impact_sample '" + v + "' is not a sample number";
                    return false;
                }
                labels.impactSample = sample;
            }
        }
        if (file.empty()) {
            *error = where + "the path is empty";
            return false;
        }
        if (!CheckTiming(labels, where, error)) {
            return false;
        }
        for (size_t i = 0; i < columns.size(); ++i) {
            if (columns[i] != "path") {
                labels.columns.emplace_back(columns[i], fields[i]);
            }
        }
        labels.manifestPath = path;
        const fs::path recording = fs::path(file).is_absolute() ? fs::path(file) : folder / file;
        if (!FilesCheckInput(recording.string(), &reason)) {
            *error = where + "recording " + recording.string() + ": " + reason;
            return false;
        }
        SafeFileId id{};
        const std::string key = ManifestKey(recording.string());
        const bool identified = SafeFileIdOf(recording.string(), &id);
        const std::pair<uint64_t, uint64_t> fileKey{id.device, id.inode};
        const auto same = identified ? manifest->byFile.find(fileKey) : manifest->byFile.end();
        if (manifest->entries.count(key) != 0 || same != manifest->byFile.end()) {
            const RecordingLabels& first = manifest->entries.at(same != manifest->byFile.end() ? same->second : key);
            *error = where + "recording " + file + " is listed twice (line " + std::to_string(first.manifestLine) +
                     " names the same file)";
            return false;
        }
        manifest->entries.emplace(key, labels);
        if (identified) {
            manifest->byFile.emplace(fileKey, key);
        }
        manifest->files.push_back(recording.string());
    }
    if (columns.empty()) {
        *error = "manifest " + path + ": no header line";
        return false;
    }
    *result = std::move(read);
    return true;
}

const RecordingLabels* ManifestFind(const Manifest& manifest, const std::string& path)
{
    const auto it = manifest.entries.find(ManifestKey(path));
    if (it != manifest.entries.end()) {
        return &it->second;
    }
    SafeFileId id{};
    if (!manifest.byFile.empty() && SafeFileIdOf(path, &id)) {
        const auto same = manifest.byFile.find({id.device, id.inode});
        if (same != manifest.byFile.end()) {
            return &manifest.entries.at(same->second);
        }
    }
    return nullptr;
}

std::string ManifestWhere(const Manifest& manifest, const RecordingLabels& labels)
{
    const std::string& file = labels.manifestPath.empty() ? manifest.path : labels.manifestPath;
    return "manifest " + file + ", line " + std::to_string(labels.manifestLine);
}

bool LabelsTimed(const RecordingLabels& labels)
{
    return labels.fallStart >= 0 && labels.fallEnd >= labels.fallStart;
}

std::string LabelsColumn(const RecordingLabels& labels, const std::string& column)
{
    for (const auto& [name, value] : labels.columns) {
        if (name == column) {
            return value;
        }
    }
    if (column == "subject") {
        return labels.subject;
    }
    if (column == "activity") {
        return labels.activity;
    }
    if (column == "label") {
        return LabelName(labels.label);
    }
    return std::string();
}

bool ManifestHeaderLine(const std::string& text)
{
    std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < text.size()) {
        const std::string line = LineAt(text, at);
        if (!Trim(line).empty() && Trim(line)[0] != '#') {
            break;
        }
        at += line.size() + 1;
    }
    if (at >= text.size()) {
        return false;
    }
    // The header is one line: read only it, so that a quote in it cannot
    // run on into the rest.
    const std::string line = LineAt(text, at);
    std::size_t from = 0;
    int lines = 0;
    std::vector<std::string> fields;
    return ReadCsvRow(line, &from, &lines, &fields) && IsHeader(fields);
}

bool ManifestFileIs(const std::string& path)
{
    constexpr std::size_t kHead = 8 * 1024;  // an import's header is its first line
    std::string reason;
    if (!FilesCheckInput(path, &reason)) {
        return false;
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    std::string head(kHead, '\0');
    const std::size_t n = std::fread(head.data(), 1, kHead, f);
    std::fclose(f);
    head.resize(n);
    return ManifestHeaderLine(head);
}

bool ManifestMerge(const Manifest& other, Manifest* into, std::string* error)
{
    for (const auto& [key, labels] : other.entries) {
        const RecordingLabels* first = nullptr;
        const auto same = into->entries.find(key);
        if (same != into->entries.end()) {
            first = &same->second;
        } else {
            for (const auto& [fileKey, otherKey] : other.byFile) {
                const auto there = into->byFile.find(fileKey);
                if (otherKey == key && there != into->byFile.end()) {
                    first = &into->entries.at(there->second);
                }
            }
        }
        if (first != nullptr) {
            *error = ManifestWhere(other, labels) + ": recording " + key + " is listed again (" +
                     ManifestWhere(*into, *first) + " names the same file)";
            return false;
        }
    }
    for (const auto& [key, labels] : other.entries) {
        into->entries.emplace(key, labels);
    }
    into->byFile.insert(other.byFile.begin(), other.byFile.end());
    into->files.insert(into->files.end(), other.files.begin(), other.files.end());
    into->merged.push_back(other.path);
    return true;
}

bool ManifestHasDataset(const Manifest& manifest)
{
    for (const auto& entry : manifest.entries) {
        if (!entry.second.dataset.empty()) {
            return true;
        }
    }
    return false;
}
