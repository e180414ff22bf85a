// Replay of a binary dataset through a fresh detector.
#include "bench.h"
#include "dataset.h"
#include "replay_common.h"

int ReplayBinFile(const char* path)
{
    DataSet* dataSet = DataSetOpen(path);
    if (dataSet == nullptr) {
        return -1;
    }
    if (!OpenTraceBeside(path)) {
        DataSetClose(dataSet);
        return -1;
    }

    TumblewatchConfig cfg;
    TumblewatchContext detector;
    if (!StartDetector(&detector, &cfg)) {
        CloseTrace();
        DataSetClose(dataSet);
        return -1;
    }

    // The fall codes show in the trace only.
    ImuSample record;
    while (DataSetRead(dataSet, &record, 1) == 1) {
        TumblewatchProcess(&detector, &record);
    }

    TumblewatchClose(&detector);
    CloseTrace();
    DataSetClose(dataSet);
    return 0;
}
