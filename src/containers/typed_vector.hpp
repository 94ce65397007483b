// Definitions behind the declaring macros of cblob/containers.h. One line in
// one source file defines a whole typed vector, a pointer cell or a set of
// type-check hooks:
//
//   CBLOB_VECTOR_DEFINE(cstd_vector_cblob_filter, cblob_filter, nullptr)
//   CBLOB_VECTOR_DEFINE(cstd_vector_cblob_imageRle, cblob_imageRle,
//                       CBLOB_ELEMENT_TABLE(cblob_imageRle, cblob_imageRle_construct,
//                                           cblob_imageRle_constructCopy, cblob_imageRle_assign,
//                                           cblob_imageRle_destruct))
//   CBLOB_VECTOR_DEFINE(cstd_vector_vector_cblob_filter, cstd_vector_cblob_filter,
//                       CBLOB_VECTOR_ELEMENT_TABLE(cstd_vector_cblob_filter))
//
// Every typed function is a thin forwarder to the untyped vector with the
// element size and the element table; pointer results are converted from
// void pointers only after success, so outputs stay untouched on failure.
#ifndef CBLOB_CONTAINERS_TYPED_VECTOR_HPP
#define CBLOB_CONTAINERS_TYPED_VECTOR_HPP

#include <cstdint>

#include "cblob/containers.h"
#include "cblob/sys.h"
#include "cblob/vector.h"
#include "core/require.hpp"
#include "core/frame.hpp"

namespace cblob {
namespace typed {

// The untyped vector inside a typed one; null stays null so that the
// untyped function reports it.
template <class V>
cstd_vector_ *base(V *v) {
    return v ? &v->untyped : nullptr;
}
template <class V>
const cstd_vector_ *base(const V *v) {
    return v ? &v->untyped : nullptr;
}

// Calls an untyped getter that yields a void pointer (plus further outputs)
// and converts it to the element type on success.
template <class T, class Ptr, class Getter>
int32_t typedPointer(T **out, Getter &&getter) {
    Ptr p = nullptr;
    const int32_t status = getter(out ? &p : nullptr);
    if (!CBLOB_FAILED(status)) *out = static_cast<T *>(p);
    return status;
}

// The element table of a type with construct / constructCopy / assign /
// destruct functions taking typed pointers.
template <class T, int32_t (*Construct)(T *), int32_t (*ConstructCopy)(T *, const T *),
          int32_t (*Assign)(T *, const T *), int32_t (*Destruct)(T *)>
struct ElementTable {
    static int32_t construct(void *element) { return Construct(static_cast<T *>(element)); }
    static int32_t constructCopy(void *element, const void *src) {
        return ConstructCopy(static_cast<T *>(element), static_cast<const T *>(src));
    }
    static int32_t assign(void *element, const void *src) {
        return Assign(static_cast<T *>(element), static_cast<const T *>(src));
    }
    static int32_t destruct(void *element) { return Destruct(static_cast<T *>(element)); }
    static constexpr cstd_vectorElementTable table = {&construct, &constructCopy, &assign, &destruct,
                                                      CSTD_VECTOR_TABLE_END};
};

// Heap objects of a typed vector.
template <class V>
int32_t deleteVector(V **p) {
    CBLOB_REQUIRE_ARG(p);
    if (!*p) return 0;
    const int32_t status = cstd_vector__destruct(&(*p)->untyped);
    release(p);
    return status;
}

template <class V>
int32_t newVector(V **p, int64_t elementSize, const cstd_vectorElementTable *table) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_TRY(f, deleteVector(p));
    V *fresh = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(V)), &fresh));
    f.addMemory(&fresh, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cstd_vector__constructWithVtable(&fresh->untyped, 0, elementSize, 0, table));
    *p = fresh;
    return f.exit();
}

// The clone is built before the old vector is deleted, so src may be *p.
template <class V>
int32_t newCloneVector(V **p, const V *src, int64_t elementSize, const cstd_vectorElementTable *table) {
    CBLOB_REQUIRE_ARG(p);
    if (!src) return deleteVector(p);
    V *clone = nullptr;
    int32_t status = newVector(&clone, elementSize, table);
    if (!CBLOB_FAILED(status)) status = cstd_vector__assign(&clone->untyped, &src->untyped);
    if (CBLOB_FAILED(status)) {
        deleteVector(&clone);
        deleteVector(p);
        return status;
    }
    status = deleteVector(p);
    *p = clone;
    return status;
}

}  // namespace typed
}  // namespace cblob

// The element table of T from its four typed element functions.
#define CBLOB_ELEMENT_TABLE(T, construct, constructCopy, assign, destruct) \
    (&::cblob::typed::ElementTable<T, &construct, &constructCopy, &assign, &destruct>::table)

