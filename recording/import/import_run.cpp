// Running an import: checks, the search of the raw folder, the trials on
// worker threads, and the manifest and report last.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "csv_format.h"
#include "dataset_format.h"
#include "file_rules.h"
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
// Created (exclusively) in the output folder while an import writes into
// it, removed when it ends: two imports never share a folder.
constexpr const char* kClaimName = ".tumblewatch-import";
// The highest --rate: a million samples per second keeps every count of
// the rate arithmetic far inside int.
constexpr double kMaxRateHz = 1e6;

bool CheckCsv(const ImportCsvSettings& csv, std::string* error)
{
    for (int i = 0; i < kImportT; ++i) {
        if (csv.columns[i] < 0) {
            *error = "csv needs --columns naming the field of each of ax, ay, az, gx, gy, gz";
            return false;
        }
    }
    if (!(csv.rateHz >= 0 && csv.rateHz <= kMaxRateHz)) {
        *error = "--rate must be a finite, positive number of samples per second, at most 1000000";
        return false;
    }
    const bool uniform = csv.rateHz > 0;
    const bool timed = csv.secondsPerTimeUnit > 0;
    if (uniform == timed) {
        *error = "csv needs exactly one of --rate HZ (uniform samples) and --time-unit UNIT (a time column)";
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

// What a folder that is not empty holds, in words: "3 recordings and
// manifest.csv (a finished import)".
std::string Contents(const std::string& out)
{
    std::error_code ec;
    std::size_t recordings = 0;
    std::size_t others = 0;
    bool manifest = false;
    bool claim = false;
    for (fs::directory_iterator it(out, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string ext = it->path().extension().string();
        if (name == kManifestName) {
            manifest = true;
        } else if (name == kClaimName) {
            claim = true;
        } else if ((ext == ".bin" || ext == ".csv") && name[0] != '.') {
            ++recordings;
        } else {
            ++others;
        }
    }
    std::string text = std::to_string(recordings) + (recordings == 1 ? " recording" : " recordings");
    if (others > 0) {
        text += ", " + std::to_string(others) + (others == 1 ? " other file" : " other files");
    }
    if (claim) {
        return text + " and " + kClaimName + ": another import is writing into it, or one was killed";
    }
    if (manifest) {
        return text + " and manifest.csv: a finished import";
    }
    return text + (recordings > 0 ? " and no manifest.csv: an import that did not finish" : "");
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
            *error = "OUT_DIR " + out + " is not empty (" + Contents(out) +
                     "): give a new or empty folder (nothing was changed)";
            return false;
        }
    } else if (fs::is_symlink(fs::symlink_status(out, ec))) {
        *error = "OUT_DIR " + out + " is a link to nothing";
        return false;
    }
    return true;
}

// Claims the output folder for this import: creates it when absent, then
// the claim file, exclusively, and checks that nothing else is there.
// False with the reason (nothing is left behind but a folder this call
// created empty).
bool ClaimOutput(const std::string& out, std::string* claimPath, std::string* error)
{
    std::error_code ec;
    fs::create_directories(out, ec);
    if (ec) {
        *error = "OUT_DIR " + out + " cannot be created: " + ec.message();
        return false;
    }
    *claimPath = (fs::path(out) / kClaimName).string();
    const int fd = open(claimPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int failure = errno;
        *error = "OUT_DIR " + out +
                 (failure == EEXIST ? " is not empty (" + Contents(out) + "): give a new or empty folder"
                                    : " cannot be claimed: " + SafeErrorText(failure)) +
                 " (nothing was changed)";
        return false;
    }
    const std::string text = "an import (process " + std::to_string(getpid()) + ") is writing into this folder\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int writeError = written ? 0 : (errno != 0 ? errno : ENOSPC);
    close(fd);
    std::size_t entries = 0;
    for (fs::directory_iterator it(out, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        ++entries;
    }
    std::string problem;
    if (writeError != 0) {
        problem = " cannot be claimed: " + SafeErrorText(writeError);
    } else if (ec) {
        problem = " cannot be read: " + ec.message();
    } else if (entries != 1) {
        problem = " is not empty (" + Contents(out) + "): give a new or empty folder";
    }
    if (!problem.empty()) {
        std::remove(claimPath->c_str());
        *error = "OUT_DIR " + out + problem + " (nothing was changed)";
        return false;
    }
    return true;
}

// Every file below folder (links to folders not followed), as paths
// relative to it with '/' between folders, in byte order, except those
// below the folder leaveOut (relative, "" for none); folders that cannot
// be read are noted in skipped.
void FindFiles(const fs::path& root, const std::string& relative, const std::string& leaveOut,
               std::vector<std::string>* files, std::vector<ImportSkip>* skipped)
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
            if (path != leaveOut) {
                folders.push_back(path);
            }
        } else {
            files->push_back(path);
        }
    }
    if (ec) {
        skipped->push_back(ImportSkip{relative.empty() ? "." : relative, 0, "folder cannot be read: " + ec.message()});
    }
    std::sort(folders.begin(), folders.end());
    for (const std::string& folder : folders) {
        FindFiles(root, folder, leaveOut, files, skipped);
    }
}

