// Scalar helpers of the geometry service.
#include <cmath>

#include "cblob/math.h"
#include "core/require.hpp"

extern "C" {

int32_t cmath_double_floor(double x, double *result) {
    CBLOB_REQUIRE_ARG(result);
    *result = std::floor(x);
    return 0;
}

int32_t cmath_double_sqr(double x, double *result) {
    CBLOB_REQUIRE_ARG(result);
    *result = x * x;
    return 0;
}

}  // extern "C"
