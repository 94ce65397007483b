// 2x2 matrices of the geometry service.
#include <cmath>

#include "cblob/math.h"
#include "host/math_internal.hpp"
#include "core/require.hpp"

using cblob::math::matrixIsSingular;

extern "C" {

int32_t cmath_matrix_init(cmath_matrix *m, double m00, double m01, double m10, double m11) {
    CBLOB_REQUIRE_ARG(m);
    *m = cmath_matrix{m00, m01, m10, m11};
    return 0;
}

int32_t cmath_matrix_initIdentity(cmath_matrix *m) { return cmath_matrix_init(m, 1.0, 0.0, 0.0, 1.0); }

int32_t cmath_matrix_initInverse(cmath_matrix *out, const cmath_matrix *m) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(m);
    if (matrixIsSingular(*m)) return cmath_err_singularXform;
    *out = cblob::math::inverseOf(*m);
    return 0;
}

int32_t cmath_matrix_initMultiply(cmath_matrix *out, const cmath_matrix *a, const cmath_matrix *b) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(a);
    CBLOB_REQUIRE_ARG(b);
    *out = cblob::math::multiply(*a, *b);
    return 0;
}

int32_t cmath_matrix_initMultiply3(cmath_matrix *out, const cmath_matrix *a, const cmath_matrix *b,
                                   const cmath_matrix *c) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(a);
    CBLOB_REQUIRE_ARG(b);
    CBLOB_REQUIRE_ARG(c);
    *out = cblob::math::multiply(cblob::math::multiply(*a, *b), *c);
    return 0;
}

int32_t cmath_matrix_initTranspose(cmath_matrix *out, const cmath_matrix *m) {
    CBLOB_REQUIRE_ARG(out);
    CBLOB_REQUIRE_ARG(m);
    *out = cmath_matrix{m->m00, m->m10, m->m01, m->m11};
    return 0;
}

int32_t cmath_matrix_getDeterminant(const cmath_matrix *m, double *det) {
    CBLOB_REQUIRE_ARG(m);
    CBLOB_REQUIRE_ARG(det);
    *det = m->m00 * m->m11 - m->m01 * m->m10;
    return 0;
}

int32_t cmath_matrix_getIsIdentity(const cmath_matrix *m, int32_t *isIdentity) {
    CBLOB_REQUIRE_ARG(m);
    CBLOB_REQUIRE_ARG(isIdentity);
    *isIdentity = (m->m00 == 1.0 && m->m01 == 0.0 && m->m10 == 0.0 && m->m11 == 1.0) ? 1 : 0;
    return 0;
}

int32_t cmath_matrix_getIsSingular(const cmath_matrix *m, int32_t *isSingular) {
    CBLOB_REQUIRE_ARG(m);
    CBLOB_REQUIRE_ARG(isSingular);
    *isSingular = matrixIsSingular(*m) ? 1 : 0;
    return 0;
}

int32_t cmath_matrix_getXScale(const cmath_matrix *m, double *scale) {
    CBLOB_REQUIRE_ARG(m);
    CBLOB_REQUIRE_ARG(scale);
    *scale = std::hypot(m->m00, m->m10);
    return 0;
}

int32_t cmath_matrix_getYScale(const cmath_matrix *m, double *scale) {
    CBLOB_REQUIRE_ARG(m);
    CBLOB_REQUIRE_ARG(scale);
    *scale = std::hypot(m->m01, m->m11);
    return 0;
}

}  // extern "C"
