// Dynamic vectors of double and the few vector functions the orientation
// arithmetic needs. Size errors are programming errors and stop the program
// through assert.
#ifndef TUMBLEWATCH_MATRIX_ALGEBRA_H
#define TUMBLEWATCH_MATRIX_ALGEBRA_H

#include <cassert>
#include <cmath>
#include <cstddef>
#include <valarray>

// Owns its elements, copies deeply; subscripts are bounds-checked in every
// build of this project (_GLIBCXX_ASSERTIONS).
typedef std::valarray<double> dVector;

// Cross product of two 3-element vectors.
inline dVector Cross(const dVector& a, const dVector& b)
{
    if (a.size() != 3 || b.size() != 3) {
        assert(0 && "ERROR: Cross(): dVector dimension should be 3 in Cross Product !");
    }
    dVector c(3);
    c[0] = a[1] * b[2] - a[2] * b[1];
    c[1] = a[2] * b[0] - a[0] * b[2];
    c[2] = a[0] * b[1] - a[1] * b[0];
    return c;
}

// Inner product of two vectors of equal length. The sum starts from 0.0 and
// runs in index order, which fixes the rounding and the sign of a zero.
inline double Dot(const dVector& a, const dVector& b)
{
    if (a.size() != b.size()) {
        assert(0 && "ERROR: Dot(): Inconsistent vector size in Inner Product !");
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sum += a[i] * b[i];
    }
    return sum;
}

// Euclidean length, summed the same way as Dot.
inline double Norm(const dVector& a)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sum += a[i] * a[i];
    }
    return std::sqrt(sum);
}

inline dVector Vector3(double x, double y, double z)
{
    dVector v(3);
    v[0] = x;
    v[1] = y;
    v[2] = z;
    return v;
}

#endif
