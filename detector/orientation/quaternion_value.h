// A quaternion held by value, on Vec3: the allocation-free counterpart of
// Quaternion for the orientation filter's per-sample step. Every operation
// below is the Quaternion operation of the same name with exactly the same
// floating-point operations in the same order (see quaternion.cpp), so the
// two give the same bits; the tests compare them value by value and over
// whole recordings.
#ifndef TUMBLEWATCH_QUATERNION_VALUE_H
#define TUMBLEWATCH_QUATERNION_VALUE_H

#include <cmath>

#include "Vec3.h"
#include "quaternion.h"

struct QuaternionValue {
    double s;  // scalar part
    Vec3 v;    // vector part
};

// Hamilton product a * b: (sa sb - Dot(va, vb), (sa vb + sb va) + Cross(va, vb)).
inline QuaternionValue operator*(const QuaternionValue& a, const QuaternionValue& b)
{
    const double scalar = a.s * b.s - Dot(a.v, b.v);
    const Vec3 ta = b.s * a.v;
    const Vec3 tb = a.s * b.v;
    return QuaternionValue{scalar, (tb + ta) + Cross(a.v, b.v)};
}

// q / d, component-wise.
inline QuaternionValue operator/(const QuaternionValue& q, double d)
{
    return QuaternionValue{q.s / d, q.v / d};
}

// The conjugate (s, -1.0 * v): a zero element becomes -0.0.
inline QuaternionValue Conj(const QuaternionValue& q)
{
    return QuaternionValue{q.s, -1.0 * q.v};
}

// sqrt(s s + Dot(v, v)).
inline double NormOf(const QuaternionValue& q)
{
    return std::sqrt(q.s * q.s + Dot(q.v, q.v));
}

// The conjugate divided by the norm (not by its square).
inline QuaternionValue Inverse(const QuaternionValue& q)
{
    return Conj(q) / NormOf(q);
}

// Rotation by angle (radians) about axis: (cos(angle/2), (sin(angle/2) axis) / Norm(axis)),
// scaled first, then divided.
inline QuaternionValue AxisAngleQuaternion(double angle, const Vec3& axis)
{
    const double n = Norm(axis);
    const double h = std::sin(angle / 2.0);
    return QuaternionValue{std::cos(angle / 2.0), (h * axis) / n};
}

// Z-Y-X Euler composition (Qz * Qy) * Qx of the angles about X, Y and Z.
inline QuaternionValue EulerQuaternion(double ax, double ay, double az)
{
    const QuaternionValue qx{std::cos(ax / 2.0), Vec3{std::sin(ax / 2.0), 0.0, 0.0}};
    const QuaternionValue qy{std::cos(ay / 2.0), Vec3{0.0, std::sin(ay / 2.0), 0.0}};
    const QuaternionValue qz{std::cos(az / 2.0), Vec3{0.0, 0.0, std::sin(az / 2.0)}};
    return (qz * qy) * qx;
}

// The components of a Quaternion, read without copying its vector.
inline QuaternionValue ValueOf(const Quaternion& q)
{
    return QuaternionValue{q.s(), Vec3{q.v(0), q.v(1), q.v(2)}};
}

// Stores value into q without reallocating q's vector.
inline void Assign(Quaternion* q, const QuaternionValue& value)
{
    q->set_components(value.s, value.v.x, value.v.y, value.v.z);
}

#endif
