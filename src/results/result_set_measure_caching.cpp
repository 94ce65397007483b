// Setting up the measure cache of a result set after a run, and recording
// the run parameters the measures need.
#include <cstdint>
#include <cstring>

#include "cblob/result_set.h"
#include "core/require.hpp"

extern "C" {

int32_t cblob_resultSet_createAndInitMeasureCaching_(cblob_resultSet *rs) {
    CBLOB_REQUIRE_ARG(rs);
    CBLOB_REQUIRE_ARG(rs->postProcessing);
    CBLOB_REQUIRE_ARG(rs->numBlobs >= 0);
    cstd_vector32 *bits = &rs->postProcessing->validBits;
    const int32_t status = cstd_vector32_resize(bits, rs->numBlobs);
    if (CBLOB_FAILED(status)) return status;
    if (rs->numBlobs > 0) std::memset(bits->untyped.begin, 0, static_cast<size_t>(rs->numBlobs) * sizeof(uint32_t));
    return 0;
}

int32_t cblob_resultSetPostProcessing_recordRunParams(cblob_resultSetPostProcessing_ *pp,
                                                      const cblob_runParams *runParams) {
    CBLOB_REQUIRE_ARG(pp);
    CBLOB_REQUIRE_ARG(runParams);
    int32_t scaleVal = 0;
    const int32_t status = cblob_runParams_getScaleVal(runParams, &scaleVal);
    if (CBLOB_FAILED(status)) return status;
    CBLOB_REQUIRE_ARG(scaleVal >= 1);
    pp->weightScale = 1.0 / static_cast<double>(scaleVal);
    pp->connectivityType = runParams->connectivityType;
    return 0;
}

}  // extern "C"
