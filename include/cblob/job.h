/*
 * cblob host services: jobs and job thread groups.
 *
 * A caller builds an ordered set of jobs (a function and its parameter block
 * each), hands it to a thread group and waits until every job has finished:
 *
 *   csys_jobThreadGroup group;   csys_jobThreadGroup_construct(&group);
 *   csys_jobRequestSet requests; csys_jobRequestSet_construct(&requests);
 *   csys_jobResultSet results;   csys_jobResultSet_construct(&results);
 *   for each band:
 *       csys_jobParams params;   csys_jobParams_construct(&params);
 *       allocate `block`, fill it;
 *       csys_jobParams_takeData(&params, &block, csys_memory_free_internal);
 *       csys_jobRequestSet_addFuncAndParams(&requests, bandJob, &params);
 *       csys_jobParams_destruct(&params);
 *   status = csys_jobThreadGroup_dispatchAndWait(&group, &requests, &results);
 *   read or take the result blocks, in job order;
 *   destruct results, requests and group.
 *
 * A job function reads its parameter block with csys_jobParams_getDataConst
 * and hands a result block over with csys_jobResult_takeData. Jobs run
 * concurrently: they may read shared inputs and write only their own blocks.
 *
 * The threads come from one process-wide pool of worker threads. No thread
 * exists until the first dispatch that needs one; the pool then keeps its
 * threads, idle between dispatches, until csys_job_shutdown or process exit.
 * The calling thread always runs jobs of its own dispatch too, so a group of
 * T threads uses the caller and at most T - 1 workers.
 *
 * The pool's own state is static storage, so it never allocates through the
 * memory service: the live-block count and injected allocation failures see
 * only the sets and blocks of the calls above.
 */
#ifndef CBLOB_JOB_H
#define CBLOB_JOB_H

#include <stdint.h>

#include "cblob/export.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/** The largest thread count a group or the pool accepts. */
#define CSYS_JOB_MAX_THREADS 1024

/**
 * Frees a parameter or result block: called with the address of the pointer
 * variable that holds the block, which it sets to null. csys_memory_free_internal
 * has exactly this form.
 */
typedef int32_t (*csys_jobDataRelease)(void **data);

/* ------------------------------------------------------------- parameters */

/** One job's parameter block, owned together with the function that frees it. */
typedef struct csys_jobParams {
    void *data;                  /* the owned block, or null */
    csys_jobDataRelease release; /* frees data; null when data is null */
} csys_jobParams;

/** Constructs empty parameters. Returns 0; csys_err_assertFailed for a null p. */
CBLOB_API int32_t csys_jobParams_construct(csys_jobParams *p);

/**
 * Frees the block held (if any) with its release function and leaves p empty.
 * Returns 0 or the release function's failure; csys_err_assertFailed for a
 * null p.
 */
CBLOB_API int32_t csys_jobParams_destruct(csys_jobParams *p);

/**
 * Takes ownership of the heap block in *data, which `release` will free, and
 * sets *data to null. A block p already held is freed first.
 * Returns 0; the failure of freeing the block held before (the new block is
 * taken all the same); csys_err_noJobData when *data is null (nothing
 * changes); csys_err_assertFailed for a null p, data or release.
 */
CBLOB_API int32_t csys_jobParams_takeData(csys_jobParams *p, void **data, csys_jobDataRelease release);

/**
 * Writes the block p holds to *data (p keeps it). Returns 0;
 * csys_err_noJobData when p holds no block (*data untouched);
 * csys_err_assertFailed for a null p or data. Safe from several threads at
 * once, as long as nobody changes p meanwhile.
 */
CBLOB_API int32_t csys_jobParams_getDataConst(const csys_jobParams *p, const void **data);

/* ---------------------------------------------------------------- results */

/** One job's result: its status and the result block it handed over. */
typedef struct csys_jobResult {
    void *data;                  /* the owned block, or null */
    csys_jobDataRelease release; /* frees data; null when data is null */
    int32_t status;              /* what the job function returned */
} csys_jobResult;

/**
 * Called by a job function: hands the block in *data over to its result,
 * which will free it with `release`, and sets *data to null. A block the
 * result already held is freed first.
 * Returns as csys_jobParams_takeData.
 */
CBLOB_API int32_t csys_jobResult_takeData(csys_jobResult *result, void **data, csys_jobDataRelease release);

