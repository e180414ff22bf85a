// Orientation filter placeholder: holds no orientation yet.
#include "orientation_filter.h"

void OrientationFilterInit(OrientationFilter* filter)
{
    filter->orientation = nullptr;
    for (int i = 0; i < 3; ++i) {
        filter->gyroBias[i] = 0.0;
        filter->spare[i] = 0.0;
    }
    filter->biasCount = 0;
}

void OrientationFilterRelease(OrientationFilter* filter)
{
    filter->orientation = nullptr;
}

void UpdateGyroBias(OrientationFilter*, double*, const double*, int32_t, double) {}

void OrientationFilterUpdate(OrientationFilter*, const double*, const double*, const double*, double) {}
