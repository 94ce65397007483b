// The affine rectangle: a centre, two side lengths and two unit side
// directions.
#include <cmath>

#include "cblob/math.h"
#include "core/require.hpp"

namespace {

// Sides this close to parallel span no area worth the name.
constexpr double kMinAxisCross = 1e-12;

bool finite(double a, double b, double c, double d) {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

}  // namespace

extern "C" {

int32_t cmath_shapeAffineRect_initCenterAxes(cmath_shapeAffineRect *r, double centerX, double centerY, double sideX,
                                             double sideY, double axisXx, double axisXy, double axisYx,
                                             double axisYy) {
    CBLOB_REQUIRE_ARG(r);
    if (!finite(centerX, centerY, sideX, sideY) || !finite(axisXx, axisXy, axisYx, axisYy)) return cmath_err_badShape;
    if (sideX < 0.0 || sideY < 0.0) return cmath_err_badShape;
    const double lengthX = std::hypot(axisXx, axisXy);
    const double lengthY = std::hypot(axisYx, axisYy);
    if (lengthX == 0.0 || lengthY == 0.0) return cmath_err_badShape;
    const double ux = axisXx / lengthX, uy = axisXy / lengthX;
    const double vx = axisYx / lengthY, vy = axisYy / lengthY;
    if (std::fabs(ux * vy - uy * vx) < kMinAxisCross) return cmath_err_badShape;
    r->centerX = centerX;
    r->centerY = centerY;
    r->sideX = sideX;
    r->sideY = sideY;
    r->axisXx = ux;
    r->axisXy = uy;
    r->axisYx = vx;
    r->axisYy = vy;
    return 0;
}

int32_t cmath_shapeAffineRect_initCenter(cmath_shapeAffineRect *r, double centerX, double centerY, double sideX,
                                         double sideY, double rotationX, double rotationY) {
    CBLOB_REQUIRE_ARG(r);
    if (!std::isfinite(rotationX) || !std::isfinite(rotationY)) return cmath_err_badShape;
    return cmath_shapeAffineRect_initCenterAxes(r, centerX, centerY, sideX, sideY, std::cos(rotationX),
                                                std::sin(rotationX), -std::sin(rotationY), std::cos(rotationY));
}

int32_t cmath_shapeAffineRect_getCorners(const cmath_shapeAffineRect *r, double xy[8]) {
    CBLOB_REQUIRE_ARG(r);
    CBLOB_REQUIRE_ARG(xy);
    const double hxx = 0.5 * r->sideX * r->axisXx, hxy = 0.5 * r->sideX * r->axisXy;
    const double hyx = 0.5 * r->sideY * r->axisYx, hyy = 0.5 * r->sideY * r->axisYy;
    static const double kSigns[4][2] = {{-1.0, -1.0}, {1.0, -1.0}, {1.0, 1.0}, {-1.0, 1.0}};
    for (int i = 0; i < 4; ++i) {
        xy[2 * i] = r->centerX + kSigns[i][0] * hxx + kSigns[i][1] * hyx;
        xy[2 * i + 1] = r->centerY + kSigns[i][0] * hxy + kSigns[i][1] * hyy;
    }
    return 0;
}

int32_t cmath_shapeAffineRect_getRotations(const cmath_shapeAffineRect *r, double *rotationX, double *rotationY) {
    CBLOB_REQUIRE_ARG(r);
    CBLOB_REQUIRE_ARG(rotationX);
    CBLOB_REQUIRE_ARG(rotationY);
    // The y side runs along (-sin ry, cos ry).
    const double rx = std::atan2(r->axisXy, r->axisXx);
    const double ry = std::atan2(-r->axisYx, r->axisYy);
    *rotationX = rx;
    *rotationY = ry;
    return 0;
}

}  // extern "C"
