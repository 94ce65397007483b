// Job parameters, request and result sets, thread groups and the worker pool.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>
#include <vector>

#include "cblob/job.h"
#include "cblob/sys.h"
#include "core/frame.hpp"
#include "support/fault_injection.hpp"

namespace {

// What jobs share with the test: how many run at once and on which threads.
struct Tracker {
    std::atomic<int> active{0}, maxActive{0};
    std::mutex lock;
    std::set<std::thread::id> threads;

    void enter() {
        const int now = ++active;
        for (int seen = maxActive.load(); now > seen && !maxActive.compare_exchange_weak(seen, now);) {
        }
        std::lock_guard<std::mutex> hold(lock);
        threads.insert(std::this_thread::get_id());
    }
};

struct SliceParams {
    const int64_t *values;
    int32_t begin, end, index;
    int32_t failWith;  // non-zero: the job returns it without a result
    int32_t delayMs;   // sleep first, so that later jobs finish earlier
    Tracker *tracker;
};

struct SliceResult {
    int64_t sum;
    int32_t index;
};

int32_t sumSlice(const csys_jobParams *params, csys_jobResult *result) {
    const void *data = nullptr;
    int32_t status = csys_jobParams_getDataConst(params, &data);
    if (CBLOB_FAILED(status)) return status;
    const auto *p = static_cast<const SliceParams *>(data);
    if (p->tracker) p->tracker->enter();
    std::this_thread::sleep_for(std::chrono::milliseconds(p->delayMs));
    status = p->failWith;
    SliceResult *out = nullptr;
    if (!CBLOB_FAILED(status)) status = cblob::allocate(sizeof(SliceResult), &out);
    if (!CBLOB_FAILED(status)) {
        *out = SliceResult{std::accumulate(p->values + p->begin, p->values + p->end, int64_t{0}), p->index};
        status = csys_jobResult_takeData(result, reinterpret_cast<void **>(&out), &csys_memory_free_internal);
        cblob::release(&out);
    }
    if (p->tracker) --p->tracker->active;
    return status;
}

// Adds `jobs` slice jobs over `values` to the set; job i gets failures[i] and delays[i].
int32_t addSliceJobs(csys_jobRequestSet *requests, const std::vector<int64_t> &values, int32_t jobs,
                     Tracker *tracker = nullptr, const std::vector<int32_t> &failures = {},
                     const std::vector<int32_t> &delays = {}) {
    const int64_t n = static_cast<int64_t>(values.size());
    for (int32_t i = 0; i < jobs; ++i) {
        SliceParams *p = nullptr;
        int32_t status = cblob::allocate(sizeof(SliceParams), &p);
        if (CBLOB_FAILED(status)) return status;
        *p = SliceParams{values.data(), static_cast<int32_t>(n * i / jobs), static_cast<int32_t>(n * (i + 1) / jobs), i,
                         failures.empty() ? 0 : failures[i], delays.empty() ? 0 : delays[i], tracker};
        csys_jobParams params;
        csys_jobParams_construct(&params);
        status = csys_jobParams_takeData(&params, reinterpret_cast<void **>(&p), &csys_memory_free_internal);
        if (!CBLOB_FAILED(status)) status = csys_jobRequestSet_addFuncAndParams(requests, &sumSlice, &params);
        csys_jobParams_destruct(&params);
        cblob::release(&p);
        if (CBLOB_FAILED(status)) return status;
    }
    return 0;
}

int32_t addJobs(csys_jobRequestSet *requests, csys_jobFunction func, int32_t jobs) {
    int32_t status = 0;
    for (int32_t i = 0; i < jobs && !CBLOB_FAILED(status); ++i) {
        csys_jobParams none;
        csys_jobParams_construct(&none);
        status = csys_jobRequestSet_addFuncAndParams(requests, func, &none);
    }
    return status;
}

std::vector<int64_t> numbers(int32_t n) {
    std::vector<int64_t> v(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) v[static_cast<size_t>(i)] = int64_t{i} * i % 1009 - 500;
    return v;
}

// The model: slice sums as addSliceJobs cuts them.
int64_t sliceSum(const std::vector<int64_t> &v, int32_t jobs, int32_t i) {
    const int64_t n = static_cast<int64_t>(v.size());
    return std::accumulate(v.begin() + n * i / jobs, v.begin() + n * (i + 1) / jobs, int64_t{0});
}

// A thread group with a request set and a result set, released at scope exit.
struct Dispatch {
    csys_jobThreadGroup group;
    csys_jobRequestSet requests;
    csys_jobResultSet results;
    explicit Dispatch(int32_t threads = 0) {
        csys_jobThreadGroup_construct(&group);
        csys_jobRequestSet_construct(&requests);
        csys_jobResultSet_construct(&results);
        EXPECT_EQ(threads ? csys_jobThreadGroup_setThreadCount(&group, threads) : 0, 0);
    }
    ~Dispatch() {
        csys_jobResultSet_destruct(&results);
        csys_jobRequestSet_destruct(&requests);
    }
    int32_t run() { return csys_jobThreadGroup_dispatchAndWait(&group, &requests, &results); }
    const SliceResult *slice(int32_t i) const { return static_cast<const SliceResult *>(results.results[i].data); }
};

// Runs `jobs` slice jobs on a group of `threads`; checks sums in job order.
void expectSlicesSummed(int32_t threads, int32_t jobs, Tracker *tracker) {
    const std::vector<int64_t> values = numbers(997);
    Dispatch d(threads);
    ASSERT_EQ(addSliceJobs(&d.requests, values, jobs, tracker), 0);
    ASSERT_EQ(d.run(), 0);
    const csys_jobResult *array = nullptr;
    int32_t count = -1;
    ASSERT_EQ(csys_jobResultSet_getResultsArrayConst(&d.results, &array, &count), 0);
    ASSERT_EQ(count, jobs);
    for (int32_t i = 0; i < jobs; ++i) {
        const void *data = nullptr;
        ASSERT_EQ(csys_jobResult_getDataConst(&array[i], &data), 0);
        EXPECT_EQ(static_cast<const SliceResult *>(data)->index, i);
        EXPECT_EQ(static_cast<const SliceResult *>(data)->sum, sliceSum(values, jobs, i));
    }
}

TEST(JobBlocks, TakeGetAndRelease) {
    const int64_t before = csys_memory_getLiveBlockCount();
    csys_jobParams params;
    csys_jobParams_construct(&params);
    const void *seen = nullptr;
    void *block = nullptr;
    EXPECT_EQ(csys_jobParams_getDataConst(&params, &seen), csys_err_noJobData);
    EXPECT_EQ(csys_jobParams_takeData(&params, &block, &csys_memory_free_internal), csys_err_noJobData);
    for (int round = 0; round < 2; ++round) {  // the second block replaces and frees the first
        ASSERT_EQ(csys_memory_alloc_internal(16, &block), 0);
        void *const taken = block;
        EXPECT_EQ(csys_jobParams_takeData(&params, &block, &csys_memory_free_internal), 0);
        EXPECT_EQ(csys_jobParams_getDataConst(&params, &seen), 0);
        EXPECT_TRUE(block == nullptr && seen == taken);
        EXPECT_EQ(csys_memory_getLiveBlockCount(), before + 1);
    }
    EXPECT_EQ(csys_jobParams_destruct(&params), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);

    cblobtest::AssertCatcher asserts;
    csys_jobResult result{};
    EXPECT_EQ(csys_jobParams_takeData(nullptr, &block, &csys_memory_free_internal), csys_err_assertFailed);
    EXPECT_EQ(csys_jobResult_takeData(&result, &block, nullptr), csys_err_assertFailed);
    EXPECT_EQ(csys_jobResult_getDataConst(&result, nullptr), csys_err_assertFailed);
    EXPECT_EQ(csys_jobRequestSet_addFuncAndParams(nullptr, &sumSlice, &params), csys_err_assertFailed);
    EXPECT_EQ(csys_jobThreadGroup_dispatchAndWait(nullptr, nullptr, nullptr), csys_err_assertFailed);
    EXPECT_EQ(asserts.count(), 5);
}

TEST(JobDispatch, SumsSlicesInJobOrderOnAnyThreadCount) {
    const int64_t before = csys_memory_getLiveBlockCount();
    for (int32_t threads = 1; threads <= 8; ++threads) {
        for (int32_t jobs : {0, 1, 5, 100}) {
            SCOPED_TRACE(::testing::Message() << threads << " threads, " << jobs << " jobs");
            Tracker tracker;
            expectSlicesSummed(threads, jobs, &tracker);
            EXPECT_LE(tracker.maxActive.load(), threads);
            EXPECT_LE(static_cast<int32_t>(tracker.threads.size()), threads);
            EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
        }
    }
}

// Each of T jobs waits until all T have started: it passes only when the
// group really runs T jobs at once.
std::atomic<int32_t> g_arrived{0}, g_expected{0};
int32_t rendezvous(const csys_jobParams *, csys_jobResult *) {
    ++g_arrived;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_arrived.load() < g_expected.load()) {
        if (std::chrono::steady_clock::now() > deadline) return csys_err_threadStart;
        std::this_thread::yield();
    }
    return 0;
}

