// The box of a blob at an angle from two mass profiles of its rows: one
// across u (profile over v), one across v (profile over u). On each profile
// the median, the low end and the high end are found as positions in bins,
// then turned into box coordinates measured from the reference point.
#include "results/box_at_angle.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/frame.hpp"
#include "rle/projection.hpp"

namespace cblob::results {
namespace {

struct Positions {
    double median, low, high;
};

// The share of bin k needed to bring the running sum s to `target` (0 for
// an empty bin, which only rounding can make reach it).
double fractionOf(double target, double s, double mass) { return mass > 0 ? (target - s) / mass : 0.0; }

// The median, low and high positions on one profile, scanning only the bins
// that hold weight. The end bins stand for the parts of them the blob
// covers (from tmin, up to tmax), so positions found in them are spread over
// those parts alone.
Positions scanProfile(const double *p, const rle::AngleProjection &pr, double half, double amount) {
    const int64_t first = pr.firstBin, last = pr.lastBin;
    const double f0 = pr.firstFraction, f1 = pr.lastFraction;
    Positions out{static_cast<double>(last + 1), 0, 0};
    double s = 0;
    // Rounding can leave the bins a hair short of the mass: a half (or an
    // amount) never reached is taken at the end of the profile.
    for (int64_t k = first; k <= last; s += p[k], ++k) {
        if (s + p[k] >= half) {
            out.median = static_cast<double>(k) + fractionOf(half, s, p[k]);
            break;
        }
    }
    out.low = out.high = out.median;
    if (amount > half) return out;  // nothing is left between the ends: both fall on the median
    s = 0;
    for (int64_t k = first; k <= last; s += p[k], ++k) {
        if (s + p[k] >= amount) {
            const double f = fractionOf(amount, s, p[k]);
            out.low = k == first ? (1 - f0) * f + static_cast<double>(k) + f0 : static_cast<double>(k) + f;
            break;
        }
    }
    s = 0;
    for (int64_t k = last; k >= first; s += p[k], --k) {
        if (s + p[k] >= amount) {
            const double f = fractionOf(amount, s, p[k]);
            const double end = static_cast<double>(k + 1);
            out.high = k == last ? (end - f1) - (1 - f1) * f : end - f;
            break;
        }
    }
    return out;
}

// The reference point (image coordinates) and the mass of the rows.
void referenceOf(const cblob_imageRle &img, BoxAtAngle *box) {
    double mass = 0, sumX = 0, sumY = 0;
    for (int32_t y = 0; y < img.height; ++y) {
        rle::forEachWeightedRun(&img, y, [&](int32_t x, int32_t length, uint32_t weight) {
            const double w = static_cast<double>(weight) * length;
            mass += w;
            sumX += w * (x + length / 2.0);
            sumY += w * (y + 0.5);
        });
    }
    box->mass = mass;
    box->referenceX = mass > 0 ? img.offsetX + sumX / mass : 0;
    box->referenceY = mass > 0 ? img.offsetY + sumY / mass : 0;
}

// The positions of one profile across `direction`, in box coordinates along
// `axis` (the client axis the bins run along, sign included: +v for the
// profile across u, -u for the profile across v).
int32_t profilePositions(const cblob_imageRle &img, const BoxAtAngle &box, const cmath_xformLinear &xform,
                         const double direction[2], const double axis[2], double amount, cstd_vectord *masses,
                         Positions *out) {
    cblob::Frame<0> f;
    rle::AngleProjection pr;
    CBLOB_FRAME_TRY(f, rle::projectAngleLinear(&img, direction, xform, true, masses, &pr));
    CBLOB_FRAME_CHECK(f, pr.firstBin >= 0, cblob_err_rleImageEmpty);
    const double *p = static_cast<const double *>(masses->untyped.begin);
    const Positions bins = scanProfile(p, pr, box.mass / 2, amount);
    // r: from the projection's origin to the reference point, in the client frame.
    double rx = 0, ry = 0;
    CBLOB_FRAME_TRY(f, cmath_xformLinear_mapVector(&xform, box.referenceX - img.offsetX - pr.origin[0],
                                                   box.referenceY - img.offsetY - pr.origin[1], &rx, &ry));
    const double rAlong = rx * axis[0] + ry * axis[1];
    auto place = [&](double position) { return position * pr.binSize - rAlong; };
    *out = Positions{place(bins.median), place(bins.low), place(bins.high)};
    return f.exit();
}

}  // namespace

cblob_imageRle rowsRecord(const BlobRows &rows) {
    cblob_imageRle img{};
    img.offsetX = rows.left;
    img.offsetY = rows.top;
    img.width = rows.width;
    img.height = rows.height;
    img.isGrey = rows.isGrey;
    img.rows = const_cast<cblob_rleRow *>(rows.rows);  // only read
    return img;
}

int32_t boxAtAngle(const BlobRows &rows, const cmath_xformLinear &clientFromImage, double angle, double amount,
                   BoxAtAngle *out) {
    cblob::Frame<1> f;
    const cblob_imageRle img = rowsRecord(rows);
    BoxAtAngle box{};
    referenceOf(img, &box);
    CBLOB_FRAME_CHECK(f, box.mass > 0, cblob_err_rleImageEmpty);
    cstd_vectord masses;
    CBLOB_FRAME_TRY(f, cstd_vectord_constructEmpty(&masses));
    f.addObject<&cstd_vectord_destruct>(&masses, csys_cleanup_tempObject);
    const double ca = std::cos(angle), sa = std::sin(angle);
    const double u[2] = {ca, sa}, v[2] = {-sa, ca}, minusU[2] = {-ca, -sa};
    Positions across{}, along{};
    // Across u: lines along u, bins along v. Across v: bins along -u.
    CBLOB_FRAME_TRY(f, profilePositions(img, box, clientFromImage, u, v, amount, &masses, &across));
    CBLOB_FRAME_TRY(f, profilePositions(img, box, clientFromImage, v, minusU, amount, &masses, &along));
    box.medianV = across.median;
    box.vMin = std::min(across.low, across.high);
    box.height = std::fabs(across.high - across.low);
    box.medianU = -along.median;
    box.uMin = std::min(-along.low, -along.high);
    box.width = std::fabs(along.high - along.low);
    double cx = 0, cy = 0;
    CBLOB_FRAME_TRY(f, cmath_xformLinear_mapPoint(&clientFromImage, box.referenceX, box.referenceY, &cx, &cy));
    box.medianX = cx + box.medianU * ca - box.medianV * sa;
    box.medianY = cy + box.medianU * sa + box.medianV * ca;
    *out = box;
    return f.exit();
}

}  // namespace cblob::results
