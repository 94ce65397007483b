// An ordered set of jobs: each a function and the parameter block it owns.
#include <cstdint>

#include "cblob/job.h"
#include "host/job_data.hpp"
#include "core/require.hpp"
#include "core/frame.hpp"

namespace {
constexpr int32_t kFirstCapacity = 4;
}  // namespace

extern "C" {

int32_t csys_jobRequestSet_construct(csys_jobRequestSet *set) {
    CBLOB_REQUIRE_ARG(set);
    set->requests = nullptr;
    set->count = 0;
    set->capacity = 0;
    return 0;
}

int32_t csys_jobRequestSet_destruct(csys_jobRequestSet *set) {
    CBLOB_REQUIRE_ARG(set);
    int32_t status = 0;
    for (int32_t i = 0; i < set->count; ++i) {
        const int32_t released = cblob::jobdata::drop(&set->requests[i].params);
        if (CBLOB_FAILED(released) && !CBLOB_FAILED(status)) status = released;
    }
    cblob::release(&set->requests);
    set->count = 0;
    set->capacity = 0;
    return status;
}

int32_t csys_jobRequestSet_addFuncAndParams(csys_jobRequestSet *set, csys_jobFunction function,
                                            csys_jobParams *params) {
    CBLOB_REQUIRE_ARG(set);
    CBLOB_REQUIRE_ARG(function);
    CBLOB_REQUIRE_ARG(params);
    if (set->count == INT32_MAX) return csys_err_badSize;
    if (set->count == set->capacity) {
        // Doubling keeps appends cheap; the array moves only on growth, and
        // nothing outside the set points into it.
        int64_t capacity = set->capacity > 0 ? int64_t{set->capacity} * 2 : kFirstCapacity;
        if (capacity > INT32_MAX) capacity = INT32_MAX;
        csys_jobRequest *grown = set->requests;
        const int32_t status =
            cblob::reallocate(capacity * static_cast<int64_t>(sizeof(csys_jobRequest)), &grown);
        if (CBLOB_FAILED(status)) return status;
        set->requests = grown;
        set->capacity = static_cast<int32_t>(capacity);
    }
    csys_jobRequest &request = set->requests[set->count++];
    request.function = function;
    request.params = *params;
    params->data = nullptr;
    params->release = nullptr;
    return 0;
}

}  // extern "C"
