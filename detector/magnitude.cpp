// The magnitude rules of the per-sample signal path: the square root of a
// sum of squares in float, scaled and truncated into 16 bits.
#include <cmath>

#include "lpf.h"

// The float square root, correctly rounded, gives exactly the float nearest
// to the double power 0.5 for every float with the sign bit clear, so it
// takes the place of (float)pow((double)s, 0.5) at a fraction of the cost.
// The proof is exhaustive: build/check_magnitude_root compares the two on
// all of them (tools/check_magnitude_root.cpp; the test suite runs a
// sample). Only -0.0 would differ (-0.0 against +0.0), and a sum of
// squares is never -0.0.
float RootHalf(float s)
{
    return std::sqrt(s);
}

float MagnitudeRoot(float x, float y, float z)
{
    return RootHalf(x * x + y * y + z * z);
}

namespace {

// Truncates toward zero into 16 bits. The inputs come from 16-bit sensor
// counts, so the value is finite and far inside the int32 range.
uint16_t Truncate16(float v)
{
    return static_cast<uint16_t>(static_cast<int32_t>(v));
}

}  // namespace

uint16_t AccelMagnitude(float x, float y, float z)
{
    return Truncate16(MagnitudeRoot(x, y, z) * 100.0f);
}

uint16_t GyroMagnitude(float x, float y, float z)
{
    return Truncate16(MagnitudeRoot(x, y, z));
}