TEST(JobDispatch, RunsAsManyJobsAtOnceAsTheGroupHasThreads) {
    for (int32_t threads = 2; threads <= 8; ++threads) {
        g_arrived = 0;
        g_expected = threads;
        Dispatch d(threads);
        ASSERT_EQ(addJobs(&d.requests, &rendezvous, threads), 0);
        EXPECT_EQ(d.run(), 0) << threads << " threads";
        int32_t workers = 0;
        csys_job_getWorkerCount(&workers);
        EXPECT_GE(workers, threads - 1);
    }
}

TEST(JobDispatch, ReturnsFirstFailureInJobOrderAndReleasesEverything) {
    const int64_t before = csys_memory_getLiveBlockCount();
    const std::vector<int64_t> values = numbers(100);
    // Job 3 fails late, job 7 early: job order decides, not time.
    std::vector<int32_t> failures(10, 0), delays(10, 0);
    failures[3] = cblob_err_badThresh;
    delays[3] = 50;
    failures[7] = cblob_err_badMeasure;
    for (int32_t threads : {1, 4}) {
        {
            Dispatch d(threads);
            ASSERT_EQ(addSliceJobs(&d.requests, values, 10, nullptr, failures, delays), 0);
            EXPECT_EQ(d.run(), cblob_err_badThresh);
            // Every job ran: failures have their status and no block, the rest their sums.
            ASSERT_EQ(d.results.count, 10);
            for (int32_t i = 0; i < 10; ++i) {
                int32_t status = 0;
                const void *data = nullptr;
                csys_jobResult_getStatus(&d.results.results[i], &status);
                EXPECT_EQ(status, failures[static_cast<size_t>(i)]);
                EXPECT_EQ(csys_jobResult_getDataConst(&d.results.results[i], &data) == 0, status == 0);
                if (status == 0) {
                    EXPECT_EQ(d.slice(i)->sum, sliceSum(values, 10, i));
                }
            }
        }
        EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
    }
}

