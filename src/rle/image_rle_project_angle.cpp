// Projection of a run-length image's weight onto the axis across a client
// direction: the weight is summed along lines parallel to the direction and
// laid out in unit bins along the perpendicular, each run spread exactly by
// the footprint its pixels' unit squares cast on that axis.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/projection.hpp"
#include "core/frame.hpp"

namespace {

// Below this |cos| or |sin| of the image-frame angle the direction is taken
// to run along an image axis, and the exact column or row sums are the
// profile.
constexpr double kAxisTolerance = 1e-6;

// Spreads the weight of one run over the bins of the difference array
// `diff` (the bin masses are its running sum). The run's pixels project onto
// the axis as the sum of a box of width a (the run's length times |sin|) and
// a box of width b (one pixel times |cos|), starting at t0: a trapezoid
// density that rises over min(a, b), stays flat over |a - b| and falls over
// min(a, b), holding `weight` in all. Bins touched by the sloping ends (at
// most two each, as min(a, b) <= 1) get their exact share; the bins wholly
// under the flat part get the flat density, entered once at each end.
// Bins beyond `lastBin` receive nothing (only rounding can reach them).
void spreadRun(double *diff, int64_t lastBin, double t0, double a, double b, double weight) {
    const double rise = std::min(a, b);  // > 0: both widths are at least 1e-6
    const double span = std::max(a, b);
    const double p0 = t0, p1 = t0 + rise, p2 = t0 + span, p3 = t0 + a + b;
    const double flat = weight / span;      // density of the flat part
    const double ramp = flat / (2 * rise);  // half the slope of the sloping ends
    // The weight inside [lo, hi]: the three pieces of the trapezoid, each
    // integrated in closed form, in a form that stays exact for tiny slopes.
    auto massIn = [&](double lo, double hi) {
        double sum = 0;
        double from = std::max(lo, p0), to = std::min(hi, p1);
        if (to > from) sum += ramp * (to - from) * ((to - p0) + (from - p0));
        from = std::max(lo, p1);
        to = std::min(hi, p2);
        if (to > from) sum += flat * (to - from);
        from = std::max(lo, p2);
        to = std::min(hi, p3);
        if (to > from) sum += ramp * (to - from) * ((p3 - from) + (p3 - to));
        return sum;
    };
    // Positions are never negative (mirrored corners project to x' s + y' c
    // with every factor >= 0), so truncation is the floor; it also spares a
    // library call per bin edge on processors without a rounding instruction.
    auto bin = [&](double t) { return std::clamp(static_cast<int64_t>(t), int64_t{0}, lastBin); };
    auto exact = [&](int64_t first, int64_t last) {
        for (int64_t k = first; k <= last; ++k) {
            const double share = massIn(static_cast<double>(k), static_cast<double>(k + 1));
            diff[k] += share;
            diff[k + 1] -= share;
        }
    };
    const int64_t k0 = bin(p0), k1 = bin(p1), k2 = bin(p2), k3 = bin(p3);
    if (k2 <= k1 + 1) {
        exact(k0, k3);  // no bin lies wholly under the flat part
    } else {
        exact(k0, k1);
        diff[k1 + 1] += flat;
        diff[k2] -= flat;
        exact(k2, k3);
    }
}

// The frame of one projection: the image-frame angle's |sin| and |cos|,
// the mirroring flags and the client length of one bin.
struct AngleFrame {
    double s, c;
    bool fx, fy;
    double bin;
};

// M, the client-from-image matrix, carries image vectors into the client
// frame; the direction is carried into the image frame by its inverse. Only
// the angle matters, so the inverse is applied without dividing by the
// determinant, whose sign is folded in instead. Bins run along
// n = (-sin, cos); pixel coordinates are mirrored so that the axis position
// of a pixel's corner is x' s + y' c >= 0 whatever the quadrant, and a
// mirroring transform turns the axis round so that the profile keeps its
// orientation in the client frame.
AngleFrame angleFrame(const double direction[2], const cmath_matrix &m) {
    const double m0 = m.m00, m1 = m.m01, m2 = m.m10, m3 = m.m11;
    const double d0 = direction[0], d1 = direction[1];
    const bool mirrored = m0 * m3 - m1 * m2 < 0;
    const double theta = mirrored ? std::atan2(m2 * d0 - m0 * d1, m1 * d1 - m3 * d0)
                                  : std::atan2(m0 * d1 - m2 * d0, m3 * d0 - m1 * d1);
    const double sinT = std::sin(theta), cosT = std::cos(theta);
    const double normalX = m0 * -sinT + m1 * cosT, normalY = m2 * -sinT + m3 * cosT;
    return AngleFrame{std::fabs(sinT), std::fabs(cosT), (sinT <= 0) != mirrored, (cosT > 0) != mirrored,
                      std::fabs(normalX * d1 - normalY * d0)};
}

// Along the columns (columns true) or the rows: the exact sums, in mirrored
// order, with the first and last non-zero sums as the bins holding weight.
int32_t axisProfile(const cblob_imageRle *img, bool columns, bool forward, cstd_vectord *masses,
                    cblob::rle::AngleProjection *out) {
    cblob::Frame<0> f;
    const int32_t count = columns ? img->width : img->height;
    double *sums = nullptr;
    CBLOB_FRAME_TRY(f, cstd_vectord_resize(masses, static_cast<int64_t>(count) + 1));
    CBLOB_FRAME_TRY(f, cstd_vectord_getBegin(masses, &sums));
    if (columns) {
        cblob::rle::columnSums(img, sums);
    } else {
        cblob::rle::rowSums(img, sums);
    }
    if (!forward) std::reverse(sums, sums + count);
    CBLOB_FRAME_TRY(f, cstd_vectord_resize(masses, count));
    for (int64_t k = 0; k < count; ++k) {
        if (sums[k] == 0) continue;
        if (out->firstBin < 0) out->firstBin = k;
        out->lastBin = k;
    }
    return f.exit();
}

// The general direction: every weighted run spread over the bins.
int32_t generalProfile(const cblob_imageRle *img, const AngleFrame &a, cstd_vectord *masses,
                       cblob::rle::AngleProjection *out) {
    cblob::Frame<0> f;
    const int32_t width = img->width, height = img->height;
    const int64_t bins = static_cast<int64_t>(std::floor(height * a.c + width * a.s)) + 1;
    double *diff = nullptr;
    // Resized, not cleared first: a failed resize leaves the caller's vector as it was.
    CBLOB_FRAME_TRY(f, cstd_vectord_resize(masses, bins + 2));
    CBLOB_FRAME_TRY(f, cstd_vectord_getBegin(masses, &diff));
    std::fill(diff, diff + bins + 2, 0.0);
    double tmin = HUGE_VAL, tmax = -HUGE_VAL;
    for (int32_t y = 0; y < height; ++y) {
        const double rowStart = (a.fy ? y : height - 1 - y) * a.c;
        cblob::rle::forEachWeightedRun(img, y, [&](int32_t x, int32_t length, uint32_t weight) {
            const double t0 = (a.fx ? x : width - x - length) * a.s + rowStart;
            const double along = length * a.s;
            spreadRun(diff, bins, t0, along, a.c, static_cast<double>(weight) * length);
            tmin = std::min(tmin, t0);
            tmax = std::max(tmax, t0 + along + a.c);
        });
    }
    // Bin masses from the differences; rounding below zero is no mass.
    double running = 0;
    for (int64_t k = 0; k < bins; ++k) {
        running += diff[k];
        diff[k] = std::max(running, 0.0);
    }
    CBLOB_FRAME_TRY(f, cstd_vectord_resize(masses, bins));
    if (tmin <= tmax) {
        out->firstFraction = tmin - std::floor(tmin);
        out->lastFraction = std::ceil(tmax) - tmax;
        out->firstBin = std::clamp(static_cast<int64_t>(std::floor(tmin)), int64_t{0}, bins - 1);
        out->lastBin = std::clamp(static_cast<int64_t>(std::ceil(tmax)) - 1, out->firstBin, bins - 1);
    }
    return f.exit();
}

}  // namespace

