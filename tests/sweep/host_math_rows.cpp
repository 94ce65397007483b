// Sweep rows of the host services (memory, cleanup list, assertions,
// attention check, stopwatch, shared counts and handles, jobs), the geometry
// services and the status names.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "cblob/cblob.h"
#include "support/api_sweep.hpp"

namespace {

using namespace cblobtest::sweep;

// The first failure among the statuses of calls listed in a braced list
// (evaluated left to right, so later calls may read earlier outputs), or 0.
int32_t firstFailure(std::initializer_list<int32_t> statuses) {
    for (const int32_t s : statuses)
        if (s < 0) return s;
    return 0;
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> lists) {
    std::vector<std::string> all;
    for (const auto &l : lists) all.insert(all.end(), l.begin(), l.end());
    return all;
}

// A row whose calls need nothing built first: all of f runs without allocating.
Row pure(std::vector<std::string> names, int32_t (*f)()) {
    return noAllocation(std::move(names), [f] { return withoutAllocating(f); });
}

// ------------------------------------------------------------------ memory

// Allocates through f into *p; a failure must leave *p alone.
int32_t keepsPointerOnFailure(int32_t (*f)(int64_t, void **), int64_t size, void **p) {
    void *const before = *p;
    const int32_t s = f(size, p);
    if (s < 0) {
        EXPECT_EQ(*p, before) << "a failed allocation wrote the pointer";
    }
    return s;
}

// Grows *p, which holds 8 bytes 0x3C; a failure must leave the old block,
// contents and all.
int32_t growKeepsBlockOnFailure(void **p) {
    void *const before = *p;
    const int32_t s = csys_memory_realloc_internal(4096, p);
    if (s < 0) {
        EXPECT_EQ(*p, before) << "a failed realloc replaced the block";
    }
    const uint8_t expected[8] = {0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C};
    EXPECT_EQ(std::memcmp(*p, expected, 8), 0) << "realloc lost the contents";
    return s;
}

// A 64 KiB block is kept for reuse when freed: the allocClear after it may
// take it back and must still hand it out zero-filled.
int32_t memoryCalls() {
    char untouched = 0;
    void *small = &untouched, *large = &untouched, *cleared = &untouched, *grown = nullptr;
    Steps steps;
    steps.then([&] { return keepsPointerOnFailure(csys_memory_alloc_internal, 24, &small); })
        .then([&] { return keepsPointerOnFailure(csys_memory_alloc_internal, 1 << 16, &large); })
        .then([&] {
            return firstFailure({csys_memory_fill(0xA5, 1 << 16, large), csys_memory_free_internal(&large)});
        })
        .then([&] { return keepsPointerOnFailure(csys_memory_allocClear_internal, 1 << 16, &cleared); })
        .then([&] {
            const auto *b = static_cast<const uint8_t *>(cleared);
            EXPECT_TRUE(b[0] == 0 && b[(1 << 16) - 1] == 0) << "allocClear handed out a dirty block";
            return keepsPointerOnFailure(csys_memory_realloc_internal, 8, &grown);  // from null: allocates
        })
        .then([&] {
            return firstFailure({csys_memory_fill(0x3C, 8, grown), growKeepsBlockOnFailure(&grown)});
        });
    for (void **p : {&small, &large, &cleared, &grown}) {
        if (*p == &untouched) continue;
        steps.always([&] { return csys_memory_free_internal(p); });
        EXPECT_EQ(*p, nullptr) << "free did not clear the pointer";
    }
    return steps.status();
}

int32_t memoryServiceCalls() {
    uint8_t src[5] = {1, 2, 3, 4, 5}, dst[5] = {};
    const uint8_t expected[5] = {1, 2, 3, 9, 9};
    const int64_t limit = csys_memory_getKeepLimit();
    const int32_t s =
        firstFailure({csys_memory_copy(5, src, dst), csys_memory_fill(9, 2, dst + 3), csys_memory_setKeepLimit(limit)});
    EXPECT_EQ(std::memcmp(dst, expected, 5), 0);
    EXPECT_TRUE(csys_memory_getKeepLimit() == limit && csys_memory_getKeptBytes() <= limit &&
                csys_memory_getLiveBlockCount() >= 0);
    return s;
}

// ------------------------------------------------------------ cleanup list

int32_t freeEntry(void *address) { return csys_memory_free_internal(static_cast<void **>(address)); }
int32_t countRelease(void *address) {
    ++*static_cast<int *>(address);
    return 0;
}

// A call's list: a temporary and a result block, a result object, a block
// handed over (its entry dropped unrun) and one released early. At exit on
// success only the temporary goes, on failure the results too.
int32_t cleanupCalls() {
    Steps steps;
    for (const int32_t exitStatus : {0, int32_t{cblob_err_badThresh}}) {
        void *temp = nullptr, *result = nullptr, *handed = nullptr, *early = nullptr;
        int released = 0;
        for (void **p : {&temp, &result, &handed, &early}) steps.then([&] { return csys_memory_alloc_internal(8, p); });
        steps.then([&] {
            return withoutAllocating([&] {
                const int32_t tag = csys_cleanup_getNextTag();
                csys_cleanupEntry list[5] = {{0, csys_cleanup_tempMemory, &temp, &freeEntry},
                                             {1, csys_cleanup_resultMemory, &result, &freeEntry},
                                             {2, csys_cleanup_resultObject, &released, &countRelease},
                                             {3, csys_cleanup_resultMemory, &handed, &freeEntry},
                                             {4, csys_cleanup_tempMemory, &early, &freeEntry}};
                int32_t count = 5, status = 0;
                csys_cleanup_doId_(list, &count, &status, 4, 0);
                csys_cleanup_doId_(list, &count, &status, 3, 1);
                EXPECT_TRUE(count == 3 && status == 0 && early == nullptr && handed != nullptr);
                status = exitStatus;
                csys_cleanupExecute_(list, &count, &status, tag);
                const bool failed = exitStatus < 0;
                EXPECT_TRUE(count == 0 && status == exitStatus && temp == nullptr);
                EXPECT_TRUE((result == nullptr) == failed && released == (failed ? 1 : 0));
                return 0;
            });
        });
        for (void **p : {&temp, &result, &handed, &early}) steps.always([&] { return csys_memory_free_internal(p); });
    }
    return steps.status();
}

// ------------------------------------------- assertions, attention, stopwatch

void noteAssert(int32_t line, void *data) { *static_cast<int32_t *>(data) = line; }
int32_t stopRequested(void *) { return csys_err_stopRequested; }

int32_t hookCalls() {
    int32_t line = 0;
    EXPECT_EQ(csys_assert_setHandler(&noteAssert, &line), nullptr);
    cstd_assert_(4321);
    EXPECT_EQ(csys_assert_setHandler(nullptr, nullptr), &noteAssert);
    EXPECT_EQ(line, 4321);
    csys_attention_setCallback(&stopRequested, nullptr);
    const int32_t stopped = csys_attention_check();
    csys_attention_setCallback(nullptr, nullptr);
    EXPECT_EQ(stopped, csys_err_stopRequested);
    return csys_attention_check();
}

int32_t timerCalls() {
    csys_timer t;
    double ms = -1;
    const int32_t s = firstFailure({csys_timer_init(&t, 0), csys_timer_start(&t), csys_timer_stop(&t),
                                    csys_timer_getMillisecondsDouble(&t, &ms), csys_timer_reset(&t)});
    EXPECT_GE(ms, 0.0);
    EXPECT_EQ(csys_timer_stop(&t), csys_err_timerNotRunning);
    return s;
}

// ---------------------------------------------- shared counts and handles

struct Counted {
    cstd_shared shared;
    int destroyed;
};
int32_t destroyCounted(void *owner) {
    ++static_cast<Counted *>(owner)->destroyed;
    return 0;
}
const cstd_sharedDescriptor kCountedDescriptor = {&cstd_shared_increment_default, &cstd_shared_decrement_default,
                                                  &destroyCounted};

// Three handles on one caller-owned object; the last drop destroys it.
int32_t sharedCalls() {
    Counted object{};
    cstd_ptrh a, b, c;
    int32_t isNull = 0;
    int64_t refs = 0;
    cstd_shared *whole = nullptr;
    const int32_t s = firstFailure(
        {cstd_shared_initCustom(&object.shared, &object, &kCountedDescriptor), cstd_ptrh_construct(&a),
         cstd_ptrh_assignShared(&a, &object.shared), cstd_ptrh_constructCopy(&b, &a), cstd_ptrh_construct(&c),
         cstd_ptrh_assign(&c, &b), cstd_ptrh_getRefCount(&c, &refs), cstd_ptrh_getWholeShared(&c, &whole),
         cstd_ptrh_detach(&a), cstd_ptrh_getIsNull(&a, &isNull), cstd_ptrh_destruct(&b), cstd_ptrh_destruct(&c)});
    EXPECT_TRUE(refs == 3 && whole == &object.shared && isNull == 1 && object.destroyed == 1);
    EXPECT_EQ(cstd_shared_increment_default(&object.shared), 1);
    EXPECT_EQ(cstd_shared_decrement_default(&object.shared), 0);
    return s;
}

// -------------------------------------------------------------------- jobs

std::atomic<int> g_jobRuns{0};

// Copies its parameter, an int64_t, into a new result block.
int32_t echoJob(const csys_jobParams *params, csys_jobResult *result) {
    ++g_jobRuns;
    const void *data = nullptr;
    void *out = nullptr;
    return Steps()
        .then([&] { return csys_jobParams_getDataConst(params, &data); })
        .then([&] { return csys_memory_alloc_internal(sizeof(int64_t), &out); })
        .then([&] {
            std::memcpy(out, data, sizeof(int64_t));
            return csys_jobResult_takeData(result, &out, &csys_memory_free_internal);
        })
        .status();
}

// A group of two threads with its request and result sets; job i echoes 10 + i.
struct Jobs {
    csys_jobThreadGroup group;
    csys_jobRequestSet requests;
    csys_jobResultSet results;
    Jobs() {
        csys_jobThreadGroup_construct(&group);
        csys_jobThreadGroup_setThreadCount(&group, 2);
        csys_jobRequestSet_construct(&requests);
        csys_jobResultSet_construct(&results);
    }
    ~Jobs() {
        csys_jobResultSet_destruct(&results);
        csys_jobRequestSet_destruct(&requests);
        csys_jobThreadGroup_destruct(&group);
    }

