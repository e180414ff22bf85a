// Quaternion complementary filter: integrates the bias-corrected angular rate
// and pulls the estimated gravity direction toward the reference "down",
// most strongly when the measured acceleration is exactly 1 g.
#include "orientation_filter.h"

#include <cmath>

#include "quaternion.h"
#include "quaternion_value.h"

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr int32_t kBiasSampleLimit = 10000;
constexpr double kBiasBand = 10.0;       // deg/s around the current bias
constexpr double kCorrectionGain = 0.1;  // share of the tilt error per sample at 1 g
constexpr double kGainWidth = 0.1;       // g
constexpr double kUnitMagnitude = 1.0;   // g

}  // namespace

void OrientationFilterInit(OrientationFilter* filter)
{
    filter->orientation = new Quaternion();  // the identity
    for (int i = 0; i < 3; ++i) {
        filter->gyroBias[i] = 0.0;
        filter->spare[i] = 0.0;
    }
    filter->biasCount = 0;
}

void OrientationFilterRelease(OrientationFilter* filter)
{
    if (filter->orientation != nullptr) {
        delete filter->orientation;
        filter->orientation = nullptr;
    }
}

void UpdateGyroBias(OrientationFilter* filter, double* bias, const double* gyro, int32_t maxCount, double threshold)
{
    bool inBand = true;
    for (int i = 0; i < 3; ++i) {
        const double d = gyro[i] - bias[i];
        if (!(-threshold < d && d < threshold)) {
            inBand = false;
        }
    }
    if (filter->biasCount == 0 || inBand) {
        const double n = static_cast<double>(filter->biasCount);
        for (int i = 0; i < 3; ++i) {
            bias[i] = (n * bias[i] + gyro[i]) / (n + 1.0);
        }
    }
    // Rejected samples count too, so they weigh in later means as if they
    // had equalled the bias.
    if (filter->biasCount < maxCount) {
        filter->biasCount += 1;
    }
}

void OrientationFilterUpdate(OrientationFilter* filter, const double* gyro, const double* accl,
                             const double* /*magn: no magnetometer correction*/, double dt)
{
    if (filter->orientation == nullptr) {
        return;  // released (or never set up): nothing to update
    }
    UpdateGyroBias(filter, filter->gyroBias, gyro, kBiasSampleLimit, kBiasBand);

    // The step works on values held on the stack (quaternion_value.h: the
    // Quaternion operations without their heap vectors) and stores the
    // result back into the filter's quaternion.
    QuaternionValue q = ValueOf(*filter->orientation);

    // Gyro increment as Z-Y-X Euler angles, multiplied on the right (sensor frame).
    const double ax = (gyro[0] - filter->gyroBias[0]) * kDegToRad * dt;
    const double ay = (gyro[1] - filter->gyroBias[1]) * kDegToRad * dt;
    const double az = (gyro[2] - filter->gyroBias[2]) * kDegToRad * dt;
    q = q * EulerQuaternion(ax, ay, az);
    Assign(filter->orientation, q);

    // The measured acceleration rotated into the reference frame.
    const Vec3 g0{0.0, 0.0, -1.0};
    const QuaternionValue qa{0.0, Vec3{accl[0], accl[1], accl[2]}};
    const QuaternionValue qg = (q * qa) * Inverse(q);
    const Vec3 ng = Cross(qg.v, g0);

    // With no acceleration, or one exactly along the reference axis, the
    // correction axis is undefined; its limit is no correction at all, and
    // going on would turn the orientation into NaN for good.
    const double nv = Norm(qg.v);
    const double nn = Norm(ng);
    if (nv == 0.0 || nn == 0.0) {
        return;
    }
    double ratio = nn / nv;
    if (ratio > 1.0) {
        ratio = 1.0;  // rounding can push it just past the domain of asin
    }
    const double phi = std::asin(ratio);

    // Gaussian weight of the distance of |accl| from 1 g.
    const double m = std::sqrt(accl[0] * accl[0] + accl[1] * accl[1] + accl[2] * accl[2]);
    const double e = m - kUnitMagnitude;
    const double w = std::exp(-e * e / (kGainWidth * kGainWidth)) * kCorrectionGain;

    // Correction multiplied on the left (reference frame).
    Assign(filter->orientation, AxisAngleQuaternion(w * phi, ng) * q);
}
