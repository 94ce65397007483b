// What the thread groups need of the process-wide worker pool.
#ifndef CBLOB_HOST_JOB_POOL_HPP
#define CBLOB_HOST_JOB_POOL_HPP

#include "cblob/job.h"

namespace cblob {
namespace jobpool {

// True while the calling thread runs a job (on a worker or as a dispatching
// caller). Dispatches made then run inline.
bool insideJob();

// Runs requests[i] into results[i] for every i < count, on the calling thread
// and on up to min(threads, count) - 1 workers, and returns when all have
// finished. Stores each job's status in its result. Cannot fail: when no
// worker can be had, the calling thread runs every job itself.
void run(const csys_jobRequest *requests, csys_jobResult *results, int32_t count, int32_t threads);

}  // namespace jobpool
}  // namespace cblob

#endif
