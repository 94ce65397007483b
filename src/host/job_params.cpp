// A job's parameter block: filled by the dispatching caller, handed to a
// request set, read by the job function.
#include "cblob/job.h"
#include "host/job_data.hpp"
#include "core/require.hpp"

extern "C" {

int32_t csys_jobParams_construct(csys_jobParams *p) {
    CBLOB_REQUIRE_ARG(p);
    p->data = nullptr;
    p->release = nullptr;
    return 0;
}

int32_t csys_jobParams_destruct(csys_jobParams *p) {
    CBLOB_REQUIRE_ARG(p);
    return cblob::jobdata::drop(p);
}

int32_t csys_jobParams_takeData(csys_jobParams *p, void **data, csys_jobDataRelease release) {
    return cblob::jobdata::take(p, data, release);
}

int32_t csys_jobParams_getDataConst(const csys_jobParams *p, const void **data) {
    return cblob::jobdata::getConst(p, data);
}

}  // extern "C"
