// Per-sample trace line, written in fragments, and the common end of a sample.
#ifndef TUMBLEWATCH_TRACE_H
#define TUMBLEWATCH_TRACE_H

#include "tumblewatch.h"

// Writes fragment `part` of the line: 1 (sample, magnitudes, jump, averages,
// attitude), 2 (the FALL fragment, at most once per sample) or 3 (tumble
// and short sums).
void TraceSample(TumblewatchContext* ctx, const ImuSample* sample, int part);

// The CF fragment of the repeat-fall test; a negative eventLength writes
// the short form with adjust only.
void TraceRepeatCheck(const TumblewatchContext* ctx, int adjust, int outside, int gap, int eventLength);

// The end of the line: " -> (code)\n" for a positive code, else "\n".
void TraceResult(const TumblewatchContext* ctx, int code);

// Ends the sample: trace fragment 3, the result, ring index and sample count
// advanced. Returns code unchanged.
int FinishSample(TumblewatchContext* ctx, int code);

#endif
