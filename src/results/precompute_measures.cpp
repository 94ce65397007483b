// Filling the measure cache of every blob of a result set for the groups a
// list of codes names.
#include <cstdint>

#include "cblob/measure.h"
#include "core/frame.hpp"
#include "results/measure_internal.hpp"

namespace cblob::results {
namespace {

struct AskedGroups {
    bool boundary = false, angle = false, principal = false;
};

AskedGroups askedGroups(const cstd_vector_cblob_measure *codes) {
    AskedGroups asked;
    const auto *list = static_cast<const cblob_measure *>(codes->untyped.begin);
    for (int64_t i = 0; i < codes->untyped.size; ++i) {
        const cblob_measure code = list[i];
        asked.boundary = asked.boundary || code == 3 || code == 4 || code == 15;
        asked.angle = asked.angle || (code >= 26 && code <= 36);
        asked.principal = asked.principal || (code >= 37 && code <= 47);
    }
    return asked;
}

// The attention check is polled once per this many blobs.
constexpr int32_t kPollBlobs = 256;

// Every blob of the result set: its group at the default angle, unless it
// is cached with matching keys.
int32_t precomputeGroup(cblob_resultSet *rs, MeasureGroup group) {
    cblob::Frame<0> f;
    const cblob_resultSetPostProcessing_ *pp = rs->postProcessing;
    const int32_t useExclusion = pp->excludeMode != 0 ? 1 : 0;
    const double angle = pp->defaultAngle;
    CBLOB_FRAME_TRY(f, ensureGroupSlots(rs, group));
    for (int32_t i = 0; i < rs->numBlobs; ++i) {
        if (i % kPollBlobs == kPollBlobs - 1) CBLOB_FRAME_TRY(f, csys_attention_check());
        cblob_blob *blob = rs->allBlobs[i];
        double amount = 0;
        CBLOB_FRAME_TRY(f, exclusionAmount(blob, useExclusion, &amount));
        if (groupCached(rs, blob, group, angle, amount)) continue;
        CBLOB_FRAME_TRY(f, computeGroup(blob, group, angle, useExclusion));
    }
    return f.exit();
}

}  // namespace

}  // namespace cblob::results

extern "C" {

int32_t cblob_resultSet_precomputeMeasures(cblob_resultSet *rs, const cstd_vector_cblob_measure *codes) {
    using namespace cblob::results;
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, codes);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing);
    const AskedGroups asked = askedGroups(codes);
    CBLOB_FRAME_CHECK(f, !(asked.boundary && rs->postProcessing->connectivityType == 2),
                      cblob_err_measureNotForMode);
    int32_t noDatabase = 1;
    CBLOB_FRAME_TRY(f, cblob_blobRleDb_Ptrh_getIsNull(&rs->blobDbHandle, &noDatabase));
    CBLOB_FRAME_CHECK(f, !noDatabase, cblob_err_rleImageEmpty);
    CBLOB_FRAME_REQUIRE(f, rs->postProcessing->validBits.untyped.size == rs->numBlobs);
    if (asked.boundary) CBLOB_FRAME_TRY(f, precomputeGroup(rs, MeasureGroup::boundary));
    if (asked.angle) CBLOB_FRAME_TRY(f, precomputeGroup(rs, MeasureGroup::angle));
    if (asked.principal) CBLOB_FRAME_TRY(f, precomputeGroup(rs, MeasureGroup::principal));
    return f.exit();
}

}  // extern "C"
