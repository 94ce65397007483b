// Computing a cached group of measures for one blob and storing it: the
// boundary measures, the angle box, the principal box, the interior flag.
#include <cstdint>

#include "cblob/measure.h"
#include "core/frame.hpp"
#include "results/blob_boundary.hpp"
#include "results/box_at_angle.hpp"
#include "results/measure_internal.hpp"

namespace cblob::results {
namespace {

// Stores values[i] under codes[i] for every code of the group, in order.
// The slots exist (ensureGroupSlots), so no store can fail half way.
int32_t storeGroup(cblob_resultSet *rs, const cblob_blob *blob, MeasureGroup group, const double *values) {
    cblob::Frame<0> f;
    int32_t count = 0;
    const int32_t *codes = groupCodes(group, &count);
    for (int32_t i = 0; i < count; ++i) CBLOB_FRAME_TRY(f, storeValue(rs, blob, codes[i], values[i]));
    return f.exit();
}

// The angle box at the blob's principal angle and the principal box are the
// same box: when the other group already holds it for this angle and
// exclusion amount, its values are taken instead of projecting the runs
// again (a caller reading both, or every measure, pays one computation).
bool sameBoxCached(const cblob_blob *blob, MeasureGroup group, double angle, double amount, BoxAtAngle *box) {
    if (blob->momentsValid != 1 || angle != blob->angle) return false;
    const bool principal = group == MeasureGroup::principal;
    const MeasureGroup other = principal ? MeasureGroup::angle : MeasureGroup::principal;
    if (!groupCached(blob->owner, blob, other, angle, amount)) return false;
    int32_t count = 0;
    const int32_t *codes = groupCodes(other, &count);
    const int32_t first = principal ? 2 : 1;  // past the keys
    double values[6] = {};
    for (int32_t i = 0; i < 6; ++i) cachedValue(blob->owner, blob, codes[first + i], &values[i]);
    box->medianX = values[0];
    box->medianY = values[1];
    box->uMin = values[2];
    box->vMin = values[3];
    box->width = values[4];
    box->height = values[5];
    return true;
}

// The box group at `angle`: keys first, then the median point, the low
// corner and the extents (the order of groupCodes).
int32_t computeBoxGroup(cblob_blob *blob, MeasureGroup group, double angle, int32_t useExclusion) {
    cblob::Frame<0> f;
    const bool principal = group == MeasureGroup::principal;
    // The principal axis of a blob whose moments were not computed is unknown.
    CBLOB_FRAME_CHECK(f, !principal || blob->momentsValid == 1, cblob_err_measureUnavailable);
    const double a = principal ? blob->angle : angle;
    double amount = 0;
    CBLOB_FRAME_TRY(f, exclusionAmount(blob, useExclusion, &amount));
    BoxAtAngle box{};
    if (!sameBoxCached(blob, group, a, amount, &box)) {
        cblob_rleRow *rows = nullptr;
        CBLOB_FRAME_TRY(f, cblob_blob_getRleRows(blob, &rows));
        const BlobRows blobRows{rows, blob->isGrey, blob->boxLeft, blob->boxTop, blob->boxWidth, blob->boxHeight};
        CBLOB_FRAME_TRY(f, boxAtAngle(blobRows, *blob->clientFromImage, a, amount, &box));
    }
    CBLOB_FRAME_TRY(f, ensureGroupSlots(blob->owner, group));
    const double angleValues[] = {a, amount, box.medianX, box.medianY, box.uMin, box.vMin, box.width, box.height};
    const double principalValues[] = {amount, box.medianX, box.medianY, box.uMin, box.vMin, box.width, box.height};
    CBLOB_FRAME_TRY(f, storeGroup(blob->owner, blob, group, principal ? principalValues : angleValues));
    return f.exit();
}

// One trace gives the whole boundary group: perimeter, step count and
// acircularity (the order of groupCodes).
int32_t computeBoundaryGroup(cblob_blob *blob) {
    cblob::Frame<0> f;
    // The whole-image blob has no boundary to trace.
    CBLOB_FRAME_CHECK(f, blob->owner->postProcessing->connectivityType != 2, cblob_err_measureNotForMode);
    BoundaryMeasures m;
    CBLOB_FRAME_TRY(f, traceBoundaryMeasures(blob, &m));
    CBLOB_FRAME_TRY(f, ensureGroupSlots(blob->owner, MeasureGroup::boundary));
    const double values[] = {m.perimeter, m.steps, m.acircularity};
    CBLOB_FRAME_TRY(f, storeGroup(blob->owner, blob, MeasureGroup::boundary, values));
    return f.exit();
}

int32_t computeInterior(cblob_blob *blob) {
    cblob::Frame<0> f;
    int32_t interior = 0;
    CBLOB_FRAME_TRY(f, interiorTest(blob, &interior));
    CBLOB_FRAME_TRY(f, ensureGroupSlots(blob->owner, MeasureGroup::interior));
    const double value = interior ? 1.0 : 0.0;
    CBLOB_FRAME_TRY(f, storeGroup(blob->owner, blob, MeasureGroup::interior, &value));
    return f.exit();
}

}  // namespace

int32_t computeGroup(cblob_blob *blob, MeasureGroup group, double angle, int32_t useExclusion) {
    cblob::Frame<0> f;
    switch (group) {
        case MeasureGroup::boundary:
            CBLOB_FRAME_TRY(f, computeBoundaryGroup(blob));
            break;
        case MeasureGroup::angle:
        case MeasureGroup::principal:
            CBLOB_FRAME_TRY(f, computeBoxGroup(blob, group, angle, useExclusion));
            break;
        case MeasureGroup::interior:
            CBLOB_FRAME_TRY(f, computeInterior(blob));
            break;
        default:
            CBLOB_FRAME_REQUIRE(f, false);
    }
    return f.exit();
}

}  // namespace cblob::results
