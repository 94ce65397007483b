// The untyped vector: a differential run against std::vector, aliasing
// sources, allocation and element-action failures, validation, iteration.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>
#include <vector>

#include "cblob/containers.h"
#include "cblob/sys.h"
#include "cblob/vector.h"
#include "support/fault_injection.hpp"

namespace {

// An element type whose actions count live elements and catch misuse (using
// an element that is not constructed, destroying one twice), and whose
// construct / constructCopy / assign can be made to fail at their k-th call.
constexpr uint64_t kLive = 0x4C495645u;
constexpr int32_t kActionFailure = CBLOB_STATUS_CODE(0x8000F00D);

struct Tracked {
    int64_t value;
    uint64_t state;
};

struct Tally {
    int64_t live = 0, misuse = 0;
    int64_t calls = 0, failAt = 0;  // failAt: the action call that fails (0: none)
    bool fired = false;
} g;

void arm(int64_t failAt) { g.calls = 0, g.failAt = failAt, g.fired = false; }
bool gateFails() { return g.failAt > 0 && ++g.calls == g.failAt && (g.fired = true); }
void checkLive(const void *e) { g.misuse += static_cast<const Tracked *>(e)->state != kLive; }
int32_t make(void *e, int64_t value) {
    if (gateFails()) return kActionFailure;
    *static_cast<Tracked *>(e) = Tracked{value, kLive};
    return ++g.live, 0;
}
int32_t trackedConstruct(void *e) { return make(e, 0); }
int32_t trackedCopy(void *e, const void *src) { return checkLive(src), make(e, static_cast<const Tracked *>(src)->value); }
int32_t trackedAssign(void *e, const void *src) {
    checkLive(e), checkLive(src);
    if (gateFails()) return kActionFailure;
    static_cast<Tracked *>(e)->value = static_cast<const Tracked *>(src)->value;
    return 0;
}
int32_t trackedDestruct(void *e) {
    checkLive(e);
    static_cast<Tracked *>(e)->state = 0xDEAD;
    return --g.live, 0;
}
const cstd_vectorElementTable kTrackedTable = {&trackedConstruct, &trackedCopy, &trackedAssign, &trackedDestruct,
                                               CSTD_VECTOR_TABLE_END};

// The two element kinds the tests run on: plain int64 and Tracked.
struct Kind {
    const char *name;
    int64_t size;
    const cstd_vectorElementTable *table;
};
const Kind kRaw{"raw", sizeof(int64_t), nullptr};
const Kind kWithTable{"tracked", sizeof(Tracked), &kTrackedTable};

// Values laid out as a block of elements of either kind.
struct Block {
    Block(const Kind &k, std::vector<int64_t> v) : kind(k), values(std::move(v)) {
        for (int64_t x : values) tracked.push_back(Tracked{x, kLive});
    }
    const void *data() const { return kind.table ? static_cast<const void *>(tracked.data()) : values.data(); }
    int64_t count() const { return static_cast<int64_t>(values.size()); }
    const Kind &kind;
    std::vector<int64_t> values;
    std::vector<Tracked> tracked;
};

int64_t valueAt(const Kind &k, const cstd_vector_ &v, int64_t i) {
    const void *e = nullptr;
    EXPECT_EQ(cstd_vector__getElementConst(&v, i, &e), 0);
    return k.table ? static_cast<const Tracked *>(e)->value : *static_cast<const int64_t *>(e);
}

std::vector<int64_t> contents(const Kind &k, const cstd_vector_ &v) {
    std::vector<int64_t> out;
    for (int64_t i = 0; i < v.size; ++i) out.push_back(valueAt(k, v, i));
    return out;
}

// Constructs v holding `values`, with a capacity of exactly their number.
int32_t makeVector(const Kind &k, cstd_vector_ *v, const std::vector<int64_t> &values) {
    const Block b(k, values);
    return cstd_vector__constructFromBlockWithVtable(v, b.data(), b.count(), k.size, 0, k.table);
}

class VectorKinds : public ::testing::TestWithParam<const Kind *> {
protected:
    void SetUp() override { g = Tally{}; }
    void TearDown() override {
        EXPECT_EQ(g.live, 0) << "elements left constructed";
        EXPECT_EQ(g.misuse, 0) << "actions on unconstructed elements";
    }
};

TEST_P(VectorKinds, MatchesStdVectorUnderRandomOperations) {
    const Kind &k = *GetParam();
    const int64_t blocksBefore = csys_memory_getLiveBlockCount();
    std::mt19937 rng(20240611u);
    auto pick = [&](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
    cstd_vector_ v, other;
    ASSERT_EQ(cstd_vector__constructWithVtable(&v, 3, k.size, 0, k.table), 0);
    ASSERT_EQ(cstd_vector__constructWithVtable(&other, 0, k.size, 0, k.table), 0);
    std::vector<int64_t> model(3, 0), otherModel;

    for (int step = 0; step < 4000; ++step) {
        const int64_t n = static_cast<int64_t>(model.size());
        const int op = static_cast<int>(pick(0, 13));
        std::vector<int64_t> fresh;
        for (int64_t i = pick(0, 6); i > 0; --i) fresh.push_back(pick(1, 1000000));
        const Block one(k, {pick(1, 1000000)}), block(k, fresh);
        const int64_t at = pick(0, n), first = pick(0, n), count = pick(0, n - first);
        // An element of v (as an aliasing source) or a fresh one, with its value.
        const int64_t self = n > 0 && pick(0, 1) ? pick(0, n - 1) : -1;
        void *selfElement = nullptr;
        if (self >= 0) {
            ASSERT_EQ(cstd_vector__getElement(&v, self, &selfElement), 0);
        }
        const void *value = self >= 0 ? selfElement : one.data();
        const int64_t valueModel = self >= 0 ? model[static_cast<size_t>(self)] : one.values[0];
        // A slice of v itself, or a fresh block.
        const bool fromSelf = pick(0, 1);
        const std::vector<int64_t> slice =
            fromSelf ? std::vector<int64_t>(model.begin() + first, model.begin() + first + count) : fresh;
        const void *src = !fromSelf ? block.data() : count > 0 ? static_cast<char *>(v.begin) + first * k.size : nullptr;
        switch (op) {
            case 0:
                ASSERT_EQ(cstd_vector__pushBack(&v, value), 0);
                model.push_back(valueModel);
                break;
            case 1:
                ASSERT_EQ(cstd_vector__popBack(&v), n == 0 ? cstd_err_emptyVector : 0);
                if (n > 0) model.pop_back();
                break;
            case 2:
                ASSERT_EQ(cstd_vector__insert(&v, at, src, static_cast<int64_t>(slice.size())), 0);
                model.insert(model.begin() + at, slice.begin(), slice.end());
                break;
            case 3:
                ASSERT_EQ(cstd_vector__erase(&v, first, count), 0);
                model.erase(model.begin() + first, model.begin() + first + count);
                if (n - count > 0) {
                    const int64_t i = pick(0, n - count - 1);
                    ASSERT_EQ(cstd_vector__eraseElement(&v, i), 0);
                    model.erase(model.begin() + i);
                }
                break;
            case 4: {
                const int64_t size = pick(0, n + 9);
                const bool fill = pick(0, 1);
                ASSERT_EQ(fill ? cstd_vector__resizeFill(&v, size, value) : cstd_vector__resize(&v, size), 0);
                model.resize(static_cast<size_t>(size), fill ? valueModel : 0);
                break;
            }
            case 5:
                ASSERT_EQ(cstd_vector__reserve(&v, pick(0, 2 * n + 4)), 0);
                break;
            case 6:
                ASSERT_EQ(cstd_vector__assignElements(&v, src, static_cast<int64_t>(slice.size())), 0);
                model = slice;
                break;
            case 7: {
                const bool toSelf = pick(0, 1);
                ASSERT_EQ(cstd_vector__append(&v, toSelf ? &v : &other), 0);
                const std::vector<int64_t> tail = toSelf ? model : otherModel;
                model.insert(model.end(), tail.begin(), tail.end());
                break;
            }
            case 8:
                if (pick(0, 1)) {
                    ASSERT_EQ(cstd_vector__assign(&other, &v), 0);
                    otherModel = model;
                } else {
                    ASSERT_EQ(cstd_vector__assign(&v, &other), 0);
                    model = otherModel;
                }
                ASSERT_EQ(cstd_vector__assign(&v, &v), 0);
                break;
            case 9:
                ASSERT_EQ(cstd_vector__swap(&v, &other), 0);
                std::swap(model, otherModel);
                break;
            case 10:
                if (n > 40 || pick(0, 9) == 0) {
                    ASSERT_EQ(pick(0, 1) ? cstd_vector__clear(&v) : cstd_vector__clearAndFreeMemory(&v), 0);
                    model.clear();
                }
                break;
            case 11: {  // a copy is equal and independent; getBegin restarts its cursor
                cstd_vector_ copy;
                ASSERT_EQ(cstd_vector__constructCopy(&copy, &v), 0);
                for (int pass = 0; pass < 2; ++pass) {
                    void *e = nullptr;
                    std::vector<int64_t> seen;
                    ASSERT_EQ(cstd_vector__getBegin(&copy, &e), 0);
                    for (cstd_vector__getNextElement(&copy, &e); e; cstd_vector__getNextElement(&copy, &e))
                        seen.push_back(*static_cast<int64_t *>(e));  // the value comes first in either kind
                    ASSERT_EQ(seen, model);
                }
                ASSERT_EQ(cstd_vector__pushBack(&copy, one.data()), 0);
                ASSERT_EQ(cstd_vector__destruct(&copy), 0);
                break;
            }
            default: {  // rejected edits leave the vector alone
                void *e = nullptr;
                ASSERT_EQ(cstd_vector__insert(&v, n + 1, block.data(), 0), cstd_err_badIndex);
                ASSERT_EQ(cstd_vector__insert(&v, 0, block.data(), -1), cstd_err_badCount);
                ASSERT_EQ(cstd_vector__erase(&v, at, n - at + 1), cstd_err_badIndex);
                ASSERT_EQ(cstd_vector__eraseElement(&v, n), cstd_err_badIndex);
                ASSERT_EQ(cstd_vector__resize(&v, -1), cstd_err_badCount);
                ASSERT_EQ(cstd_vector__getElement(&v, -1, &e), cstd_err_badIndex);
            }
        }
        ASSERT_EQ(contents(k, v), model) << "step " << step << " op " << op;
        ASSERT_EQ(contents(k, other), otherModel) << "step " << step << " op " << op;
        ASSERT_GE(v.capacity, v.size);
        if (k.table) {
            ASSERT_EQ(g.live, static_cast<int64_t>(model.size() + otherModel.size()));
        }
    }
    EXPECT_EQ(cstd_vector__destruct(&v), 0);
    EXPECT_EQ(cstd_vector__destruct(&other), 0);
    EXPECT_EQ(cstd_vector__destruct(&v), 0);  // destructing again is harmless
    EXPECT_EQ(csys_memory_getLiveBlockCount(), blocksBefore);
}

// Each operation gets v (ten elements, capacity exactly ten) and w (three)
// and runs under every failing allocation and (with the table) every failing
// element action.
using Operation = std::function<int32_t(const Kind &, cstd_vector_ *v, cstd_vector_ *w)>;
const std::vector<int64_t> kTen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const std::vector<std::pair<const char *, Operation>> kOperations = {
    {"construct", [](const Kind &k, cstd_vector_ *, cstd_vector_ *) {
         cstd_vector_ x;
         const int32_t s = cstd_vector__constructWithVtable(&x, 10, k.size, 0, k.table);
         return CBLOB_FAILED(s) ? s : cstd_vector__destruct(&x);
     }},
    {"constructCopy", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) {
         cstd_vector_ x;
         const int32_t s = cstd_vector__constructCopy(&x, v);
         return CBLOB_FAILED(s) ? s : cstd_vector__destruct(&x);
     }},
    {"assign to shorter", [](const Kind &, cstd_vector_ *v, cstd_vector_ *w) { return cstd_vector__assign(w, v); }},
    {"assign to longer", [](const Kind &, cstd_vector_ *v, cstd_vector_ *w) { return cstd_vector__assign(v, w); }},
    {"resize", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) { return cstd_vector__resize(v, 25); }},
    {"resizeFill", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) { return cstd_vector__resizeFill(v, 25, v->begin); }},
    {"reserve", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) { return cstd_vector__reserve(v, 100); }},
    {"insert", [](const Kind &, cstd_vector_ *v, cstd_vector_ *w) { return cstd_vector__insert(v, 4, w->begin, 3); }},
    {"append self", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) { return cstd_vector__append(v, v); }},
    {"pushBack", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) {
         int32_t s = 0;
         for (int i = 0; i < 20 && !CBLOB_FAILED(s); ++i) s = cstd_vector__pushBack(v, v->begin);
         return s;
     }},
    {"erase", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) { return cstd_vector__erase(v, 2, 3); }},
};

