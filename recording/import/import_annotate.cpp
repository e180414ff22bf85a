// Annotating an earlier SisFall import: its manifest, read whole, gets each
// recording's fall and alert samples from the per-sample annotation, into
// a new manifest.
#include <filesystem>

#include "csv_format.h"
#include "file_rules.h"
#include "import.h"
#include "import_datasets.h"
#include "safe_files.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPhaseColumns[] = {"fall_start", "fall_end", "alert_start", "alert_end"};

// Splits CSV text into records of fields (quoted fields may hold commas,
// quotes doubled, and line ends); a line end is "\n" or "\r\n". False at a
// quoted field that is not closed, with its record's first line.
bool Records(const std::string& text, std::vector<std::vector<std::string>>* records, int64_t* badLine)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    bool wasQuoted = false;
    int64_t line = 1;
    int64_t recordLine = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                line += c == '\n' ? 1 : 0;
                fields.back() += c;
            }
        } else if (c == '"' && fields.back().empty() && !wasQuoted) {
            quoted = true;
            wasQuoted = true;
        } else if (c == ',') {
            fields.emplace_back();
            wasQuoted = false;
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            i += c == '\r' ? 1 : 0;
            if (!(fields.size() == 1 && fields[0].empty() && !wasQuoted)) {
                records->push_back(std::move(fields));
            }
            fields.assign(1, std::string());
            wasQuoted = false;
            recordLine = ++line;
        } else {
            fields.back() += c;
        }
    }
    if (quoted) {
        *badLine = recordLine;
        return false;
    }
    if (!(fields.size() == 1 && fields[0].empty() && !wasQuoted)) {
        records->push_back(std::move(fields));
    }
    return true;
}

int Column(const std::vector<std::string>& header, const std::string& name)
{
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string Row(const std::vector<std::string>& fields)
{
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        text += (i > 0 ? "," : "") + CsvField(fields[i]);
    }
    return text + "\n";
}

// The folder of a manifest, absolute, "." and ".." resolved lexically (as
// the manifest reader resolves the paths it lists).
fs::path FolderOf(const std::string& manifest)
{
    const fs::path parent = fs::path(manifest).parent_path();
    return fs::absolute(parent.empty() ? fs::path(".") : parent).lexically_normal();
}

// A recording's path as the old manifest gives it, rewritten to reach the
// same file from the new manifest's folder: absolute paths and manifests in
// one folder keep it as it is.
std::string Rebased(const std::string& path, const fs::path& from, const fs::path& to)
{
    if (path.empty() || fs::path(path).is_absolute() || from == to) {
        return path;
    }
    const fs::path target = (from / path).lexically_normal();
    const fs::path relative = target.lexically_relative(to);
    return relative.empty() ? target.string() : relative.string();
}

}  // namespace

