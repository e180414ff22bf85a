// The previous implementation, kept for comparison (see previous.h): the
// binary replay as it was before the speed-up, with the parts of the
// replays' common code that it used; the trace file has the default stdio
// buffer.
#include <cstdio>
#include <string>

#include "dataset.h"

int ReplayBinFile(const char* path);

namespace {

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

bool OpenTraceBeside(const std::string& path)
{
    const std::string name = TraceFileName(path);
    if (name.empty()) {
        return false;
    }
    fpTrace = std::fopen(name.c_str(), "w+");
    return fpTrace != nullptr;
}

void CloseTrace()
{
    if (fpTrace != nullptr) {
        std::fclose(fpTrace);
        fpTrace = nullptr;
    }
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

}  // namespace

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
