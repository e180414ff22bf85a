// Replay of a CSV recording through a fresh detector. The layout is chosen
// per file by the marker "micom.txt" in the current directory: the micom
// layout skips one header line and scales the values by 100, the default
// layout skips seven lines and takes the values as written. A row numbered
// -1 sets the offset that is added to every sample after it.
#include <unistd.h>

#include "bench.h"
#include "replay_common.h"

bool FileExists(const char* path)
{
    // Asked without opening it, so that a FIFO of that name cannot block.
    return access(path, R_OK) == 0;
}

int ReplayCsvFile(const char* path)
{
    return ReplayRecording(path, RecordingFormat::Csv, FileExists(kMicomMarker), true);
}
