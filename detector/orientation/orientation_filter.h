// Quaternion complementary filter: gyro integration with a running bias
// estimate and a gravity correction weighted by the distance from 1 g.
#ifndef TUMBLEWATCH_ORIENTATION_FILTER_H
#define TUMBLEWATCH_ORIENTATION_FILTER_H

#include <cstdint>

#include "tumblewatch.h"

// Allocates the identity orientation and clears bias, spare and count.
void OrientationFilterInit(OrientationFilter* filter);

// Releases the orientation quaternion and sets the pointer to null; a
// filter whose pointer is already null is left alone.
void OrientationFilterRelease(OrientationFilter* filter);

// Running mean of the gyro samples that lie strictly inside +-threshold of
// the current bias on every axis (the first sample always joins).
void UpdateGyroBias(OrientationFilter* filter, double* bias, const double* gyro, int32_t maxCount, double threshold);

// One filter step: gyro in deg/s, accl in g, magn ignored, dt in seconds.
void OrientationFilterUpdate(OrientationFilter* filter, const double* gyro, const double* accl, const double* magn,
                             double dt);

#endif
