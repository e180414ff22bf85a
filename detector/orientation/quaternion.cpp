// Quaternion construction and arithmetic, each in a fixed order of
// operations so that results are reproducible to the last bit.
#include "quaternion.h"

#include <cassert>
#include <cmath>
#include <utility>

Quaternion::Quaternion() : s_(1.0), v_(0.0, 3) {}

Quaternion::Quaternion(double s, double x, double y, double z) : s_(s), v_(Vector3(x, y, z)) {}

Quaternion::Quaternion(double angle, const dVector& axis) : s_(0.0), v_()
{
    if (axis.size() != 3) {
        assert(0 && "Quaternion::Quaternion, size of axis != 3");
    }
    const double n = Norm(axis);
    const double h = std::sin(angle / 2.0);
    // Scale first, then divide by the length.
    v_ = dVector((h * axis) / n);
    s_ = std::cos(angle / 2.0);
}

Quaternion::Quaternion(double ax, double ay, double az) : s_(1.0), v_()
{
    const Quaternion qx(std::cos(ax / 2.0), std::sin(ax / 2.0), 0.0, 0.0);
    const Quaternion qy(std::cos(ay / 2.0), 0.0, std::sin(ay / 2.0), 0.0);
    const Quaternion qz(std::cos(az / 2.0), 0.0, 0.0, std::sin(az / 2.0));
    Quaternion q = (qz * qy) * qx;
    s_ = q.s_;
    v_ = std::move(q.v_);
}

void Quaternion::set_v(const dVector& value)
{
    if (value.size() != 3) {
        assert(0 && "Quaternion::set_v: input has a wrong size.");
    }
    v_ = value;
}

Quaternion Quaternion::operator*(const Quaternion& b) const
{
    const double scalar = s_ * b.s_ - Dot(v_, b.v_);
    const dVector ta = b.s_ * v_;
    const dVector tb = s_ * b.v_;
    return Quaternion(Components{}, scalar, dVector((tb + ta) + Cross(v_, b.v_)));
}

Quaternion Quaternion::operator+(const Quaternion& b) const
{
    return Quaternion(Components{}, s_ + b.s_, dVector(v_ + b.v_));
}

Quaternion Quaternion::operator-(const Quaternion& b) const
{
    return Quaternion(Components{}, s_ - b.s_, dVector(v_ - b.v_));
}

Quaternion Quaternion::operator*(double d) const
{
    return Quaternion(Components{}, s_ * d, dVector(v_ * d));
}

Quaternion operator*(double d, const Quaternion& a)
{
    return a * d;
}

Quaternion Quaternion::operator/(double d) const
{
    return Quaternion(Components{}, s_ / d, dVector(v_ / d));
}

Quaternion Quaternion::operator/(const Quaternion& b) const
{
    return *this * b.inverse();
}

Quaternion Quaternion::conj() const
{
    return Quaternion(Components{}, s_, dVector(-1.0 * v_));
}

double Quaternion::norm() const
{
    return std::sqrt(s_ * s_ + Dot(v_, v_));
}

Quaternion Quaternion::inverse() const
{
    return conj() / norm();
}

double Quaternion::dot(const Quaternion& b) const
{
    return s_ * b.s_ + v_[0] * b.v_[0] + v_[1] * b.v_[1] + v_[2] * b.v_[2];
}

Quaternion& Quaternion::normalize()
{
    const double n = norm();
    if (n > 1e-7) {
        s_ = s_ / n;
        v_ = v_ / n;
    }
    return *this;
}

matrix<double> Quaternion::rotation_matrix() const
{
    const double w = s_;
    const double x = v_[0];
    const double y = v_[1];
    const double z = v_[2];
    matrix<double> r(3, 3);
    r(0, 0) = (w * w + x * x) * 2.0 - 1.0;
    r(0, 1) = (x * y - w * z) * 2.0;
    r(0, 2) = (x * z + w * y) * 2.0;
    r(1, 0) = (x * y + w * z) * 2.0;
    r(1, 1) = (w * w + y * y) * 2.0 - 1.0;
    r(1, 2) = (y * z - w * x) * 2.0;
    r(2, 0) = (x * z - w * y) * 2.0;
    r(2, 1) = (y * z + w * x) * 2.0;
    r(2, 2) = (w * w + z * z) * 2.0 - 1.0;
    return r;
}