namespace cblob::rle {

int32_t projectAngleLinear(const cblob_imageRle *img, const double direction[2],
                           const cmath_xformLinear &clientFromImage, bool fillAxisProfile, cstd_vectord *masses,
                           AngleProjection *out) {
    cblob::Frame<0> f;
    const AngleFrame a = angleFrame(direction, clientFromImage.matrix);
    AngleProjection result;
    if (a.c < kAxisTolerance || a.s < kAxisTolerance) {
        const bool columns = a.c < kAxisTolerance;
        result.kind = columns ? (a.fx ? 3 : 4) : (a.fy ? 1 : 2);
        if (fillAxisProfile) CBLOB_FRAME_TRY(f, axisProfile(img, columns, columns ? a.fx : a.fy, masses, &result));
    } else {
        CBLOB_FRAME_TRY(f, generalProfile(img, a, masses, &result));
    }
    result.origin[0] = a.fx ? 0.0 : static_cast<double>(img->width);
    result.origin[1] = a.fy ? 0.0 : static_cast<double>(img->height);
    result.binSize = a.bin;
    *out = result;
    return f.exit();
}

}  // namespace cblob::rle

extern "C" {

int32_t cblob_imageRlePtrh_projectAngle(const cblob_imageRlePtrh *src, const double direction[2],
                                        const cmath_xformPtrhConst *xform, int32_t fillAxisProfile,
                                        cstd_vectord *masses, int32_t *kind, double origin[2], double *binSize,
                                        double *firstFraction, double *lastFraction) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, direction);
    CBLOB_FRAME_REQUIRE(f, xform);
    CBLOB_FRAME_REQUIRE(f, masses);
    CBLOB_FRAME_REQUIRE(f, kind);
    CBLOB_FRAME_REQUIRE(f, origin);
    CBLOB_FRAME_REQUIRE(f, binSize);
    CBLOB_FRAME_REQUIRE(f, firstFraction);
    CBLOB_FRAME_REQUIRE(f, lastFraction);
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveReadable(src, &img));
    // A perspective transform is taken by its local affine approximation at
    // the image's centre.
    cmath_xformLinear linear;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getLinear(xform, img->offsetX + img->width / 2.0,
                                                      img->offsetY + img->height / 2.0, &linear));
    cblob::rle::AngleProjection result;
    CBLOB_FRAME_TRY(f, cblob::rle::projectAngleLinear(img, direction, linear, fillAxisProfile != 0, masses, &result));
    *kind = result.kind;
    origin[0] = result.origin[0];
    origin[1] = result.origin[1];
    *binSize = result.binSize;
    *firstFraction = result.firstFraction;
    *lastFraction = result.lastFraction;
    return f.exit();
}

}  // extern "C"
