// Plain-value helpers shared by the geometry service files. They take and
// return values, never fail, and so need no status.
#ifndef CBLOB_HOST_MATH_INTERNAL_HPP
#define CBLOB_HOST_MATH_INTERNAL_HPP

#include <cfloat>
#include <cmath>

#include "cblob/math.h"

namespace cblob {
namespace math {

// A determinant is taken as zero when it is not finite or lies within the
// rounding error of the products it was formed from. `magnitude` is the sum
// of the absolute values of those products.
inline bool determinantIsZero(double det, double magnitude, double slack) {
    return !std::isfinite(det) || std::fabs(det) <= slack * DBL_EPSILON * magnitude;
}

inline bool matrixIsSingular(const cmath_matrix &m) {
    const double det = m.m00 * m.m11 - m.m01 * m.m10;
    return determinantIsZero(det, std::fabs(m.m00 * m.m11) + std::fabs(m.m01 * m.m10), 8.0);
}

inline cmath_matrix multiply(const cmath_matrix &a, const cmath_matrix &b) {
    return cmath_matrix{a.m00 * b.m00 + a.m01 * b.m10, a.m00 * b.m01 + a.m01 * b.m11,
                        a.m10 * b.m00 + a.m11 * b.m10, a.m10 * b.m01 + a.m11 * b.m11};
}

// The inverse of a matrix that is not singular.
inline cmath_matrix inverseOf(const cmath_matrix &m) {
    const double inv = 1.0 / (m.m00 * m.m11 - m.m01 * m.m10);
    return cmath_matrix{m.m11 * inv, -m.m01 * inv, -m.m10 * inv, m.m00 * inv};
}

// The inverse of an affine transform whose matrix is not singular.
inline cmath_xformLinear inverseOf(const cmath_xformLinear &xf) {
    cmath_xformLinear out;
    out.matrix = inverseOf(xf.matrix);
    out.tx = -(out.matrix.m00 * xf.tx + out.matrix.m01 * xf.ty);
    out.ty = -(out.matrix.m10 * xf.tx + out.matrix.m11 * xf.ty);
    return out;
}

inline cmath_xformLinear identityXform() { return cmath_xformLinear{{1.0, 0.0, 0.0, 1.0}, 0.0, 0.0}; }

}  // namespace math
}  // namespace cblob

#endif