// The annotation folder relative to the raw folder when it lies below it
// ("" otherwise): the search leaves it out.
std::string AnnotationBelowRaw(const ImportSettings& settings)
{
    if (settings.annotationDir.empty()) {
        return "";
    }
    std::error_code ec;
    const fs::path raw = fs::canonical(settings.rawDir, ec);
    const fs::path annotation = fs::canonical(settings.annotationDir, ec);
    if (ec || annotation == raw || !IsWithin(annotation, raw)) {
        return "";
    }
    return fs::relative(annotation, raw, ec).generic_string();
}

// What became of one trial.
struct Outcome {
    bool imported = false;
    bool passedOver = false;  // not imported, and not the dataset's file: a note, not a skip
    ImportRecording recording;
    ImportSkip skip;
    bool annotated = true;  // false: the annotation's fault is in annotationFault
    ImportSkip annotationFault;
    uint64_t bytes = 0;  // raw text read
};

// Reads the trial's annotation into recording->phases; false with the
// fault (naming the annotation file) in *fault.
bool Annotate(const ImportSettings& settings, const ImportTrial& trial, int64_t rawSamples, ImportRecording* recording,
              ImportSkip* fault)
{
    const std::string path = (fs::path(settings.annotationDir) / ImportAnnotationPath(trial)).string();
    std::string reason;
    FILE* file = SafeOpenInput(path, &reason);
    ImportFault f{0, 0, ""};
    if (file != nullptr) {
        ImportLines lines(file);
        if (ImportReadAnnotation(&lines, rawSamples, recording->samples, &recording->phases, &f)) {
            std::fclose(file);
            return true;
        }
        std::fclose(file);
        reason = f.reason;
    } else if (reason == "no such file") {
        reason = "no annotation file";
    }
    *fault = ImportSkip{trial.sources[0], f.line,
                        "annotation " + path + (f.line > 0 ? ", line " + std::to_string(f.line) : "") + ": " + reason +
                            " (recording " + recording->path + " made without the fall's timing)"};
    return false;
}

// Converts and writes one trial.
Outcome ImportOne(const ImportSettings& settings, const ImportDatasetInfo& info, const fs::path& rawBase,
                  const ImportTrial& trial)
{
    Outcome o{};
    o.skip = ImportSkip{trial.sources[0], 0, ""};
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
        o.passedOver = fault.passOver;
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
    r.take = trial.take;
    if (settings.dataset == ImportDataset::SisFall && !settings.annotationDir.empty()) {
        o.annotated = Annotate(settings, trial, converted.rawSamples, &r, &o.annotationFault);
    }
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
        if (settings.format == ImportFormat::Both) {
            std::remove((base + ".bin").c_str());  // no twin without the other
        }
        return o;
    }
    o.imported = true;
    return o;
}

// Where the outcomes go, in the order of their trials whatever order they
// finish in: the result's totals and lists, the manifest's rows and the
// report's records.
class Emitter {
public:
    Emitter(const ImportSettings& settings, ImportResult* result, FilesWriter* manifest, FilesWriter* report)
        : settings_(settings), result_(result), manifest_(manifest), report_(report)
    {
    }

