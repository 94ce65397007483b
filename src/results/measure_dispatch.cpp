// The measure dispatcher: every measure of a blob by its code, read from the
// blob record, derived from other measures, or computed once and cached.
#include <cstdint>

#include "cblob/measure.h"
#include "core/frame.hpp"
#include "results/measure_internal.hpp"

namespace cblob::results {
namespace {

bool isBoundaryCode(int32_t code) { return code == 3 || code == 4 || code == 14 || code == 15; }

bool isKeyCode(int32_t code) { return code >= kMeasureAngleKey && code <= kMeasurePrincipalExclusionKey; }

int32_t recordMeasure(const cblob_blob *blob, const MeasureEntry &entry, double *value) {
    cblob::Frame<0> f;
    CBLOB_FRAME_CHECK(f, !entry.needsMoments || blob->momentsValid == 1, cblob_err_measureUnavailable);
    *value = entry.read(*blob);
    return f.exit();
}

// A cached code: the cached value when it still applies, else the group is
// computed and stored first. The keys themselves answer only once their
// group has been cached for the blob.
int32_t cachedMeasure(cblob_blob *blob, const MeasureEntry &entry, int32_t useExclusion, const double *angle,
                      double *value) {
    cblob::Frame<0> f;
    cblob_resultSet *rs = blob->owner;
    const double a = angleInUse(rs->postProcessing, angle);
    double cached = 0;
    if (cachedValue(rs, blob, entry.code, &cached)) {
        double amount = 0;
        CBLOB_FRAME_TRY(f, exclusionAmount(blob, useExclusion, &amount));
        if (isKeyCode(entry.code) || keysApply(rs, blob, entry.group, a, amount)) {
            *value = cached;
            return f.exit();
        }
    }
    CBLOB_FRAME_CHECK(f, !isKeyCode(entry.code), cblob_err_badMeasure);
    CBLOB_FRAME_TRY(f, computeGroup(blob, entry.group, a, useExclusion));
    CBLOB_FRAME_REQUIRE(f, cachedValue(rs, blob, entry.code, &cached));
    *value = cached;
    return f.exit();
}

}  // namespace

int32_t dispatchMeasure(cblob_blob *blob, int32_t code, int32_t useExclusion, const double *angle, double *value) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, value);
    CBLOB_FRAME_REQUIRE(f, blob->owner);
    const cblob_resultSet *rs = blob->owner;
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    const MeasureEntry *entry = measureEntry(code);
    CBLOB_FRAME_CHECK(f, entry, cblob_err_badMeasure);
    const cblob_resultSetPostProcessing_ *pp = rs->postProcessing;
    CBLOB_FRAME_CHECK(f, !(isBoundaryCode(code) && pp->connectivityType == 2), cblob_err_angleMeasureNotForMode);
    CBLOB_FRAME_REQUIRE(f, pp->validBits.untyped.size == rs->numBlobs);
    CBLOB_FRAME_REQUIRE(f, blob->label >= 1 && blob->label <= rs->numBlobs);
    const int32_t mark = pp->measureTable[code];
    if (mark == kMeasureFromRecord) {
        CBLOB_FRAME_TRY(f, recordMeasure(blob, *entry, value));
    } else if (mark == kMeasureDerived) {
        CBLOB_FRAME_TRY(f, derivedMeasure(blob, code, useExclusion, angle, value));
    } else if (mark >= kMeasureCachedNoSlot) {
        CBLOB_FRAME_TRY(f, cachedMeasure(blob, *entry, useExclusion, angle, value));
    } else {
        CBLOB_FRAME_REQUIRE(f, false);
    }
    return f.exit();
}

}  // namespace cblob::results

extern "C" {

int32_t cblob_blob_getMeasure(cblob_blob *blob, cblob_measure code, int32_t useExclusion, double *value) {
    return cblob::results::dispatchMeasure(blob, code, useExclusion, nullptr, value);
}

int32_t cblob_blob_getMeasureAtAngle(cblob_blob *blob, cblob_measure code, int32_t useExclusion, double *value,
                                     const double *angle) {
    CBLOB_REQUIRE_ARG(angle);
    return cblob::results::dispatchMeasure(blob, code, useExclusion, angle, value);
}

}  // extern "C"