// The element table of elements that are themselves typed vectors V: each
// is constructed empty and copied, assigned and destructed as a vector.
#define CBLOB_VECTOR_ELEMENT_TABLE(V) CBLOB_ELEMENT_TABLE(V, V##_constructEmpty, V##_constructCopy, V##_assign, V##_destruct)

// The four type-check hooks of T.
#define CBLOB_TYPE_CHECK_DEFINE(T)                                  \
    extern "C" {                                                    \
    void csys_typeCheck_##T(T *) {}                                 \
    void csys_typeCheckPtr_##T(T **) {}                             \
    void csys_typeCheckFunc_##T(int32_t (*)(T *)) {}                \
    void csys_typeCheckFuncPtr_##T(int32_t (**)(T *)) {}            \
    }

// The 47 operations and the type-check hooks of typed vector V of T, whose
// element table is TABLE (nullptr for plain-data elements).
#define CBLOB_VECTOR_DEFINE(V, T, TABLE)                                                                            \
    extern "C" {                                                                                                    \
    int32_t V##_construct(V *v, int64_t count) {                                                                    \
        return cstd_vector__constructWithVtable(::cblob::typed::base(v), count, sizeof(T), 0, TABLE);               \
    }                                                                                                               \
    int32_t V##_constructWithMtable(V *v, int64_t count, const cstd_vectorMemoryTable *mtable) {                    \
        return cstd_vector__constructWithVtableWithMtable(::cblob::typed::base(v), count, sizeof(T), 0, TABLE,      \
                                                          mtable);                                                  \
    }                                                                                                               \
    int32_t V##_constructEmpty(V *v) {                                                                              \
        return cstd_vector__constructWithVtable(::cblob::typed::base(v), 0, sizeof(T), 0, TABLE);                   \
    }                                                                                                               \
    int32_t V##_constructEmptyWithMtable(V *v, const cstd_vectorMemoryTable *mtable) {                              \
        return cstd_vector__constructWithVtableWithMtable(::cblob::typed::base(v), 0, sizeof(T), 0, TABLE, mtable); \
    }                                                                                                               \
    int32_t V##_constructUninit(V *v, int64_t count) {                                                              \
        return cstd_vector__constructWithVtableUninit(::cblob::typed::base(v), count, sizeof(T), 0, TABLE);         \
    }                                                                                                               \
    int32_t V##_constructFill(V *v, int64_t count, const T *value) {                                                \
        return cstd_vector__constructFillWithVtable(::cblob::typed::base(v), count, value, sizeof(T), 0, TABLE);    \
    }                                                                                                               \
    int32_t V##_constructFromBlock(V *v, const T *block, int64_t count) {                                           \
        return cstd_vector__constructFromBlockWithVtable(::cblob::typed::base(v), block, count, sizeof(T), 0,       \
                                                         TABLE);                                                    \
    }                                                                                                               \
    int32_t V##_constructCopy(V *v, const V *src) {                                                                 \
        return cstd_vector__constructCopy(::cblob::typed::base(v), ::cblob::typed::base(src));                      \
    }                                                                                                               \
    int32_t V##_assign(V *v, const V *src) {                                                                        \
        return cstd_vector__assign(::cblob::typed::base(v), ::cblob::typed::base(src));                             \
    }                                                                                                               \
    int32_t V##_assignElements(V *v, const T *elements, int64_t count) {                                            \
        return cstd_vector__assignElements(::cblob::typed::base(v), elements, count);                               \
    }                                                                                                               \
    int32_t V##_append(V *v, const V *src) {                                                                        \
        return cstd_vector__append(::cblob::typed::base(v), ::cblob::typed::base(src));                             \
    }                                                                                                               \
    int32_t V##_swap(V *v, V *other) {                                                                              \
        return cstd_vector__swap(::cblob::typed::base(v), ::cblob::typed::base(other));                             \
    }                                                                                                               \
    int32_t V##_destruct(V *v) { return cstd_vector__destruct(::cblob::typed::base(v)); }                           \
    int32_t V##_clear(V *v) { return cstd_vector__clear(::cblob::typed::base(v)); }                                 \
    int32_t V##_clearAndFreeMemory(V *v) { return cstd_vector__clearAndFreeMemory(::cblob::typed::base(v)); }       \
    int32_t V##_resize(V *v, int64_t count) { return cstd_vector__resize(::cblob::typed::base(v), count); }         \
    int32_t V##_resizeUninit(V *v, int64_t count) {                                                                 \
        return cstd_vector__resizeUninit(::cblob::typed::base(v), count);                                           \
    }                                                                                                               \
    int32_t V##_resizeFill(V *v, int64_t count, const T *value) {                                                   \
        return cstd_vector__resizeFill(::cblob::typed::base(v), count, value);                                      \
    }                                                                                                               \
    int32_t V##_reserve(V *v, int64_t count) { return cstd_vector__reserve(::cblob::typed::base(v), count); }       \
    int32_t V##_getSize(const V *v, int32_t *size) { return cstd_vector__getSize32(::cblob::typed::base(v), size); } \
    int32_t V##_getSize32(const V *v, int32_t *size) {                                                              \
        return cstd_vector__getSize32(::cblob::typed::base(v), size);                                               \
    }                                                                                                               \
    int32_t V##_getSizeIntPtr(const V *v, intptr_t *size) {                                                         \
        return cstd_vector__getSize(::cblob::typed::base(v), size);                                                 \
    }                                                                                                               \
    int32_t V##_getCapacity(const V *v, intptr_t *capacity) {                                                       \
        return cstd_vector__getCapacity(::cblob::typed::base(v), capacity);                                         \
    }                                                                                                               \
    int32_t V##_getElementSize(const V *v, intptr_t *elementSize) {                                                 \
        return cstd_vector__getElementSize(::cblob::typed::base(v), elementSize);                                   \
    }                                                                                                               \
    int32_t V##_getBegin(V *v, T **begin) {                                                                         \
        return ::cblob::typed::typedPointer<T, void *>(                                                             \
            begin, [&](void **p) { return cstd_vector__getBegin(::cblob::typed::base(v), p); });                    \
    }                                                                                                               \
    int32_t V##_getBeginConst(const V *v, const T **begin) {                                                        \
        return ::cblob::typed::typedPointer<const T, const void *>(                                                 \
            begin, [&](const void **p) { return cstd_vector__getBeginConst(::cblob::typed::base(v), p); });         \
    }                                                                                                               \
    int32_t V##_getBeginEnd(V *v, T **begin, T **end) {                                                             \
        void *b = nullptr;                                                                                          \
        void *e = nullptr;                                                                                          \
        const int32_t status =                                                                                      \
            cstd_vector__getBeginEnd(::cblob::typed::base(v), begin ? &b : nullptr, end ? &e : nullptr);            \
        if (!CBLOB_FAILED(status)) {                                                                                \
            *begin = static_cast<T *>(b);                                                                           \
            *end = static_cast<T *>(e);                                                                             \
        }                                                                                                           \
        return status;                                                                                              \
    }                                                                                                               \
    int32_t V##_getBeginEndConst(const V *v, const T **begin, const T **end) {                                      \
        const void *b = nullptr;                                                                                    \
        const void *e = nullptr;                                                                                    \
        const int32_t status =                                                                                      \
            cstd_vector__getBeginEndConst(::cblob::typed::base(v), begin ? &b : nullptr, end ? &e : nullptr);       \
        if (!CBLOB_FAILED(status)) {                                                                                \
            *begin = static_cast<const T *>(b);                                                                     \
            *end = static_cast<const T *>(e);                                                                       \
        }                                                                                                           \
        return status;                                                                                              \
    }                                                                                                               \
    int32_t V##_getBeginSize(V *v, T **begin, int32_t *size) { return V##_getBeginSize32(v, begin, size); }         \
    int32_t V##_getBeginSizeConst(const V *v, const T **begin, int32_t *size) {                                     \
        return V##_getBeginSize32Const(v, begin, size);                                                             \
    }                                                                                                               \
    int32_t V##_getBeginSize32(V *v, T **begin, int32_t *size) {                                                    \
        return ::cblob::typed::typedPointer<T, void *>(                                                             \
            begin, [&](void **p) { return cstd_vector__getBeginSize32(::cblob::typed::base(v), p, size); });        \
    }                                                                                                               \
    int32_t V##_getBeginSize32Const(const V *v, const T **begin, int32_t *size) {                                   \
        return ::cblob::typed::typedPointer<const T, const void *>(begin, [&](const void **p) {                     \
            return cstd_vector__getBeginSize32Const(::cblob::typed::base(v), p, size);                              \
        });                                                                                                         \
    }                                                                                                               \
    int32_t V##_getBeginSizeIntPtr(V *v, T **begin, intptr_t *size) {                                               \
        return ::cblob::typed::typedPointer<T, void *>(                                                             \
            begin, [&](void **p) { return cstd_vector__getBeginSize(::cblob::typed::base(v), p, size); });          \
    }                                                                                                               \
    int32_t V##_getBeginSizeIntPtrConst(const V *v, const T **begin, intptr_t *size) {                              \
        return ::cblob::typed::typedPointer<const T, const void *>(begin, [&](const void **p) {                     \
            return cstd_vector__getBeginSizeConst(::cblob::typed::base(v), p, size);                                \
        });                                                                                                         \
    }                                                                                                               \
    int32_t V##_getElement(V *v, int64_t index, T **element) {                                                      \
        return ::cblob::typed::typedPointer<T, void *>(                                                             \
            element, [&](void **p) { return cstd_vector__getElement(::cblob::typed::base(v), index, p); });         \
    }                                                                                                               \
    int32_t V##_getElementConst(const V *v, int64_t index, const T **element) {                                     \
        return ::cblob::typed::typedPointer<const T, const void *>(element, [&](const void **p) {                   \
            return cstd_vector__getElementConst(::cblob::typed::base(v), index, p);                                 \
        });                                                                                                         \
    }                                                                                                               \
    int32_t V##_getNextElement(V *v, T **element) {                                                                 \
        return ::cblob::typed::typedPointer<T, void *>(                                                             \
            element, [&](void **p) { return cstd_vector__getNextElement(::cblob::typed::base(v), p); });            \
    }                                                                                                               \
    int32_t V##_getNextElementConst(const V *v, const T **element) {                                                \
        return ::cblob::typed::typedPointer<const T, const void *>(                                                 \
            element, [&](const void **p) { return cstd_vector__getNextElementConst(::cblob::typed::base(v), p); }); \
    }                                                                                                               \
    int32_t V##_insert(V *v, int64_t index, const T *elements, int64_t count) {                                     \
        return cstd_vector__insert(::cblob::typed::base(v), index, elements, count);                                \
    }                                                                                                               \
    int32_t V##_insertElement(V *v, int64_t index, const T *element) {                                              \
        return cstd_vector__insertElement(::cblob::typed::base(v), index, element);                                 \
    }                                                                                                               \
    int32_t V##_erase(V *v, int64_t index, int64_t count) {                                                         \
        return cstd_vector__erase(::cblob::typed::base(v), index, count);                                           \
    }                                                                                                               \
    int32_t V##_eraseElement(V *v, int64_t index) { return cstd_vector__eraseElement(::cblob::typed::base(v), index); } \
    int32_t V##_pushBack(V *v, const T *element) { return cstd_vector__pushBack(::cblob::typed::base(v), element); } \
    int32_t V##_popBack(V *v) { return cstd_vector__popBack(::cblob::typed::base(v)); }                             \
    int32_t V##_new(V **p) { return ::cblob::typed::newVector(p, sizeof(T), TABLE); }                               \
    int32_t V##_newClone(V **p, const V *src) { return ::cblob::typed::newCloneVector(p, src, sizeof(T), TABLE); }  \
    int32_t V##_delete(V **p) { return ::cblob::typed::deleteVector(p); }                                           \
    }                                                                                                               \
    CBLOB_TYPE_CHECK_DEFINE(V)

