// Running an evaluation on worker threads.
#include "evaluation.h"

#include <filesystem>
#include <thread>

#include "progress.h"
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

// Writes the trace of outcome's recording while it is detected; false with
// the failure noted when the trace cannot be created or written.
bool DetectWithTrace(const EvalSettings& settings, const std::vector<ImuSample>& samples, RecordingOutcome* outcome,
                     FILE* input)
{
    const std::string path = EvalTracePath(settings.tracesDir, outcome->input);
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::string reason;
    bool refused = false;
    FILE* trace = SafeCreateOutputFor(path, input, &reason, &refused);
    if (trace == nullptr) {
        outcome->failure = "trace " + path + (refused ? " is the recording itself" : " " + reason);
        DetectRun(settings.config, samples.data(), samples.size(), nullptr, &outcome->detect);
        return false;
    }
    std::setvbuf(trace, nullptr, _IOFBF, kTraceBuffer);
    DetectRun(settings.config, samples.data(), samples.size(), trace, &outcome->detect);
    outcome->tracePath = path;
    if (!SafeCloseOutput(trace, 0, &reason)) {
        outcome->failure = "trace " + path + " not written completely: " + reason;
        return false;
    }
    return true;
}

// Reads and evaluates one recording; samples is the worker's buffer.
void EvaluateOne(const EvalSettings& settings, std::vector<ImuSample>* samples, RecordingOutcome* outcome)
{
    RecordingReader reader{};
    std::string reason;
    const InputRecording& in = outcome->input;
    if (RecordingOpen(&reader, in.path, in.format, in.micom, &reason) != 0) {
        outcome->failure = reason;
        return;
    }
    if (RecordingReadAll(&reader, samples, &reason) != 0) {
        outcome->failure = reason;
        RecordingClose(&reader);
        return;
    }
    outcome->read = true;
    if (settings.tracesDir.empty()) {
        DetectRun(settings.config, samples->data(), samples->size(), nullptr, &outcome->detect);
    } else {
        DetectWithTrace(settings, *samples, outcome, RecordingStream(&reader));
    }
    RecordingClose(&reader);
    outcome->events = MetricsEvents(outcome->detect.alarms, settings.mergeSeconds);
    if (!outcome->impactFromManifest) {
        outcome->impact = outcome->detect.peakSample;
    }
}

}  // namespace

std::string EvalTracePath(const std::string& dir, const InputRecording& input)
{
    const std::string& rel = input.relative;
    return (fs::path(dir) / (rel.substr(0, rel.size() - 3) + "txt")).string();
}

bool EvalCheckTraces(const std::string& dir, const InputSet& inputs, std::string* error)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir, ec)) {
        *error = "--traces " + dir + ": the folder cannot be created" + (ec ? ": " + ec.message() : std::string());
        return false;
    }
    for (const InputRecording& in : inputs.recordings) {
        SafeFileId traceFolder{};
        SafeFileId inputFolder{};
        const fs::path folder = fs::path(EvalTracePath(dir, in)).parent_path();
        if (SafeFileIdOf(folder.string(), &traceFolder) && SafeFileIdOf(FolderOf(in.path).string(), &inputFolder) &&
            SafeSameFile(traceFolder, inputFolder)) {
            *error = "--traces " + dir + ": the trace of " + in.path +
                     " would be written beside it; choose a folder outside the recordings";
            return false;
        }
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
    for (const InputRecording& in : inputs.recordings) {
        RecordingOutcome o{};
        o.input = in;
        o.labels = LabelsFromName(in.path);
        if (manifest != nullptr) {
            const auto it = manifest->entries.find(ManifestKey(in.path));
            if (it != manifest->entries.end()) {
                o.labels = it->second;
                o.labelsFromManifest = true;
            }
        }
        o.impactFromManifest = o.labels.impactSample >= 0;
        o.impact = o.labels.impactSample;
        evaluation->outcomes.push_back(std::move(o));
    }

    Progress progress;
    ProgressStart(&progress, "recordings", evaluation->outcomes.size(), settings.progress);
    // Each worker keeps its sample buffer from recording to recording.
    std::vector<std::vector<ImuSample>> buffers(static_cast<std::size_t>(settings.threads));
    ProgressRunParallel(evaluation->outcomes.size(), settings.threads, progress, [&](std::size_t i, int worker) {
        EvaluateOne(settings, &buffers[static_cast<std::size_t>(worker)], &evaluation->outcomes[i]);
        progress.samples += evaluation->outcomes[i].detect.samples;
        ++progress.done;
    });
    ProgressEnd(progress);
    evaluation->samples = progress.samples;
    evaluation->seconds = ProgressSeconds(progress);
}

RecordingScore EvalScore(const RecordingOutcome& outcome)
{
    const auto& alarms = outcome.detect.alarms;
    return RecordingScore{outcome.labels.label, outcome.detect.samples, static_cast<int>(outcome.events.size()),
                          alarms.empty() ? -1 : static_cast<int64_t>(alarms.front().sample), outcome.impact};
}

Metrics EvalMetrics(const Evaluation& evaluation)
{
    std::vector<RecordingScore> scores;
    for (const RecordingOutcome& o : evaluation.outcomes) {
        if (o.read) {
            scores.push_back(EvalScore(o));
        }
    }
    return MetricsCompute(scores);
}
