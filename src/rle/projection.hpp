// Shared by the projections of a run-length image: the check every one of
// them makes, and the column and row sums, written for any element type so
// that the projection at an angle can lay them out as doubles directly.
#ifndef CBLOB_RLE_PROJECTION_HPP
#define CBLOB_RLE_PROJECTION_HPP

#include <algorithm>
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"

namespace cblob::rle {

// *img = the record h refers to, when it has rows to read:
// cblob_err_nullRleImage for a null handle, cblob_err_rleImageEmpty for a
// record with no row table (neither owned storage nor borrowed rows).
inline int32_t resolveReadable(const cblob_imageRlePtrh *h, cblob_imageRle **img) {
    const int32_t status = resolveHandle(h, cblob_err_nullRleImage, img);
    if (CBLOB_FAILED(status)) return status;
    return (*img)->rows ? 0 : cblob_err_rleImageEmpty;
}

// The weight of each pixel of a run: a grey run's value, 1 for a binary
// foreground run and 0 for background, which is the binary value itself.
inline uint32_t pixelWeight(const Run &run) { return run.value; }

// Walks the weighted runs of row y: visit(start x, length, per-pixel weight)
// for every run that carries weight, clipped to the row's width.
template <class Visit>
inline void forEachWeightedRun(const cblob_imageRle *img, int32_t y, Visit &&visit) {
    RowReader reader(*imageRow(img, y), img->isGrey != 0);
    Run run;
    int32_t x = 0;
    while (x < img->width && reader.next(run)) {
        const int32_t length = std::min(run.length, img->width - x);
        if (run.value != 0) visit(x, length, pixelWeight(run));
        x += length;
    }
}

// sums[0 .. width-1] = the weight of each column. `sums` has room for
// width + 1 entries: it first serves as the difference array in which each
// run adds its weight at its first column and takes it away after its last.
// With unsigned 32-bit entries the differences wrap, and every column sum
// that fits 32 bits comes out exact.
template <class T>
inline void columnSums(const cblob_imageRle *img, T *sums) {
    std::fill(sums, sums + img->width + 1, T(0));
    for (int32_t y = 0; y < img->height; ++y) {
        forEachWeightedRun(img, y, [&](int32_t x, int32_t length, uint32_t weight) {
            sums[x] += static_cast<T>(weight);
            sums[x + length] -= static_cast<T>(weight);
        });
    }
    T running = 0;
    for (int32_t x = 0; x < img->width; ++x) sums[x] = running += sums[x];
}

// sums[0 .. height-1] = the weight of each row.
template <class T>
inline void rowSums(const cblob_imageRle *img, T *sums) {
    for (int32_t y = 0; y < img->height; ++y) {
        T total = 0;
        forEachWeightedRun(img, y, [&](int32_t, int32_t length, uint32_t weight) {
            total += static_cast<T>(weight) * static_cast<T>(length);
        });
        sums[y] = total;
    }
}

// What the projection at an angle reports besides the bin masses.
struct AngleProjection {
    int32_t kind = 0;           // 0 general; 1, 2 along the rows; 3, 4 along the columns
    double origin[2] = {0, 0};  // the corner the axis positions are measured from (relative to the offset)
    double binSize = 0;         // the client length one bin spans across the direction
    double firstFraction = 0;   // kind 0: tmin - floor(tmin)
    double lastFraction = 0;    // kind 0: ceil(tmax) - tmax
    // The first and last bins that hold weight: for kind 0 the bins of tmin
    // and tmax (floor(tmin), ceil(tmax) - 1), exact whatever the rounding of
    // the spread; for kinds 1 to 4 (profile filled) the first and last
    // non-zero sums. Both -1 when nothing weighs or no profile was filled.
    int64_t firstBin = -1;
    int64_t lastBin = -1;
};

// The projection at an angle of a record that has rows (see
// cblob_imageRlePtrh_projectAngle), with the client-from-image matrix given
// as the linear part of `clientFromImage`. Reads only the record's size,
// grey flag and rows, so a record that merely lends a row table (for
// instance a blob's rows) may be projected. Statuses: the vector's failures.
int32_t projectAngleLinear(const cblob_imageRle *img, const double direction[2],
                           const cmath_xformLinear &clientFromImage, bool fillAxisProfile, cstd_vectord *masses,
                           AngleProjection *out);

}  // namespace cblob::rle

#endif