    // Takes the outcome of trial i (0-based); writes it and every later one
    // already waiting when all before it are written.
    void Take(std::size_t i, Outcome&& outcome)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        waiting_.emplace(i, std::move(outcome));
        for (auto at = waiting_.find(next_); at != waiting_.end(); at = waiting_.find(next_)) {
            Write(&at->second);
            waiting_.erase(at);
            ++next_;
        }
    }

private:
    void Write(Outcome* o)
    {
        ImportResult& r = *result_;
        r.rawBytes += o->bytes;
        if (!o->imported) {
            (o->passedOver ? r.notes : skips_).push_back(std::move(o->skip));
            return;
        }
        const ImportRecording& rec = o->recording;
        ++r.made;
        r.falls += rec.label == "fall" ? 1 : 0;
        r.adls += rec.label == "adl" ? 1 : 0;
        r.samples += rec.samples;
        r.clipped += rec.clipped;
        r.clippedRecordings += rec.clipped > 0 ? 1 : 0;
        if (!o->annotated) {
            r.unannotated.push_back(std::move(o->annotationFault));
        }
        FilesWriterWrite(manifest_, ImportManifestRow(settings_, rec));
        FilesWriterWrite(report_, ImportReportRecording(rec, r.made == 1));
        if (settings_.keepRecordings) {
            r.recordings.push_back(std::move(o->recording));
        }
    }

public:
    std::vector<ImportSkip> skips_;  // the conversions' skips, in the order of their trials

private:
    const ImportSettings& settings_;
    ImportResult* result_;
    FilesWriter* manifest_;
    FilesWriter* report_;
    std::mutex mutex_;
    std::map<std::size_t, Outcome> waiting_;
    std::size_t next_ = 0;
};

// Runs work(i) for i in 0..count-1 on up to threads threads, starting no
// new item once *stop is set; progress shown meanwhile. A thread that
// cannot be started (too little memory) leaves the work to those that
// could, or to the calling thread; no more threads than items. Returns
// the threads that ran.
int RunTrials(std::size_t count, int threads, const std::atomic<bool>* stop, const Progress& progress,
              const std::function<void(std::size_t)>& work)
{
    std::atomic<std::size_t> next{0};
    const int wanted = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), count));
    std::atomic<int> allowed{wanted};  // workers from this index on stop after their trial
    int running = 0;
    std::mutex mutex;
    std::condition_variable finished;
    auto stopped = [stop] { return stop != nullptr && stop->load(); };
    auto run = [&](int worker) {
        for (std::size_t i = 0; worker < allowed.load() && !stopped() && (i = next++) < count;) {
            work(i);
        }
        const std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_one();
    };
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(wanted));
    for (int t = 0; t < wanted; ++t) {
        try {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                ++running;
            }
            workers.emplace_back(run, t);
        } catch (const std::system_error&) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                --running;
            }
            // Out of threads means nearly out of memory too: half of those
            // started go, leaving room for the others' work.
            allowed = std::max(1, t / 2);
            for (std::size_t w = static_cast<std::size_t>(allowed.load()); w < workers.size(); ++w) {
                workers[w].join();
            }
            workers.resize(static_cast<std::size_t>(std::min<int>(allowed.load(), t)));
            break;
        }
    }
    if (workers.empty()) {
        running = 1;
        allowed = 1;
        run(0);
        return count > 0 ? 1 : 0;
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(250), [&] { return running == 0; })) {
            ProgressShow(progress);
        }
    }
    for (std::thread& w : workers) {
        w.join();
    }
    return static_cast<int>(workers.size());
}

