// The extrema-exclusion amount of one blob: the stored setting turned into
// the units of the blob's run weights.
#include <cmath>
#include <cstdint>

#include "cblob/result_set.h"
#include "core/require.hpp"
#include "results/measure_internal.hpp"

namespace cblob::results {

int32_t exclusionAmount(const cblob_blob *blob, int32_t useExclusion, double *amount) {
    CBLOB_REQUIRE_ARG(blob->clientFromImage);
    const cblob_resultSetPostProcessing_ *pp = blob->owner->postProcessing;
    if (!useExclusion) {
        *amount = 0.0;
        return 0;
    }
    const cmath_matrix &m = blob->clientFromImage->matrix;
    // Client area per pixel; runs never carry a singular transform.
    const double pixelArea = std::fabs(m.m00 * m.m11 - m.m01 * m.m10);
    CBLOB_REQUIRE_ARG(pixelArea > 0);
    double e = pp->excludeValue;
    switch (pp->excludeMode) {
        case cblob_excludeArea:
            e = e / pixelArea;
            break;
        case cblob_excludePercent:
            e = e * 0.01 * blob->area / pixelArea;
            break;
        default:
            break;  // amounts in weight units, and unknown modes, which behave like mode 0
    }
    if (pp->connectivityType != 1) e *= pp->weightScale;
    *amount = e;
    return 0;
}

}  // namespace cblob::results
