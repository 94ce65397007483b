// Typed vectors, vectors of vectors, pointer cells, heap objects and the
// integer rectangle.
#include <gtest/gtest.h>

#include <vector>

#include "cblob/containers.h"
#include "cblob/rect.h"
#include "cblob/sys.h"
#include "support/fault_injection.hpp"

namespace {

// The typed vectors are generated; their calls forward to the untyped vector
// with the element type's size.
TEST(TypedVector, CallsForwardWithTheElementSize) {
    cstd_vectord v;
    ASSERT_EQ(cstd_vectord_constructEmpty(&v), 0);
    for (int i = 0; i < 37; ++i) {
        const double x = i * 0.5;
        ASSERT_EQ(cstd_vectord_pushBack(&v, &x), 0);
    }
    int32_t size32 = 0;
    intptr_t elementSize = 0;
    const double *begin = nullptr, *end = nullptr, *e = nullptr;
    EXPECT_EQ(cstd_vectord_getSize32(&v, &size32), 0);
    EXPECT_EQ(cstd_vectord_getElementSize(&v, &elementSize), 0);
    EXPECT_EQ(cstd_vectord_getBeginEndConst(&v, &begin, &end), 0);
    EXPECT_TRUE(size32 == 37 && elementSize == sizeof(double) && end - begin == 37);
    EXPECT_EQ(cstd_vectord_getElementConst(&v, 36, &e), 0);
    EXPECT_EQ(*e, 18.0);
    EXPECT_EQ(cstd_vectord_getElementConst(&v, 37, &e), cstd_err_badIndex);
    EXPECT_EQ(*e, 18.0);  // untouched on failure
    EXPECT_EQ(cstd_vectord_destruct(&v), 0);
}

// Reads a vector of vectors as nested std::vectors.
std::vector<std::vector<uint32_t>> nested(const cstd_vector_vector32 &vv) {
    std::vector<std::vector<uint32_t>> out;
    const cstd_vector32 *inner = nullptr;
    for (int64_t i = 0; cstd_vector_vector32_getElementConst(&vv, i, &inner) == 0; ++i) {
        const uint32_t *b = nullptr;
        intptr_t n = 0;
        EXPECT_EQ(cstd_vector32_getBeginSizeIntPtrConst(inner, &b, &n), 0);
        out.emplace_back(b, b + n);
    }
    return out;
}

TEST(VectorOfVectors, OwnsDeepCopiesOfItsElements) {
    const int64_t before = csys_memory_getLiveBlockCount();
    using Nested = std::vector<std::vector<uint32_t>>;
    cstd_vector_vector32 a, b;
    ASSERT_EQ(cstd_vector_vector32_construct(&a, 2), 0);  // two empty inner vectors
    cstd_vector32 *inner = nullptr;
    ASSERT_EQ(cstd_vector_vector32_getElement(&a, 1, &inner), 0);
    const uint32_t values[] = {4, 5, 6};
    ASSERT_EQ(cstd_vector32_assignElements(inner, values, 3), 0);
    ASSERT_EQ(cstd_vector_vector32_pushBack(&a, inner), 0);  // a copy of an element of a itself
    ASSERT_EQ(cstd_vector_vector32_constructCopy(&b, &a), 0);
    ASSERT_EQ(cstd_vector_vector32_getElement(&b, 2, &inner), 0);
    ASSERT_EQ(cstd_vector32_popBack(inner), 0);
    EXPECT_EQ(nested(a), (Nested{{}, {4, 5, 6}, {4, 5, 6}}));
    EXPECT_EQ(nested(b), (Nested{{}, {4, 5, 6}, {4, 5}}));
    ASSERT_EQ(cstd_vector_vector32_eraseElement(&a, 0), 0);
    ASSERT_EQ(cstd_vector_vector32_append(&a, &a), 0);
    EXPECT_EQ(nested(a), (Nested{{4, 5, 6}, {4, 5, 6}, {4, 5, 6}, {4, 5, 6}}));
    ASSERT_EQ(cstd_vector_vector32_assign(&a, &b), 0);
    EXPECT_EQ(nested(a), nested(b));
    cstd_vector_vector32_destruct(&a);
    cstd_vector_vector32_destruct(&b);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
}

TEST(VectorOfVectors, CleanUnderEveryFailingAllocation) {
    using V = cstd_vector_vector32s;
    using Op = int32_t (*)(V *, V **);
    const Op ops[] = {
        [](V *, V **) { return 0; },
        [](V *v, V **) { return cstd_vector_vector32s_resize(v, 9); },
        [](V *v, V **) { return cstd_vector_vector32s_append(v, v); },
        [](V *v, V **) { return cstd_vector_vector32s_erase(v, 0, 1); },
        [](V *v, V **p) { return cstd_vector_vector32s_newClone(p, v); },
        [](V *v, V **p) {
            const int32_t s = cstd_vector_vector32s_new(p);
            return CBLOB_FAILED(s) ? s : cstd_vector_vector32s_assign(*p, v);
        },
    };
    const int32_t values[] = {-1, 2, -3};
    for (Op op : ops) {
        cblobtest::expectCleanUnderAllocationFailures([&] {
            // A vector of two non-empty vectors, then the operation.
            V v, *heap = nullptr;
            cstd_vector32s inner;
            int32_t status = cstd_vector_vector32s_constructEmpty(&v);
            if (CBLOB_FAILED(status)) return status;
            status = cstd_vector32s_constructFromBlock(&inner, values, 3);
            if (!CBLOB_FAILED(status)) {
                status = cstd_vector_vector32s_pushBack(&v, &inner);
                if (!CBLOB_FAILED(status)) status = cstd_vector_vector32s_insertElement(&v, 0, &inner);
                cstd_vector32s_destruct(&inner);
            }
            if (!CBLOB_FAILED(status)) status = op(&v, &heap);
            cstd_vector_vector32s_delete(&heap);
            cstd_vector_vector32s_destruct(&v);
            return status;
        });
    }
}

TEST(HeapVector, NewCloneAndDeleteFollowTheirRules) {
    const int64_t before = csys_memory_getLiveBlockCount();
    cstd_vector32 *p = nullptr;
    int32_t size = 0;
    EXPECT_EQ(cstd_vector32_delete(&p), 0);  // null: nothing happens
    EXPECT_EQ(cstd_vector32_newClone(&p, nullptr), 0);
    EXPECT_EQ(p, nullptr);
    ASSERT_EQ(cstd_vector32_new(&p), 0);
    const uint32_t x = 42;
    ASSERT_EQ(cstd_vector32_pushBack(p, &x), 0);
    ASSERT_EQ(cstd_vector32_newClone(&p, p), 0);  // cloning itself keeps the elements
    EXPECT_EQ(cstd_vector32_getSize(p, &size), 0);
    EXPECT_EQ(size, 1);
    ASSERT_EQ(cstd_vector32_new(&p), 0);  // replaces (and frees) the old one
    EXPECT_EQ(cstd_vector32_getSize(p, &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(cstd_vector32_newClone(&p, nullptr), 0);  // a null source deletes
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
}

TEST(PointerCells, VectorsCopyThePointersAndTheAdjacencyCellNeverFrees) {
    const int64_t before = csys_memory_getLiveBlockCount();
    auto *blobA = reinterpret_cast<struct cblob_blob *>(0x1000), *blobB = reinterpret_cast<struct cblob_blob *>(0x2000);
    cstd_vector_cblock_of_cblob_blob_ptr v, copy;
    ASSERT_EQ(cstd_vector_cblock_of_cblob_blob_ptr_construct(&v, 2), 0);
    cblock_of_cblob_blob_ptr *cell = nullptr;
    ASSERT_EQ(cstd_vector_cblock_of_cblob_blob_ptr_getElement(&v, 1, &cell), 0);
    EXPECT_EQ(cell->ptr, nullptr);  // constructed empty
    cell->ptr = blobA;
    const cblock_of_cblob_blob_ptr b{blobB};
    ASSERT_EQ(cstd_vector_cblock_of_cblob_blob_ptr_pushBack(&v, &b), 0);
    ASSERT_EQ(cstd_vector_cblock_of_cblob_blob_ptr_constructCopy(&copy, &v), 0);
    const cblock_of_cblob_blob_ptr *cells = nullptr;
    int32_t n = 0;
    ASSERT_EQ(cstd_vector_cblock_of_cblob_blob_ptr_getBeginSizeConst(&copy, &cells, &n), 0);
    ASSERT_EQ(n, 3);
    EXPECT_TRUE(cells[0].ptr == nullptr && cells[1].ptr == blobA && cells[2].ptr == blobB);
    cstd_vector_cblock_of_cblob_blob_ptr_destruct(&copy);
    cstd_vector_cblock_of_cblob_blob_ptr_destruct(&v);

    // The adjacency cell allocates its block; copies share it; its owner frees it.
    cblock_of_cblob_adjBlockChain__ptr adj, adjCopy;
    ASSERT_EQ(cblock_of_cblob_adjBlockChain__ptr_construct(&adj), 0);
    ASSERT_EQ(cblock_of_cblob_adjBlockChain__ptr_constructCopy(&adjCopy, &adj), 0);
    EXPECT_TRUE(adj.ptr != nullptr && adjCopy.ptr == adj.ptr);
    void *block = adj.ptr;
    EXPECT_EQ(cblock_of_cblob_adjBlockChain__ptr_destruct(&adjCopy), 0);
    EXPECT_EQ(cblock_of_cblob_adjBlockChain__ptr_destruct(&adj), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before + 1);
    csys_memory_free_internal(&block);
    csys_memory_failAfter(1, 0);
    EXPECT_EQ(cblock_of_cblob_adjBlockChain__ptr_construct(&adj), csys_err_outOfMemory);
    csys_memory_failAfter(0, 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), before);

    cblobtest::AssertCatcher catcher;
    EXPECT_EQ(cblock_of_cblob_blob_ptr_assign(nullptr, nullptr), csys_err_assertFailed);
    EXPECT_EQ(cstd_vector32_pushBack(nullptr, nullptr), csys_err_assertFailed);
    EXPECT_EQ(catcher.count(), 2);
}

TEST(Rect32, IntersectionTable) {
    const struct {
        cstd_rect32 a, b, expected;
    } cases[] = {
        {{0, 0, 10, 10}, {5, 5, 10, 10}, {5, 5, 5, 5}},        // overlapping corners
        {{0, 0, 10, 10}, {2, 3, 4, 5}, {2, 3, 4, 5}},          // contained
        {{0, 0, 10, 10}, {10, 0, 5, 5}, {0, 0, 0, 0}},         // touching edges share no pixel
        {{0, 0, 10, 10}, {-5, -5, 6, 6}, {0, 0, 1, 1}},        // one pixel
        {{3, 3, 0, 7}, {0, 0, 10, 10}, {0, 0, 0, 0}},          // null operand
        {{-2147483647 - 1, 0, 2147483647, 1}, {-10, 0, 2147483647, 1}, {-10, 0, 9, 1}},  // far edges
        {{100, 100, 1, 1}, {100, 100, 1, 1}, {100, 100, 1, 1}},
    };
    for (const auto &c : cases) {
        for (int swapped = 0; swapped < 2; ++swapped) {
            cstd_rect32 out{9, 9, 9, 9};
            ASSERT_EQ(cstd_rect32_intersect(&out, swapped ? &c.b : &c.a, swapped ? &c.a : &c.b), 0);
            int32_t equal = 0, isNull = 0, expectedNull = 0, containsA = 0, containsB = 0;
            cstd_rect32_getIsEqual(&out, &c.expected, &equal);
            cstd_rect32_getIsNull(&out, &isNull);
            cstd_rect32_getIsNull(&c.expected, &expectedNull);
            cstd_rect32_getContainsRect(&c.a, &out, &containsA);
            cstd_rect32_getContainsRect(&c.b, &out, &containsB);
            EXPECT_TRUE(equal) << out.x << "," << out.y << " " << out.width << "x" << out.height;
            EXPECT_EQ(isNull, expectedNull);
            EXPECT_TRUE(!expectedNull || (out.x | out.y | out.width | out.height) == 0);  // the canonical null
            EXPECT_TRUE(containsA && containsB);
        }
    }
    cstd_rect32 r{1, 2, 3, 4};
    int32_t inside = 0, outside = 1;
    EXPECT_EQ(cstd_rect32_init(&r, 0, 0, -1, 5), cstd_err_badRect);
    EXPECT_EQ(cstd_rect32_init(&r, 2147483647, 0, 1, 5), cstd_err_badRect);
    EXPECT_EQ(r.x, 1);  // unchanged on failure
    ASSERT_EQ(cstd_rect32_init(&r, 5, 6, 2, 3), 0);
    cstd_rect32_getContainsPoint(&r, 6, 8, &inside);
    cstd_rect32_getContainsPoint(&r, 7, 8, &outside);
    EXPECT_TRUE(inside && !outside);
    ASSERT_EQ(cstd_rect32_initNull(&r), 0);
    cstd_rect32_getIsNull(&r, &inside);
    EXPECT_EQ(inside, 1);
}

}  // namespace
