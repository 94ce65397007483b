// Job thread groups: how many threads a dispatch uses, and the dispatch
// itself, which prepares the results and hands the jobs to the worker pool.
#include "cblob/job.h"
#include "host/job_pool.hpp"
#include "core/require.hpp"
#include "core/frame.hpp"

namespace {
bool validThreadCount(int32_t threads) { return threads >= 1 && threads <= CSYS_JOB_MAX_THREADS; }
}  // namespace

extern "C" {

int32_t csys_jobThreadGroup_construct(csys_jobThreadGroup *group) {
    CBLOB_REQUIRE_ARG(group);
    int32_t threads = 1;
    const int32_t status = csys_job_getThreadCount(&threads);
    if (CBLOB_FAILED(status)) return status;
    group->threadCount = threads;
    return 0;
}

int32_t csys_jobThreadGroup_destruct(csys_jobThreadGroup *group) {
    CBLOB_REQUIRE_ARG(group);
    group->threadCount = 0;
    return 0;
}

int32_t csys_jobThreadGroup_setThreadCount(csys_jobThreadGroup *group, int32_t threadCount) {
    CBLOB_REQUIRE_ARG(group);
    if (!validThreadCount(threadCount)) return csys_err_badThreadCount;
    group->threadCount = threadCount;
    return 0;
}

int32_t csys_jobGetCurrentThreadState(int32_t *threads, const csys_jobThreadGroup *group) {
    CBLOB_REQUIRE_ARG(threads);
    CBLOB_REQUIRE_ARG(group);
    if (!validThreadCount(group->threadCount)) return csys_err_badThreadCount;
    *threads = cblob::jobpool::insideJob() ? 1 : group->threadCount;
    return 0;
}

int32_t csys_jobThreadGroup_dispatchAndWait(const csys_jobThreadGroup *group, const csys_jobRequestSet *requests,
                                            csys_jobResultSet *results) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, group);
    CBLOB_FRAME_REQUIRE(f, requests);
    CBLOB_FRAME_REQUIRE(f, results);
    CBLOB_FRAME_CHECK(f, validThreadCount(group->threadCount), csys_err_badThreadCount);
    const int32_t count = requests->count;

    // The new result array first, so that an allocation failure leaves the
    // result set as it was.
    csys_jobResult *fresh = nullptr;
    if (count > 0) {
        CBLOB_FRAME_TRY(f, cblob::allocateClear(int64_t{count} * static_cast<int64_t>(sizeof(csys_jobResult)), &fresh));
    }
    // From here on nothing fails: the array goes straight into the set.
    csys_jobResultSet previous = *results;
    results->results = fresh;
    results->count = count;
    const int32_t released = csys_jobResultSet_destruct(&previous);

    cblob::jobpool::run(requests->requests, results->results, count, group->threadCount);

    // The first failure in job order wins, whichever job failed first in time.
    for (int32_t i = 0; i < count; ++i) {
        if (CBLOB_FAILED(results->results[i].status)) {
            f.status = results->results[i].status;
            return f.exit();
        }
    }
    f.status = released;
    return f.exit();
}

}  // extern "C"
