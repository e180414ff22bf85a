// Orientation step of the pipeline: one filter step on the filtered rate and
// acceleration, then pitch and roll of the orientation in whole degrees.
#include "update_orientation.h"

#include <cmath>

#include "orientation_filter.h"
#include "quaternion.h"

namespace {

constexpr double kSampleTime = 0.02;  // s, 50 samples per second
constexpr double kPi = 3.141592653589793;

// Radians to whole degrees, truncated toward zero. A non-finite angle has no
// integer value and is taken as 0.
int32_t WholeDegrees(float radians)
{
    const double degrees = static_cast<double>(radians) * 180.0 / kPi;
    if (!std::isfinite(degrees)) {
        return 0;
    }
    // asinf and atan2f keep a finite angle within +-180 degrees.
    return static_cast<int32_t>(degrees);
}

}  // namespace

void UpdateOrientation(TumblewatchContext* ctx)
{
    const double gyro[3] = {static_cast<double>(ctx->gyroLpf[0].out), static_cast<double>(ctx->gyroLpf[1].out),
                            static_cast<double>(ctx->gyroLpf[2].out)};
    const double accl[3] = {static_cast<double>(ctx->accLpf[0].out), static_cast<double>(ctx->accLpf[1].out),
                            static_cast<double>(ctx->accLpf[2].out)};
    const double magn[3] = {0.0, 0.0, 0.0};
    OrientationFilterUpdate(&ctx->orient, gyro, accl, magn, kSampleTime);

    // A released filter has no orientation: report the identity attitude.
    double q0 = 1.0;
    double q1 = 0.0;
    double q2 = 0.0;
    double q3 = 0.0;
    if (ctx->orient.orientation != nullptr) {
        const Quaternion& quat = *ctx->orient.orientation;
        q0 = quat.s();
        q1 = quat.v(0);
        q2 = quat.v(1);
        q3 = quat.v(2);
    }

    // Pitch: rotation about Y. Rounding can take the argument just past 1.
    float a = static_cast<float>((q0 * q2 - q1 * q3) * 2.0);
    if (a > 1.0f) {
        a = 1.0f;
    } else if (a < -1.0f) {
        a = -1.0f;
    }
    ctx->pitch = static_cast<int16_t>(WholeDegrees(asinf(a)));

    // Roll about X, shifted so that a roll of +90 degrees gives tilt 0.
    const float y = static_cast<float>((q2 * q3 + q0 * q1) * 2.0);
    const float x = static_cast<float>((q0 * q0 + q3 * q3) * 2.0 - 1.0);
    const int32_t roll = WholeDegrees(atan2f(y, x));
    ctx->tilt = static_cast<int16_t>(roll - 90);
}
