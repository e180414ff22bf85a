// Labels from manifests and from file names.
#include "labels.h"

#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "config.h"
#include "file_rules.h"
#include "safe_files.h"

namespace fs = std::filesystem;

namespace {

// Splits one CSV line into fields; a field in double quotes may hold
// commas, and "" inside it is one quote. False when a quote is not closed.
bool SplitCsv(const std::string& line, std::vector<std::string>* fields)
{
    fields->clear();
    std::string field;
    bool quoted = false;
    bool wasQuoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && field.empty() && !wasQuoted) {
            quoted = true;
            wasQuoted = true;
        } else if (c == ',') {
            fields->push_back(field);
            field.clear();
            wasQuoted = false;
        } else {
            field += c;
        }
    }
    fields->push_back(field);
    return !quoted;
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

std::string Trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) {
        return std::string();
    }
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
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
    const std::set<std::string> known{"path",        "label",      "activity", "subject",     "impact_sample",
                                      "description", "trial",      "dataset",  "source",      "samples",
                                      "take",        "fall_start", "fall_end", "alert_start", "alert_end"};

    std::vector<std::string> fields;
    std::vector<std::string> columns;
    int lineNumber = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        const std::string where = "manifest " + path + ", line " + std::to_string(lineNumber) + ": ";
        if (Trim(line).empty() || Trim(line)[0] == '#') {
            continue;
        }
        if (!SplitCsv(line, &fields)) {
            *error = where + "a quoted field is not closed";
            return false;
        }
        for (std::string& f : fields) {
            f = Trim(f);
        }
        if (columns.empty()) {
            columns = fields;
            std::set<std::string> seen;
            for (const std::string& c : columns) {
                if (known.count(c) == 0) {
                    *error = where + "unknown column '" + c +
                             "' (the columns are path, label, activity, subject, impact_sample, description, and "
                             "from an import trial, dataset, source, samples)";
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
            continue;
        }
        if (fields.size() != columns.size()) {
            *error = where + std::to_string(fields.size()) + " fields where the header names " +
                     std::to_string(columns.size());
            return false;
        }
        std::string file;
        RecordingLabels labels{Label::None, std::string(), std::string(), -1, std::string()};
        labels.manifestLine = lineNumber;
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
    return "manifest " + manifest.path + ", line " + std::to_string(labels.manifestLine);
}
