// Replay of a binary dataset through a fresh detector.
#include "bench.h"
#include "dataset.h"
#include "replay_common.h"
#include "safe_files.h"

int ReplayBinFile(const char* path)
{
    std::string reason;
    DataSet* dataSet = DataSetOpenChecked(path, &reason);
    if (dataSet == nullptr) {
        ReportFailure(path, reason);
        return -1;
    }
    BenchTrace trace;
    if (!OpenTraceBeside(path, dataSet->file, &trace)) {
        DataSetClose(dataSet);
        return -1;
    }

    TumblewatchConfig cfg;
    TumblewatchContext detector;
    if (!StartDetector(&detector, &cfg)) {
        CloseTrace(path, &trace);
        DataSetClose(dataSet);
        return -1;
    }

    // The fall codes show in the trace only. A trace that cannot be written
    // does not stop the replay.
    ImuSample record;
    while (DataSetRead(dataSet, &record, 1) == 1) {
        TumblewatchProcess(&detector, &record);
        NoteTraceErrors(&trace);
    }
    const bool readFailed = DataSetFailed(dataSet);

    TumblewatchClose(&detector);
    const bool traced = CloseTrace(path, &trace);
    DataSetClose(dataSet);
    if (readFailed) {
        ReportFailure(path, "reading stopped early: a read error");
    }
    return traced && !readFailed ? 0 : -1;
}
