// What the binary and the CSV replay share: the trace file beside the
// input, written only where it destroys nothing and checked to its close,
// the set-up of a fresh detector, and the report of a failure.
#ifndef TILT_BENCH_REPLAY_COMMON_H
#define TILT_BENCH_REPLAY_COMMON_H

#include <cstdio>
#include <memory>
#include <string>

#include "recording_reader.h"
#include "tumblewatch.h"

// The input path with its last three characters replaced by "txt"; empty
// when the path is too short or already names a ".txt"-style file, so that
// an input is never overwritten by its own trace.
std::string TraceFileName(const std::string& path);

// The trace of one replay while it is open.
struct BenchTrace {
    std::string path;                // the trace file
    int firstError;                  // errno of the first failed write; 0 while none failed
    std::unique_ptr<char[]> buffer;  // the file's stdio buffer while it is open (1 MiB)
};

// Creates (or truncates) the trace file beside inputPath and stores it in
// fpTrace. input is the open input, compared by identity with the trace.
// Refused, with nothing created or changed, when the trace would be the
// input itself (a link in either direction, any spelling of the path) or
// the layout marker of the current folder. False after reporting why on
// standard error.
bool OpenTraceBeside(const std::string& inputPath, FILE* input, BenchTrace* trace);

// Notes a failed write of the trace; call it after every sample.
void NoteTraceErrors(BenchTrace* trace);

// Flushes and closes fpTrace and clears the handle. False after reporting
// on standard error that the trace of inputPath was not written
// completely.
bool CloseTrace(const std::string& inputPath, BenchTrace* trace);

// Fills cfg with the defaults and sets up ctx; prints the set-up failure
// message and returns false when the set-up is refused.
bool StartDetector(TumblewatchContext* ctx, TumblewatchConfig* cfg);

// Replays one recording through a fresh detector with the defaults,
// writing its trace beside it; micom selects the CSV layout; printFalls
// prints "%04d : Fall (%d)" for each fall. Returns 0 after a complete
// replay and trace, -1 after reporting a failure on standard error (the
// input cannot be read or is no dataset, the trace is refused, cannot be
// created or was not written completely, a read failed).
int ReplayRecording(const std::string& path, RecordingFormat format, bool micom, bool printFalls);

// One line on standard error: "tilt_bench: PATH: REASON".
void ReportFailure(const std::string& path, const std::string& reason);

#endif
