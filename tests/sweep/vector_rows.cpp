// Sweep rows of the vectors: the untyped vector and every typed vector, each
// typed vector with its four type-check hooks. One template holds the table
// of operations; a macro lists each typed vector's functions for it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cblob/cblob.h"
#include "support/api_sweep.hpp"

namespace {

using namespace cblobtest::sweep;

// The untyped vector seen through the typed vector's signatures, with
// elements of 8 plain bytes. Operations the untyped vector lacks have no
// public name (name() gives "") and no row.
struct Untyped {
    using V = cstd_vector_;
    using T = uint64_t;
    static std::string name(const char *op) {
        static const std::pair<const char *, const char *> kRenamed[] = {
            {"construct", "constructWithVtable"},
            {"constructWithMtable", "constructWithVtableWithMtable"},
            {"constructUninit", "constructWithVtableUninit"},
            {"constructFill", "constructFillWithVtable"},
            {"constructFromBlock", "constructFromBlockWithVtable"},
            {"getSizeIntPtr", "getSize"},
            {"getBeginSizeIntPtr", "getBeginSize"},
            {"getBeginSizeIntPtrConst", "getBeginSizeConst"},
            {"getSize", ""},
            {"getBeginSize", ""},
            {"getBeginSizeConst", ""},
            {"constructEmpty", ""},
            {"constructEmptyWithMtable", ""},
            {"new", ""},
            {"newClone", ""},
            {"delete", ""}};
        for (const auto &[typed, untyped] : kRenamed)
            if (!std::strcmp(op, typed)) return *untyped ? std::string("cstd_vector__") + untyped : std::string();
        return std::string("cstd_vector__") + op;
    }
    static int32_t construct(V *v, int64_t n) { return cstd_vector__constructWithVtable(v, n, 8, 0, nullptr); }
    static int32_t constructWithMtable(V *v, int64_t n, const cstd_vectorMemoryTable *m) {
        return cstd_vector__constructWithVtableWithMtable(v, n, 8, 0, nullptr, m);
    }
    static int32_t constructEmpty(V *v) { return construct(v, 0); }
    static int32_t constructEmptyWithMtable(V *v, const cstd_vectorMemoryTable *m) { return constructWithMtable(v, 0, m); }
    static int32_t constructUninit(V *v, int64_t n) { return cstd_vector__constructWithVtableUninit(v, n, 8, 0, nullptr); }
    static int32_t constructFill(V *v, int64_t n, const T *e) {
        return cstd_vector__constructFillWithVtable(v, n, e, 8, 0, nullptr);
    }
    static int32_t constructFromBlock(V *v, const T *b, int64_t n) {
        return cstd_vector__constructFromBlockWithVtable(v, b, n, 8, 0, nullptr);
    }
    static constexpr auto constructCopy = &cstd_vector__constructCopy;
    static constexpr auto assign = &cstd_vector__assign;
    static int32_t assignElements(V *v, const T *e, int64_t n) { return cstd_vector__assignElements(v, e, n); }
    static constexpr auto append = &cstd_vector__append;
    static constexpr auto swap = &cstd_vector__swap;
    static constexpr auto destruct = &cstd_vector__destruct;
    static constexpr auto clear = &cstd_vector__clear;
    static constexpr auto clearAndFreeMemory = &cstd_vector__clearAndFreeMemory;
    static constexpr auto resize = &cstd_vector__resize;
    static constexpr auto resizeUninit = &cstd_vector__resizeUninit;
    static int32_t resizeFill(V *v, int64_t n, const T *e) { return cstd_vector__resizeFill(v, n, e); }
    static constexpr auto reserve = &cstd_vector__reserve;
    static int32_t getSize(const V *v, int32_t *n) { return cstd_vector__getSize32(v, n); }
    static constexpr auto getSize32 = &cstd_vector__getSize32;
    static constexpr auto getSizeIntPtr = &cstd_vector__getSize;
    static constexpr auto getCapacity = &cstd_vector__getCapacity;
    static constexpr auto getElementSize = &cstd_vector__getElementSize;
    static int32_t getBegin(V *v, T **b) { return cstd_vector__getBegin(v, reinterpret_cast<void **>(b)); }
    static int32_t getBeginConst(const V *v, const T **b) {
        return cstd_vector__getBeginConst(v, reinterpret_cast<const void **>(b));
    }
    static int32_t getBeginEnd(V *v, T **b, T **e) {
        return cstd_vector__getBeginEnd(v, reinterpret_cast<void **>(b), reinterpret_cast<void **>(e));
    }
    static int32_t getBeginEndConst(const V *v, const T **b, const T **e) {
        return cstd_vector__getBeginEndConst(v, reinterpret_cast<const void **>(b), reinterpret_cast<const void **>(e));
    }
    static int32_t getBeginSize32(V *v, T **b, int32_t *n) {
        return cstd_vector__getBeginSize32(v, reinterpret_cast<void **>(b), n);
    }
    static int32_t getBeginSize32Const(const V *v, const T **b, int32_t *n) {
        return cstd_vector__getBeginSize32Const(v, reinterpret_cast<const void **>(b), n);
    }
    static constexpr auto getBeginSize = &getBeginSize32;
    static constexpr auto getBeginSizeConst = &getBeginSize32Const;
    static int32_t getBeginSizeIntPtr(V *v, T **b, intptr_t *n) {
        return cstd_vector__getBeginSize(v, reinterpret_cast<void **>(b), n);
    }
    static int32_t getBeginSizeIntPtrConst(const V *v, const T **b, intptr_t *n) {
        return cstd_vector__getBeginSizeConst(v, reinterpret_cast<const void **>(b), n);
    }
    static int32_t getElement(V *v, int64_t i, T **e) {
        return cstd_vector__getElement(v, i, reinterpret_cast<void **>(e));
    }
    static int32_t getElementConst(const V *v, int64_t i, const T **e) {
        return cstd_vector__getElementConst(v, i, reinterpret_cast<const void **>(e));
    }
    static int32_t getNextElement(V *v, T **e) { return cstd_vector__getNextElement(v, reinterpret_cast<void **>(e)); }
    static int32_t getNextElementConst(const V *v, const T **e) {
        return cstd_vector__getNextElementConst(v, reinterpret_cast<const void **>(e));
    }
    static int32_t insert(V *v, int64_t i, const T *e, int64_t n) { return cstd_vector__insert(v, i, e, n); }
    static int32_t insertElement(V *v, int64_t i, const T *e) { return cstd_vector__insertElement(v, i, e); }
    static constexpr auto erase = &cstd_vector__erase;
    static constexpr auto eraseElement = &cstd_vector__eraseElement;
    static int32_t pushBack(V *v, const T *e) { return cstd_vector__pushBack(v, e); }
    static constexpr auto popBack = &cstd_vector__popBack;
    static int32_t newVector(V **) { return 0; }
    static int32_t newClone(V **, const V *) { return 0; }
    static int32_t deleteVector(V **) { return 0; }
};

// A typed vector's functions under the names the template uses.
#define SWEEP_TYPED_VECTOR(VEC, ELEMENT)                                                              \
    struct VEC##_sweep {                                                                              \
        using V = ::VEC;                                                                              \
        using T = ELEMENT;                                                                          \
        static std::string name(const char *op) { return std::string(#VEC "_") + op; }                \
        static constexpr auto construct = &VEC##_construct;                                           \
        static constexpr auto constructWithMtable = &VEC##_constructWithMtable;                       \
        static constexpr auto constructEmpty = &VEC##_constructEmpty;                                 \
        static constexpr auto constructEmptyWithMtable = &VEC##_constructEmptyWithMtable;             \
        static constexpr auto constructUninit = &VEC##_constructUninit;                               \
        static constexpr auto constructFill = &VEC##_constructFill;                                   \
        static constexpr auto constructFromBlock = &VEC##_constructFromBlock;                         \
        static constexpr auto constructCopy = &VEC##_constructCopy;                                   \
        static constexpr auto assign = &VEC##_assign;                                                 \
        static constexpr auto assignElements = &VEC##_assignElements;                                 \
        static constexpr auto append = &VEC##_append;                                                 \
        static constexpr auto swap = &VEC##_swap;                                                     \
        static constexpr auto destruct = &VEC##_destruct;                                             \
        static constexpr auto clear = &VEC##_clear;                                                   \
        static constexpr auto clearAndFreeMemory = &VEC##_clearAndFreeMemory;                         \
        static constexpr auto resize = &VEC##_resize;                                                 \
        static constexpr auto resizeUninit = &VEC##_resizeUninit;                                     \
        static constexpr auto resizeFill = &VEC##_resizeFill;                                         \
        static constexpr auto reserve = &VEC##_reserve;                                               \
        static constexpr auto getSize = &VEC##_getSize;                                               \
        static constexpr auto getSize32 = &VEC##_getSize32;                                           \
        static constexpr auto getSizeIntPtr = &VEC##_getSizeIntPtr;                                   \
        static constexpr auto getCapacity = &VEC##_getCapacity;                                       \
        static constexpr auto getElementSize = &VEC##_getElementSize;                                 \
        static constexpr auto getBegin = &VEC##_getBegin;                                             \
        static constexpr auto getBeginConst = &VEC##_getBeginConst;                                   \
        static constexpr auto getBeginEnd = &VEC##_getBeginEnd;                                       \
        static constexpr auto getBeginEndConst = &VEC##_getBeginEndConst;                             \
        static constexpr auto getBeginSize = &VEC##_getBeginSize;                                     \
        static constexpr auto getBeginSizeConst = &VEC##_getBeginSizeConst;                           \
        static constexpr auto getBeginSize32 = &VEC##_getBeginSize32;                                 \
        static constexpr auto getBeginSize32Const = &VEC##_getBeginSize32Const;                       \
        static constexpr auto getBeginSizeIntPtr = &VEC##_getBeginSizeIntPtr;                         \
        static constexpr auto getBeginSizeIntPtrConst = &VEC##_getBeginSizeIntPtrConst;               \
        static constexpr auto getElement = &VEC##_getElement;                                         \
        static constexpr auto getElementConst = &VEC##_getElementConst;                               \
        static constexpr auto getNextElement = &VEC##_getNextElement;                                 \
        static constexpr auto getNextElementConst = &VEC##_getNextElementConst;                       \
        static constexpr auto insert = &VEC##_insert;                                                 \
        static constexpr auto insertElement = &VEC##_insertElement;                                   \
        static constexpr auto erase = &VEC##_erase;                                                   \
        static constexpr auto eraseElement = &VEC##_eraseElement;                                     \
        static constexpr auto pushBack = &VEC##_pushBack;                                             \
        static constexpr auto popBack = &VEC##_popBack;                                               \
        static constexpr auto newVector = &VEC##_new;                                                 \
        static constexpr auto newClone = &VEC##_newClone;                                             \
        static constexpr auto deleteVector = &VEC##_delete;                                           \
    };

SWEEP_TYPED_VECTOR(cstd_vector8, uint8_t)
SWEEP_TYPED_VECTOR(cstd_vector32, uint32_t)
SWEEP_TYPED_VECTOR(cstd_vector32s, int32_t)
SWEEP_TYPED_VECTOR(cstd_vectord, double)
SWEEP_TYPED_VECTOR(cstd_vector_vector32, cstd_vector32)
SWEEP_TYPED_VECTOR(cstd_vector_vector32s, cstd_vector32s)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_measure, cblob_measure)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_morphOp, cblob_morphOp)
SWEEP_TYPED_VECTOR(cstd_vector_cblock_of_cblob_blob_ptr, cblock_of_cblob_blob_ptr)
SWEEP_TYPED_VECTOR(cstd_vector_cblock_of_cblob_xformLinear_ptr, cblock_of_cblob_xformLinear_ptr)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_filter, cblob_filter)
SWEEP_TYPED_VECTOR(cstd_vector_vector_cblob_filter, cstd_vector_cblob_filter)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_blob_internal__ptr, cblob_blob_internal__ptr)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_blob_rleRowBlock_, cblob_blob_rleRowBlock_)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_blob_rleDataBlock_, cblob_blob_rleDataBlock_)
SWEEP_TYPED_VECTOR(cstd_vector_vector_cblob_blob_rleRowBlock_, cstd_vector_cblob_blob_rleRowBlock_)
SWEEP_TYPED_VECTOR(cstd_vector_vector_cblob_blob_rleDataBlock_, cstd_vector_cblob_blob_rleDataBlock_)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_measureDataPtr_, cblob_measureDataPtr_)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_rleRow, cblob_rleRow)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_rleData_Ptr, cblob_rleData_Ptr)
SWEEP_TYPED_VECTOR(cstd_vector_vector_cblob_rleData_Ptr, cstd_vector_cblob_rleData_Ptr)
SWEEP_TYPED_VECTOR(cstd_vector_cblob_imageRle, cblob_imageRle)

