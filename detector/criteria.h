// Fall criteria: the trackers and decision stages of the decision pass.
// A stage that returns a positive code has already ended the sample
// through FinishSample.
#ifndef TUMBLEWATCH_CRITERIA_H
#define TUMBLEWATCH_CRITERIA_H

#include "tumblewatch.h"

// Jump tracking.
void TrackJump(TumblewatchContext* ctx);
void ResetJump(TumblewatchContext* ctx);

// Low-g phases, their score and the repeat-fall test.
int TrackFall(TumblewatchContext* ctx, const ImuSample* sample);
void ScoreFall(TumblewatchContext* ctx, const ImuSample* sample);
int CheckRepeatFall(TumblewatchContext* ctx);
void CloseFall(TumblewatchContext* ctx);
void RecordFall(TumblewatchContext* ctx);

// Impact after a recent low-g spell.
int CheckImpact(TumblewatchContext* ctx);
bool CheckRecentLowPhase(const TumblewatchContext* ctx, int32_t window, int32_t length);

// Tumble.
void CountTumble(TumblewatchContext* ctx);
int CheckTumble(TumblewatchContext* ctx);

// Rotation fall.
int CheckRotationFall(TumblewatchContext* ctx, const ImuSample* sample);

// The pipeline's length tests for a low phase confirmed in this sample:
// the code they decide (1, 2, 3, 4, 9 or 12) or 0. Writes nothing.
int FallLengthCode(const TumblewatchContext* ctx);

#endif