// The four element functions and type-check hooks of pointer cell Cell.
// CONSTRUCT(cell) fills a fresh cell and DESTRUCT(cell) ends it, each
// returning a status; copies and assignments copy the pointer. Neither ever
// frees what the cell points to.
#define CBLOB_POINTER_CELL_DEFINE(Cell, CONSTRUCT, DESTRUCT)        \
    extern "C" {                                                    \
    int32_t Cell##_construct(Cell *cell) {                          \
        CBLOB_REQUIRE_ARG(cell);                                    \
        return CONSTRUCT(cell);                                     \
    }                                                               \
    int32_t Cell##_constructCopy(Cell *cell, const Cell *src) {     \
        CBLOB_REQUIRE_ARG(cell);                                    \
        CBLOB_REQUIRE_ARG(src);                                     \
        cell->ptr = src->ptr;                                       \
        return 0;                                                   \
    }                                                               \
    int32_t Cell##_assign(Cell *cell, const Cell *src) {            \
        CBLOB_REQUIRE_ARG(cell);                                    \
        CBLOB_REQUIRE_ARG(src);                                     \
        cell->ptr = src->ptr;                                       \
        return 0;                                                   \
    }                                                               \
    int32_t Cell##_destruct(Cell *cell) {                           \
        CBLOB_REQUIRE_ARG(cell);                                    \
        return DESTRUCT(cell);                                      \
    }                                                               \
    }                                                               \
    CBLOB_TYPE_CHECK_DEFINE(Cell)

// The element table of pointer cell Cell.
#define CBLOB_POINTER_CELL_TABLE(Cell) \
    CBLOB_ELEMENT_TABLE(Cell, Cell##_construct, Cell##_constructCopy, Cell##_assign, Cell##_destruct)

#endif