// Two vectors of A: v with three default elements, w with two. `element`
// points at v's first element: a properly built T of any kind, so no row
// needs to know how T is made.
template <class A>
struct Two {
    using V = typename A::V;
    using T = typename A::T;
    V v{}, w{};
    bool hasV = false, hasW = false;
    T *element = nullptr;

    int32_t build() {
        int32_t s = A::construct(&v, 3);
        if (s < 0) return s;
        hasV = true;
        if ((s = A::construct(&w, 2)) < 0) return s;
        hasW = true;
        return A::getElement(&v, 0, &element);
    }
    ~Two() {
        if (hasW) A::destruct(&w);
        if (hasV) A::destruct(&v);
    }
};

// The untyped vector is its own untyped part.
const cstd_vector_ &untypedOf(const cstd_vector_ &v) { return v; }
template <class V>
const cstd_vector_ &untypedOf(const V &v) {
    return v.untyped;
}

template <class A>
using Edit = int32_t (*)(Two<A> &);

// How a failed edit leaves v: exactly as it was, or (assignments, whose
// element assigns may fail half-way) with its old size.
enum class OnFailure { Unchanged, SameSize };

template <class A>
Row editRow(const char *op, OnFailure onFailure, Edit<A> edit) {
    return allocates({A::name(op)}, [op, onFailure, edit] {
        Two<A> two;
        int32_t s = two.build();
        if (s < 0) return s;
        const cstd_vector_ &v = untypedOf(two.v);
        const auto *bytes = static_cast<const unsigned char *>(v.begin);
        const std::vector<unsigned char> before(bytes, bytes + v.size * v.elementSize);
        const int64_t sizeBefore = v.size;
        s = edit(two);
        if (s < 0) {
            EXPECT_EQ(v.size, sizeBefore);
            const auto *after = static_cast<const unsigned char *>(v.begin);
            if (onFailure == OnFailure::Unchanged) {
                EXPECT_TRUE(std::equal(before.begin(), before.end(), after)) << "v changed by a failed " << op;
            }
        }
        return s;
    });
}

