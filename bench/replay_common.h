// What the binary and the CSV replay share: the trace file beside the
// input and the set-up of a fresh detector.
#ifndef TILT_BENCH_REPLAY_COMMON_H
#define TILT_BENCH_REPLAY_COMMON_H

#include <string>

#include "tumblewatch.h"

// The input path with its last three characters replaced by "txt"; empty
// when the path is too short or already names a ".txt"-style file, so that
// an input is never overwritten by its own trace.
std::string TraceFileName(const std::string& path);

// Creates (or truncates) the trace file beside path and stores it in
// fpTrace. False when it cannot be created.
bool OpenTraceBeside(const std::string& path);

// Closes fpTrace and clears the handle.
void CloseTrace();

// Fills cfg with the defaults and sets up ctx; prints the set-up failure
// message and returns false when the set-up is refused.
bool StartDetector(TumblewatchContext* ctx, TumblewatchConfig* cfg);

#endif
