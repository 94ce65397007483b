// A blob's box at an angle as an oriented rectangle, its median point and
// its client transform.
#include <cstdint>

#include "cblob/measure.h"
#include "core/frame.hpp"
#include "results/measure_internal.hpp"

extern "C" {

int32_t cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema(cblob_blob *blob, int32_t useExclusion,
                                                          const double *angle, cmath_shapeAffineRect *rect,
                                                          double center[2], double *aspect) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, angle);
    // Measures 30, 34, 32, 35, then the centre 28, 29: the first failure
    // is returned with nothing written.
    constexpr cblob_measure kCodes[] = {30, 34, 32, 35, 28, 29};
    double m[6];
    for (int32_t i = 0; i < 6; ++i) {
        CBLOB_FRAME_TRY(f, cblob::results::dispatchMeasure(blob, kCodes[i], useExclusion, angle, &m[i]));
    }
    const double width = m[1], height = m[3], cx = m[4], cy = m[5];
    cmath_shapeAffineRect box;
    if (rect) CBLOB_FRAME_TRY(f, cmath_shapeAffineRect_initCenter(&box, cx, cy, width, height, *angle, *angle));
    if (rect) *rect = box;
    if (center) {
        center[0] = cx;
        center[1] = cy;
    }
    if (aspect) *aspect = height / width;
    return f.exit();
}

int32_t cblob_blob_getBoundingBoxAtAngle(cblob_blob *blob, const double *angle, cmath_shapeAffineRect *rect) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rect);
    CBLOB_FRAME_TRY(f, cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema(blob, 0, angle, rect, nullptr, nullptr));
    return f.exit();
}

int32_t cblob_blob_getBoundingBoxAndExcludeExtrema(cblob_blob *blob, int32_t useExclusion,
                                                   cmath_shapeAffineRect *rect) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, rect);
    CBLOB_FRAME_REQUIRE(f, blob->owner && blob->owner->postProcessing);
    const double angle = blob->owner->postProcessing->defaultAngle;
    CBLOB_FRAME_TRY(f, cblob_blob_getBoundingBoxAtAngleAndExcludeExtrema(blob, useExclusion, &angle, rect, nullptr,
                                                                          nullptr));
    return f.exit();
}

int32_t cblob_blob_getBoundingBox(cblob_blob *blob, cmath_shapeAffineRect *rect) {
    return cblob_blob_getBoundingBoxAndExcludeExtrema(blob, 0, rect);
}

int32_t cblob_blob_getMedian(cblob_blob *blob, const double *angle, double median[2]) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, angle);
    CBLOB_FRAME_REQUIRE(f, median);
    double x = 0, y = 0;
    CBLOB_FRAME_TRY(f, cblob::results::dispatchMeasure(blob, cblob_measureMedianX, 0, angle, &x));
    CBLOB_FRAME_TRY(f, cblob::results::dispatchMeasure(blob, cblob_measureMedianY, 0, angle, &y));
    median[0] = x;
    median[1] = y;
    return f.exit();
}

int32_t cblob_blob_getClientFromImageXform(const cblob_blob *blob, cmath_xformLinear *xform) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, xform);
    CBLOB_FRAME_REQUIRE(f, blob->clientFromImage);
    *xform = *blob->clientFromImage;
    return f.exit();
}

}  // extern "C"
