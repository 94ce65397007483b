// The extrema-exclusion setting of a result set.
#include <cstdint>

#include "cblob/result_set.h"
#include "core/require.hpp"

namespace {

// 0 when `value` is acceptable for `mode`, else the refusal status. The
// comparisons are written so that NaN fails them.
int32_t checkExclusion(int32_t mode, double value) {
    switch (mode) {
        case cblob_excludeArea:
            return value >= 0.0 ? 0 : cblob_err_badExcludeCount;
        case cblob_excludeAmountChecked:
            return value >= 0.0 ? 0 : cblob_err_badExcludeAmount;
        case cblob_excludePercent:
            return value >= 0.0 && value < 50.0 ? 0 : cblob_err_badExcludePercent;
        default:
            return 0;  // mode 0, and unknown modes, which behave like it
    }
}

}  // namespace

extern "C" {

int32_t cblob_resultSet_setExcludeExtrema(cblob_resultSet *rs, int32_t mode, double value, const double *angle) {
    CBLOB_REQUIRE_ARG(rs);
    CBLOB_REQUIRE_ARG(angle);
    CBLOB_REQUIRE_ARG(rs->postProcessing);
    const int32_t status = checkExclusion(mode, value);
    if (CBLOB_FAILED(status)) return status;
    rs->postProcessing->excludeMode = mode;
    rs->postProcessing->excludeValue = value;
    rs->postProcessing->defaultAngle = *angle;
    return 0;
}

int32_t cblob_resultSet_getExcludeExtrema(const cblob_resultSet *rs, int32_t *mode, double *value, double *angle) {
    CBLOB_REQUIRE_ARG(rs);
    CBLOB_REQUIRE_ARG(mode);
    CBLOB_REQUIRE_ARG(value);
    CBLOB_REQUIRE_ARG(angle);
    CBLOB_REQUIRE_ARG(rs->postProcessing);
    *mode = rs->postProcessing->excludeMode;
    *value = rs->postProcessing->excludeValue;
    *angle = rs->postProcessing->defaultAngle;
    return 0;
}

}  // extern "C"