int32_t runOperation(const Kind &k, const Operation &op, int64_t failAt) {
    cstd_vector_ v, w;
    int32_t status = makeVector(k, &v, kTen);
    if (CBLOB_FAILED(status)) return status;
    status = cstd_vector__constructFromBlockWithVtable(&w, v.begin, 3, k.size, 0, k.table);
    if (!CBLOB_FAILED(status)) {
        arm(failAt);
        status = op(k, &v, &w);
        g.failAt = 0;
        // Whatever happened, both vectors hold only valid elements.
        for (const cstd_vector_ *x : {&v, &w})
            for (int64_t i = 0; i < x->size; ++i) EXPECT_GE(valueAt(k, *x, i), 0);
        cstd_vector__destruct(&w);
    }
    cstd_vector__destruct(&v);
    EXPECT_EQ(g.live, 0);
    return status;
}

TEST_P(VectorKinds, EveryOperationSurvivesEveryFailingAllocation) {
    for (const auto &[name, op] : kOperations) {
        SCOPED_TRACE(name);
        cblobtest::expectCleanUnderAllocationFailures([&] { return runOperation(*GetParam(), op, 0); });
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, VectorKinds, ::testing::Values(&kRaw, &kWithTable),
                         [](const ::testing::TestParamInfo<const Kind *> &p) { return std::string(p.param->name); });

TEST(Vector, EveryOperationSurvivesEveryFailingElementAction) {
    g = Tally{};
    for (const auto &[name, op] : kOperations) {
        SCOPED_TRACE(name);
        const int64_t blocksBefore = csys_memory_getLiveBlockCount();
        for (int64_t failAt = 1; !HasFailure(); ++failAt) {
            const int32_t status = runOperation(kWithTable, op, failAt);
            if (!g.fired) {
                EXPECT_EQ(status, 0);
                break;
            }
            EXPECT_EQ(status, kActionFailure) << "action " << failAt;
            EXPECT_EQ(csys_memory_getLiveBlockCount(), blocksBefore) << "action " << failAt;
        }
    }
    EXPECT_EQ(g.misuse, 0);
}

TEST(Vector, FailedGrowthKeepsTheElements) {
    g = Tally{};
    const Kind &k = kWithTable;
    cstd_vector_ v, w;
    ASSERT_EQ(makeVector(k, &v, kTen), 0);
    const int64_t capacity = v.capacity;
    const Block extra(k, {99});
    for (int64_t at : {0, 5, 10}) {
        arm(6);  // fails while rebuilding the storage
        EXPECT_EQ(cstd_vector__insertElement(&v, at, extra.data()), kActionFailure);
        EXPECT_EQ(contents(k, v), kTen);
        EXPECT_EQ(v.capacity, capacity);
    }
    // An in-place assignment that fails keeps the size and valid elements.
    ASSERT_EQ(makeVector(k, &w, {7, 7, 7}), 0);
    arm(2);
    EXPECT_EQ(cstd_vector__assign(&v, &w), kActionFailure);
    arm(0);
    EXPECT_EQ(contents(k, v), (std::vector<int64_t>{7, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    cstd_vector__destruct(&v);
    cstd_vector__destruct(&w);
    EXPECT_EQ(g.live, 0);
    EXPECT_EQ(g.misuse, 0);
}

TEST(Vector, ValidationOrderAndStatuses) {
    cstd_vector_ v{}, a, b;
    const cstd_vectorElementTable unmarked = {&trackedConstruct, &trackedCopy, &trackedAssign, &trackedDestruct, 0};
    const cstd_vectorElementTable missing = {&trackedConstruct, nullptr, &trackedAssign, &trackedDestruct,
                                             CSTD_VECTOR_TABLE_END};
    const cstd_vectorMemoryTable noFree = {&csys_memory_alloc_internal, nullptr, &csys_memory_realloc_internal};
    EXPECT_EQ(cstd_vector__constructWithVtable(&v, -1, 0, 1, &unmarked), cstd_err_badFlags);
    EXPECT_EQ(cstd_vector__constructWithVtable(&v, -1, 0, 0, &unmarked), cstd_err_badElementSize);
    EXPECT_EQ(cstd_vector__constructWithVtable(&v, -1, 8, 0, &unmarked), cstd_err_badElementTable);
    EXPECT_EQ(cstd_vector__constructWithVtable(&v, 1, 8, 0, &missing), cstd_err_badElementTable);
    EXPECT_EQ(cstd_vector__constructWithVtableWithMtable(&v, -1, 8, 0, nullptr, &noFree), cstd_err_badMemoryTable);
    EXPECT_EQ(cstd_vector__constructWithVtable(&v, -1, 8, 0, nullptr), cstd_err_badCount);
    EXPECT_EQ(cstd_vector__constructWithVtable(&v, INT64_MAX / 4, 8, 0, nullptr), csys_err_badSize);

    ASSERT_EQ(cstd_vector__constructWithVtableUninit(&a, 1, 8, 0, nullptr), 0);
    ASSERT_EQ(cstd_vector__constructWithVtable(&b, 2, 4, 0, nullptr), 0);
    void *begin = nullptr, *end = nullptr;
    ASSERT_EQ(cstd_vector__getBeginEnd(&b, &begin, &end), 0);
    EXPECT_TRUE(begin == b.begin && static_cast<char *>(end) - static_cast<char *>(begin) == 8);
    EXPECT_EQ(cstd_vector__assign(&a, &b), cstd_err_elementMismatch);
    EXPECT_EQ(cstd_vector__append(&a, &b), cstd_err_elementMismatch);
    EXPECT_EQ(cstd_vector__popBack(&a), 0);
    EXPECT_EQ(cstd_vector__popBack(&a), cstd_err_emptyVector);
    // A size beyond 32 bits is reported, not truncated.
    int32_t size32 = -5;
    b.size = int64_t{INT32_MAX} + 1;
    EXPECT_EQ(cstd_vector__getSize32(&b, &size32), cstd_err_sizeOver32Bits);
    EXPECT_EQ(size32, -5);
    b.size = 2;

    cblobtest::AssertCatcher catcher;
    EXPECT_EQ(cstd_vector__pushBack(&a, nullptr), csys_err_assertFailed);
    EXPECT_EQ(cstd_vector__getSize32(nullptr, &size32), csys_err_assertFailed);
    EXPECT_EQ(cstd_vector__constructCopy(&a, &a), csys_err_assertFailed);
    EXPECT_EQ(catcher.count(), 3);
    cstd_vector__destruct(&a);
    cstd_vector__destruct(&b);
}

// A memory table that counts its calls and forwards to the memory service.
int g_tableCalls = 0;
int32_t countingAlloc(int64_t size, void **p) { return ++g_tableCalls, csys_memory_alloc_internal(size, p); }
int32_t countingFree(void **p) { return ++g_tableCalls, csys_memory_free_internal(p); }
int32_t countingRealloc(int64_t size, void **p) { return ++g_tableCalls, csys_memory_realloc_internal(size, p); }

TEST(Vector, MemoryTableServesEveryBlockAndIsInherited) {
    const cstd_vectorMemoryTable table = {&countingAlloc, &countingFree, &countingRealloc};
    cstd_vector_ v, copy;
    g_tableCalls = 0;
    ASSERT_EQ(cstd_vector__constructWithVtableWithMtable(&v, 0, 4, 0, nullptr, &table), 0);
    EXPECT_EQ(g_tableCalls, 0);  // empty vectors allocate nothing
    for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(cstd_vector__pushBack(&v, &i), 0);
    const int grows = g_tableCalls;
    EXPECT_TRUE(grows > 2 && grows < 20) << grows << ": growth must be geometric";
    ASSERT_EQ(cstd_vector__constructCopy(&copy, &v), 0);
    EXPECT_EQ(copy.mtable, &table);
    cstd_vector__destruct(&copy);
    cstd_vector__destruct(&v);
    EXPECT_EQ(g_tableCalls, grows + 3);  // the copy's block, and two frees
}

}  // namespace
