#include "replay_common.h"

#include <filesystem>
#include <new>
#include <vector>

#include "safe_files.h"

namespace fs = std::filesystem;

namespace {

// Samples read from the input at a time.
constexpr int kReplayBlock = 256;

// The trace file's stdio buffer: the trace leaves in 1 MiB writes instead
// of 4 KiB ones.
constexpr size_t kTraceBufferSize = size_t{1} << 20;

// True when creating or writing path would touch the layout marker of the
// current folder: path names it (however spelled), or would create it.
bool IsMarker(const std::string& path)
{
    SafeFileId marker{};
    SafeFileId target{};
    if (SafeFileIdOf(kMicomMarker, &marker) && SafeFileIdOf(path, &target)) {
        return SafeSameFile(marker, target);
    }
    const fs::path p(path);
    if (p.filename() != kMicomMarker) {
        return false;
    }
    const std::string parent = p.parent_path().empty() ? std::string(".") : p.parent_path().string();
    SafeFileId here{};
    SafeFileId folder{};
    return SafeFileIdOf(".", &here) && SafeFileIdOf(parent, &folder) && SafeSameFile(here, folder);
}

}  // namespace

std::string TraceFileName(const std::string& path)
{
    if (path.size() < 3) {
        return std::string();
    }
    std::string name = path.substr(0, path.size() - 3) + "txt";
    if (name == path) {
        return std::string();
    }
    return name;
}

void ReportFailure(const std::string& path, const std::string& reason)
{
    std::fflush(stdout);  // keeps the message after the file's header on a shared terminal
    std::fprintf(stderr, "tilt_bench: %s: %s\n", path.c_str(), reason.c_str());
}

bool OpenTraceBeside(const std::string& inputPath, FILE* input, BenchTrace* trace)
{
    trace->path = TraceFileName(inputPath);
    trace->firstError = 0;
    if (trace->path.empty()) {
        ReportFailure(inputPath, "refused: no trace name can be made from this path");
        return false;
    }
    if (IsMarker(trace->path)) {
        ReportFailure(inputPath, "refused: its trace " + trace->path + " would overwrite the layout marker " +
                                     kMicomMarker + " of the current folder");
        return false;
    }
    std::string reason;
    bool refused = false;
    fpTrace = SafeCreateOutputFor(trace->path, input, &reason, &refused);
    if (fpTrace == nullptr) {
        ReportFailure(inputPath, refused ? "refused: its trace " + trace->path + " is the input itself"
                                         : "trace " + trace->path + " " + reason);
        return false;
    }
    // Without the memory for it the trace keeps stdio's own buffer.
    trace->buffer.reset(new (std::nothrow) char[kTraceBufferSize]);
    if (trace->buffer != nullptr && std::setvbuf(fpTrace, trace->buffer.get(), _IOFBF, kTraceBufferSize) != 0) {
        trace->buffer.reset();
    }
    return true;
}

void NoteTraceErrors(BenchTrace* trace)
{
    SafeNoteWriteError(fpTrace, &trace->firstError);
}

bool CloseTrace(const std::string& inputPath, BenchTrace* trace)
{
    std::string reason;
    const bool complete = SafeCloseOutput(fpTrace, trace->firstError, &reason);
    fpTrace = nullptr;
    trace->buffer.reset();  // only once the file that used it is closed
    if (!complete) {
        ReportFailure(inputPath, "trace " + trace->path + " not written completely: " + reason);
    }
    return complete;
}

bool StartDetector(TumblewatchContext* ctx, TumblewatchConfig* cfg)
{
    TumblewatchDefault(cfg);
    if (TumblewatchSet(ctx, cfg) < 0) {
        std::printf("TumblewatchSet(), failed.\n");
        return false;
    }
    return true;
}

int ReplayRecording(const std::string& path, RecordingFormat format, bool micom, bool printFalls)
{
    RecordingReader reader{};
    std::string reason;
    if (RecordingOpen(&reader, path, format, micom, &reason) != 0) {
        ReportFailure(path, reason);
        return -1;
    }
    BenchTrace trace;
    if (!OpenTraceBeside(path, RecordingStream(&reader), &trace)) {
        RecordingClose(&reader);
        return -1;
    }

    TumblewatchConfig cfg;
    TumblewatchContext detector;
    if (!StartDetector(&detector, &cfg)) {
        CloseTrace(path, &trace);
        RecordingClose(&reader);
        return -1;
    }

    // A read error ends the replay like the end of the file, and is
    // reported; a trace that cannot be written does not stop it.
    ImuSample samples[kReplayBlock];
    int n = 0;
    while ((n = RecordingRead(&reader, samples, kReplayBlock)) > 0) {
        for (int i = 0; i < n; ++i) {
            const int code = TumblewatchProcess(&detector, &samples[i]);
            if (code > 0 && printFalls) {
                // The count after the call: the sample's 1-based position.
                std::printf("%04d : Fall (%d)\n", static_cast<int>(TumblewatchSampleCount(&detector)), code);
            }
            NoteTraceErrors(&trace);
        }
    }
    const bool readFailed = n < 0;

    TumblewatchClose(&detector);
    const bool traced = CloseTrace(path, &trace);
    RecordingClose(&reader);
    if (readFailed) {
        ReportFailure(path, "reading stopped early: a read error");
    }
    return traced && !readFailed ? 0 : -1;
}
