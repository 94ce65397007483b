// Memory, cleanup list, assert and attention services.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "cblob/sys.h"
#include "core/frame.hpp"
#include "core/optimized.hpp"
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

// Freed large blocks are kept up to the limit and given out again for
// allocations of a similar size; small blocks and those beyond the limit go
// back; a kept block is not live; zero-filling holds for a kept block.
TEST(Memory, KeepsFreedLargeBlocksForReuseUpToTheLimit) {
    const int64_t savedLimit = csys_memory_getKeepLimit();
    ASSERT_EQ(csys_memory_setKeepLimit(0), 0);
    EXPECT_EQ(csys_memory_getKeptBytes(), 0);
    ASSERT_EQ(csys_memory_setKeepLimit(int64_t{4} << 20), 0);
    const int64_t live = csys_memory_getLiveBlockCount();
    const int64_t big = 300000;
    void *a = nullptr;
    ASSERT_EQ(csys_memory_alloc_internal(big, &a), 0);
    std::memset(a, 0x5a, static_cast<size_t>(big));
    void *const first = a;
    ASSERT_EQ(csys_memory_free_internal(&a), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
    EXPECT_GE(csys_memory_getKeptBytes(), big);
    // A similar size takes it back, zero-filled when asked.
    ASSERT_EQ(csys_memory_allocClear_internal(big - 1000, &a), 0);
    EXPECT_EQ(a, first);
    EXPECT_EQ(csys_memory_getKeptBytes(), 0);
    const auto *bytes = static_cast<const uint8_t *>(a);
    EXPECT_TRUE(std::all_of(bytes, bytes + big - 1000, [](uint8_t v) { return v == 0; }));
    ASSERT_EQ(csys_memory_free_internal(&a), 0);
    // Much smaller or larger requests leave it kept; an armed failure still fails.
    void *small = nullptr, *large = nullptr;
    ASSERT_EQ(csys_memory_alloc_internal(big / 2, &small), 0);
    ASSERT_EQ(csys_memory_alloc_internal(big * 2, &large), 0);
    EXPECT_NE(small, first);
    EXPECT_NE(large, first);
    EXPECT_GE(csys_memory_getKeptBytes(), big);
    csys_memory_failAfter(1, 0);
    void *failed = nullptr;
    EXPECT_EQ(csys_memory_alloc_internal(big, &failed), csys_err_outOfMemory);
    csys_memory_failAfter(0, 0);
    ASSERT_EQ(csys_memory_free_internal(&small), 0);
    ASSERT_EQ(csys_memory_free_internal(&large), 0);
    // Nothing beyond the limit is kept; lowering it frees what is kept.
    EXPECT_LE(csys_memory_getKeptBytes(), int64_t{4} << 20);
    void *huge = nullptr;
    ASSERT_EQ(csys_memory_alloc_internal(int64_t{8} << 20, &huge), 0);
    const int64_t before = csys_memory_getKeptBytes();
    ASSERT_EQ(csys_memory_free_internal(&huge), 0);
    EXPECT_EQ(csys_memory_getKeptBytes(), before);
    EXPECT_EQ(csys_memory_setKeepLimit(-1), csys_err_badSize);
    ASSERT_EQ(csys_memory_setKeepLimit(0), 0);
    EXPECT_EQ(csys_memory_getKeptBytes(), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
    ASSERT_EQ(csys_memory_setKeepLimit(savedLimit), 0);
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

// A heap object counted by an embedded shared count; destroying it frees it.
struct Counted {
    cstd_shared shared;
    int payload;
};
int32_t destroyCounted(void *owner) {
    void *block = owner;
    return csys_memory_free_internal(&block);
}
const cstd_sharedDescriptor kCountedDescriptor = {&cstd_shared_increment_default, &cstd_shared_decrement_default,
                                                  &destroyCounted};

TEST(SharedHandles, CopiesAndDropsFromManyThreadsFreeTheObjectOnce) {
    const int64_t before = csys_memory_getLiveBlockCount();
    Counted *object = nullptr;
    ASSERT_EQ(cblob::allocate(sizeof(Counted), &object), 0);
    ASSERT_EQ(cstd_shared_initCustom(&object->shared, object, &kCountedDescriptor), 0);
    cstd_ptrh root;
    cstd_ptrh_construct(&root);
    ASSERT_EQ(cstd_ptrh_assignShared(&root, &object->shared), 0);

    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&root] {
            cstd_ptrh mine, other;
            cstd_ptrh_constructCopy(&mine, &root);
            cstd_ptrh_construct(&other);
            for (int i = 0; i < kRounds; ++i) {
                cstd_ptrh_assign(&other, &mine);
                if (i % 3 == 0) cstd_ptrh_detach(&other);
            }
            cstd_ptrh_destruct(&other);
            cstd_ptrh_destruct(&mine);
        });
    }
    for (std::thread &t : threads) t.join();

    int64_t count = 0;
    cstd_ptrh_getRefCount(&root, &count);
    EXPECT_EQ(count, 1);
    cstd_ptrh copy;
    cstd_ptrh_constructCopy(&copy, &root);
    cstd_ptrh_assign(&copy, &copy);  // self-assignment keeps the object alive
    EXPECT_EQ(cstd_ptrh_destruct(&root), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before + 1);
    int32_t isNull = 0;
    cstd_ptrh_getIsNull(&root, &isNull);
    EXPECT_EQ(isNull, 1);
    EXPECT_EQ(cstd_ptrh_destruct(&copy), 0);  // the last handle frees it
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
}

