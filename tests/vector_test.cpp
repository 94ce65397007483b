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

// ------------------------------------------------------------------------
// An element type whose actions count live elements and catch misuse (using
// an element that is not constructed, destroying one twice), and whose
// construct / constructCopy / assign can be made to fail at their k-th call.

constexpr uint64_t kLive = 0x4C495645u;
constexpr uint64_t kDead = 0xDEADu;
constexpr int32_t kActionFailure = CBLOB_STATUS_CODE(0x8000F00D);

struct Tracked {
    int64_t value;
    uint64_t state;
};

struct Tally {
    int64_t live = 0;
    int64_t misuse = 0;
    int64_t calls = 0;   // construct/constructCopy/assign calls since arming
    int64_t failAt = 0;  // the call that fails (0: none)
    bool fired = false;
} g;

int32_t gate() {
    if (g.failAt > 0 && ++g.calls == g.failAt) {
        g.fired = true;
        return kActionFailure;
    }
    return 0;
}
void checkLive(const void *e) {
    if (static_cast<const Tracked *>(e)->state != kLive) ++g.misuse;
}
int32_t trackedConstruct(void *e) {
    if (CBLOB_FAILED(gate())) return kActionFailure;
    *static_cast<Tracked *>(e) = Tracked{0, kLive};
    ++g.live;
    return 0;
}
int32_t trackedCopy(void *e, const void *src) {
    checkLive(src);
    if (CBLOB_FAILED(gate())) return kActionFailure;
    *static_cast<Tracked *>(e) = Tracked{static_cast<const Tracked *>(src)->value, kLive};
    ++g.live;
    return 0;
}
int32_t trackedAssign(void *e, const void *src) {
    checkLive(e);
    checkLive(src);
    if (CBLOB_FAILED(gate())) return kActionFailure;
    static_cast<Tracked *>(e)->value = static_cast<const Tracked *>(src)->value;
    return 0;
}
int32_t trackedDestruct(void *e) {
    checkLive(e);
    static_cast<Tracked *>(e)->state = kDead;
    --g.live;
    return 0;
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

int64_t valueAt(const Kind &k, const cstd_vector_ &v, int64_t i) {
    const void *e = nullptr;
    EXPECT_EQ(cstd_vector__getElementConst(&v, i, &e), 0);
    return k.table ? static_cast<const Tracked *>(e)->value : *static_cast<const int64_t *>(e);
}

// A stack element holding a value, valid as a source for either kind.
struct Element {
    Element(const Kind &, int64_t value) : tracked{value, kLive} {}
    const void *get(const Kind &k) const { return k.table ? static_cast<const void *>(&tracked) : &tracked.value; }
    Tracked tracked;
};

std::vector<int64_t> contents(const Kind &k, const cstd_vector_ &v) {
    std::vector<int64_t> out;
    for (int64_t i = 0; i < v.size; ++i) out.push_back(valueAt(k, v, i));
    return out;
}

// Constructs v holding `values`, with a capacity of exactly their number.
int32_t makeVector(const Kind &k, cstd_vector_ *v, const std::vector<int64_t> &values) {
    std::vector<Tracked> tracked;
    for (int64_t value : values) tracked.push_back(Tracked{value, kLive});
    const void *block = k.table ? static_cast<const void *>(tracked.data()) : values.data();
    return cstd_vector__constructFromBlockWithVtable(v, block, static_cast<int64_t>(values.size()), k.size, 0, k.table);
}

// ------------------------------------------------------------------------

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
        const int op = static_cast<int>(pick(0, 17));
        const Element fresh(k, pick(1, 1000000));
        std::vector<Element> block;
        for (int64_t i = pick(0, 6); i > 0; --i) block.emplace_back(k, pick(1, 1000000));
        std::vector<Tracked> blockTracked;
        std::vector<int64_t> blockRaw, blockValues;
        for (const Element &e : block) {
            blockTracked.push_back(e.tracked);
            blockRaw.push_back(e.tracked.value);
            blockValues.push_back(e.tracked.value);
        }
        const void *blockData = k.table ? static_cast<const void *>(blockTracked.data()) : blockRaw.data();
        const int64_t blockCount = static_cast<int64_t>(block.size());
        const int64_t at = pick(0, n);
        void *self = nullptr;  // an element of v, as an aliasing source
        if (n > 0) {
            ASSERT_EQ(cstd_vector__getElement(&v, pick(0, n - 1), &self), 0);
        }
        switch (op) {
            case 0:
                ASSERT_EQ(cstd_vector__pushBack(&v, fresh.get(k)), 0);
                model.push_back(fresh.tracked.value);
                break;
            case 1:
                if (n == 0) break;
                model.push_back(valueAt(k, v, (static_cast<char *>(self) - static_cast<char *>(v.begin)) / k.size));
                ASSERT_EQ(cstd_vector__pushBack(&v, self), 0);
                break;
            case 2:
                ASSERT_EQ(cstd_vector__popBack(&v), n == 0 ? cstd_err_emptyVector : 0);
                if (n > 0) model.pop_back();
                break;
            case 3:
                ASSERT_EQ(cstd_vector__insert(&v, at, blockData, blockCount), 0);
                model.insert(model.begin() + at, blockValues.begin(), blockValues.end());
                break;
            case 4: {  // insert a slice of v into v
                const int64_t first = pick(0, n), count = pick(0, n - first);
                const std::vector<int64_t> slice(model.begin() + first, model.begin() + first + count);
                void *src = count > 0 ? static_cast<char *>(v.begin) + first * k.size : nullptr;
                ASSERT_EQ(cstd_vector__insert(&v, at, src, count), 0);
                model.insert(model.begin() + at, slice.begin(), slice.end());
                break;
            }
            case 5: {
                const int64_t first = pick(0, n), count = pick(0, n - first);
                ASSERT_EQ(cstd_vector__erase(&v, first, count), 0);
                model.erase(model.begin() + first, model.begin() + first + count);
                if (n - count > 0) {
                    const int64_t i = pick(0, n - count - 1);
                    ASSERT_EQ(cstd_vector__eraseElement(&v, i), 0);
                    model.erase(model.begin() + i);
                }
                break;
            }
            case 6: {
                const int64_t count = pick(0, n + 9);
                ASSERT_EQ(cstd_vector__resize(&v, count), 0);
                model.resize(static_cast<size_t>(count), 0);
                break;
            }
            case 7: {
                const int64_t count = pick(0, n + 9);
                const void *value = self && pick(0, 1) ? self : fresh.get(k);
                const int64_t expected = value == self ? model[static_cast<size_t>(
                                                             (static_cast<char *>(self) - static_cast<char *>(v.begin)) /
                                                             k.size)]
                                                       : fresh.tracked.value;
                ASSERT_EQ(cstd_vector__resizeFill(&v, count, value), 0);
                model.resize(static_cast<size_t>(count), expected);
                break;
            }
            case 8:
                ASSERT_EQ(cstd_vector__reserve(&v, pick(0, 2 * n + 4)), 0);
                break;
            case 9:
                ASSERT_EQ(cstd_vector__assignElements(&v, blockData, blockCount), 0);
                model = blockValues;
                break;
            case 10: {  // assign a slice of v to v
                const int64_t first = pick(0, n), count = pick(0, n - first);
                void *src = count > 0 ? static_cast<char *>(v.begin) + first * k.size : nullptr;
                ASSERT_EQ(cstd_vector__assignElements(&v, src, count), 0);
                model = std::vector<int64_t>(model.begin() + first, model.begin() + first + count);
                break;
            }
            case 11:
                ASSERT_EQ(cstd_vector__append(&v, &other), 0);
                model.insert(model.end(), otherModel.begin(), otherModel.end());
                break;
            case 12:
                ASSERT_EQ(cstd_vector__append(&v, &v), 0);
                model.insert(model.end(), model.begin(), model.begin() + n);
                break;
            case 13:
                if (pick(0, 1)) {
                    ASSERT_EQ(cstd_vector__assign(&other, &v), 0);
                    otherModel = model;
                } else {
                    ASSERT_EQ(cstd_vector__assign(&v, &other), 0);
                    model = otherModel;
                }
                ASSERT_EQ(cstd_vector__assign(&v, &v), 0);
                break;
            case 14:
                ASSERT_EQ(cstd_vector__swap(&v, &other), 0);
                std::swap(model, otherModel);
                break;
            case 15:
                if (n > 40 || pick(0, 9) == 0) {
                    ASSERT_EQ(pick(0, 1) ? cstd_vector__clear(&v) : cstd_vector__clearAndFreeMemory(&v), 0);
                    model.clear();
                }
                break;
            case 16: {  // a copy is equal and independent
                cstd_vector_ copy;
                ASSERT_EQ(cstd_vector__constructCopy(&copy, &v), 0);
                ASSERT_EQ(contents(k, copy), model);
                ASSERT_EQ(cstd_vector__pushBack(&copy, fresh.get(k)), 0);
                ASSERT_EQ(cstd_vector__destruct(&copy), 0);
                break;
            }
            default: {  // rejected edits leave the vector alone
                ASSERT_EQ(cstd_vector__insert(&v, n + 1, blockData, 0), cstd_err_badIndex);
                ASSERT_EQ(cstd_vector__insert(&v, 0, blockData, -1), cstd_err_badCount);
                ASSERT_EQ(cstd_vector__erase(&v, at, n - at + 1), cstd_err_badIndex);
                ASSERT_EQ(cstd_vector__eraseElement(&v, n), cstd_err_badIndex);
                ASSERT_EQ(cstd_vector__resize(&v, -1), cstd_err_badCount);
                void *e = nullptr;
                ASSERT_EQ(cstd_vector__getElement(&v, -1, &e), cstd_err_badIndex);
                break;
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

// Each operation, given a fresh set of vectors, run under every failing
// allocation and (with the table) every failing element action.
struct Operation {
    const char *name;
    std::function<int32_t(const Kind &, cstd_vector_ *v, cstd_vector_ *w)> run;
};

const std::vector<int64_t> kTen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

std::vector<Operation> operations() {
    return {
        {"construct", [](const Kind &k, cstd_vector_ *, cstd_vector_ *) {
             cstd_vector_ x;
             int32_t s = cstd_vector__constructWithVtable(&x, 10, k.size, 0, k.table);
             return CBLOB_FAILED(s) ? s : cstd_vector__destruct(&x);
         }},
        {"constructCopy", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) {
             cstd_vector_ x;
             int32_t s = cstd_vector__constructCopy(&x, v);
             return CBLOB_FAILED(s) ? s : cstd_vector__destruct(&x);
         }},
        {"assign to shorter", [](const Kind &, cstd_vector_ *v, cstd_vector_ *w) { return cstd_vector__assign(w, v); }},
        {"assign to longer", [](const Kind &, cstd_vector_ *v, cstd_vector_ *w) { return cstd_vector__assign(v, w); }},
        {"resize", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) { return cstd_vector__resize(v, 25); }},
        {"resizeFill", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) {
             return cstd_vector__resizeFill(v, 25, v->begin);
         }},
        {"reserve", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) { return cstd_vector__reserve(v, 100); }},
        {"insert middle", [](const Kind &, cstd_vector_ *v, cstd_vector_ *w) {
             return cstd_vector__insert(v, 4, w->begin, w->size);
         }},
        {"append self", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) { return cstd_vector__append(v, v); }},
        {"pushBack", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) {
             int32_t s = 0;
             for (int i = 0; i < 20 && !CBLOB_FAILED(s); ++i) s = cstd_vector__pushBack(v, v->begin);
             return s;
         }},
        {"erase middle", [](const Kind &, cstd_vector_ *v, cstd_vector_ *) { return cstd_vector__erase(v, 2, 3); }},
    };
}

