// Perspective transforms: (x, y) -> ((h0 x + h1 y + h2) / w, (h3 x + h4 y + h5) / w),
// w = h6 x + h7 y + h8.
#include "host/math_homography.hpp"

#include <cmath>

#include "host/math_internal.hpp"

namespace cblob {
namespace math {

namespace {

// The cofactors of the first row; the determinant is h0 c0 + h1 c1 + h2 c2.
void firstRowCofactors(const double h[9], double c[3]) {
    c[0] = h[4] * h[8] - h[5] * h[7];
    c[1] = h[5] * h[6] - h[3] * h[8];
    c[2] = h[3] * h[7] - h[4] * h[6];
}

}  // namespace

int32_t homographyCheckInvertible(const double h[9]) {
    for (int i = 0; i < 9; ++i)
        if (!std::isfinite(h[i])) return cmath_err_singularXform;
    double c[3];
    firstRowCofactors(h, c);
    const double det = h[0] * c[0] + h[1] * c[1] + h[2] * c[2];
    // The sum of the magnitudes of the six triple products of the expansion
    // bounds the rounding error of det.
    const double magnitude = std::fabs(h[0]) * (std::fabs(h[4] * h[8]) + std::fabs(h[5] * h[7])) +
                             std::fabs(h[1]) * (std::fabs(h[5] * h[6]) + std::fabs(h[3] * h[8])) +
                             std::fabs(h[2]) * (std::fabs(h[3] * h[7]) + std::fabs(h[4] * h[6]));
    return determinantIsZero(det, magnitude, 16.0) ? cmath_err_singularXform : 0;
}

int32_t homographyInverse(const double h[9], double out[9]) {
    double adj[9];
    adj[0] = h[4] * h[8] - h[5] * h[7];
    adj[1] = h[2] * h[7] - h[1] * h[8];
    adj[2] = h[1] * h[5] - h[2] * h[4];
    adj[3] = h[5] * h[6] - h[3] * h[8];
    adj[4] = h[0] * h[8] - h[2] * h[6];
    adj[5] = h[2] * h[3] - h[0] * h[5];
    adj[6] = h[3] * h[7] - h[4] * h[6];
    adj[7] = h[1] * h[6] - h[0] * h[7];
    adj[8] = h[0] * h[4] - h[1] * h[3];
    double largest = 0.0;
    for (double a : adj) largest = std::fmax(largest, std::fabs(a));
    // The adjugate of an invertible matrix is invertible, so largest > 0.
    for (int i = 0; i < 9; ++i) out[i] = adj[i] / largest;
    return 0;
}

int32_t homographyMapPoint(const double h[9], double x, double y, double *ox, double *oy) {
    const double w = h[6] * x + h[7] * y + h[8];
    if (w == 0.0) return cmath_err_outsideDomain;
    const double mx = (h[0] * x + h[1] * y + h[2]) / w;
    const double my = (h[3] * x + h[4] * y + h[5]) / w;
    if (!std::isfinite(mx) || !std::isfinite(my)) return cmath_err_outsideDomain;
    *ox = mx;
    *oy = my;
    return 0;
}

int32_t homographyLocalLinear(const double h[9], double x, double y, cmath_xformLinear *out) {
    const double w = h[6] * x + h[7] * y + h[8];
    double px = 0.0, py = 0.0;
    const int32_t status = homographyMapPoint(h, x, y, &px, &py);
    if (CBLOB_FAILED(status)) return status;
    // d(u/w)/dx = (h0 - (u/w) h6) / w, and likewise for the other partials.
    cmath_xformLinear local;
    local.matrix.m00 = (h[0] - px * h[6]) / w;
    local.matrix.m01 = (h[1] - px * h[7]) / w;
    local.matrix.m10 = (h[3] - py * h[6]) / w;
    local.matrix.m11 = (h[4] - py * h[7]) / w;
    local.tx = px - (local.matrix.m00 * x + local.matrix.m01 * y);
    local.ty = py - (local.matrix.m10 * x + local.matrix.m11 * y);
    if (!std::isfinite(local.matrix.m00) || !std::isfinite(local.matrix.m01) || !std::isfinite(local.matrix.m10) ||
        !std::isfinite(local.matrix.m11) || !std::isfinite(local.tx) || !std::isfinite(local.ty))
        return cmath_err_outsideDomain;
    *out = local;
    return 0;
}

}  // namespace math
}  // namespace cblob
