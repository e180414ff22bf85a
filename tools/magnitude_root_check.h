// The proof that the magnitude root may be the float square root: RootHalf
// (std::sqrt on a float) against the double power 0.5 rounded to float, bit
// for bit. tools/check_magnitude_root.cpp runs it on every non-negative
// float; the test suite runs a sample.
#ifndef TOOLS_MAGNITUDE_ROOT_CHECK_H
#define TOOLS_MAGNITUDE_ROOT_CHECK_H

#include <cmath>
#include <cstdint>
#include <cstring>

#include "lpf.h"

// The last bit pattern with the sign bit clear: +0 to +infinity are
// 0x00000000 to 0x7f800000, the NaNs with a clear sign bit follow.
constexpr uint32_t kLastNonNegativeBits = 0x7fffffffu;

struct RootCheck {
    uint64_t checked;
    uint64_t mismatches;
    uint32_t firstMismatch;  // bit pattern of the first float that differs
};

inline float FloatOfBits(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline uint32_t BitsOfFloat(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// The root as the magnitude rule defines it: the power 0.5 in double,
// rounded to float.
inline float PowerRoot(float s)
{
    return static_cast<float>(std::pow(static_cast<double>(s), 0.5));
}

// Adds one float to the check.
inline void CheckRootAt(uint32_t bits, RootCheck* check)
{
    const float s = FloatOfBits(bits);
    if (BitsOfFloat(RootHalf(s)) != BitsOfFloat(PowerRoot(s))) {
        if (check->mismatches == 0) {
            check->firstMismatch = bits;
        }
        ++check->mismatches;
    }
    ++check->checked;
}

// Checks count floats evenly spread over the bit patterns 0 to
// kLastNonNegativeBits, both ends included (count >= 2); a count past the
// number of patterns checks every one of them once.
inline RootCheck CheckMagnitudeRoot(uint64_t count)
{
    RootCheck check{0, 0, 0};
    const uint64_t patterns = uint64_t{kLastNonNegativeBits} + 1;
    if (count >= patterns) {
        for (uint64_t bits = 0; bits < patterns; ++bits) {
            CheckRootAt(static_cast<uint32_t>(bits), &check);
        }
        return check;
    }
    for (uint64_t i = 0; i < count; ++i) {
        CheckRootAt(static_cast<uint32_t>(i * kLastNonNegativeBits / (count - 1)), &check);
    }
    return check;
}

#endif
