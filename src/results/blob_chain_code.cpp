// The chain-code calls of a blob: the chain alone, with the boundary
// measures, or with the box along the principal axes.
#include <cstdint>

#include "cblob/boundary.h"
#include "cblob/measure.h"
#include "core/frame.hpp"
#include "results/blob_boundary.hpp"
#include "results/measure_internal.hpp"

extern "C" {

int32_t cblob_blob_getBoundaryChainCode(cblob_blob *blob, int32_t start[2], cstd_vector8 *chain) {
    CBLOB_REQUIRE_ARG(blob);
    return cblob::results::traceBoundaryChain(blob, start, chain);
}

int32_t cblob_blob_getBoundaryChainCodeAndMeasures(cblob_blob *blob, int32_t start[2], cstd_vector8 *chain,
                                                   double *perimeter, double *compactness, double *acircularity) {
    using cblob::results::dispatchMeasure;
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    // The chain goes to a working vector first, so that a failing measure
    // leaves the caller's outputs as they were.
    cstd_vector8 working;
    int32_t first[2] = {0, 0};
    if (chain) {
        CBLOB_FRAME_TRY(f, cstd_vector8_constructEmpty(&working));
        f.addObject<&cstd_vector8_destruct>(&working, csys_cleanup_tempObject);
    }
    if (start || chain) CBLOB_FRAME_TRY(f, cblob::results::traceBoundaryChain(blob, first, chain ? &working : nullptr));
    double p = 0, c = 0, q = 0;
    if (perimeter) CBLOB_FRAME_TRY(f, dispatchMeasure(blob, cblob_measurePerimeter, 0, nullptr, &p));
    if (compactness) CBLOB_FRAME_TRY(f, dispatchMeasure(blob, cblob_measureCompactness, 0, nullptr, &c));
    if (acircularity) CBLOB_FRAME_TRY(f, dispatchMeasure(blob, cblob_measureAcircularity, 0, nullptr, &q));
    if (chain) CBLOB_FRAME_TRY(f, cstd_vector8_assign(chain, &working));
    if (start) {
        start[0] = first[0];
        start[1] = first[1];
    }
    if (perimeter) *perimeter = p;
    if (compactness) *compactness = c;
    if (acircularity) *acircularity = q;
    return f.exit();
}

int32_t cblob_blob_getBoundaryChainCodeAndPrincipalAxisBoundingBox(cblob_blob *blob, int32_t start[2],
                                                                   cstd_vector8 *chain, cmath_shapeAffineRect *rect,
                                                                   double center[2], double *aspect) {
    using cblob::results::dispatchMeasure;
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    // With a rectangle: 41, 45, 43, 46 and the centre 39, 40; without one the
    // centre alone.
    constexpr cblob_measure kBox[] = {41, 45, 43, 46, 39, 40};
    double m[6] = {0, 0, 0, 0, 0, 0};
    const int32_t from = rect ? 0 : 4;
    if (rect || center) {
        for (int32_t i = from; i < 6; ++i) CBLOB_FRAME_TRY(f, dispatchMeasure(blob, kBox[i], 0, nullptr, &m[i]));
    }
    cmath_shapeAffineRect box;
    if (rect) CBLOB_FRAME_TRY(f, cmath_shapeAffineRect_initCenter(&box, m[4], m[5], m[1], m[3], blob->angle, blob->angle));
    double ratio = 0;
    if (aspect) CBLOB_FRAME_TRY(f, dispatchMeasure(blob, cblob_measurePrincipalBoxAspect, 0, nullptr, &ratio));
    cstd_vector8 working;
    int32_t first[2] = {0, 0};
    if (chain) {
        CBLOB_FRAME_TRY(f, cstd_vector8_constructEmpty(&working));
        f.addObject<&cstd_vector8_destruct>(&working, csys_cleanup_tempObject);
    }
    if (start || chain) CBLOB_FRAME_TRY(f, cblob::results::traceBoundaryChain(blob, first, chain ? &working : nullptr));
    if (chain) CBLOB_FRAME_TRY(f, cstd_vector8_assign(chain, &working));
    if (rect) *rect = box;
    if (center) {
        center[0] = m[4];
        center[1] = m[5];
    }
    if (aspect) *aspect = ratio;
    if (start) {
        start[0] = first[0];
        start[1] = first[1];
    }
    return f.exit();
}

}  // extern "C"