// A stopwatch reads the time between start and stop: an interval holding a
// 20 ms sleep reads at least 15 ms and more than an empty interval; a second
// interval adds to the first; a running stopwatch includes its current
// interval, a stopped one stands still; reset returns to a stopped zero.
TEST(Stopwatch, MeasuresAndAccumulatesIntervals) {
    const auto read = [](const csys_timer &t) {
        double ms = -1;
        EXPECT_EQ(csys_timer_getMillisecondsDouble(&t, &ms), 0);
        return ms;
    };
    const auto sleep20 = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
    csys_timer empty, t;
    ASSERT_EQ(csys_timer_init(&empty, 0), 0);
    ASSERT_EQ(csys_timer_init(&t, 0), 0);
    EXPECT_EQ(read(t), 0.0);
    EXPECT_EQ(csys_timer_stop(&t), csys_err_timerNotRunning);

    ASSERT_EQ(csys_timer_start(&empty), 0);
    ASSERT_EQ(csys_timer_stop(&empty), 0);
    ASSERT_EQ(csys_timer_start(&t), 0);
    sleep20();
    ASSERT_EQ(csys_timer_stop(&t), 0);
    const double one = read(t);
    EXPECT_GE(one, 15.0);
    EXPECT_GT(one, read(empty));
    sleep20();
    EXPECT_EQ(read(t), one) << "a stopped stopwatch moved";

    ASSERT_EQ(csys_timer_start(&t), 0);
    sleep20();
    const double running = read(t);
    EXPECT_GE(running, one + 15.0) << "a running stopwatch leaves out its current interval";
    sleep20();
    ASSERT_EQ(csys_timer_stop(&t), 0);
    const double two = read(t);
    EXPECT_GE(two, running + 15.0) << "the second interval was not added to the first";
    EXPECT_EQ(csys_timer_stop(&t), csys_err_timerNotRunning);
    EXPECT_EQ(read(t), two) << "a refused stop changed the reading";

    ASSERT_EQ(csys_timer_start(&t), 0);
    ASSERT_EQ(csys_timer_reset(&t), 0);
    EXPECT_EQ(read(t), 0.0);
    EXPECT_EQ(csys_timer_stop(&t), csys_err_timerNotRunning) << "reset left the stopwatch running";
}

}  // namespace