/**
 * Writes the block the result holds to *data (the result keeps it).
 * Returns 0; csys_err_noJobData when it holds none; csys_err_assertFailed for
 * a null result or data.
 */
CBLOB_API int32_t csys_jobResult_getDataConst(const csys_jobResult *result, const void **data);

/** Writes the status the job function returned. Returns 0 or csys_err_assertFailed. */
CBLOB_API int32_t csys_jobResult_getStatus(const csys_jobResult *result, int32_t *status);

/* ---------------------------------------------------------- request sets */

/**
 * A job: reads its parameters and may hand a result block to `result`.
 * Returns its status; the group returns the first failure in job order.
 * May run on any thread of the pool, and concurrently with the other jobs
 * of its set.
 */
typedef int32_t (*csys_jobFunction)(const csys_jobParams *params, csys_jobResult *result);

typedef struct csys_jobRequest {
    csys_jobFunction function;
    csys_jobParams params;
} csys_jobRequest;

/** An ordered set of jobs. Its array comes from the memory service. */
typedef struct csys_jobRequestSet {
    csys_jobRequest *requests; /* `count` jobs in the order they were added */
    int32_t count;
    int32_t capacity;
} csys_jobRequestSet;

/** Constructs an empty set (no allocation). Returns 0 or csys_err_assertFailed. */
CBLOB_API int32_t csys_jobRequestSet_construct(csys_jobRequestSet *set);

/**
 * Frees every job's parameter block and the set's array; the set is empty
 * afterwards. Returns 0, the first failure of a release function, or
 * csys_err_assertFailed for a null set.
 */
CBLOB_API int32_t csys_jobRequestSet_destruct(csys_jobRequestSet *set);

/**
 * Appends a job. The set takes over the block `params` holds (params is left
 * empty and still needs its destruct, which then does nothing); params
 * without a block are allowed (the job's getDataConst then reports
 * csys_err_noJobData). The set may be dispatched any number of times.
 * Returns 0; the memory service's failure (the set and params unchanged);
 * csys_err_badSize when the set already holds INT32_MAX jobs;
 * csys_err_assertFailed for a null set, function or params.
 */
CBLOB_API int32_t csys_jobRequestSet_addFuncAndParams(csys_jobRequestSet *set, csys_jobFunction function,
                                                      csys_jobParams *params);

/* ----------------------------------------------------------- result sets */

/** One result per job of the last dispatch, in job order. */
typedef struct csys_jobResultSet {
    csys_jobResult *results;
    int32_t count;
} csys_jobResultSet;

/** Constructs an empty set (no allocation). Returns 0 or csys_err_assertFailed. */
CBLOB_API int32_t csys_jobResultSet_construct(csys_jobResultSet *set);

/**
 * Frees every result block still in the set and the set's array; the set is
 * empty afterwards. Returns 0, the first failure of a release function, or
 * csys_err_assertFailed for a null set.
 */
CBLOB_API int32_t csys_jobResultSet_destruct(csys_jobResultSet *set);

/**
 * Writes the result array (valid until the set's next dispatch or destruct)
 * and its length. An empty set gives a null array and 0.
 * Returns 0 or csys_err_assertFailed for a null argument.
 */
CBLOB_API int32_t csys_jobResultSet_getResultsArrayConst(const csys_jobResultSet *set, const csys_jobResult **array,
                                                         int32_t *count);

/**
 * Takes the block of result `index` (0-based, job order) out of the set: the
 * caller owns it from now on and frees it with the release function the job
 * handed over, written to *release when release is not null. The result then
 * holds no block; its status stays.
 * Returns 0; csys_err_badJobIndex for an index outside 0..count-1;
 * csys_err_noJobData when that result holds no block; csys_err_assertFailed
 * for a null set or data. Outputs are written only on success.
 */
CBLOB_API int32_t csys_jobResultSet_takeResultData(csys_jobResultSet *set, int32_t index, void **data,
                                                   csys_jobDataRelease *release);

/* ---------------------------------------------------------- thread groups */

/** How many threads one dispatch may use. Holds no thread itself. */
typedef struct csys_jobThreadGroup {
    int32_t threadCount; /* 1..CSYS_JOB_MAX_THREADS; 0 once destructed */
} csys_jobThreadGroup;

/**
 * Constructs a group with the pool's current thread count
 * (csys_job_getThreadCount). Starts no thread and allocates nothing.
 * Returns 0 or csys_err_assertFailed.
 */
