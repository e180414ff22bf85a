#include "motion.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace recgen {

Vec3 Cross(Vec3 a, Vec3 b)
{
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double Length(Vec3 a)
{
    return std::sqrt(Dot(a, a));
}

Vec3 Unit(Vec3 a)
{
    const double n = Length(a);
    return n > 0.0 ? Scale(a, 1.0 / n) : a;
}

double AngleBetween(Vec3 a, Vec3 b)
{
    // atan2 of the cross and dot products stays accurate near 0 and 180.
    return std::atan2(Length(Cross(a, b)), Dot(a, b)) / kRadPerDeg;
}

Quat Multiply(Quat a, Quat b)
{
    return Quat{a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
                a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quat Conjugate(Quat q)
{
    return Quat{q.w, -q.x, -q.y, -q.z};
}

Quat FromRotationVector(Vec3 v)
{
    const double angle = Length(v);
    if (angle == 0.0) {
        return Quat{1.0, 0.0, 0.0, 0.0};
    }
    const double k = std::sin(0.5 * angle) / angle;
    return Quat{std::cos(0.5 * angle), v.x * k, v.y * k, v.z * k};
}

Vec3 Rotate(Quat q, Vec3 v)
{
    const Quat r = Multiply(Multiply(q, Quat{0.0, v.x, v.y, v.z}), Conjugate(q));
    return Vec3{r.x, r.y, r.z};
}

Vec3 RotateInverse(Quat q, Vec3 v)
{
    return Rotate(Conjugate(q), v);
}

Sensor SensorStart(uint64_t seed)
{
    Sensor s{};
    s.orientation = Quat{1.0, 0.0, 0.0, 0.0};
    s.rng = RngSeeded(seed);
    s.gyroBias = Vec3{RngRange(&s.rng, -0.4, 0.4), RngRange(&s.rng, -0.4, 0.4), RngRange(&s.rng, -0.4, 0.4)};
    s.accelNoise = 0.006;
    s.gyroNoise = 0.15;
    return s;
}

int16_t ToCounts(double value, double countsPerUnit)
{
    assert(std::isfinite(value));
    const double counts = std::floor(value * countsPerUnit + 0.5);
    return static_cast<int16_t>(std::clamp(counts, -32768.0, 32767.0));
}

int SamplesIn(double seconds)
{
    return static_cast<int>(std::lround(seconds * kSampleRate));
}

void SensorStep(Sensor* sensor, Vec3 rate, Vec3 forceWorld)
{
    const Vec3 accel = RotateInverse(sensor->orientation, forceWorld);
    Rng* rng = &sensor->rng;
    const double an = sensor->accelNoise;
    const double gn = sensor->gyroNoise;
    const Vec3 g = Add(rate, sensor->gyroBias);
    ImuSample out;
    out.accX = ToCounts(accel.x + an * RngGauss(rng), kTumblewatchAccelCountsPerG);
    out.accY = ToCounts(accel.y + an * RngGauss(rng), kTumblewatchAccelCountsPerG);
    out.accZ = ToCounts(accel.z + an * RngGauss(rng), kTumblewatchAccelCountsPerG);
    out.gyroX = ToCounts(g.x + gn * RngGauss(rng), kTumblewatchGyroCountsPerDps);
    out.gyroY = ToCounts(g.y + gn * RngGauss(rng), kTumblewatchGyroCountsPerDps);
    out.gyroZ = ToCounts(g.z + gn * RngGauss(rng), kTumblewatchGyroCountsPerDps);
    sensor->samples.push_back(out);

    // The rate is given in the sensor frame: the step multiplies on the right.
    const Quat step = FromRotationVector(Scale(rate, kRadPerDeg * kDt));
    const Quat q = Multiply(sensor->orientation, step);
    const double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    sensor->orientation = Quat{q.w / n, q.x / n, q.y / n, q.z / n};
}

}  // namespace recgen
