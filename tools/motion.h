// The simulated sensor of the recording generator: the wearer's motion is
// given sample by sample as the true angular rate in the sensor frame and
// the specific force in the world frame; the orientation is integrated from
// the rate and the accelerometer reads the force rotated into the sensor
// frame, so gravity turns exactly as the gyro says.
//
// World frame: the sensor frame of an upright wearer. The sensor's +Y axis
// points down, so at rest the accelerometer reads (0, -1 g, 0); X is the
// left-right axis and Z the front-back axis (-Z is forward).
#ifndef TOOLS_MOTION_H
#define TOOLS_MOTION_H

#include <vector>

#include "angles.h"
#include "rng.h"
#include "tumblewatch.h"

namespace recgen {

struct Vec3 {
    double x, y, z;
};

// Unit quaternion w + xi + yj + zk (Hamilton convention).
struct Quat {
    double w, x, y, z;
};

constexpr double kSampleRate = 50.0;
constexpr double kDt = 1.0 / kSampleRate;

// The specific force of a wearer at rest, in the world frame (1 g up).
constexpr Vec3 kUp{0.0, -1.0, 0.0};
// World directions of the wearer's front and left side (upright posture).
constexpr Vec3 kForward{0.0, 0.0, -1.0};
constexpr Vec3 kLeft{-1.0, 0.0, 0.0};

inline Vec3 Add(Vec3 a, Vec3 b)
{
    return Vec3{a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 Sub(Vec3 a, Vec3 b)
{
    return Vec3{a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 Scale(Vec3 a, double k)
{
    return Vec3{a.x * k, a.y * k, a.z * k};
}
inline double Dot(Vec3 a, Vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 Cross(Vec3 a, Vec3 b);
double Length(Vec3 a);
// a scaled to length 1; a zero vector stays zero.
Vec3 Unit(Vec3 a);
// Angle between two non-zero vectors, degrees.
double AngleBetween(Vec3 a, Vec3 b);

Quat Multiply(Quat a, Quat b);
Quat Conjugate(Quat q);
// The rotation by |v| radians about v.
Quat FromRotationVector(Vec3 v);
// q v q*: a sensor-frame vector expressed in the world frame.
Vec3 Rotate(Quat q, Vec3 v);
// q* v q: a world-frame vector expressed in the sensor frame.
Vec3 RotateInverse(Quat q, Vec3 v);

// The sensor, its error model and the samples written so far.
struct Sensor {
    Quat orientation;   // sensor frame to world frame
    Vec3 gyroBias;      // deg/s, fixed for one recording
    double accelNoise;  // g, standard deviation per axis
    double gyroNoise;   // deg/s, standard deviation per axis
    Rng rng;
    std::vector<ImuSample> samples;
};

// An upright sensor with a small gyro bias and modest noise drawn from seed.
Sensor SensorStart(uint64_t seed);

// Writes one sample: the accelerometer reads forceWorld (g) at the current
// orientation, the gyro reads rate (deg/s, sensor frame); then the
// orientation advances by rate over one sample period.
void SensorStep(Sensor* sensor, Vec3 rate, Vec3 forceWorld);

// A physical value in raw counts: rounded to the nearest count and clipped
// to the int16 range, as a saturating sensor reports it.
int16_t ToCounts(double value, double countsPerUnit);

// Number of samples in a duration.
int SamplesIn(double seconds);

}  // namespace recgen

#endif
