// Memory, cleanup list, assert and attention services.
#include <gtest/gtest.h>

#include <vector>

#include "cblob/sys.h"
#include "run/frame.hpp"
#include "support/fault_injection.hpp"

namespace {

TEST(Memory, FailsTheArmedAllocationOnceOrPersistently) {
    const int64_t before = csys_memory_getLiveBlockCount();
    void *blocks[4] = {};
    for (int persistent = 0; persistent <= 1; ++persistent) {
        csys_memory_failAfter(2, persistent);
        EXPECT_EQ(csys_memory_alloc_internal(8, &blocks[0]), 0);
        EXPECT_EQ(csys_memory_allocClear_internal(8, &blocks[1]), csys_err_outOfMemory);
        EXPECT_EQ(blocks[1], nullptr);
        EXPECT_EQ(csys_memory_realloc_internal(16, &blocks[0]) == 0, !persistent);
        EXPECT_EQ(csys_memory_getInjectedFailureCount(), persistent ? 2 : 1);
        csys_memory_failAfter(0, 0);
        for (void *&b : blocks) csys_memory_free_internal(&b);
    }
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
    EXPECT_EQ(csys_memory_alloc_internal(-1, &blocks[0]), csys_err_badSize);
}

TEST(Memory, ReallocKeepsContentsAndZeroFillClears) {
    uint8_t *p = nullptr;
    ASSERT_EQ(cblob::allocateClear(100, &p), 0);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
    csys_memory_fill(7, 100, p);
    ASSERT_EQ(cblob::reallocate(100000, &p), 0);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 7);
    cblob::release(&p);
    EXPECT_EQ(p, nullptr);
}

// A small object with a destruct function, counting its destructions.
struct Probe {
    int *destroyed;
};
int32_t probeDestruct(Probe *p) {
    ++*p->destroyed;
    return 0;
}

// Builds two results and two temporaries, then fails or succeeds.
int32_t buildWithFrame(bool failAtEnd, int *destroyed, void **resultBlock, Probe *resultProbe) {
    cblob::Frame<4> f;
    void *temp = nullptr;
    CBLOB_FRAME_TRY(f, cblob::allocate(10, &temp));
    f.addMemory(&temp, csys_cleanup_tempMemory);
    CBLOB_FRAME_TRY(f, cblob::allocate(10, resultBlock));
    f.addMemory(resultBlock, csys_cleanup_resultMemory);
    Probe tempProbe{destroyed};
    f.addObject<&probeDestruct>(&tempProbe, csys_cleanup_tempObject);
    resultProbe->destroyed = destroyed;
    f.addObject<&probeDestruct>(resultProbe, csys_cleanup_resultObject);
    CBLOB_FRAME_CHECK(f, !failAtEnd, cblob_err_badThresh);
    return f.exit();
}

TEST(CallFrame, ReleasesTemporariesAlwaysAndResultsOnlyOnFailure) {
    struct Case {
        bool fail;
        int32_t status;
        int destroyed;
        bool resultKept;
    } cases[] = {{false, 0, 1, true}, {true, cblob_err_badThresh, 2, false}};
    for (const Case &c : cases) {
        const int64_t before = csys_memory_getLiveBlockCount();
        int destroyed = 0;
        void *result = nullptr;
        Probe probe{};
        EXPECT_EQ(buildWithFrame(c.fail, &destroyed, &result, &probe), c.status);
        EXPECT_EQ(destroyed, c.destroyed);
        EXPECT_EQ(result != nullptr, c.resultKept);
        csys_memory_free_internal(&result);
        EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
    }
}

struct Rec {
    std::vector<int> *order;
    int n;
};
int32_t recordDestruct(Rec *r) {
    r->order->push_back(r->n);
    return 0;
}

TEST(CallFrame, UnwindsNewestFirstAndHandsOverTheNewest) {
    std::vector<int> order;
    Rec a{&order, 1}, b{&order, 2}, c{&order, 3};
    {
        cblob::Frame<3> f;
        f.addObject<&recordDestruct>(&a, csys_cleanup_tempObject);
        f.addObject<&recordDestruct>(&b, csys_cleanup_tempObject);
        int32_t id = f.addObject<&recordDestruct>(&c, csys_cleanup_tempObject);
        f.handOver(id);
        f.status = 5;  // a positive, non-failure status from some service
        EXPECT_EQ(f.exit(), 0);
    }
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

TEST(CallFrame, OptimisedRoutineDeclineRange) {
    for (uint32_t low = 0; low <= 0xFFFF; ++low) {
        const bool declines = low >= 0x0600 && low <= 0x061F;
        EXPECT_EQ(cblob::optimizedDeclined(static_cast<int32_t>(0x80000000u | low)), declines);
        EXPECT_EQ(cblob::optimizedDeclined(static_cast<int32_t>(low)), declines);
    }
}

TEST(Assert, NullArgumentsReachTheHostHandler) {
    cblobtest::AssertCatcher catcher;
    EXPECT_EQ(csys_memory_alloc_internal(4, nullptr), csys_err_assertFailed);
    EXPECT_EQ(cstd_ptrh_construct(nullptr), csys_err_assertFailed);
    EXPECT_EQ(catcher.count(), 2);
    EXPECT_GT(catcher.lastLine(), 0);
}

TEST(Status, NamesEveryCode) {
    EXPECT_STREQ(cblob_statusName(0), "cblob_ok");
    EXPECT_STREQ(cblob_statusName(7), "cblob_ok");
    EXPECT_STREQ(cblob_statusName(cblob_err_emptyWindow), "cblob_err_emptyWindow");
    EXPECT_STREQ(cblob_statusName(cmath_err_singularXform), "cmath_err_singularXform");
    EXPECT_STREQ(cblob_statusName(static_cast<int32_t>(0x80001283u)), "unknown status");
}

TEST(Attention, StopperFailsFromTheArmedPoll) {
    cblobtest::AttentionStopper stopper(3);
    EXPECT_EQ(csys_attention_check(), 0);
    EXPECT_EQ(csys_attention_check(), 0);
    EXPECT_EQ(csys_attention_check(), csys_err_stopRequested);
    EXPECT_EQ(stopper.polls(), 3);
}

}  // namespace
