// Quaternion construction, arithmetic and conversion.
#include <gtest/gtest.h>

#include <cmath>

#include "angles.h"
#include "quaternion.h"

namespace {

void ExpectExactly(const Quaternion& q, double s, double x, double y, double z)
{
    const dVector v = q.v();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(q.s(), s);
    EXPECT_EQ(v[0], x);
    EXPECT_EQ(v[1], y);
    EXPECT_EQ(v[2], z);
}

void ExpectSame(const Quaternion& a, const Quaternion& b)
{
    const dVector v = b.v();
    ExpectExactly(a, b.s(), v[0], v[1], v[2]);
}

void ExpectNear(const Quaternion& q, double s, double x, double y, double z, double tol = 1e-15)
{
    const dVector v = q.v();
    EXPECT_NEAR(q.s(), s, tol);
    EXPECT_NEAR(v[0], x, tol);
    EXPECT_NEAR(v[1], y, tol);
    EXPECT_NEAR(v[2], z, tol);
}

TEST(Quaternion, DefaultIsTheIdentity)
{
    const Quaternion q;
    ExpectExactly(q, 1, 0, 0, 0);
    const matrix<double> r = q.rotation_matrix();
    for (uint32_t i = 0; i < 3; ++i) {
        for (uint32_t j = 0; j < 3; ++j) {
            EXPECT_EQ(r(i, j), i == j ? 1.0 : 0.0) << i << ", " << j;
        }
    }
}

TEST(Quaternion, HamiltonProduct)
{
    const Quaternion one(1, 0, 0, 0);
    const Quaternion i(0, 1, 0, 0);
    const Quaternion j(0, 0, 1, 0);
    const Quaternion k(0, 0, 0, 1);
    ExpectExactly(i * j, 0, 0, 0, 1);
    ExpectExactly(j * i, 0, 0, 0, -1);
    ExpectExactly(j * k, 0, 1, 0, 0);
    ExpectExactly(k * i, 0, 0, 1, 0);
    ExpectExactly(i * i, -1, 0, 0, 0);
    ExpectSame((i * j) * k, Quaternion(-1, 0, 0, 0));
    ExpectSame(one * Quaternion(2, 3, 4, 5), Quaternion(2, 3, 4, 5));
    ExpectExactly(Quaternion(1, 2, 3, 4) * Quaternion(5, 6, 7, 8), -60, 12, 30, 24);
}

TEST(Quaternion, ProductAddsTheScaledPartsBeforeTheCrossProduct)
{
    // x of the vector part: (sa*xb + sb*xa) + cross_x = (1 + 1e-16) + 1e-16,
    // which rounds to 1; adding the two small terms first would not.
    const Quaternion a(1, 1e-16, 1, 0);
    const Quaternion b(1, 1, 0, 1e-16);
    EXPECT_EQ((a * b).v()[0], 1.0);
}

TEST(Quaternion, AxisAngleNormalisesTheAxis)
{
    ExpectExactly(Quaternion(kPi / 2, Vector3(2, 0, 0)), std::cos(kPi / 4), std::sin(kPi / 4), 0, 0);
    ExpectNear(Quaternion(kPi, Vector3(0, 0, -3)), 0, 0, 0, -1);
    const Quaternion q(0.7, Vector3(1, 2, 2));
    const double h = std::sin(0.35);
    ExpectExactly(q, std::cos(0.35), h * 1 / 3, h * 2 / 3, h * 2 / 3);
    EXPECT_NEAR(q.norm(), 1.0, 1e-15);
}

TEST(Quaternion, EulerAnglesComposeZThenYThenX)
{
    ExpectSame(Quaternion(0.4, 0.0, 0.0), Quaternion(0.4, Vector3(1, 0, 0)));
    ExpectSame(Quaternion(0.0, 0.4, 0.0), Quaternion(0.4, Vector3(0, 1, 0)));
    ExpectSame(Quaternion(0.0, 0.0, 0.4), Quaternion(0.4, Vector3(0, 0, 1)));

    const Quaternion qx(std::cos(0.05), std::sin(0.05), 0, 0);
    const Quaternion qy(std::cos(0.1), 0, std::sin(0.1), 0);
    const Quaternion qz(std::cos(0.15), 0, 0, std::sin(0.15));
    const Quaternion e(0.1, 0.2, 0.3);
    ExpectSame(e, (qz * qy) * qx);
    const Quaternion wrongOrder = (qx * qy) * qz;
    EXPECT_GT(std::fabs(e.v()[0] - wrongOrder.v()[0]), 1e-3);
    ExpectExactly(Quaternion(0.0, 0.0, 0.0), 1, 0, 0, 0);
}

TEST(Quaternion, InverseDividesTheConjugateByTheNorm)
{
    ExpectExactly(Quaternion(2, 0, 0, 0).inverse(), 1, 0, 0, 0);
    ExpectExactly(Quaternion(0, 3, 0, 4).inverse(), 0, -0.6, 0, -0.8);
    ExpectExactly(Quaternion(1, 2, -3, 4).conj(), 1, -2, 3, -4);
    EXPECT_EQ(Quaternion(1, 2, 2, 4).norm(), 5.0);

    const Quaternion unit(0.9, Vector3(1, -2, 0.5));
    ExpectNear(unit * unit.inverse(), 1, 0, 0, 0);
    ExpectNear(unit / unit, 1, 0, 0, 0);
}

TEST(Quaternion, ComponentwiseArithmetic)
{
    const Quaternion a(1, 2, 3, 4);
    const Quaternion b(0.5, -1, 2, -3);
    ExpectExactly(a + b, 1.5, 1, 5, 1);
    ExpectExactly(a - b, 0.5, 3, 1, 7);
    ExpectExactly(a * 2.0, 2, 4, 6, 8);
    ExpectExactly(2.0 * a, 2, 4, 6, 8);
    ExpectExactly(a / 4.0, 0.25, 0.5, 0.75, 1);
    EXPECT_EQ(a.dot(b), 0.5 - 2 + 6 - 12);
    ExpectSame(a / b, a * b.inverse());
}

TEST(Quaternion, NormalizeOnlyAboveTheThreshold)
{
    Quaternion tiny(1e-8, 0, 0, 0);
    ExpectExactly(tiny.normalize(), 1e-8, 0, 0, 0);
    Quaternion two(2, 0, 0, 0);
    ExpectExactly(two.normalize(), 1, 0, 0, 0);
    Quaternion q(0, 3, 0, 4);
    Quaternion& same = q.normalize();
    EXPECT_EQ(&same, &q);
    ExpectExactly(q, 0, 0.6, 0, 0.8);
}

TEST(Quaternion, RotationMatrixMatchesTheSandwichProduct)
{
    const Quaternion q(1.1, Vector3(0.3, -0.5, 0.8));
    const matrix<double> r = q.rotation_matrix();
    const dVector u = Vector3(0.2, -1.3, 0.7);
    const dVector rotated = ((q * Quaternion(0, u[0], u[1], u[2])) * q.inverse()).v();
    for (uint32_t i = 0; i < 3; ++i) {
        const double ru = r(i, 0) * u[0] + r(i, 1) * u[1] + r(i, 2) * u[2];
        EXPECT_NEAR(ru, rotated[i], 1e-14) << i;
    }
    // A quarter turn about Z takes X to Y.
    const matrix<double> rz = Quaternion(kPi / 2, Vector3(0, 0, 1)).rotation_matrix();
    EXPECT_NEAR(rz(1, 0), 1.0, 1e-15);
    EXPECT_NEAR(rz(0, 1), -1.0, 1e-15);
    EXPECT_NEAR(rz(0, 0), 0.0, 1e-15);
}

TEST(QuaternionDeathTest, WrongVectorSizesStopTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(Quaternion(1.0, dVector(2)), "Quaternion::Quaternion, size of axis != 3");
    Quaternion q;
    EXPECT_DEATH(q.set_v(dVector(2)), "Quaternion::set_v: input has a wrong size\\.");
    q.set_s(0.5);
    q.set_v(Vector3(1, 2, 3));
    ExpectExactly(q, 0.5, 1, 2, 3);
}

}  // namespace
