// 2-D affine transforms: a 2x2 matrix and a translation.
#include "cblob/math.h"
#include "host/math_internal.hpp"
#include "core/require.hpp"

using cblob::math::matrixIsSingular;

extern "C" {

int32_t cmath_xformLinear_initIdentity(cmath_xformLinear *xf) {
    CBLOB_REQUIRE_ARG(xf);
    *xf = cblob::math::identityXform();
    return 0;
}

int32_t cmath_xformLinear_init(cmath_xformLinear *xf, const cmath_matrix *matrix, double tx, double ty) {
    CBLOB_REQUIRE_ARG(xf);
    CBLOB_REQUIRE_ARG(matrix);
    xf->matrix = *matrix;
    xf->tx = tx;
    xf->ty = ty;
    return 0;
}

int32_t cmath_xformLinear_mapPoint(const cmath_xformLinear *xf, double x, double y, double *ox, double *oy) {
    CBLOB_REQUIRE_ARG(xf);
    CBLOB_REQUIRE_ARG(ox);
    CBLOB_REQUIRE_ARG(oy);
    const cmath_matrix &m = xf->matrix;
    const double mx = m.m00 * x + m.m01 * y + xf->tx;
    const double my = m.m10 * x + m.m11 * y + xf->ty;
    *ox = mx;
    *oy = my;
    return 0;
}

int32_t cmath_xformLinear_invMapPoint(const cmath_xformLinear *xf, double x, double y, double *ox, double *oy) {
    CBLOB_REQUIRE_ARG(xf);
    CBLOB_REQUIRE_ARG(ox);
    CBLOB_REQUIRE_ARG(oy);
    if (matrixIsSingular(xf->matrix)) return cmath_err_singularXform;
    // Solve M p = q - t rather than building the inverse translation: one
    // rounding step fewer.
    const cmath_matrix inv = cblob::math::inverseOf(xf->matrix);
    const double dx = x - xf->tx, dy = y - xf->ty;
    const double px = inv.m00 * dx + inv.m01 * dy;
    const double py = inv.m10 * dx + inv.m11 * dy;
    *ox = px;
    *oy = py;
    return 0;
}

int32_t cmath_xformLinear_mapVector(const cmath_xformLinear *xf, double x, double y, double *ox, double *oy) {
    CBLOB_REQUIRE_ARG(xf);
    CBLOB_REQUIRE_ARG(ox);
    CBLOB_REQUIRE_ARG(oy);
    const cmath_matrix &m = xf->matrix;
    const double vx = m.m00 * x + m.m01 * y;
    const double vy = m.m10 * x + m.m11 * y;
    *ox = vx;
    *oy = vy;
    return 0;
}

int32_t cmath_xformLinear_initInverse(cmath_xformLinear *out, const cmath_xformLinear *xf) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(xf);
    if (matrixIsSingular(xf->matrix)) return cmath_err_singularXform;
    *out = cblob::math::inverseOf(*xf);
    return 0;
}

int32_t cmath_xformLinear_initCompose(cmath_xformLinear *out, const cmath_xformLinear *a, const cmath_xformLinear *b) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(a);
    CBLOB_REQUIRE_ARG(b);
    // a(b(p)) = Ma (Mb p + tb) + ta.
    cmath_xformLinear c;
    c.matrix = cblob::math::multiply(a->matrix, b->matrix);
    c.tx = a->matrix.m00 * b->tx + a->matrix.m01 * b->ty + a->tx;
    c.ty = a->matrix.m10 * b->tx + a->matrix.m11 * b->ty + a->ty;
    *out = c;
    return 0;
}

int32_t cmath_xformLinear_getIsIdentity(const cmath_xformLinear *xf, int32_t *isIdentity) {
    CBLOB_REQUIRE_ARG(xf);
    CBLOB_REQUIRE_ARG(isIdentity);
    const cmath_matrix &m = xf->matrix;
    const bool identity = m.m00 == 1.0 && m.m01 == 0.0 && m.m10 == 0.0 && m.m11 == 1.0 && xf->tx == 0.0 &&
                          xf->ty == 0.0;
    *isIdentity = identity ? 1 : 0;
    return 0;
}

}  // extern "C"
