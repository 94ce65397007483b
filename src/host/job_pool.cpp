// The process-wide pool of worker threads behind every job thread group.
//
// A dispatch puts a batch (its jobs, their results and a few counters; it
// lives on the caller's stack) on the open list. Idle workers take the oldest
// open batch that still accepts helpers, and every thread attached to a batch
// claims its jobs in job order, one at a time, until none is left. The caller
// claims jobs of its own batch too, then waits until every claimed job has
// finished and every helper has left the batch; only then does the batch's
// storage go away.
//
// One mutex guards all pool state; jobs themselves run without it. The pool's
// state is static storage and never comes from the memory service, so the
// live-block count and injected allocation failures are unaffected by the
// pool's lazy start. Workers start on the first dispatch that needs them,
// stay until csys_job_shutdown, and are joined at process exit.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "cblob/job.h"
#include "host/job_pool.hpp"
#include "core/require.hpp"

namespace {

constexpr int32_t kMaxWorkers = CSYS_JOB_MAX_THREADS - 1;

// One dispatch in progress. Every field but `requests`, `results` and `count`
// (fixed before the batch is published) is guarded by g_lock.
struct Batch {
    const csys_jobRequest *requests;
    csys_jobResult *results;
    int32_t count;
    int32_t next;         // the first job not claimed yet
    int32_t finished;     // jobs that have returned
    int32_t helpers;      // workers attached right now
    int32_t helperLimit;  // at most this many workers at once
    pthread_cond_t done;  // signalled when the last helper leaves a finished batch
    Batch *later;         // the next open batch
};

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
// Idle workers wait on g_conditions[g_generation]. A forked child inherits
// that condition with the parent's sleeping workers still counted as waiters
// (a broadcast in the child would wait for them forever), and initialising
// it again would initialise a live object. So each forked child initialises
// the next condition, which no process of its line has initialised or used,
// and moves on to it. After kGenerations - 1 nested forks (or a failed
// initialisation) a child runs its jobs on the calling thread.
constexpr int32_t kGenerations = 16;
pthread_cond_t g_conditions[kGenerations] = {PTHREAD_COND_INITIALIZER};  // the rest initialised by forked children
int32_t g_generation = 0;  // guarded by g_lock; kGenerations: no workers
bool workersAllowed() { return g_generation < kGenerations; }
pthread_cond_t *workAvailable() { return &g_conditions[g_generation]; }
pthread_mutex_t g_shutdownLock = PTHREAD_MUTEX_INITIALIZER;  // one shutdown at a time

Batch *g_firstOpen = nullptr;  // batches with unclaimed jobs, oldest first
pthread_t g_workers[kMaxWorkers];
int32_t g_workerCount = 0;
bool g_stopping = false;  // a shutdown is joining the workers: start none

std::atomic<int32_t> g_threadCount{0};  // 0: not decided yet
std::atomic<int32_t> g_failStarts{0};

thread_local int32_t t_jobDepth = 0;
thread_local bool t_isWorker = false;

// A default mutex cannot fail to lock or unlock in a correct program, so the
// results are not inspected.
void lock() { (void)pthread_mutex_lock(&g_lock); }
void unlock() { (void)pthread_mutex_unlock(&g_lock); }

void runJob(const csys_jobRequest &request, csys_jobResult *result) {
    ++t_jobDepth;
    result->status = request.function(&request.params, result);
    --t_jobDepth;
}

void runInline(const csys_jobRequest *requests, csys_jobResult *results, int32_t count) {
    for (int32_t i = 0; i < count; ++i) runJob(requests[i], &results[i]);
}

void openBatch(Batch *batch) {
    Batch **link = &g_firstOpen;
    while (*link) link = &(*link)->later;
    *link = batch;
}

void closeBatch(Batch *batch) {
    for (Batch **link = &g_firstOpen; *link; link = &(*link)->later) {
        if (*link == batch) {
            *link = batch->later;
            return;
        }
    }
}

Batch *batchWithRoom() {
    for (Batch *batch = g_firstOpen; batch; batch = batch->later)
        if (batch->helpers < batch->helperLimit) return batch;
    return nullptr;
}

// Claims and runs jobs of the batch until none is left to claim. Entered and
// left with g_lock held.
void drain(Batch *batch) {
    while (batch->next < batch->count) {
        const int32_t i = batch->next++;
        if (batch->next == batch->count) closeBatch(batch);
        unlock();
        runJob(batch->requests[i], &batch->results[i]);
        lock();
        ++batch->finished;
    }
}

void *workerMain(void *) {
    t_isWorker = true;
    lock();
    for (;;) {
        Batch *batch = batchWithRoom();
        if (batch) {
            ++batch->helpers;
            drain(batch);
            --batch->helpers;
            // Signalled under the lock: the caller cannot see the batch done,
            // and destroy the condition, before this call has returned.
            if (batch->helpers == 0 && batch->finished == batch->count) (void)pthread_cond_signal(&batch->done);
            continue;
        }
        if (g_stopping) break;
        (void)pthread_cond_wait(workAvailable(), &g_lock);
    }
    unlock();
    return nullptr;
}

// Starts one worker with every signal blocked, so that the host's signals
// keep going to its own threads.
bool startWorker(pthread_t *thread) {
    if (g_failStarts.load(std::memory_order_relaxed)) return false;
    sigset_t all;
    sigset_t previous;
    (void)sigfillset(&all);
    const bool masked = pthread_sigmask(SIG_SETMASK, &all, &previous) == 0;
    const bool started = pthread_create(thread, nullptr, &workerMain, nullptr) == 0;
    if (masked) (void)pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

// A forked child has only the thread that forked: none of the workers, and
// none of the other dispatchers. The locks are held across the fork so that
// the child gets them in a known state (held by the forking thread, which
// releases them), and the child forgets the workers and batches it does not
// have; its own dispatches then start new workers, waiting on a condition
// of their own. No mutex or condition is initialised again.
void lockForFork() {
    (void)pthread_mutex_lock(&g_shutdownLock);
    lock();
}
void unlockAfterForkInParent() {
    unlock();
    (void)pthread_mutex_unlock(&g_shutdownLock);
}
void resetAfterForkInChild() {
    g_firstOpen = nullptr;
    g_workerCount = 0;
    g_stopping = false;
    // The workers' condition still counts the parent's sleeping workers as
    // waiters: leave it alone and move on to one never initialised before.
    if (g_generation + 1 < kGenerations && pthread_cond_init(&g_conditions[g_generation + 1], nullptr) == 0) {
        ++g_generation;
    } else {
        g_generation = kGenerations;
    }
    unlockAfterForkInParent();
}
pthread_once_t g_forkHandlersOnce = PTHREAD_ONCE_INIT;
void installForkHandlers() {
    (void)pthread_atfork(&lockForFork, &unlockAfterForkInParent, &resetAfterForkInChild);
}

// Starts workers until `wanted` run. False when the system refused one.
// While a shutdown joins the workers, none is started and that is no
// failure. Called with g_lock held.
bool startWorkers(int32_t wanted) {
    if (wanted > kMaxWorkers) wanted = kMaxWorkers;
    if (!workersAllowed()) return true;  // nested forks beyond the conditions: the caller runs every job
    if (g_workerCount < wanted) (void)pthread_once(&g_forkHandlersOnce, &installForkHandlers);
    while (g_workerCount < wanted && !g_stopping) {
        if (!startWorker(&g_workers[g_workerCount])) return false;
        ++g_workerCount;
    }
    return true;
}

int32_t machineThreadCount() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online < 1) return 1;
    return online > CSYS_JOB_MAX_THREADS ? CSYS_JOB_MAX_THREADS : static_cast<int32_t>(online);
}

