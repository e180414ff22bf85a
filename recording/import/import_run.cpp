// Running an import: checks, the search of the raw folder, the trials on
// worker threads, and the manifest and report last.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "csv_format.h"
#include "dataset_format.h"
#include "import.h"
#include "import_datasets.h"
#include "import_regex.h"
#include "import_report.h"
#include "progress.h"
#include "safe_files.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kManifestName = "manifest.csv";
constexpr const char* kReportName = "import.json";

// What became of one trial.
struct Outcome {
    bool imported;
    ImportRecording recording;
    ImportSkip skip;
    uint64_t bytes;  // raw text read
};

bool CheckCsv(const ImportCsvSettings& csv, std::string* error)
{
    for (int i = 0; i < kImportT; ++i) {
        if (csv.columns[i] < 0) {
            *error = "csv needs --columns naming the field of each of ax, ay, az, gx, gy, gz";
            return false;
        }
    }
    const bool uniform = csv.rateHz > 0;
    const bool timed = csv.secondsPerTimeUnit > 0;
    if (uniform == timed) {
        *error = "csv needs exactly one of --rate HZ (uniform samples) and --time-unit UNIT (a time column)";
        return false;
    }
    if (!std::isfinite(csv.rateHz) || csv.rateHz < 0) {
        *error = "--rate must be a positive number of samples per second";
        return false;
    }
    if (timed && csv.columns[kImportT] < 0) {
        *error = "--time-unit needs the time column: t=N in --columns";
        return false;
    }
    const char d = csv.delimiter;
    if (d == '\n' || d == '\r' || d == '\0' || d == '"' || (d >= '0' && d <= '9') || d == '.' || d == '-' || d == '+' ||
        d == 'e' || d == 'E') {
        *error = std::string("--delimiter '") + d + "' would split or join numbers; give another character";
        return false;
    }
    if (csv.skipLines < 0) {
        *error = "--skip must be 0 or more lines";
        return false;
    }
    if (csv.filesGlob.empty()) {
        *error = "--files must name a pattern of file names, e.g. '*.csv'";
        return false;
    }
    ImportRegex subject;
    ImportRegex trial;
    ImportRegex activity;
    return subject.Compile("--subject", csv.subjectRegex, error) && trial.Compile("--trial", csv.trialRegex, error) &&
           activity.Compile("--activity", csv.activityRegex, error);
}

// True when inner is outer or lies below it (both absolute and normal).
bool IsWithin(const fs::path& inner, const fs::path& outer)
{
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (o->empty() && std::next(o) == outer.end()) {
            return true;  // a trailing separator
        }
        if (i == inner.end() || *i != *o) {
            return false;
        }
    }
    return true;
}

// The output folder must be absent or empty, and neither the raw folder
// nor inside it.
bool CheckOutput(const ImportSettings& settings, bool rawIsFolder, std::string* error)
{
    const std::string& out = settings.outDir;
    std::error_code ec;
    if (rawIsFolder) {
        const fs::path raw = fs::canonical(settings.rawDir, ec);
        const fs::path target = fs::weakly_canonical(fs::absolute(out, ec), ec);
        if (!ec && IsWithin(target, raw)) {
            *error = "OUT_DIR " + out + (target == raw ? " is RAW_DIR" : " lies inside RAW_DIR " + settings.rawDir) +
                     ": give a folder outside the raw files (nothing was changed)";
            return false;
        }
    }
    const fs::file_status status = fs::status(out, ec);
    if (fs::exists(status)) {
        if (!fs::is_directory(status)) {
            *error = "OUT_DIR " + out + " exists and is not a folder";
            return false;
        }
        const fs::directory_iterator first(out, ec);
        if (ec) {
            *error = "OUT_DIR " + out + " cannot be read: " + ec.message();
            return false;
        }
        if (first != fs::directory_iterator()) {
            *error = "OUT_DIR " + out + " is not empty: give a new or empty folder (nothing was changed)";
            return false;
        }
    } else if (fs::is_symlink(fs::symlink_status(out, ec))) {
        *error = "OUT_DIR " + out + " is a link to nothing";
        return false;
    }
    return true;
}

