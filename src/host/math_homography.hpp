// Perspective transforms as 3x3 homographies (row by row): the maths behind
// the perspective kind of the shared transform handle.
#ifndef CBLOB_HOST_MATH_HOMOGRAPHY_HPP
#define CBLOB_HOST_MATH_HOMOGRAPHY_HPP

#include <cstdint>

#include "cblob/math.h"

namespace cblob {
namespace math {

// cmath_err_singularXform when h has a non-finite coefficient or its
// determinant is within rounding error of zero; else 0.
int32_t homographyCheckInvertible(const double h[9]);

// out = a multiple of the inverse of h (the adjugate, scaled so that its
// largest coefficient has magnitude 1). h must be invertible.
int32_t homographyInverse(const double h[9], double out[9]);

// The image of (x, y); cmath_err_outsideDomain when w = 0 there or the image
// is not finite.
int32_t homographyMapPoint(const double h[9], double x, double y, double *ox, double *oy);

// The local affine approximation at (x, y): the Jacobian there, and the
// translation that maps (x, y) exactly. cmath_err_outsideDomain as above.
int32_t homographyLocalLinear(const double h[9], double x, double y, cmath_xformLinear *out);

}  // namespace math
}  // namespace cblob

#endif