// Joins the workers when the process exits (or the shared library unloads),
// so that no thread outlives the code it runs.
struct JoinWorkersAtExit {
    ~JoinWorkersAtExit() { (void)csys_job_shutdown(); }
} g_joinWorkersAtExit;

}  // namespace

namespace cblob {
namespace jobpool {

bool insideJob() { return t_jobDepth > 0; }

void run(const csys_jobRequest *requests, csys_jobResult *results, int32_t count, int32_t threads) {
    const int32_t helperLimit = (threads < count ? threads : count) - 1;
    // Nested dispatches run inline: a job that waited for the pool could
    // hold the very worker its own jobs need.
    if (insideJob() || helperLimit < 1) {
        runInline(requests, results, count);
        return;
    }
    Batch batch;
    batch.requests = requests;
    batch.results = results;
    batch.count = count;
    batch.next = 0;
    batch.finished = 0;
    batch.helpers = 0;
    batch.helperLimit = helperLimit;
    batch.later = nullptr;
    if (pthread_cond_init(&batch.done, nullptr) != 0) {
        runInline(requests, results, count);
        return;
    }
    lock();
    // A worker that cannot be started only means fewer helpers: the caller
    // runs whatever the workers do not.
    (void)startWorkers(helperLimit);
    if (g_workerCount > 0) {
        openBatch(&batch);
        (void)pthread_cond_broadcast(workAvailable());
    }
    drain(&batch);
    while (batch.helpers > 0 || batch.finished < batch.count) (void)pthread_cond_wait(&batch.done, &g_lock);
    unlock();
    (void)pthread_cond_destroy(&batch.done);
}

}  // namespace jobpool
}  // namespace cblob

