// One result per job of a dispatch, in job order. The set owns the result
// blocks until a caller takes one out.
#include "cblob/job.h"
#include "host/job_data.hpp"
#include "core/require.hpp"
#include "core/frame.hpp"

extern "C" {

int32_t csys_jobResultSet_construct(csys_jobResultSet *set) {
    CBLOB_REQUIRE_ARG(set);
    set->results = nullptr;
    set->count = 0;
    return 0;
}

int32_t csys_jobResultSet_destruct(csys_jobResultSet *set) {
    CBLOB_REQUIRE_ARG(set);
    int32_t status = 0;
    for (int32_t i = 0; i < set->count; ++i) {
        const int32_t released = cblob::jobdata::drop(&set->results[i]);
        if (CBLOB_FAILED(released) && !CBLOB_FAILED(status)) status = released;
    }
    cblob::release(&set->results);
    set->count = 0;
    return status;
}

int32_t csys_jobResultSet_getResultsArrayConst(const csys_jobResultSet *set, const csys_jobResult **array,
                                               int32_t *count) {
    CBLOB_REQUIRE_ARG(set);
    CBLOB_REQUIRE_ARG(array);
    CBLOB_REQUIRE_ARG(count);
    *array = set->results;
    *count = set->count;
    return 0;
}

int32_t csys_jobResultSet_takeResultData(csys_jobResultSet *set, int32_t index, void **data,
                                         csys_jobDataRelease *release) {
    CBLOB_REQUIRE_ARG(set);
    CBLOB_REQUIRE_ARG(data);
    if (index < 0 || index >= set->count) return csys_err_badJobIndex;
    csys_jobResult &result = set->results[index];
    if (!result.data) return csys_err_noJobData;
    *data = result.data;
    if (release) *release = result.release;
    result.data = nullptr;
    result.release = nullptr;
    return 0;
}

}  // extern "C"
