// Replay of a binary dataset through a fresh detector.
#include "bench.h"
#include "replay_common.h"

int ReplayBinFile(const char* path)
{
    // The fall codes show in the trace only.
    return ReplayRecording(path, RecordingFormat::DataSet, false, false);
}
