// The one exported entry of the previous implementation (see previous.h).
#include "previous.h"

#include "lpf.h"
#include "orientation_filter.h"
#include "trace.h"

int ReplayBinFile(const char* path);  // replay_bin.cpp of this folder

const PreviousImplementation& TumblewatchPrevious()
{
    static const PreviousImplementation previous{
        &fpTrace,         TumblewatchSet, TumblewatchProcess, TumblewatchClose,        ReplayBinFile, TraceSample,
        TraceRepeatCheck, TraceResult,    FinishSample,       OrientationFilterUpdate, RootHalf};
    return previous;
}
