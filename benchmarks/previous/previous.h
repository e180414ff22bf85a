// The detector and the binary replay as they were before the speed-ups
// (the trace formatter, the fixed-size orientation arithmetic, the float
// magnitude root, the blocked dataset reads, and the pipeline split into
// its parameter-free front end and its decisions), kept for comparison:
// the benchmarks run it beside the current code, and the tests check that
// the current code computes and writes exactly what it did.
//
// It is the shared library tumblewatch_previous: today's detector units,
// except that the units the speed-up changed are replaced by the copies in
// this folder (trace.cpp, magnitude.cpp, orientation_filter.cpp,
// update_orientation.cpp, process.cpp, dataset.cpp, replay_bin.cpp). Every symbol of the
// library is hidden except TumblewatchPrevious, so its functions and its
// own fpTrace and filter coefficients live beside the current ones in one
// process without clashing. Contexts and configurations have the same
// layout in both, but a context set up by one must be processed and
// closed by the same one.
#ifndef BENCHMARKS_PREVIOUS_H
#define BENCHMARKS_PREVIOUS_H

#include <cstdio>

#include "tumblewatch.h"

struct PreviousImplementation {
    // Its own trace handle (of the thread that first asked for this table):
    // set it to trace the previous detector.
    FILE** trace;
    int (*set)(TumblewatchContext* ctx, const TumblewatchConfig* cfg);
    int (*process)(TumblewatchContext* ctx, const ImuSample* sample);
    int (*close)(TumblewatchContext* ctx);
    // Replays a binary dataset; writes the trace beside it through its own
    // trace handle.
    int (*replayBinFile)(const char* path);
    // The trace writers (they write to *trace).
    void (*traceSample)(TumblewatchContext* ctx, const ImuSample* sample, int part);
    void (*traceRepeatCheck)(const TumblewatchContext* ctx, int adjust, int outside, int gap, int eventLength);
    void (*traceResult)(const TumblewatchContext* ctx, int code);
    int (*finishSample)(TumblewatchContext* ctx, int code);
    // One step of the orientation filter on a filter set up by set.
    void (*orientationFilterUpdate)(OrientationFilter* filter, const double* gyro, const double* accl,
                                    const double* magn, double dt);
    float (*rootHalf)(float s);
};

// The previous implementation's entry points; a static table, valid for
// the life of the process.
__attribute__((visibility("default"))) const PreviousImplementation& TumblewatchPrevious();

#endif