extern "C" {

int32_t csys_job_setThreadCount(int32_t threadCount) {
    if (threadCount < 1 || threadCount > CSYS_JOB_MAX_THREADS) return csys_err_badThreadCount;
    g_threadCount.store(threadCount, std::memory_order_relaxed);
    return 0;
}

int32_t csys_job_getThreadCount(int32_t *threadCount) {
    CBLOB_REQUIRE_ARG(threadCount);
    int32_t count = g_threadCount.load(std::memory_order_relaxed);
    if (count == 0) {
        int32_t undecided = 0;
        count = machineThreadCount();
        // A count set meanwhile wins over the default.
        if (!g_threadCount.compare_exchange_strong(undecided, count, std::memory_order_relaxed)) count = undecided;
    }
    *threadCount = count;
    return 0;
}

int32_t csys_job_startThreads(void) {
    int32_t threads = 1;
    int32_t status = csys_job_getThreadCount(&threads);
    if (CBLOB_FAILED(status)) return status;
    lock();
    if (!startWorkers(threads - 1)) status = csys_err_threadStart;
    unlock();
    return status;
}

int32_t csys_job_shutdown(void) {
    // A job or a worker would wait for itself.
    if (t_jobDepth > 0 || t_isWorker) return csys_err_jobNesting;
    (void)pthread_mutex_lock(&g_shutdownLock);
    lock();
    g_stopping = true;
    const int32_t count = g_workerCount;
    if (count > 0) (void)pthread_cond_broadcast(workAvailable());
    unlock();
    // No worker is started while g_stopping holds, so g_workers[0..count)
    // stays as it was.
    for (int32_t i = 0; i < count; ++i) (void)pthread_join(g_workers[i], nullptr);
    lock();
    g_workerCount = 0;
    g_stopping = false;
    unlock();
    (void)pthread_mutex_unlock(&g_shutdownLock);
    return 0;
}

int32_t csys_job_getWorkerCount(int32_t *count) {
    CBLOB_REQUIRE_ARG(count);
    lock();
    *count = g_workerCount;
    unlock();
    return 0;
}

void csys_job_failThreadStarts(int32_t fail) { g_failStarts.store(fail ? 1 : 0, std::memory_order_relaxed); }

}  // extern "C"
