// Running an evaluation on worker threads.
#include "evaluation.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <thread>

#include "recording_reader.h"
#include "safe_files.h"

namespace fs = std::filesystem;

namespace {

// Bytes of stdio buffer for each trace file.
constexpr std::size_t kTraceBuffer = 1 << 16;

// The folder a file lies in, "." for a bare name.
fs::path FolderOf(const std::string& path)
{
    const fs::path p(path);
    return p.has_parent_path() ? p.parent_path() : fs::path(".");
}

// The trace file of a pass, or null with the reason.
FILE* OpenTrace(const std::string& path, FILE* input, std::string* failure)
{
    if (fs::path(path).filename() == kMicomMarker) {
        *failure = "trace " + path + " refused: it would be the layout marker " + kMicomMarker + " of its folder";
        return nullptr;
    }
    std::string reason;
    if (!FilesOutputNameFree(path, &reason)) {
        *failure = "trace " + path + " refused: it " + reason;
        return nullptr;
    }
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    bool refused = false;
    FILE* trace = SafeCreateOutputFor(path, input, &reason, &refused);
    if (trace == nullptr) {
        *failure = "trace " + path + (refused ? " is the recording itself" : " " + reason);
        return nullptr;
    }
    std::setvbuf(trace, nullptr, _IOFBF, kTraceBuffer);
    return trace;
}

// Reads and evaluates one recording.
void EvaluateOne(const EvalSettings& settings, const Manifest* manifest, Progress* progress, RecordingOutcome* outcome)
{
    EvalPassResult pass;
    const std::string trace =
        settings.tracesDir.empty() ? std::string() : EvalTracePath(settings.tracesDir, outcome->input);
    EvalPassWindowed(outcome->input, settings.config, settings.mergeSeconds,
                     EvalWindowOf(outcome->labels, settings.window), trace, nullptr, nullptr, progress, &pass);
    EvalTakePass(&pass, manifest, outcome);
}

// The resolved folders of paths.
std::set<std::string> ResolvedFolders(const std::vector<std::string>& paths)
{
    std::set<std::string> folders;
    for (const std::string& p : paths) {
        folders.insert(FilesResolved(FolderOf(p).string()));
    }
    return folders;
}

}  // namespace

bool EvalPass(const InputRecording& input, const TumblewatchConfig& config, double mergeSeconds,
              const std::string& tracePath, DetectObserver observer, void* user, Progress* progress,
              EvalPassResult* result)
{
    return EvalPassWindowed(input, config, mergeSeconds, MetricsNoWindow(), tracePath, observer, user, progress,
                            result);
}

bool EvalPassWindowed(const InputRecording& input, const TumblewatchConfig& config, double mergeSeconds,
                      const FallWindowTally& window, const std::string& tracePath, DetectObserver observer, void* user,
                      Progress* progress, EvalPassResult* result)
{
    result->detect = DetectResult{};
    AlarmTallyStart(&result->tally, mergeSeconds);
    result->tally.window = window;
    result->failure.clear();
    result->traceFailure.clear();
    result->tracePath.clear();

    RecordingReader reader{};
    if (RecordingOpen(&reader, input.path, input.format, input.micom, &result->failure) != 0) {
        return false;
    }
    FILE* trace = nullptr;
    if (!tracePath.empty()) {
        trace = OpenTrace(tracePath, RecordingStream(&reader), &result->traceFailure);
        if (trace != nullptr) {
            result->tracePath = tracePath;
        }
    }
    DetectAlarms alarms{AlarmTallySink, &result->tally, observer, user};
    DetectStream stream;
    if (!DetectStreamBegin(&stream, config, trace, DetectAlarmsObserve, &alarms)) {
        result->failure = "the detector refuses the configuration";
        RecordingClose(&reader);
        std::string ignored;
        SafeCloseOutput(trace, 0, &ignored);
        return false;
    }
    ImuSample block[kEvalBlock];
    int64_t bytes = 0;
    for (;;) {
        const int n = RecordingRead(&reader, block, kEvalBlock);
        if (n < 0) {
            result->failure = "reading stopped early: a read error";
            break;
        }
        DetectStreamFeed(&stream, block, static_cast<std::size_t>(n));
        if (progress != nullptr) {
            const int64_t at = RecordingBytesRead(&reader);
            progress->samples += static_cast<uint64_t>(n);
            progress->bytes += static_cast<uint64_t>(at > bytes ? at - bytes : 0);
            bytes = std::max(bytes, at);
        }
        if (n == 0) {
            break;
        }
        if (progress != nullptr && progress->stopped) {
            result->failure = "stopped before its end";
            break;
        }
    }
    DetectStreamEnd(&stream, &result->detect);
    AlarmTallyFinish(&result->tally);
    RecordingClose(&reader);
    std::string reason;
    if (trace != nullptr && !SafeCloseOutput(trace, 0, &reason)) {
        result->traceFailure = "trace " + tracePath + " not written completely: " + reason;
    }
    return result->failure.empty();
}

