// The run-length images a run kept in its result set.
#include <cstdint>

#include "cblob/result_set.h"
#include "core/require.hpp"

namespace {

// *out shares `kept` when the run kept that image (its rows are set).
int32_t shareKept(const cblob_resultSet *rs, const cblob_rleRow *rows, const cblob_imageRlePtrh *kept,
                  cblob_imageRlePtrh *out) {
    CBLOB_REQUIRE_ARG(rs);
    CBLOB_REQUIRE_ARG(out);
    if (!rows) return cblob_err_imageNotKept;
    return cblob_imageRlePtrh_assign(out, kept);
}

}  // namespace

extern "C" {

int32_t cblob_resultSet_getThresholdedImageRlePtrh(const cblob_resultSet *rs, cblob_imageRlePtrh *out) {
    CBLOB_REQUIRE_ARG(rs);
    return shareKept(rs, rs->thresholdedRows, &rs->thresholdedImage, out);
}

int32_t cblob_resultSet_getMaskedAndThresholdedImageRlePtrh(const cblob_resultSet *rs, cblob_imageRlePtrh *out) {
    CBLOB_REQUIRE_ARG(rs);
    return shareKept(rs, rs->maskedRows, &rs->maskedAndThresholdedImage, out);
}

int32_t cblob_resultSet_getMorphedThresholdedImageRlePtrh(const cblob_resultSet *rs, cblob_imageRlePtrh *out) {
    CBLOB_REQUIRE_ARG(rs);
    return shareKept(rs, rs->morphedRows, &rs->morphedThresholdedImage, out);
}

}  // extern "C"
