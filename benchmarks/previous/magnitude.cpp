// The previous implementation, kept for comparison (see previous.h): the
// magnitude rules with the root taken as the double power 0.5.
#include <cmath>

#include "lpf.h"

float RootHalf(float s)
{
    return static_cast<float>(std::pow(static_cast<double>(s), 0.5));
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