void EvalTakePass(EvalPassResult* pass, const Manifest* manifest, RecordingOutcome* outcome)
{
    outcome->read = pass->failure.empty();
    outcome->counted = false;
    outcome->failure = outcome->read ? pass->traceFailure : pass->failure;
    outcome->tracePath = pass->tracePath;
    outcome->impactFromManifest = outcome->labels.impactSample >= 0;
    outcome->impact = outcome->labels.impactSample;
    if (!outcome->read) {
        return;
    }
    outcome->detect.samples = pass->detect.samples;
    outcome->detect.peakSample = pass->detect.peakSample;
    outcome->detect.peakMagnitude = pass->detect.peakMagnitude;
    outcome->detect.alarms = std::move(pass->tally.alarms);
    outcome->alarmCount = pass->tally.alarmCount;
    outcome->events = std::move(pass->tally.events);
    outcome->eventCount = pass->tally.eventCount;
    outcome->codes = std::move(pass->tally.codes);
    if (!outcome->impactFromManifest) {
        outcome->impact = outcome->detect.peakSample;
    }
    const int64_t samples = outcome->detect.samples;
    const bool impactInside = outcome->impact < samples;
    if (!impactInside && outcome->impactFromManifest) {
        const std::string where =
            manifest != nullptr ? ManifestWhere(*manifest, outcome->labels) : std::string("manifest");
        const std::string problem =
            where + ": impact_sample " + std::to_string(outcome->impact) + " lies past the end of the recording (" +
            (samples == 0 ? std::string("it has no samples") : "its samples are 0 to " + std::to_string(samples - 1)) +
            "); left out of the metrics";
        outcome->failure = outcome->failure.empty() ? problem : problem + "; " + outcome->failure;
    }
    outcome->counted = samples > 0 && (impactInside || !outcome->impactFromManifest);
    outcome->window = pass->tally.window;
    if (outcome->window.active && outcome->labels.fallEnd >= samples) {
        const std::string where =
            manifest != nullptr ? ManifestWhere(*manifest, outcome->labels) : std::string("manifest");
        const std::string problem =
            where + ": the fall's timing (samples " + std::to_string(outcome->labels.fallStart) + " to " +
            std::to_string(outcome->labels.fallEnd) + ") lies past the end of the recording (" +
            (samples == 0 ? std::string("it has no samples") : "its samples are 0 to " + std::to_string(samples - 1)) +
            "); left out of the metrics";
        outcome->failure = outcome->failure.empty() ? problem : problem + "; " + outcome->failure;
        outcome->counted = false;
    }
}

FallWindowTally EvalWindowOf(const RecordingLabels& labels, const FallWindowSettings& settings)
{
    if (labels.label != Label::Fall || !LabelsTimed(labels)) {
        return MetricsNoWindow();
    }
    return MetricsWindowOf(labels.fallStart, labels.fallEnd, settings);
}

bool EvalDetected(const RecordingOutcome& outcome)
{
    return EvalDetectingAlarm(outcome) >= 0;
}

int64_t EvalDetectingAlarm(const RecordingOutcome& outcome)
{
    if (outcome.window.active) {
        return outcome.window.firstAlarm;
    }
    return outcome.detect.alarms.empty() ? -1 : static_cast<int64_t>(outcome.detect.alarms.front().sample);
}

double EvalLatency(const RecordingOutcome& outcome)
{
    const int64_t alarm = EvalDetectingAlarm(outcome);
    if (alarm < 0) {
        return std::nan("");
    }
    const int64_t from = outcome.window.active ? outcome.labels.fallStart : outcome.impact;
    return static_cast<double>(alarm - from) / kSampleRate;
}

std::string EvalTracePath(const std::string& dir, const InputRecording& input)
{
    const std::string& rel = input.relative;
    return (fs::path(dir) / (rel.substr(0, rel.size() - 3) + "txt")).string();
}