int ImportAnnotateManifest(const std::string& manifest, const std::string& annotationDir, const std::string& out,
                           ImportAnnotated* result, std::string* error)
{
    *result = ImportAnnotated{};
    FilesReads reads;
    reads.files.push_back(manifest);
    if (!fs::is_directory(annotationDir)) {
        *error = "--annotations " + annotationDir + ": no such folder (nothing was written)";
        return kImportRefused;
    }
    if (!FilesCheckOutputs({FilesOutput{"OUT_DIR (the annotated manifest)", out, false}}, reads, error)) {
        return kImportRefused;
    }
    std::string text;
    std::string reason;
    if (!FilesReadText(manifest, &text, &reason)) {
        *error = "manifest " + manifest + ": " + reason;
        return kImportRefused;
    }
    std::vector<std::vector<std::string>> records;
    int64_t bad = 0;
    if (!Records(text, &records, &bad)) {
        *error = "manifest " + manifest + ", line " + std::to_string(bad) + ": a quoted field is not closed";
        return kImportRefused;
    }
    if (records.empty()) {
        *error = "manifest " + manifest + ": empty";
        return kImportRefused;
    }
    std::vector<std::string> header = records[0];
    const int source = Column(header, "source");
    const int samples = Column(header, "samples");
    const int path = Column(header, "path");
    if (source < 0 || samples < 0 || path < 0) {
        *error =
            "manifest " + manifest + ": not an import's manifest (the columns path, source and samples are needed)";
        return kImportRefused;
    }
    const int dataset = Column(header, "dataset");
    int phase[4];
    for (int k = 0; k < 4; ++k) {
        phase[k] = Column(header, kPhaseColumns[k]);
        if (phase[k] < 0) {
            phase[k] = static_cast<int>(header.size());
            header.emplace_back(kPhaseColumns[k]);
        }
    }
    // The new manifest may lie in another folder: its paths reach the same
    // recordings from there.
    const fs::path from = FolderOf(manifest);
    const fs::path to = FolderOf(out);
    std::string written = Row(header);
    for (std::size_t i = 1; i < records.size(); ++i) {
        std::vector<std::string>& row = records[i];
        if (row.size() != records[0].size()) {
            *error = "manifest " + manifest + ", record " + std::to_string(i + 1) + ": " + std::to_string(row.size()) +
                     " fields where the header names " + std::to_string(records[0].size());
            return kImportRefused;
        }
        row.resize(header.size());
        for (const int k : phase) {
            row[static_cast<std::size_t>(k)].clear();
        }
        const std::string& src = row[static_cast<std::size_t>(source)];
        ImportTrial trial{{src}, "", "", "", "", "", "", false};
        const std::string base = ImportBaseName(src);
        const std::size_t a = base.find('_');
        const std::size_t b = a == std::string::npos ? a : base.find('_', a + 1);
        trial.subject = b == std::string::npos ? std::string() : base.substr(a + 1, b - a - 1);
        int64_t count = -1;
        std::string why;
        if (dataset >= 0 && row[static_cast<std::size_t>(dataset)] != "sisfall") {
            why = "not a SisFall recording";
        } else if (trial.subject.empty() || src.find('+') != std::string::npos) {
            why = "the source is not a SisFall trial's file";
        } else {
            int64_t n = 0;
            std::string r;
            if (!ImportParseInt(row[static_cast<std::size_t>(samples)], 0, INT64_MAX, &n, &r)) {
                why = "samples " + r;
            } else {
                count = n;
            }
        }
        ImportPhases phases{};
        if (why.empty()) {
            const std::string file = (fs::path(annotationDir) / ImportAnnotationPath(trial)).string();
            FILE* f = SafeOpenInput(file, &why);
            ImportFault fault{0, 0, ""};
            if (f != nullptr) {
                ImportLines lines(f);
                if (!ImportReadAnnotation(&lines, -1, count, &phases, &fault)) {
                    why = "annotation " + file + (fault.line > 0 ? ", line " + std::to_string(fault.line) : "") + ": " +
                          fault.reason;
                }
                std::fclose(f);
            } else {
                why = "annotation " + file + ": " + (why == "no such file" ? "no annotation file" : why);
            }
        }
        if (!why.empty()) {
            result->unannotated.push_back(ImportSkip{row[static_cast<std::size_t>(path)], 0, why});
        } else {
            ++result->annotated;
            const int64_t values[4] = {phases.fallStart, phases.fallEnd, phases.alertStart, phases.alertEnd};
            for (int k = 0; k < 4; ++k) {
                row[static_cast<std::size_t>(phase[k])] = values[k] < 0 ? "" : std::to_string(values[k]);
            }
        }
        row[static_cast<std::size_t>(path)] = Rebased(row[static_cast<std::size_t>(path)], from, to);
        written += Row(row);
    }
    if (!FilesWriteWhole(out, written, error)) {
        return kImportRefused;
    }
    return result->unannotated.empty() ? kImportDone : kImportSomeSkipped;
}