    // Appends jobs up to `count`; a failed add leaves the set and the
    // parameters as they were.
    int32_t add(int32_t count) {
        int32_t s = 0;
        while (s >= 0 && requests.count < count) {
            void *block = nullptr;
            if ((s = csys_memory_alloc_internal(sizeof(int64_t), &block)) < 0) break;
            *static_cast<int64_t *>(block) = 10 + requests.count;
            csys_jobParams params;
            csys_jobParams_construct(&params);
            csys_jobParams_takeData(&params, &block, &csys_memory_free_internal);
            const void *held = params.data;
            const int32_t before = requests.count;
            s = csys_jobRequestSet_addFuncAndParams(&requests, &echoJob, &params);
            if (s < 0) {
                EXPECT_TRUE(requests.count == before && params.data == held) << "a failed add changed the set";
            }
            csys_jobParams_destruct(&params);
        }
        return s;
    }

    // Runs every job. A failure either came before any job ran (the result
    // set unchanged) or is the first failing job's in job order, every job
    // having run; result i holds job i's value unless job i failed.
    int32_t run() {
        const csys_jobResultSet before = results;
        const int runsBefore = g_jobRuns;
        const int32_t s = csys_jobThreadGroup_dispatchAndWait(&group, &requests, &results);
        const int runs = g_jobRuns - runsBefore;
        if (s < 0 && runs == 0) {
            EXPECT_TRUE(results.results == before.results && results.count == before.count) << "results changed";
            return s;
        }
        EXPECT_TRUE(runs == requests.count && results.count == requests.count);
        int32_t first = 0;
        for (int32_t i = 0; i < results.count; ++i) {
            const csys_jobResult &r = results.results[i];
            const auto *value = static_cast<const int64_t *>(r.data);
            if (r.status < 0 && first == 0) first = r.status;
            EXPECT_TRUE(r.status < 0 ? value == nullptr : value && *value == 10 + i) << "result " << i;
        }
        EXPECT_EQ(s, first);
        return s;
    }
};

int32_t jobDataCalls() {
    void *blocks[3] = {};
    const int32_t s =
        firstFailure({csys_memory_alloc_internal(8, &blocks[0]), csys_memory_alloc_internal(8, &blocks[1]),
                      csys_memory_alloc_internal(8, &blocks[2])});
    const void *held = blocks[1], *taken = blocks[2];
    const int32_t t = s < 0 ? s : withoutAllocating([&] {
        csys_jobParams params;
        csys_jobResult result{};
        const void *data = nullptr, *resultData = nullptr;
        int32_t status = -1;
        const int32_t u = firstFailure({csys_jobParams_construct(&params),
                                        csys_jobParams_takeData(&params, &blocks[0], &csys_memory_free_internal),
                                        csys_jobParams_takeData(&params, &blocks[1], &csys_memory_free_internal),
                                        csys_jobParams_getDataConst(&params, &data), csys_jobParams_destruct(&params),
                                        csys_jobResult_takeData(&result, &blocks[2], &csys_memory_free_internal),
                                        csys_jobResult_getDataConst(&result, &resultData),
                                        csys_jobResult_getStatus(&result, &status)});
        EXPECT_TRUE(data == held && resultData == taken && status == 0 && params.data == nullptr);
        csys_memory_free_internal(&result.data);
        return u;
    });
    for (void *&b : blocks) csys_memory_free_internal(&b);
    return t;
}

// Reading and taking the results of a finished dispatch, then the sets and
// the group torn down and built anew.
int32_t jobSetCalls() {
    Jobs jobs;
    const int32_t s = Steps().then([&] { return jobs.add(2); }).then([&] { return jobs.run(); }).status();
    if (s < 0) return s;
    return withoutAllocating([&] {
        const csys_jobResult *array = nullptr;
        int32_t count = 0, threads = 0;
        void *data = nullptr;
        csys_jobDataRelease release = nullptr;
        csys_jobThreadGroup group;
        const int32_t t =
            firstFailure({csys_jobResultSet_getResultsArrayConst(&jobs.results, &array, &count),
                          csys_jobResultSet_takeResultData(&jobs.results, 1, &data, &release),
                          csys_jobGetCurrentThreadState(&threads, &jobs.group),
                          csys_jobResultSet_destruct(&jobs.results), csys_jobRequestSet_destruct(&jobs.requests),
                          csys_jobThreadGroup_destruct(&jobs.group), csys_jobResultSet_construct(&jobs.results),
                          csys_jobRequestSet_construct(&jobs.requests), csys_jobThreadGroup_construct(&group),
                          csys_jobThreadGroup_setThreadCount(&group, 3), csys_jobThreadGroup_destruct(&group)});
        EXPECT_TRUE(count == 2 && array && threads == 2 && data && *static_cast<int64_t *>(data) == 11);
        if (release) release(&data);
        return t;
    });
}

// The pool stopped and restarted, once with thread starts refused. Its state
// is static: none of this allocates.
int32_t jobPoolCalls() {
    int32_t saved = 1, stopped = -1, workers = -1;
    const int32_t s = firstFailure({csys_job_getThreadCount(&saved), csys_job_setThreadCount(2), csys_job_shutdown(),
                                    csys_job_getWorkerCount(&stopped)});
    csys_job_failThreadStarts(1);
    EXPECT_EQ(csys_job_startThreads(), csys_err_threadStart);
    csys_job_failThreadStarts(0);
    const int32_t t =
        firstFailure({s, csys_job_startThreads(), csys_job_getWorkerCount(&workers), csys_job_setThreadCount(saved)});
    EXPECT_TRUE(stopped == 0 && workers >= 1);
    return t;
}

// ---------------------------------------------------------------- geometry

const double kPerspective[9] = {1, 0.1, 3, -0.2, 1, 4, 0.001, 0.002, 1};

// A constructor of a handle on a new transform; a failure leaves the handle's
// bytes untouched.
Row xformConstructRow(const char *name, int32_t (*construct)(cmath_xformPtrhConst *)) {
    return allocates({name}, [name, construct] {
        cmath_xformPtrhConst h;
        std::memset(&h, 0x5A, sizeof h);
        const cmath_xformPtrhConst before = h;
        const int32_t s = construct(&h);
        if (s < 0) {
            EXPECT_EQ(std::memcmp(&h, &before, sizeof h), 0) << "a failed " << name << " wrote the handle";
            return s;
        }
        int32_t isLinear = -1;
        cmath_xformPtrhConst_getIsLinear(&h, &isLinear);
        EXPECT_EQ(isLinear, std::strstr(name, "Linear") ? 1 : 0);
        return cmath_xformPtrhConst_destruct(&h);
    });
}

int32_t constructSingularLinear(cmath_xformPtrhConst *h) {
    const cmath_xformLinear singular = {{0, 0, 0, 0}, 1, 2};  // accepted: only its inverse is missing
    return cmath_xformPtrhConst_constructLinear(h, &singular);
}
int32_t constructPerspective(cmath_xformPtrhConst *h) {
    return cmath_xformPtrhConst_constructPerspective(h, kPerspective);
}

// Every operation on existing handles shares or drops the object.
Row xformHandleRow() {
    return noAllocation(
        named("cmath_xformPtrhConst", {"construct", "constructCopy", "assign", "assignNull", "destruct", "getIsNull",
                                       "getIsLinear", "getLinear", "getInverseConst", "mapPoint", "getHomography"}),
        [] {
            cmath_xformPtrhConst p;
            const int32_t built = constructPerspective(&p);
            if (built < 0) return built;
            return withoutAllocating([&] {
                cmath_xformPtrhConst copy, inverse, back;
                cmath_xformLinear local;
                double x = 0, y = 0, hm[9] = {};
                int32_t isNull = -1, isLinear = -1;
                const int32_t s = firstFailure(
                    {cmath_xformPtrhConst_construct(&inverse), cmath_xformPtrhConst_constructCopy(&copy, &p),
                     cmath_xformPtrhConst_construct(&back), cmath_xformPtrhConst_getInverseConst(&copy, &inverse),
                     cmath_xformPtrhConst_getInverseConst(&inverse, &back),
                     cmath_xformPtrhConst_mapPoint(&back, 5, 6, &x, &y),
                     cmath_xformPtrhConst_getLinear(&back, 5, 6, &local), cmath_xformPtrhConst_getHomography(&back, hm),
                     cmath_xformPtrhConst_getIsLinear(&back, &isLinear), cmath_xformPtrhConst_assign(&copy, &inverse),
                     cmath_xformPtrhConst_assignNull(&inverse), cmath_xformPtrhConst_getIsNull(&inverse, &isNull),
                     cmath_xformPtrhConst_destruct(&back), cmath_xformPtrhConst_destruct(&inverse),
                     cmath_xformPtrhConst_destruct(&copy), cmath_xformPtrhConst_destruct(&p)});
                EXPECT_TRUE(isNull == 1 && isLinear == 0 && hm[8] == kPerspective[8]);
                return s;
            });
        });
}

// Matrices, affine transforms, affine rectangles and the two scalars.
int32_t geometryValueCalls() {
    cmath_matrix m, inv, id, t, p;
    cmath_xformLinear xf, xi, xc, xid;
    cmath_shapeAffineRect r;
    double d = 0, x = 0, y = 0, corners[8], rx = 0, ry = 0;
    int32_t flag = 0;
    return firstFailure({cmath_double_floor(-1.5, &d),
                         cmath_double_sqr(d, &d),
                         cmath_matrix_init(&m, 2, 1, 0, 3),
                         cmath_matrix_initIdentity(&id),
                         cmath_matrix_initInverse(&inv, &m),
                         cmath_matrix_initMultiply(&p, &m, &inv),
                         cmath_matrix_initMultiply3(&p, &m, &inv, &id),
                         cmath_matrix_initTranspose(&t, &m),
                         cmath_matrix_getDeterminant(&t, &d),
                         cmath_matrix_getIsIdentity(&p, &flag),
                         cmath_matrix_getIsSingular(&m, &flag),
                         cmath_matrix_getXScale(&m, &x),
                         cmath_matrix_getYScale(&m, &y),
                         cmath_xformLinear_initIdentity(&xid),
                         cmath_xformLinear_init(&xf, &m, 1, 2),
                         cmath_xformLinear_mapPoint(&xf, 1, 1, &x, &y),
                         cmath_xformLinear_invMapPoint(&xf, x, y, &x, &y),
                         cmath_xformLinear_mapVector(&xf, x, y, &x, &y),
                         cmath_xformLinear_initInverse(&xi, &xf),
                         cmath_xformLinear_initCompose(&xc, &xi, &xf),
                         cmath_xformLinear_getIsIdentity(&xid, &flag),
                         cmath_shapeAffineRect_initCenter(&r, 1, 2, 3, 4, 0.5, 0.5),
                         cmath_shapeAffineRect_initCenterAxes(&r, 1, 2, 3, 4, 1, 0, 1, 1),
                         cmath_shapeAffineRect_getCorners(&r, corners),
                         cmath_shapeAffineRect_getRotations(&r, &rx, &ry)});
}

int32_t statusNameCalls() {
#define SWEEP_STATUS_NAME(name, value) EXPECT_STREQ(cblob_statusName(name), #name);
    CBLOB_STATUS_CODES(SWEEP_STATUS_NAME)
#undef SWEEP_STATUS_NAME
    EXPECT_STREQ(cblob_statusName(0), "cblob_ok");
    EXPECT_STREQ(cblob_statusName(7), "cblob_ok");
    EXPECT_STREQ(cblob_statusName(CBLOB_STATUS_CODE(0x8000FFFF)), "unknown status");
    return 0;
}

std::vector<Row> rows() {
    return {
        allocates(named("csys_memory", {"alloc_internal", "allocClear_internal", "realloc_internal", "free_internal"}),
                  &memoryCalls),
        pure(
            named("csys_memory", {"copy", "fill", "getLiveBlockCount", "setKeepLimit", "getKeepLimit", "getKeptBytes"}),
            &memoryServiceCalls),
        excluded(named("csys_memory", {"failAfter", "getInjectedFailureCount"}),
                 "they arm and read the allocation-failure injection that the sweep itself runs on"),
        noAllocation({"csys_cleanup_getNextTag", "csys_cleanupExecute_", "csys_cleanup_doId_"}, &cleanupCalls),
        pure({"cstd_assert_", "csys_assert_setHandler", "csys_attention_check", "csys_attention_setCallback"},
             &hookCalls),
        pure(named("csys_timer", {"init", "reset", "start", "stop", "getMillisecondsDouble"}), &timerCalls),
        pure(join({named("cstd_shared", {"initCustom", "increment_default", "decrement_default"}),
                   named("cstd_ptrh", {"construct", "constructCopy", "assign", "assignShared", "detach", "destruct",
                                       "getIsNull", "getRefCount", "getWholeShared"})}),
             &sharedCalls),
        // Five jobs (the request array is made, then grows once), dispatched
        // twice on two threads: the second dispatch replaces the results.
        allocates({"csys_jobRequestSet_addFuncAndParams", "csys_jobThreadGroup_dispatchAndWait"},
                  [] {
                      Jobs jobs;
                      return Steps()
                          .then([&] { return jobs.add(5); })
                          .then([&] { return jobs.run(); })
                          .then([&] { return jobs.run(); })
                          .status();
                  }),
        noAllocation(join({named("csys_jobParams", {"construct", "takeData", "getDataConst", "destruct"}),
                           named("csys_jobResult", {"takeData", "getDataConst", "getStatus"})}),
                     &jobDataCalls),
        noAllocation(
            join({named("csys_jobRequestSet", {"construct", "destruct"}),
                  named("csys_jobResultSet", {"construct", "destruct", "getResultsArrayConst", "takeResultData"}),
                  named("csys_jobThreadGroup", {"construct", "destruct", "setThreadCount"}),
                  {"csys_jobGetCurrentThreadState"}}),
            &jobSetCalls),
        pure(named("csys_job", {"setThreadCount", "getThreadCount", "getWorkerCount", "startThreads", "shutdown",
                                "failThreadStarts"}),
             &jobPoolCalls),
        xformConstructRow("cmath_xformPtrhConst_constructLinear", &constructSingularLinear),
        xformConstructRow("cmath_xformPtrhConst_constructPerspective", &constructPerspective),
        xformHandleRow(),
        pure(join({named("cmath_double", {"floor", "sqr"}),
                   named("cmath_matrix",
                         {"init", "initIdentity", "initInverse", "initMultiply", "initMultiply3", "initTranspose",
                          "getDeterminant", "getIsIdentity", "getIsSingular", "getXScale", "getYScale"}),
                   named("cmath_xformLinear", {"initIdentity", "init", "mapPoint", "invMapPoint", "mapVector",
                                               "initInverse", "initCompose", "getIsIdentity"}),
                   named("cmath_shapeAffineRect", {"initCenter", "initCenterAxes", "getCorners", "getRotations"})}),
             &geometryValueCalls),
        pure({"cblob_statusName"}, &statusNameCalls),
    };
}

const Registrar kHostAndMath{"HostAndMath", &rows};

}  // namespace