// Every file below folder (links to folders not followed), as paths
// relative to it with '/' between folders, in byte order; folders that
// cannot be read are noted in skipped.
void FindFiles(const fs::path& root, const std::string& relative, std::vector<std::string>* files,
               std::vector<ImportSkip>* skipped)
{
    std::error_code ec;
    fs::directory_iterator it(root / relative, ec);
    if (ec) {
        skipped->push_back(ImportSkip{relative.empty() ? "." : relative, 0, "folder cannot be read: " + ec.message()});
        return;
    }
    std::vector<std::string> folders;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string path = relative.empty() ? name : relative + "/" + name;
        std::error_code kindError;
        if (it->is_symlink(kindError)) {
            if (!it->is_directory(kindError)) {
                files->push_back(path);  // a link to a file (or to nothing: the open says so)
            }
        } else if (it->is_directory(kindError)) {
            folders.push_back(path);
        } else {
            files->push_back(path);
        }
    }
    if (ec) {
        skipped->push_back(ImportSkip{relative.empty() ? "." : relative, 0, "folder cannot be read: " + ec.message()});
    }
    for (const std::string& folder : folders) {
        FindFiles(root, folder, files, skipped);
    }
}

// Trials that would make the same recording as an earlier one are
// skipped.
void DropSameNames(std::vector<ImportTrial>* trials, std::vector<ImportSkip>* skipped)
{
    std::map<std::string, std::string> seen;  // name: first source
    std::vector<ImportTrial> kept;
    for (ImportTrial& t : *trials) {
        const auto [at, fresh] = seen.emplace(t.name, t.sources[0]);
        if (!fresh) {
            skipped->push_back(ImportSkip{t.sources[0], 0,
                                          "would make the recording " + t.name + " again (made from " + at->second +
                                              "); give each trial its own subject and trial"});
            continue;
        }
        kept.push_back(std::move(t));
    }
    *trials = std::move(kept);
}

// Converts and writes one trial.
Outcome ImportOne(const ImportSettings& settings, const ImportDatasetInfo& info, const fs::path& rawBase,
                  const ImportTrial& trial)
{
    Outcome o{false, {}, {trial.sources[0], 0, ""}, 0};
    std::vector<FILE*> files;
    std::vector<ImportLines> lines;
    lines.reserve(trial.sources.size());
    ImportFault fault{0, 0, ""};
    for (std::size_t i = 0; i < trial.sources.size() && fault.reason.empty(); ++i) {
        std::string reason;
        FILE* file = SafeOpenInput((rawBase / trial.sources[i]).string(), &reason);
        struct stat st {};
        if (file != nullptr && fstat(fileno(file), &st) == 0 && st.st_size == 0) {
            reason = "the file is empty";
            std::fclose(file);
            file = nullptr;
        }
        if (file == nullptr) {
            fault = ImportFault{i, 0, reason};
            break;
        }
        files.push_back(file);
        lines.emplace_back(file);
    }
    ImportConverted converted{};
    bool ok = fault.reason.empty();
    if (ok) {
        std::vector<ImportLines*> texts;
        for (ImportLines& l : lines) {
            texts.push_back(&l);
        }
        ok = ImportConvert(settings, trial, texts, &converted, &fault);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        o.bytes += lines[i].bytes();
        std::fclose(files[i]);
    }
    if (!ok) {
        o.skip = ImportSkip{trial.sources[fault.source], fault.line, fault.reason};
        return o;
    }

    ImportRecording& r = o.recording;
    r = ImportRecording{trial.name + (settings.format == ImportFormat::Csv ? ".csv" : ".bin"),
                        trial.label,
                        trial.activity,
                        trial.subject,
                        trial.trial,
                        trial.description,
                        trial.sources,
                        static_cast<int64_t>(converted.samples.size()),
                        ImportAxesText(converted.axes),
                        0,
                        converted.conversion};
    std::vector<ImuSample> counts;
    counts.reserve(converted.samples.size());
    for (const ImportSample& s : converted.samples) {
        counts.push_back(ImportCounts(s, &r.clipped));
    }
    std::string error;
    const std::string base = (fs::path(settings.outDir) / trial.name).string();
    if (settings.format != ImportFormat::Csv && !ImportWriteFile(base + ".bin", DataSetImage(counts), &error)) {
        o.skip.reason = error;
        return o;
    }
    if (settings.format != ImportFormat::Bin &&
        !ImportWriteFile(base + ".csv", CsvRecordingText(ImportCsvHeader(settings, info, trial, r), counts), &error)) {
        o.skip.reason = error;
        return o;
    }
    o.imported = true;
    return o;
}

}  // namespace

