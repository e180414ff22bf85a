// Vector functions and the copy-on-write matrix.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "MatrixAlgebra.h"
#include "matrix.h"

namespace {

void ExpectVector(const dVector& v, double x, double y, double z)
{
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0], x);
    EXPECT_EQ(v[1], y);
    EXPECT_EQ(v[2], z);
}

TEST(Algebra, CrossFollowsTheRightHandRule)
{
    ExpectVector(Cross(Vector3(1, 0, 0), Vector3(0, 1, 0)), 0, 0, 1);
    ExpectVector(Cross(Vector3(0, 1, 0), Vector3(1, 0, 0)), 0, 0, -1);
    ExpectVector(Cross(Vector3(0, 1, 0), Vector3(0, 0, 1)), 1, 0, 0);
    ExpectVector(Cross(Vector3(1, 2, 3), Vector3(4, 5, 6)), -3, 6, -3);
}

TEST(Algebra, CrossOfParallelVectorsIsExactlyZero)
{
    const dVector a = Vector3(0.3, -1.7, 2.9);
    for (const dVector& b : {a, dVector(a * 2.0)}) {
        const dVector c = Cross(a, b);
        ExpectVector(c, 0, 0, 0);
        EXPECT_EQ(Norm(c), 0.0);
    }
}

TEST(Algebra, DotAndNorm)
{
    EXPECT_EQ(Norm(Vector3(3, 4, 0)), 5.0);
    EXPECT_EQ(Dot(Vector3(1, 2, 3), Vector3(4, -5, 6)), 12.0);
    EXPECT_EQ(Dot(dVector(), dVector()), 0.0);
    EXPECT_EQ(Norm(dVector()), 0.0);
}

TEST(Algebra, DotStartsFromPositiveZero)
{
    // 0.0 + (-1 * 0) is +0; a sum seeded with the first product would be -0.
    const double a[1] = {-1.0};
    const double b[1] = {0.0};
    const double d = Dot(dVector(a, 1), dVector(b, 1));
    EXPECT_EQ(d, 0.0);
    EXPECT_FALSE(std::signbit(d));
}

TEST(AlgebraDeathTest, SizeErrorsStopTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const dVector two(2);
    const dVector three(3);
    EXPECT_DEATH(Cross(two, three), "Cross\\(\\): dVector dimension should be 3 in Cross Product !");
    EXPECT_DEATH(Cross(three, two), "dimension should be 3");
    EXPECT_DEATH(Dot(two, three), "Dot\\(\\): Inconsistent vector size in Inner Product !");
}

TEST(AlgebraDeathTest, ValarraySubscriptsAreChecked)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    dVector v(3);
    volatile std::size_t index = 3;
    EXPECT_DEATH(v[index] = 1.0, "valarray");
}

TEST(Matrix, ElementsAreRowMajorAndBoundsChecked)
{
    matrix<double> m(3, 3);
    EXPECT_EQ(m.rows(), 3u);
    EXPECT_EQ(m.cols(), 3u);
    for (uint32_t r = 0; r < 3; ++r) {
        for (uint32_t c = 0; c < 3; ++c) {
            EXPECT_EQ(static_cast<double>(m(r, c)), 0.0);
            m(r, c) = r * 3 + c;
        }
    }
    for (uint32_t r = 0; r < 3; ++r) {
        for (uint32_t c = 0; c < 3; ++c) {
            EXPECT_EQ(static_cast<double>(m(r, c)), r * 3.0 + c);
        }
    }

    for (auto [r, c] : {std::pair<uint32_t, uint32_t>{3, 0}, {0, 3}, {3, 3}, {0xffffffffu, 0}}) {
        try {
            m(r, c) = 1.0;
            ADD_FAILURE() << "no exception at (" << r << ", " << c << ")";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "matrix<T>::operator(): subscript is out of range!");
        }
    }
    const matrix<double>& cm = m;
    EXPECT_THROW(cm(3, 0), std::out_of_range);
    EXPECT_EQ(cm(2, 2), 8.0);
}

TEST(Matrix, CopiesShareUntilWritten)
{
    matrix<double> a(2, 2);
    a(0, 0) = 1.0;
    matrix<double> b(a);
    matrix<double> c(1, 1);
    c = a;
    const matrix<double>& alias = c;
    c = alias;  // self-assignment keeps the data
    EXPECT_EQ(static_cast<double>(b(0, 0)), 1.0);
    EXPECT_EQ(static_cast<double>(c(0, 0)), 1.0);

    b(0, 0) = 2.0;  // detaches b only
    EXPECT_EQ(static_cast<double>(a(0, 0)), 1.0);
    EXPECT_EQ(static_cast<double>(c(0, 0)), 1.0);
    EXPECT_EQ(static_cast<double>(b(0, 0)), 2.0);

    c(1, 1) = 3.0;  // detaches c, a is now alone
    a(0, 1) = 4.0;  // written in place
    EXPECT_EQ(static_cast<double>(a(1, 1)), 0.0);
    EXPECT_EQ(static_cast<double>(b(0, 1)), 0.0);
    EXPECT_EQ(static_cast<double>(c(0, 1)), 0.0);
    EXPECT_EQ(static_cast<double>(c(1, 1)), 3.0);
    EXPECT_EQ(static_cast<double>(a(0, 1)), 4.0);

    // Element-to-element assignment copies the value, not the reference.
    b(1, 0) = a(0, 1);
    a(0, 1) = 5.0;
    EXPECT_EQ(static_cast<double>(b(1, 0)), 4.0);
}

}  // namespace