// A constructor row: builds a vector from v's first element, destructs it.
template <class A>
Row constructRow(const char *op, int32_t (*make)(typename A::V *, const Two<A> &)) {
    return allocates({A::name(op)}, [make] {
        Two<A> two;
        int32_t s = two.build();
        if (s < 0) return s;
        typename A::V x{};
        if ((s = make(&x, two)) < 0) return s;
        return A::destruct(&x);
    });
}

template <class A>
std::vector<Row> vectorRows() {
    using V = typename A::V;
    using T = typename A::T;
    using Fixture = Two<A>;
    std::vector<Row> rows = {
        constructRow<A>("construct", [](V *x, const Fixture &) { return A::construct(x, 5); }),
        constructRow<A>("constructWithMtable", [](V *x, const Fixture &) { return A::constructWithMtable(x, 5, nullptr); }),
        constructRow<A>("constructUninit", [](V *x, const Fixture &f) {
            // Each element gets the bytes of w's default element: a default
            // element of every type here holds no memory, so its bytes make
            // a valid element.
            const int32_t s = A::constructUninit(x, 3);
            const cstd_vector_ &u = untypedOf(*x), &w = untypedOf(f.w);
            for (int64_t i = 0; s >= 0 && i < u.size; ++i)
                std::memcpy(static_cast<char *>(u.begin) + i * u.elementSize, w.begin, u.elementSize);
            return s;
        }),
        constructRow<A>("constructFill", [](V *x, const Fixture &f) { return A::constructFill(x, 4, f.element); }),
        constructRow<A>("constructFromBlock", [](V *x, const Fixture &f) { return A::constructFromBlock(x, f.element, 2); }),
        constructRow<A>("constructCopy", [](V *x, const Fixture &f) { return A::constructCopy(x, &f.v); }),
        // Assignments from a longer source (w grown to six elements).
        editRow<A>("assign", OnFailure::SameSize, [](Fixture &f) {
            return Steps().then([&] { return A::resize(&f.w, 6); }).then([&] { return A::assign(&f.v, &f.w); }).status();
        }),
        editRow<A>("assignElements", OnFailure::SameSize, [](Fixture &f) {
            T *e = nullptr;
            return Steps()
                .then([&] { return A::resize(&f.w, 6); })
                .then([&] { return A::getElement(&f.w, 0, &e); })
                .then([&] { return A::assignElements(&f.v, e, 6); })
                .status();
        }),
        editRow<A>("append", OnFailure::Unchanged, [](Fixture &f) { return A::append(&f.v, &f.v); }),
        editRow<A>("resize", OnFailure::Unchanged, [](Fixture &f) { return A::resize(&f.v, 9); }),
        editRow<A>("resizeFill", OnFailure::Unchanged, [](Fixture &f) { return A::resizeFill(&f.v, 9, f.element); }),
        editRow<A>("reserve", OnFailure::Unchanged, [](Fixture &f) { return A::reserve(&f.v, 40); }),
        editRow<A>("insert", OnFailure::Unchanged, [](Fixture &f) { return A::insert(&f.v, 1, f.element, 2); }),
        editRow<A>("insertElement", OnFailure::Unchanged, [](Fixture &f) { return A::insertElement(&f.v, 0, f.element); }),
        editRow<A>("pushBack", OnFailure::Unchanged, [](Fixture &f) { return A::pushBack(&f.v, f.element); }),
        editRow<A>("erase", OnFailure::Unchanged, [](Fixture &f) { return A::erase(&f.v, 0, 2); }),
        editRow<A>("eraseElement", OnFailure::Unchanged, [](Fixture &f) { return A::eraseElement(&f.v, 1); }),
        allocates({A::name("new"), A::name("newClone"), A::name("delete")}, [] {
            Fixture two;
            V *p = nullptr, *q = nullptr;
            const int32_t s = Steps()
                                  .then([&] { return two.build(); })
                                  .then([&] { return A::newVector(&p); })
                                  .then([&] { return A::newClone(&q, &two.v); })
                                  .then([&] { return A::newClone(&q, q); })
                                  .status();
            if (s < 0) {
                EXPECT_TRUE(q == nullptr) << "a failed newClone leaves the pointer null";
            }
            A::deleteVector(&p);
            A::deleteVector(&q);
            return s;
        }),
        noAllocation({A::name("resizeUninit"), A::name("constructEmpty"), A::name("constructEmptyWithMtable"),
                      A::name("swap"), A::name("clear"), A::name("clearAndFreeMemory"), A::name("popBack"),
                      A::name("destruct")},
                     [] {
                         Fixture two;
                         V empty{}, emptyToo{};
                         return Steps()
                             .then([&] { return two.build(); })
                             .then([&] {
                                 return withoutAllocating([&] {
                                     return Steps()
                                         .then([&] { return A::resizeUninit(&two.v, 1); })
                                         .then([&] { return A::constructEmpty(&empty); })
                                         .then([&] { return A::constructEmptyWithMtable(&emptyToo, nullptr); })
                                         .then([&] { return A::swap(&two.v, &two.w); })
                                         .then([&] { return A::popBack(&two.v); })
                                         .then([&] { return A::clear(&two.v); })
                                         .then([&] { return A::clearAndFreeMemory(&two.w); })
                                         .then([&] { return A::destruct(&empty); })
                                         .then([&] { return A::destruct(&emptyToo); })
                                         .status();
                                 });
                             })
                             .status();
                     }),
        noAllocation({A::name("getSize"), A::name("getSize32"), A::name("getSizeIntPtr"), A::name("getCapacity"),
                      A::name("getElementSize"), A::name("getBegin"), A::name("getBeginConst"), A::name("getBeginEnd"),
                      A::name("getBeginEndConst"), A::name("getBeginSize"), A::name("getBeginSizeConst"),
                      A::name("getBeginSize32"), A::name("getBeginSize32Const"), A::name("getBeginSizeIntPtr"),
                      A::name("getBeginSizeIntPtrConst"), A::name("getElement"), A::name("getElementConst"),
                      A::name("getNextElement"), A::name("getNextElementConst")},
                     [] {
                         Fixture two;
                         int32_t s = two.build();
                         if (s < 0) return s;
                         return withoutAllocating([&] {
                             const V &cv = two.v;
                             T *b = nullptr, *e = nullptr;
                             const T *cb = nullptr, *ce = nullptr;
                             int32_t n32 = 0;
                             intptr_t n = 0;
                             return Steps()
                                 .then([&] { return A::getSize(&cv, &n32); })
                                 .then([&] { return A::getSize32(&cv, &n32); })
                                 .then([&] { return A::getSizeIntPtr(&cv, &n); })
                                 .then([&] { return A::getCapacity(&cv, &n); })
                                 .then([&] { return A::getElementSize(&cv, &n); })
                                 .then([&] { return A::getBegin(&two.v, &b); })
                                 .then([&] { return A::getBeginConst(&cv, &cb); })
                                 .then([&] { return A::getBeginEnd(&two.v, &b, &e); })
                                 .then([&] { return A::getBeginEndConst(&cv, &cb, &ce); })
                                 .then([&] { return A::getBeginSize(&two.v, &b, &n32); })
                                 .then([&] { return A::getBeginSizeConst(&cv, &cb, &n32); })
                                 .then([&] { return A::getBeginSize32(&two.v, &b, &n32); })
                                 .then([&] { return A::getBeginSize32Const(&cv, &cb, &n32); })
                                 .then([&] { return A::getBeginSizeIntPtr(&two.v, &b, &n); })
                                 .then([&] { return A::getBeginSizeIntPtrConst(&cv, &cb, &n); })
                                 .then([&] { return A::getElement(&two.v, 2, &e); })
                                 .then([&] { return A::getElementConst(&cv, 2, &ce); })
                                 .then([&] { return A::getNextElement(&two.v, &e); })
                                 .then([&] { return A::getNextElementConst(&cv, &ce); })
                                 .status();
                         });
                     }),
    };
    // Drop the names (and rows) the untyped vector does not have.
    std::vector<Row> kept;
    for (auto &row : rows) {
        std::vector<std::string> names;
        for (auto &f : row.functions)
            if (!f.empty()) names.push_back(f);
        row.functions = names;
        if (!names.empty()) kept.push_back(row);
    }
    return kept;
}