TEST(JobDispatch, ConcurrentDispatchersOnTheirOwnGroups) {
    const int64_t before = csys_memory_getLiveBlockCount();
    std::vector<std::thread> dispatchers;
    for (int t = 0; t < 6; ++t) {
        dispatchers.emplace_back([t] {
            for (int round = 0; round < 20; ++round) expectSlicesSummed(1 + (t + round) % 4, 7 + t, nullptr);
        });
    }
    for (std::thread &d : dispatchers) d.join();
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
}

// Each outer job dispatches 10 inner slice jobs on a group of its own, which
// runs them inline; the pool refuses to shut down from inside a job.
int32_t nestedJob(const csys_jobParams *, csys_jobResult *result) {
    Dispatch d;
    int32_t threads = 0;
    int32_t status = csys_jobGetCurrentThreadState(&threads, &d.group);
    if (!CBLOB_FAILED(status) && threads != 1) status = cblob_err_notApplicable;
    const std::vector<int64_t> values = numbers(50);
    if (!CBLOB_FAILED(status)) status = addSliceJobs(&d.requests, values, 10);
    if (!CBLOB_FAILED(status)) status = d.run();
    if (!CBLOB_FAILED(status)) status = csys_job_shutdown() == csys_err_jobNesting ? 0 : cblob_err_notApplicable;
    int64_t *total = nullptr;
    if (!CBLOB_FAILED(status)) status = cblob::allocateClear(sizeof(int64_t), &total);
    for (int32_t i = 0; !CBLOB_FAILED(status) && i < d.results.count; ++i) *total += d.slice(i)->sum;
    if (!CBLOB_FAILED(status))
        status = csys_jobResult_takeData(result, reinterpret_cast<void **>(&total), &csys_memory_free_internal);
    cblob::release(&total);
    return status;
}

TEST(JobDispatch, NestedDispatchRunsInline) {
    const std::vector<int64_t> values = numbers(50);
    Dispatch d(4);
    ASSERT_EQ(addJobs(&d.requests, &nestedJob, 8), 0);
    ASSERT_EQ(d.run(), 0);
    ASSERT_EQ(d.results.count, 8);
    for (int32_t i = 0; i < d.results.count; ++i)
        EXPECT_EQ(*static_cast<int64_t *>(d.results.results[i].data), std::accumulate(values.begin(), values.end(), int64_t{0}));
}

TEST(JobResults, CallerTakesBlocksOut) {
    const int64_t before = csys_memory_getLiveBlockCount();
    const std::vector<int64_t> values = numbers(40);
    void *taken = nullptr;
    csys_jobDataRelease release = nullptr;
    {
        Dispatch d;
        ASSERT_EQ(addSliceJobs(&d.requests, values, 4), 0);
        ASSERT_EQ(d.run(), 0);
        EXPECT_EQ(csys_jobResultSet_takeResultData(&d.results, 4, &taken, &release), csys_err_badJobIndex);
        EXPECT_EQ(csys_jobResultSet_takeResultData(&d.results, -1, &taken, &release), csys_err_badJobIndex);
        ASSERT_EQ(csys_jobResultSet_takeResultData(&d.results, 2, &taken, &release), 0);
        EXPECT_EQ(release, &csys_memory_free_internal);
        EXPECT_EQ(static_cast<SliceResult *>(taken)->sum, sliceSum(values, 4, 2));
        EXPECT_EQ(csys_jobResultSet_takeResultData(&d.results, 2, &taken, nullptr), csys_err_noJobData);
        const void *data = nullptr;
        EXPECT_EQ(csys_jobResult_getDataConst(&d.results.results[2], &data), csys_err_noJobData);
    }
    // The taken block outlives the sets, whose other blocks went with them.
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before + 1);
    EXPECT_EQ(release(&taken), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
}