int ImportRun(const ImportSettings& settings, ImportResult* result, std::string* error)
{
    *result = ImportResult{};
    if (settings.threads < 1) {
        *error = "-j must be at least 1";
        return kImportRefused;
    }
    if (settings.dataset == ImportDataset::Csv && !CheckCsv(settings.csv, error)) {
        return kImportRefused;
    }
    std::error_code ec;
    const fs::file_status raw = fs::status(settings.rawDir, ec);
    const bool rawIsFolder = fs::is_directory(raw);
    const bool rawIsFile = settings.dataset == ImportDataset::Csv && fs::is_regular_file(raw);
    if (!rawIsFolder && !rawIsFile) {
        *error = "RAW_DIR " + settings.rawDir + (fs::exists(raw) ? ": not a folder" : ": no such folder") +
                 " (nothing was written)";
        return kImportRefused;
    }
    if (!CheckOutput(settings, rawIsFolder, error)) {
        return kImportRefused;
    }

    const fs::path rawBase = rawIsFolder ? fs::path(settings.rawDir) : fs::path(settings.rawDir).parent_path();
    std::vector<std::string> files;
    std::vector<ImportSkip> searchSkips;
    if (rawIsFolder) {
        FindFiles(rawBase, "", &files, &searchSkips);
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(fs::path(settings.rawDir).filename().string());
    }
    std::vector<ImportTrial> trials;
    std::vector<ImportSkip> planSkips;
    ImportPlan(settings, files, &trials, &planSkips);
    DropSameNames(&trials, &planSkips);
    if (trials.empty() && planSkips.empty()) {
        *error = "RAW_DIR " + settings.rawDir + " holds none of the files of " + ImportDatasetName(settings.dataset) +
                 " (" + std::to_string(files.size()) + " other files; nothing was written)";
        return kImportRefused;
    }
    fs::create_directories(settings.outDir, ec);
    if (ec) {
        *error = "OUT_DIR " + settings.outDir + " cannot be created: " + ec.message();
        return kImportRefused;
    }

    const ImportDatasetInfo info = ImportInfoOf(settings);
    std::vector<Outcome> outcomes(trials.size());
    Progress progress;
    ProgressStart(&progress, "trials", trials.size(), settings.progress);
    ProgressRunParallel(trials.size(), settings.threads, progress, [&](std::size_t i, int) {
        outcomes[i] = ImportOne(settings, info, rawBase, trials[i]);
        progress.samples += static_cast<uint64_t>(outcomes[i].recording.samples);
        ++progress.done;
    });
    ProgressEnd(progress);
    result->seconds = ProgressSeconds(progress);

    // Skips in the order of their files: the search's, then by source.
    std::vector<ImportSkip> skips = planSkips;
    for (Outcome& o : outcomes) {
        result->rawBytes += o.bytes;
        if (o.imported) {
            result->recordings.push_back(std::move(o.recording));
        } else {
            skips.push_back(std::move(o.skip));
        }
    }
    std::stable_sort(skips.begin(), skips.end(),
                     [](const ImportSkip& a, const ImportSkip& b) { return a.source < b.source; });
    result->skipped = searchSkips;
    result->skipped.insert(result->skipped.end(), skips.begin(), skips.end());

    const fs::path out(settings.outDir);
    // The manifest comes last: an output folder with a manifest holds a
    // finished import.
    if (!ImportWriteFile((out / kReportName).string(), ImportReportJson(settings, info, *result), error) ||
        !ImportWriteFile((out / kManifestName).string(), ImportManifestText(settings, *result), error)) {
        return kImportRefused;
    }
    return result->skipped.empty() ? kImportDone : kImportSomeSkipped;
}