CBLOB_API int32_t csys_jobThreadGroup_construct(csys_jobThreadGroup *group);

/** Destructs a group. Returns 0 or csys_err_assertFailed. */
CBLOB_API int32_t csys_jobThreadGroup_destruct(csys_jobThreadGroup *group);

/**
 * Sets how many threads this group uses, independently of the pool's count.
 * Returns 0; csys_err_badThreadCount for a count outside
 * 1..CSYS_JOB_MAX_THREADS (group unchanged); csys_err_assertFailed.
 */
CBLOB_API int32_t csys_jobThreadGroup_setThreadCount(csys_jobThreadGroup *group, int32_t threadCount);

/**
 * How many threads a dispatch on this group made by the calling thread will
 * use: the group's count, or 1 when called from inside a job (nested
 * dispatches run inline). Callers size their bands by it.
 * Returns 0; csys_err_badThreadCount for a destructed group;
 * csys_err_assertFailed for a null argument.
 */
CBLOB_API int32_t csys_jobGetCurrentThreadState(int32_t *threads, const csys_jobThreadGroup *group);

/**
 * Runs every job of `requests` and returns when all have finished.
 *
 * Jobs are claimed in order by the calling thread and by up to
 * min(threads, jobs) - 1 pool workers, started on first need. A dispatch
 * from inside a job runs its jobs one after the other on the calling thread,
 * so nested dispatches never wait for a busy pool. If worker threads cannot
 * be started, the jobs run on the threads there are (at least the caller);
 * csys_job_startThreads reports such a failure.
 *
 * Every job runs, even after another has failed. `results` is first given
 * one empty result per job (the blocks of its previous results are freed);
 * afterwards result i holds job i's status and block, also when the
 * dispatch fails, and the result set frees unclaimed blocks on destruct.
 *
 * Returns 0 when every job succeeded; else the status of the first failing
 * job in job order; else a failure of freeing the previous results' blocks;
 * the memory service's failure when the result array
 * cannot be allocated (no job runs and `results` is unchanged);
 * csys_err_badThreadCount for a destructed group; csys_err_assertFailed for a
 * null argument.
 *
 * Thread-safety: several threads may dispatch at once, on one group or on
 * different groups; a request set may be dispatched by several threads at
 * once, but each dispatch needs its own result set.
 */
CBLOB_API int32_t csys_jobThreadGroup_dispatchAndWait(const csys_jobThreadGroup *group,
                                                      const csys_jobRequestSet *requests,
                                                      csys_jobResultSet *results);

/* -------------------------------------------------------------- the pool */

/**
 * Sets the thread count of groups constructed from now on (existing groups
 * keep theirs). Lowering it stops no worker: surplus workers stay idle until
 * csys_job_shutdown. Returns 0; csys_err_badThreadCount for a count outside
 * 1..CSYS_JOB_MAX_THREADS (nothing changes).
 */
CBLOB_API int32_t csys_job_setThreadCount(int32_t threadCount);

/**
 * Writes the thread count new groups get: the last count set, or by default
 * the machine's online hardware threads (at least 1, at most
 * CSYS_JOB_MAX_THREADS). Returns 0 or csys_err_assertFailed.
 */
CBLOB_API int32_t csys_job_getThreadCount(int32_t *threadCount);

/**
 * Starts the workers a group of the current thread count needs, now rather
 * than at the first dispatch. Returns 0; csys_err_threadStart when some
 * could not be started (those that were keep running; dispatches use them).
 */
CBLOB_API int32_t csys_job_startThreads(void);

/**
 * Stops and joins every worker thread; the next dispatch that needs workers
 * starts them again. Dispatches running meanwhile still complete (their
 * callers run the remaining jobs). Also done at process exit.
 * Returns 0; csys_err_jobNesting when called from inside a job or from a
 * worker thread (nothing happens).
 */
CBLOB_API int32_t csys_job_shutdown(void);

/**
 * Writes the number of worker threads the pool runs (callers not counted).
 * Returns 0 or csys_err_assertFailed.
 */
CBLOB_API int32_t csys_job_getWorkerCount(int32_t *count);

/**
 * Test hook: while `fail` is non-zero, starting a worker thread fails as if
 * the system refused it.
 */
CBLOB_API void csys_job_failThreadStarts(int32_t fail);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_JOB_H */