// The four type-check hooks of T: empty functions that exist so that
// wrong-type arguments fail to compile in generic code.
#define SWEEP_TYPE_CHECKS(T)                                                   \
    {"csys_typeCheck_" #T, "csys_typeCheckPtr_" #T, "csys_typeCheckFunc_" #T, \
     "csys_typeCheckFuncPtr_" #T},                                             \
        [] {                                                                   \
            csys_typeCheck_##T(nullptr);                                       \
            csys_typeCheckPtr_##T(nullptr);                                    \
            csys_typeCheckFunc_##T(nullptr);                                   \
            csys_typeCheckFuncPtr_##T(nullptr);                                \
            return 0;                                                          \
        }

Row typeCheckRow(std::vector<std::string> names, int32_t (*call)()) {
    return noAllocation(std::move(names), [call] { return withoutAllocating(call); });
}

// A pointer cell's element actions: they copy and clear the pointer.
#define SWEEP_POINTER_CELL(Cell)                                                                       \
    noAllocation({#Cell "_construct", #Cell "_constructCopy", #Cell "_assign", #Cell "_destruct"}, [] { \
        Cell a{}, b{};                                                                                  \
        return withoutAllocating([&] {                                                                  \
            return Steps()                                                                              \
                .then([&] { return Cell##_construct(&a); })                                             \
                .then([&] { return Cell##_constructCopy(&b, &a); })                                     \
                .then([&] { return Cell##_assign(&b, &a); })                                            \
                .then([&] { return Cell##_destruct(&b); })                                              \
                .then([&] { return Cell##_destruct(&a); })                                              \
                .status();                                                                              \
        });                                                                                             \
    })

std::vector<Row> rows() {
    std::vector<Row> all = vectorRows<Untyped>();
    const std::vector<std::vector<Row>> families = {
#define FAMILY(V) vectorRows<V##_sweep>()
        FAMILY(cstd_vector8),
        FAMILY(cstd_vector32),
        FAMILY(cstd_vector32s),
        FAMILY(cstd_vectord),
        FAMILY(cstd_vector_vector32),
        FAMILY(cstd_vector_vector32s),
        FAMILY(cstd_vector_cblob_measure),
        FAMILY(cstd_vector_cblob_morphOp),
        FAMILY(cstd_vector_cblock_of_cblob_blob_ptr),
        FAMILY(cstd_vector_cblock_of_cblob_xformLinear_ptr),
        FAMILY(cstd_vector_cblob_filter),
        FAMILY(cstd_vector_vector_cblob_filter),
        FAMILY(cstd_vector_cblob_blob_internal__ptr),
        FAMILY(cstd_vector_cblob_blob_rleRowBlock_),
        FAMILY(cstd_vector_cblob_blob_rleDataBlock_),
        FAMILY(cstd_vector_vector_cblob_blob_rleRowBlock_),
        FAMILY(cstd_vector_vector_cblob_blob_rleDataBlock_),
        FAMILY(cstd_vector_cblob_measureDataPtr_),
        FAMILY(cstd_vector_cblob_rleRow),
        FAMILY(cstd_vector_cblob_rleData_Ptr),
        FAMILY(cstd_vector_vector_cblob_rleData_Ptr),
        FAMILY(cstd_vector_cblob_imageRle),
#undef FAMILY
    };
    for (const auto &family : families) all.insert(all.end(), family.begin(), family.end());
    all.push_back(SWEEP_POINTER_CELL(cblock_of_cblob_blob_ptr));
    all.push_back(SWEEP_POINTER_CELL(cblock_of_cblob_xformLinear_ptr));
    // The adjacency cell's construct allocates its block; the owner frees it.
    all.push_back(allocates({"cblock_of_cblob_adjBlockChain__ptr_construct", "cblock_of_cblob_adjBlockChain__ptr_constructCopy",
                             "cblock_of_cblob_adjBlockChain__ptr_assign", "cblock_of_cblob_adjBlockChain__ptr_destruct"},
                            [] {
                                cblock_of_cblob_adjBlockChain__ptr a{}, b{};
                                const int32_t s = cblock_of_cblob_adjBlockChain__ptr_construct(&a);
                                if (s < 0) {
                                    EXPECT_TRUE(a.ptr == nullptr);
                                    return s;
                                }
                                cblock_of_cblob_adjBlockChain__ptr_constructCopy(&b, &a);
                                cblock_of_cblob_adjBlockChain__ptr_assign(&b, &a);
                                EXPECT_EQ(b.ptr, a.ptr);
                                void *block = a.ptr;
                                cblock_of_cblob_adjBlockChain__ptr_destruct(&b);
                                cblock_of_cblob_adjBlockChain__ptr_destruct(&a);
                                return csys_memory_free_internal(&block);
                            }));
#define TYPE_CHECKS(T) typeCheckRow(SWEEP_TYPE_CHECKS(T))
    for (Row r : {TYPE_CHECKS(cstd_vector_), TYPE_CHECKS(cstd_vector8), TYPE_CHECKS(cstd_vector32),
                  TYPE_CHECKS(cstd_vector32s), TYPE_CHECKS(cstd_vectord), TYPE_CHECKS(cstd_vector_vector32),
                  TYPE_CHECKS(cstd_vector_vector32s), TYPE_CHECKS(cstd_vector_cblob_measure),
                  TYPE_CHECKS(cstd_vector_cblob_morphOp), TYPE_CHECKS(cstd_vector_cblock_of_cblob_blob_ptr),
                  TYPE_CHECKS(cstd_vector_cblock_of_cblob_xformLinear_ptr), TYPE_CHECKS(cstd_vector_cblob_filter),
                  TYPE_CHECKS(cstd_vector_vector_cblob_filter), TYPE_CHECKS(cstd_vector_cblob_blob_internal__ptr),
                  TYPE_CHECKS(cstd_vector_cblob_blob_rleRowBlock_), TYPE_CHECKS(cstd_vector_cblob_blob_rleDataBlock_),
                  TYPE_CHECKS(cstd_vector_vector_cblob_blob_rleRowBlock_),
                  TYPE_CHECKS(cstd_vector_vector_cblob_blob_rleDataBlock_),
                  TYPE_CHECKS(cstd_vector_cblob_measureDataPtr_), TYPE_CHECKS(cstd_vector_cblob_rleRow),
                  TYPE_CHECKS(cstd_vector_cblob_rleData_Ptr), TYPE_CHECKS(cstd_vector_vector_cblob_rleData_Ptr),
                  TYPE_CHECKS(cstd_vector_cblob_imageRle), TYPE_CHECKS(cblock_of_cblob_blob_ptr),
                  TYPE_CHECKS(cblock_of_cblob_xformLinear_ptr), TYPE_CHECKS(cblock_of_cblob_adjBlockChain__ptr),
                  TYPE_CHECKS(cblob_filter), TYPE_CHECKS(cblob_blob), TYPE_CHECKS(cblob_blobRleDb_),
                  TYPE_CHECKS(cblob_blobRleDb_Ptrh), TYPE_CHECKS(cblob_resultSet),
                  TYPE_CHECKS(cblob_resultSetPostProcessing_), TYPE_CHECKS(cblob_imageRle),
                  TYPE_CHECKS(cblob_imageRlePtrh), TYPE_CHECKS(cblob_imageRleData_), TYPE_CHECKS(cblob_runParams)})
        all.push_back(r);
#undef TYPE_CHECKS
    return all;
}

const Registrar kVectors{"Vectors", &rows};

}  // namespace