// Restores the pool's thread count and test hook when a test ends.
struct PoolSettings {
    int32_t saved = 0;
    PoolSettings() { csys_job_getThreadCount(&saved); }
    ~PoolSettings() {
        csys_job_failThreadStarts(0);
        csys_job_setThreadCount(saved);
    }
};

TEST(JobPool, ThreadCountsAndLifecycle) {
    PoolSettings restore;
    int32_t count = 0;
    for (int32_t bad : {0, -3, CSYS_JOB_MAX_THREADS + 1}) EXPECT_EQ(csys_job_setThreadCount(bad), csys_err_badThreadCount);
    ASSERT_EQ(csys_job_setThreadCount(5), 0);
    csys_jobThreadGroup group;
    csys_jobThreadGroup_construct(&group);  // takes the pool's count
    EXPECT_EQ(csys_jobGetCurrentThreadState(&count, &group), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(csys_jobThreadGroup_setThreadCount(&group, 0), csys_err_badThreadCount);
    auto workers = [] {
        int32_t n = -1;
        csys_job_getWorkerCount(&n);
        return n;
    };
    // Workers start on the first dispatch that needs them.
    ASSERT_EQ(csys_job_shutdown(), 0);
    EXPECT_EQ(workers(), 0);
    expectSlicesSummed(1, 10, nullptr);
    EXPECT_EQ(workers(), 0);
    expectSlicesSummed(3, 10, nullptr);
    EXPECT_EQ(workers(), 2);
    // Without workers every job runs on the calling thread.
    ASSERT_EQ(csys_job_shutdown(), 0);
    csys_job_failThreadStarts(1);
    Tracker tracker;
    expectSlicesSummed(4, 10, &tracker);
    EXPECT_EQ(tracker.threads.size(), 1u);
    EXPECT_EQ(csys_job_startThreads(), csys_err_threadStart);
    csys_job_failThreadStarts(0);
    EXPECT_EQ(csys_job_startThreads(), 0);
    EXPECT_EQ(workers(), 4);
    csys_jobThreadGroup_destruct(&group);
    EXPECT_EQ(csys_jobGetCurrentThreadState(&count, &group), csys_err_badThreadCount);
}

// Whether 9 slice jobs on a group of 3 give their sums, for a forked child
// that cannot report through the test's assertions.
bool slicesSummedInChild() {
    const std::vector<int64_t> values = numbers(100);
    Dispatch d(3);
    bool ok = addSliceJobs(&d.requests, values, 9) == 0 && d.run() == 0;
    for (int32_t i = 0; ok && i < 9; ++i) ok = d.slice(i)->sum == sliceSum(values, 9, i);
    return ok;
}

// A child forked while workers run has none of them; its dispatches start
// their own. Forks within forks: every generation starts workers of its own
// and dispatches to them (each waits on a condition its parents never used),
// also when its parent's workers were asleep at the fork.
TEST(JobPool, ForkedChildrenDispatch) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' runtimes cannot start threads after a multi-threaded fork";
#endif
    ASSERT_EQ(csys_job_startThreads(), 0);
    expectSlicesSummed(3, 20, nullptr);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        alarm(60);  // a hang in the child fails the test instead of stalling it
        int32_t workers = -1;
        if (csys_job_getWorkerCount(&workers) != 0 || workers != 0) _exit(5);
        // Each generation: start workers, dispatch, fork the next one while
        // its workers sleep, then dispatch again once the next has ended.
        for (int depth = 0; depth < 20; ++depth) {
            if (!slicesSummedInChild()) _exit(1);
            if (depth == 0 && (csys_job_getWorkerCount(&workers) != 0 || workers != 2)) _exit(6);
            const pid_t next = fork();
            if (next == -1) _exit(2);
            if (next != 0) {
                int wstatus = 0;
                if (waitpid(next, &wstatus, 0) != next || !WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) _exit(3);
                _exit(slicesSummedInChild() && csys_job_shutdown() == 0 ? 0 : 4);
            }
        }
        _exit(0);
    }
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << WEXITSTATUS(wstatus);
}

}  // namespace
