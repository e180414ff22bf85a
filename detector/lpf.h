// Low-pass filters and magnitudes of the per-sample signal path.
#ifndef TUMBLEWATCH_LPF_H
#define TUMBLEWATCH_LPF_H

#include <cstdint>

#include "tumblewatch.h"

// Shared first-order low-pass: process-wide design values and coefficients.
extern float lpfCutoff;
extern float lpfRate;
extern float a1;
extern float b0;
extern float b1;

// Computes a1, b0, b1 from lpfCutoff and lpfRate, once per process (later
// calls return at once; any thread may call it). Call it before LpfStep.
void LpfInit();
void LpfStep(const float* input, float* out, float* inPrev, float* outPrev);

int TriAxisLpfInit(TriAxisLpf* filter, int32_t rate, int32_t cutoff);
int TriAxisLpfStep(TriAxisLpf* filter, float x, float y, float z);

// The power 0.5 of s, taken in double and rounded to float. (The
// single-precision powf can differ in the last bit.) Computed as the float
// square root, which gives the same bits for every non-negative float
// (checked on all of them by tools/check_magnitude_root.cpp).
float RootHalf(float s);

// RootHalf of x*x + y*y + z*z, summed in float from left to right.
float MagnitudeRoot(float x, float y, float z);

// Acceleration magnitude in hundredths of g, truncated, kept to 16 bits.
uint16_t AccelMagnitude(float x, float y, float z);

// Angular-rate magnitude in whole deg/s, truncated, kept to 16 bits.
uint16_t GyroMagnitude(float x, float y, float z);

#endif
