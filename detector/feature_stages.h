// Feature stages that every sample runs before any decision.
#ifndef TUMBLEWATCH_FEATURE_STAGES_H
#define TUMBLEWATCH_FEATURE_STAGES_H

#include "tumblewatch.h"

void CalibrateAttitude(TumblewatchContext* ctx);
void TrackRotation(TumblewatchContext* ctx, const ImuSample* sample);
void TrackUpright(TumblewatchContext* ctx);
void UpdateShortSums(TumblewatchContext* ctx);

// Upright samples among the latest n samples, the current one included
// (n at most 63): unsigned difference of two upright-ring entries.
uint32_t UprightCount(const TumblewatchContext* ctx, uint32_t n);

#endif