// Builds v (ten elements, capacity exactly ten) and w (three), runs the
// operation with failures armed, and releases both.
int32_t runOperation(const Kind &k, const Operation &op, bool armActions, int64_t failAt) {
    cstd_vector_ v, w;
    const int32_t made = makeVector(k, &v, kTen);
    if (CBLOB_FAILED(made)) return made;
    int32_t status = cstd_vector__constructFromBlockWithVtable(&w, v.begin, 3, k.size, 0, k.table);
    if (CBLOB_FAILED(status)) {
        cstd_vector__destruct(&v);
        return status;
    }
    if (armActions) {
        g.calls = 0;
        g.failAt = failAt;
        g.fired = false;
    }
    status = op.run(k, &v, &w);
    g.failAt = 0;
    // Whatever happened, both vectors hold only valid elements.
    for (const cstd_vector_ *x : {&v, &w})
        for (int64_t i = 0; i < x->size; ++i) EXPECT_GE(valueAt(k, *x, i), 0);
    cstd_vector__destruct(&v);
    cstd_vector__destruct(&w);
    EXPECT_EQ(g.live, 0) << op.name;
    return status;
}

TEST_P(VectorKinds, EveryOperationSurvivesEveryFailingAllocation) {
    const Kind &k = *GetParam();
    for (const Operation &op : operations()) {
        SCOPED_TRACE(op.name);
        cblobtest::expectCleanUnderAllocationFailures([&] { return runOperation(k, op, false, 0); });
    }
}

