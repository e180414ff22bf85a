// Orientation step of the per-sample pipeline.
#ifndef TUMBLEWATCH_UPDATE_ORIENTATION_H
#define TUMBLEWATCH_UPDATE_ORIENTATION_H

#include "tumblewatch.h"

// Runs one filter step on the filtered rate and acceleration and writes the
// raw attitude angles pitch and tilt.
void UpdateOrientation(TumblewatchContext* ctx);

#endif
