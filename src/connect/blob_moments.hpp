// The central second moments of a blob and what a blob record keeps of
// them: the moment matrix taken through a linear map, and the principal
// moments, elongation and angle written into the record. The scan uses them
// when it finishes a region, and a change of a result set's client
// transform when it moves every blob into the new frame.
#ifndef CBLOB_CONNECT_BLOB_MOMENTS_HPP
#define CBLOB_CONNECT_BLOB_MOMENTS_HPP

#include <cmath>

#include "cblob/blob.h"
#include "cblob/math.h"

namespace cblob::connect {

// Central second moments of a region: the integrals of (x - mx)^2,
// (y - my)^2 and (x - mx)(y - my) over its pixel squares.
struct Moments {
    double xx = 0.0, yy = 0.0, xy = 0.0;
};

inline double determinant(const cmath_matrix &m) { return m.m00 * m.m11 - m.m01 * m.m10; }

// areaFactor * L M L^T for the moment matrix M (the scan passes |det L|).
inline Moments mapMoments(const Moments &m, const cmath_matrix &l, double areaFactor) {
    Moments out;
    out.xx = areaFactor * (l.m00 * l.m00 * m.xx + 2.0 * l.m00 * l.m01 * m.xy + l.m01 * l.m01 * m.yy);
    out.yy = areaFactor * (l.m10 * l.m10 * m.xx + 2.0 * l.m10 * l.m11 * m.xy + l.m11 * l.m11 * m.yy);
    out.xy = areaFactor * (l.m00 * l.m10 * m.xx + (l.m00 * l.m11 + l.m01 * l.m10) * m.xy + l.m01 * l.m11 * m.yy);
    return out;
}

// Writes the moments, the principal moments (each raised by 1 when it is 0
// or below), the elongation and the principal angle of the moment matrix
// into the record, and marks its moments valid.
inline void setPrincipalAxes(cblob_blob *b, const Moments &m) {
    constexpr double kHalfPi = 1.57079632679489661923;  // half the double nearest pi, exactly
    const double dx = m.xx - m.yy;
    const double r = std::sqrt(dx * dx + 4.0 * m.xy * m.xy);
    double minor = ((m.xx + m.yy) - r) / 2.0;
    double major = ((m.xx + m.yy) + r) / 2.0;
    if (minor <= 0.0) minor += 1.0;
    if (major <= 0.0) major += 1.0;
    b->inertiaX = m.xx;
    b->inertiaY = m.yy;
    b->inertiaMin = minor;
    b->inertiaMax = major;
    b->elongation = major / minor;
    // Axis-parallel blobs (many small ones) need no atan2: with a zero xy
    // moment it returns exactly 0 or pi.
    double angle = 0.0;
    if (b->elongation >= 1.00000001) {
        const bool axisParallel = m.xy == 0.0 && !std::signbit(m.xy);
        angle = axisParallel ? (dx > 0.0 ? 0.0 : kHalfPi) : 0.5 * std::atan2(2.0 * m.xy / r, dx / r);
    }
    b->angle = angle;
    b->momentsValid = 1;
}

// The mixed moment of a finished record, which keeps only the principal
// moments: |xy| = sqrt((major - minor)^2 - (xx - yy)^2) / 2, negative when
// the principal angle is 0 or below. Rounding that would make the root's
// argument negative gives 0.
inline double recoverMixedMoment(const cblob_blob &b) {
    const double spread = b.inertiaMax - b.inertiaMin;
    const double dx = b.inertiaX - b.inertiaY;
    const double square = spread * spread - dx * dx;
    const double magnitude = square > 0.0 ? 0.5 * std::sqrt(square) : 0.0;
    return b.angle <= 0.0 ? -magnitude : magnitude;
}

}  // namespace cblob::connect

#endif