bool EvalCheckTraces(const std::string& dir, const InputSet& inputs, const FilesReads& reads,
                     const std::vector<std::string>& outputs, std::string* error)
{
    const std::string name = "--traces " + dir + ": ";
    if (!FilesCheckOutputFolder("--traces", dir, reads, error)) {
        return false;
    }
    std::vector<std::string> recordings;
    for (const InputRecording& in : inputs.recordings) {
        recordings.push_back(in.path);
    }
    const std::set<std::string> readFolders = ResolvedFolders(recordings);
    const std::set<std::string> patternFolders = ResolvedFolders(inputs.patterns);
    std::set<std::string> files;
    for (const std::vector<std::string>* list : {&reads.files, &outputs}) {
        for (const std::string& f : *list) {
            if (!f.empty() && f != "-") {
                files.insert(FilesResolved(f));
            }
        }
    }
    for (const InputRecording& in : inputs.recordings) {
        const std::string trace = EvalTracePath(dir, in);
        const std::string folder = FilesResolved(FolderOf(trace).string());
        if (readFolders.count(folder) != 0 || patternFolders.count(folder) != 0) {
            *error = name + "the trace of " + in.path + " would be written beside recordings (" + trace +
                     "); choose a folder outside the recordings";
            return false;
        }
        if (files.count(FilesResolved(trace)) != 0) {
            *error = name + "the trace of " + in.path + " would be " + trace +
                     ", a file this command reads or writes; choose another folder";
            return false;
        }
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir, ec)) {
        *error = name + "the folder cannot be created" + (ec ? ": " + ec.message() : std::string());
        return false;
    }
    return true;
}

int EvalHardwareThreads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

void EvalRun(const InputSet& inputs, const Manifest* manifest, const EvalSettings& settings, Evaluation* evaluation)
{
    evaluation->outcomes.clear();
    evaluation->twinsPassedOver = inputs.twinsPassedOver;
    evaluation->skipped = inputs.skipped;
    uint64_t bytesTotal = 0;
    for (const InputRecording& in : inputs.recordings) {
        RecordingOutcome o{};
        o.input = in;
        const RecordingLabels* listed = manifest != nullptr ? ManifestFind(*manifest, in.path) : nullptr;
        o.labels = listed != nullptr ? *listed : LabelsFromName(in.path);
        o.labelsFromManifest = listed != nullptr;
        o.impactFromManifest = o.labels.impactSample >= 0;
        o.impact = o.labels.impactSample;
        evaluation->outcomes.push_back(std::move(o));
        struct stat st {};
        if (stat(in.path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            bytesTotal += static_cast<uint64_t>(st.st_size);
        }
    }

    Progress progress;
    ProgressStart(&progress, "recordings", evaluation->outcomes.size(), settings.progress);
    progress.bytesTotal = bytesTotal;
    progress.poll = settings.poll;
    ProgressRunParallel(evaluation->outcomes.size(), settings.threads, progress, [&](std::size_t i, int) {
        EvaluateOne(settings, manifest, &progress, &evaluation->outcomes[i]);
        ++progress.done;
    });
    ProgressEnd(progress);
    evaluation->samples = 0;
    for (const RecordingOutcome& o : evaluation->outcomes) {
        evaluation->samples += o.read ? o.detect.samples : 0;
    }
    evaluation->seconds = ProgressSeconds(progress);
}

uint64_t EvalBytesOf(const Evaluation& evaluation)
{
    uint64_t bytes = 0;
    for (const RecordingOutcome& o : evaluation.outcomes) {
        struct stat st {};
        if (o.read && stat(o.input.path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            bytes += static_cast<uint64_t>(st.st_size);
        }
    }
    return bytes;
}

RecordingScore EvalScore(const RecordingOutcome& outcome)
{
    const auto& alarms = outcome.detect.alarms;
    RecordingScore score{outcome.labels.label, outcome.detect.samples, static_cast<int>(outcome.eventCount),
                         alarms.empty() ? -1 : static_cast<int64_t>(alarms.front().sample), outcome.impact};
    const FallWindowTally& w = outcome.window;
    if (w.active) {
        score.windowed = true;
        score.firstInWindow = w.firstAlarm;
        score.fallStart = outcome.labels.fallStart;
        score.fallEnd = outcome.labels.fallEnd;
        score.earlyEvents = w.earlyEvents;
        score.lateEvents = w.lateEvents;
        score.outsideSamples = MetricsOutsideSamples(w, outcome.detect.samples);
    }
    return score;
}

Metrics EvalMetrics(const Evaluation& evaluation)
{
    std::vector<RecordingScore> scores;
    for (const RecordingOutcome& o : evaluation.outcomes) {
        if (o.counted) {
            scores.push_back(EvalScore(o));
        }
    }
    return MetricsCompute(scores);
}
