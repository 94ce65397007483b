// One job's result: the status its function returned and the block it
// handed over.
#include "cblob/job.h"
#include "host/job_data.hpp"
#include "core/require.hpp"

extern "C" {

int32_t csys_jobResult_takeData(csys_jobResult *result, void **data, csys_jobDataRelease release) {
    return cblob::jobdata::take(result, data, release);
}

int32_t csys_jobResult_getDataConst(const csys_jobResult *result, const void **data) {
    return cblob::jobdata::getConst(result, data);
}

int32_t csys_jobResult_getStatus(const csys_jobResult *result, int32_t *status) {
    CBLOB_REQUIRE_ARG(result);
    CBLOB_REQUIRE_ARG(status);
    *status = result->status;
    return 0;
}

}  // extern "C"
