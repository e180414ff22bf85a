// Three doubles held by value: the fixed-size counterpart of a 3-element
// dVector for per-sample arithmetic that must not allocate. Each operation
// computes, element by element, exactly what the dVector operation of the
// same form computes, with the operands in the same order, so the results
// agree to the last bit, the sign of zero included (a scalar on the left
// stays on the left: d * a[i], not a[i] * d).
#ifndef TUMBLEWATCH_VEC3_H
#define TUMBLEWATCH_VEC3_H

#include <cmath>

struct Vec3 {
    double x;
    double y;
    double z;
};

// d * a, element-wise.
inline Vec3 operator*(double d, const Vec3& a)
{
    return Vec3{d * a.x, d * a.y, d * a.z};
}

// a / d, element-wise.
inline Vec3 operator/(const Vec3& a, double d)
{
    return Vec3{a.x / d, a.y / d, a.z / d};
}

// a + b, element-wise.
inline Vec3 operator+(const Vec3& a, const Vec3& b)
{
    return Vec3{a.x + b.x, a.y + b.y, a.z + b.z};
}

// As Cross of two dVectors.
inline Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// As Dot of two dVectors: the sum starts from 0.0 (so that a sum of -0.0
// products is +0.0) and runs in index order.
inline double Dot(const Vec3& a, const Vec3& b)
{
    double sum = 0.0;
    sum += a.x * b.x;
    sum += a.y * b.y;
    sum += a.z * b.z;
    return sum;
}

// As Norm of a dVector, summed the same way as Dot.
inline double Norm(const Vec3& a)
{
    double sum = 0.0;
    sum += a.x * a.x;
    sum += a.y * a.y;
    sum += a.z * a.z;
    return std::sqrt(sum);
}

#endif