bool BySource(const ImportSkip& a, const ImportSkip& b)
{
    return a.source < b.source;
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
    if (!settings.annotationDir.empty()) {
        if (settings.dataset != ImportDataset::SisFall) {
            *error = "--annotations: only SisFall has a per-sample annotation (nothing was written)";
            return kImportRefused;
        }
        if (!fs::is_directory(settings.annotationDir, ec)) {
            *error = "--annotations " + settings.annotationDir + ": no such folder (nothing was written)";
            return kImportRefused;
        }
    }
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
    std::vector<ImportTrial> trials;
    std::vector<ImportSkip> searchSkips;
    std::vector<ImportSkip> planSkips;
    std::size_t fileCount = 0;
    {
        std::vector<std::string> files;
        if (rawIsFolder) {
            const std::string leaveOut = AnnotationBelowRaw(settings);
            FindFiles(rawBase, "", leaveOut, &files, &searchSkips);
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(fs::path(settings.rawDir).filename().string());
        }
        fileCount = files.size();
        ImportPlan(settings, files, &trials, &planSkips);
    }
    ImportSortTakes(settings, rawBase.string(), &trials, &planSkips, &result->notes);
    if (trials.empty() && planSkips.empty() && result->notes.empty()) {
        *error = "RAW_DIR " + settings.rawDir + " holds none of the files of " + ImportDatasetName(settings.dataset) +
                 " (" + std::to_string(fileCount) + " other files; nothing was written)";
        return kImportRefused;
    }
    std::string claim;
    if (!ClaimOutput(settings.outDir, &claim, error)) {
        return kImportRefused;
    }

    const ImportDatasetInfo info = ImportInfoOf(settings);
    const fs::path out(settings.outDir);
    FilesWriter manifest{};
    FilesWriter report{};
    if (!FilesWriterOpen(&report, (out / kReportName).string(), error) ||
        !FilesWriterOpen(&manifest, (out / kManifestName).string(), error)) {
        FilesWriterAbandon(&report);
        std::remove(claim.c_str());
        return kImportRefused;
    }
    FilesWriterWrite(&manifest, ImportManifestHeader());
    FilesWriterWrite(&report, ImportReportHead(settings, info));

    Emitter emitter(settings, result, &manifest, &report);
    Progress progress;
    ProgressStart(&progress, "trials", trials.size(), settings.progress);
    result->threadsUsed = RunTrials(trials.size(), settings.threads, settings.stop, progress, [&](std::size_t i) {
        Outcome o = ImportOne(settings, info, rawBase, trials[i]);
        progress.samples += static_cast<uint64_t>(o.recording.samples);
        ++progress.done;
        trials[i] = ImportTrial{};
        emitter.Take(i, std::move(o));
    });
    ProgressEnd(progress);
    result->seconds = ProgressSeconds(progress);

    // Skips in the order of their files: the search's, then by source.
    std::vector<ImportSkip> skips = std::move(planSkips);
    skips.insert(skips.end(), std::make_move_iterator(emitter.skips_.begin()),
                 std::make_move_iterator(emitter.skips_.end()));
    std::stable_sort(skips.begin(), skips.end(), BySource);
    result->skipped = std::move(searchSkips);
    result->skipped.insert(result->skipped.end(), std::make_move_iterator(skips.begin()),
                           std::make_move_iterator(skips.end()));
    std::stable_sort(result->unannotated.begin(), result->unannotated.end(), BySource);
    std::stable_sort(result->notes.begin(), result->notes.end(), BySource);

    if (settings.stop != nullptr && settings.stop->load()) {
        FilesWriterAbandon(&manifest);
        FilesWriterAbandon(&report);
        std::remove(claim.c_str());
        *error = "stopped: " + std::to_string(result->made) + " whole recordings of " + std::to_string(trials.size()) +
                 " trials in " + settings.outDir + ", and no manifest";
        return kImportStopped;
    }
    // The manifest comes last: an output folder with a manifest holds a
    // finished import.
    FilesWriterWrite(&report, ImportReportTail(*result));
    result->reportWritten = FilesWriterCommit(&report, error);
    if (!result->reportWritten) {
        FilesWriterAbandon(&manifest);
    } else {
        result->manifestWritten = FilesWriterCommit(&manifest, error);
    }
    std::remove(claim.c_str());
    if (!result->manifestWritten) {
        return kImportRefused;
    }
    return result->skipped.empty() && result->unannotated.empty() ? kImportDone : kImportSomeSkipped;
}
