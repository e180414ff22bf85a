// Hamilton quaternion q = s + x i + y j + z k, scalar part first. A unit
// quaternion q rotates a vector u into q * (0, u) * q.inverse().
#ifndef TUMBLEWATCH_QUATERNION_H
#define TUMBLEWATCH_QUATERNION_H

#include <cstddef>
#include <utility>

#include "MatrixAlgebra.h"
#include "matrix.h"

class Quaternion {
public:
    // The identity (1, 0, 0, 0).
    Quaternion();
    Quaternion(double s, double x, double y, double z);
    // Rotation by angle (radians) about axis; the axis (3 elements) need
    // not be of unit length.
    Quaternion(double angle, const dVector& axis);
    // Z-Y-X Euler composition Qz * Qy * Qx of the angles about X, Y, Z.
    Quaternion(double ax, double ay, double az);

    double s() const { return s_; }
    dVector v() const { return v_; }
    void set_s(double value) { s_ = value; }
    void set_v(const dVector& value);

    // Element i (0, 1, 2) of the vector part, read in place (v() returns a
    // copy).
    double v(std::size_t i) const { return v_[i]; }
    // Sets all four components in place: the vector part keeps its storage,
    // so nothing is allocated.
    void set_components(double scalar, double vx, double vy, double vz)
    {
        s_ = scalar;
        v_[0] = vx;
        v_[1] = vy;
        v_[2] = vz;
    }

    Quaternion operator*(const Quaternion& b) const;
    Quaternion operator+(const Quaternion& b) const;
    Quaternion operator-(const Quaternion& b) const;
    Quaternion operator*(double d) const;
    Quaternion operator/(double d) const;
    // a * b.inverse().
    Quaternion operator/(const Quaternion& b) const;

    Quaternion conj() const;
    double norm() const;
    // The conjugate divided by the norm (not by its square): the same as the
    // true inverse for unit quaternions only.
    Quaternion inverse() const;
    double dot(const Quaternion& b) const;
    // Scales to unit length unless the norm is 1e-7 or less.
    Quaternion& normalize();
    matrix<double> rotation_matrix() const;

private:
    struct Components {};
    Quaternion(Components, double s, dVector v) : s_(s), v_(std::move(v)) {}

    double s_;
    dVector v_;
};

Quaternion operator*(double d, const Quaternion& a);

#endif