TEST(Vector, EveryOperationSurvivesEveryFailingElementAction) {
    g = Tally{};
    const Kind &k = kWithTable;
    for (const Operation &op : operations()) {
        SCOPED_TRACE(op.name);
        const int64_t blocksBefore = csys_memory_getLiveBlockCount();
        for (int64_t failAt = 1;; ++failAt) {
            const int32_t status = runOperation(k, op, true, failAt);
            if (!g.fired) {
                EXPECT_EQ(status, 0);
                break;
            }
            EXPECT_EQ(status, kActionFailure) << "action " << failAt;
            EXPECT_EQ(csys_memory_getLiveBlockCount(), blocksBefore) << "action " << failAt;
            if (HasFailure()) return;
        }
    }
    EXPECT_EQ(g.misuse, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, VectorKinds, ::testing::Values(&kRaw, &kWithTable),
                         [](const ::testing::TestParamInfo<const Kind *> &param) {
                             return std::string(param.param->name);
                         });

TEST(Vector, FailedGrowthKeepsTheElements) {
    g = Tally{};
    cstd_vector_ v;
    ASSERT_EQ(makeVector(kWithTable, &v, kTen), 0);
    const int64_t capacity = v.capacity;
    const Element extra(kWithTable, 99);
    const Kind &k = kWithTable;
    for (int64_t at : {int64_t{0}, int64_t{5}, int64_t{10}}) {
        g.calls = 0;
        g.failAt = 6;  // fails while rebuilding the storage
        EXPECT_EQ(cstd_vector__insertElement(&v, at, extra.get(k)), kActionFailure);
        g.failAt = 0;
        EXPECT_EQ(contents(k, v), kTen);
        EXPECT_EQ(v.capacity, capacity);
    }
    // An in-place assignment that fails keeps the size and valid elements.
    cstd_vector_ w;
    ASSERT_EQ(makeVector(k, &w, {7, 7, 7}), 0);
    g.calls = 0;
    g.failAt = 2;
    EXPECT_EQ(cstd_vector__assign(&v, &w), kActionFailure);
    g.failAt = 0;
    EXPECT_EQ(v.size, 10);
    EXPECT_EQ(valueAt(k, v, 0), 7);
    EXPECT_EQ(valueAt(k, v, 1), 2);
    cstd_vector__destruct(&v);
    cstd_vector__destruct(&w);
    EXPECT_EQ(g.live, 0);
    EXPECT_EQ(g.misuse, 0);
}

TEST(Vector, ValidationOrderAndStatuses) {
    cstd_vector_ v{};
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

    cstd_vector_ a, b;
    ASSERT_EQ(cstd_vector__constructWithVtable(&a, 2, 8, 0, nullptr), 0);
    ASSERT_EQ(cstd_vector__constructWithVtable(&b, 2, 4, 0, nullptr), 0);
    EXPECT_EQ(cstd_vector__assign(&a, &b), cstd_err_elementMismatch);
    EXPECT_EQ(cstd_vector__append(&a, &b), cstd_err_elementMismatch);
    EXPECT_EQ(cstd_vector__popBack(&a), 0);
    EXPECT_EQ(cstd_vector__popBack(&a), 0);
    EXPECT_EQ(cstd_vector__popBack(&a), cstd_err_emptyVector);
    EXPECT_EQ(cstd_vector__pushBack(&b, &a), 0);  // any 4 bytes

    // A size beyond 32 bits is reported, not truncated.
    int32_t size32 = -5;
    const int64_t realSize = b.size;
    b.size = int64_t{INT32_MAX} + 1;
    EXPECT_EQ(cstd_vector__getSize32(&b, &size32), cstd_err_sizeOver32Bits);
    EXPECT_EQ(size32, -5);
    b.size = realSize;

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
    EXPECT_GT(grows, 2);
    EXPECT_LT(grows, 20);  // geometric growth
    ASSERT_EQ(cstd_vector__constructCopy(&copy, &v), 0);
    EXPECT_EQ(copy.mtable, &table);
    cstd_vector__destruct(&copy);
    cstd_vector__destruct(&v);
    EXPECT_EQ(g_tableCalls, grows + 3);  // the copy's block, and two frees
}

TEST(Vector, IterationCursorAndUninitialisedElements) {
    cstd_vector_ v;
    ASSERT_EQ(cstd_vector__constructWithVtableUninit(&v, 5, sizeof(int32_t), 0, nullptr), 0);
    void *begin = nullptr, *end = nullptr, *e = nullptr;
    ASSERT_EQ(cstd_vector__getBeginEnd(&v, &begin, &end), 0);
    for (int32_t i = 0; i < 5; ++i) static_cast<int32_t *>(begin)[i] = i * 10;
    EXPECT_EQ(static_cast<int32_t *>(end) - static_cast<int32_t *>(begin), 5);
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(cstd_vector__getBegin(&v, &begin), 0);
        std::vector<int32_t> seen;
        for (cstd_vector__getNextElement(&v, &e); e; cstd_vector__getNextElement(&v, &e))
            seen.push_back(*static_cast<int32_t *>(e));
        EXPECT_EQ(seen, (std::vector<int32_t>{0, 10, 20, 30, 40}));
    }
    // Plain elements are zero when default-constructed.
    ASSERT_EQ(cstd_vector__resize(&v, 8), 0);
    for (int64_t i = 5; i < 8; ++i) EXPECT_EQ(static_cast<int32_t *>(v.begin)[i], 0);
    cstd_vector__destruct(&v);
}

}  // namespace
