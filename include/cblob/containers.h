/*
 * cblob typed containers: typed vectors, pointer cells and type-check hooks.
 *
 * A typed vector `V` of elements `T` is a distinct C type wrapping the
 * untyped cstd_vector_ (cblob/vector.h), whose element size and element
 * action table are fixed by V's functions. Every V_* function forwards to
 * the cstd_vector__ function of the same name (the forwarding is listed
 * below) and returns its status unchanged; see cblob/vector.h for the
 * statuses, the failure guarantees and the thread-safety rules, which are
 * the same for every typed vector.
 *
 * Adding a typed vector for a new element type takes two lines:
 *   - here (or in the header that defines T):  CSTD_VECTOR_DECLARE(cstd_vector_T, T)
 *   - in one library source file:             CBLOB_VECTOR_DEFINE(cstd_vector_T, T, table)
 *     (src/containers/typed_vector.hpp; `table` is nullptr for plain-data
 *     elements, or CBLOB_ELEMENT_TABLE(T, construct, constructCopy, assign, destruct)
 *     for elements with construct/copy/assign/destruct functions, or
 *     CBLOB_VECTOR_ELEMENT_TABLE(V) for elements that are themselves vectors).
 * CSTD_VECTOR_DECLARE also declares V's four type-check hooks.
 */
#ifndef CBLOB_CONTAINERS_H
#define CBLOB_CONTAINERS_H

#include <stddef.h>
#include <stdint.h>

#include "cblob/export.h"
#include "cblob/status.h"
#include "cblob/vector.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Type-check hooks of type T: four functions that do nothing. Code that
 * registers a constructed object with its destroy function calls them next
 * to the registration so that the compiler matches the object's type against
 * the function's:
 *   csys_typeCheck_T(T *)                    csys_typeCheckPtr_T(T **)
 *   csys_typeCheckFunc_T(int32_t (*)(T *))   csys_typeCheckFuncPtr_T(int32_t (**)(T *))
 * Thread-safe; any argument, null included, is accepted.
 */
#define CSYS_TYPE_CHECK_DECLARE(T)                                       \
    CBLOB_API void csys_typeCheck_##T(T *object);                        \
    CBLOB_API void csys_typeCheckPtr_##T(T **object);                    \
    CBLOB_API void csys_typeCheckFunc_##T(int32_t (*destroy)(T *));      \
    CBLOB_API void csys_typeCheckFuncPtr_##T(int32_t (**destroy)(T *));

/*
 * The typed vector V of elements T: the struct and its 47 operations, all
 * returning a status. `untyped` is the underlying vector; read it through
 * the functions.
 *
 * Construction (v is raw storage; forwarded with sizeof(T), flags 0 and T's
 * action table):
 *   V_construct(v, count)                      -> cstd_vector__constructWithVtable
 *   V_constructWithMtable(v, count, mtable)    -> cstd_vector__constructWithVtableWithMtable
 *   V_constructEmpty(v)                        -> constructWithVtable, count 0 (never allocates)
 *   V_constructEmptyWithMtable(v, mtable)      -> constructWithVtableWithMtable, count 0
 *   V_constructUninit(v, count)                -> cstd_vector__constructWithVtableUninit
 *   V_constructFill(v, count, &value)          -> cstd_vector__constructFillWithVtable
 *   V_constructFromBlock(v, block, count)      -> cstd_vector__constructFromBlockWithVtable
 * Copy and assignment: V_constructCopy(v, src), V_assign(v, src),
 *   V_assignElements(v, elements, count), V_append(v, src), V_swap(v, other).
 * Destruction: V_destruct(v), V_clear(v), V_clearAndFreeMemory(v).
 * Size: V_resize(v, count), V_resizeUninit(v, count), V_resizeFill(v, count, &value),
 *   V_reserve(v, count).
 * Queries: V_getSize(v, &int32) and V_getSize32(v, &int32) both give the
 *   32-bit size (cstd_vector__getSize32); V_getSizeIntPtr(v, &intptr) the
 *   pointer-width size (cstd_vector__getSize); V_getCapacity, V_getElementSize.
 * Element access: V_getBegin(v, &T*), V_getBeginEnd(v, &T*, &T*),
 *   V_getBeginSize(v, &T*, &int32) and V_getBeginSize32 (both 32-bit,
 *   cstd_vector__getBeginSize32), V_getBeginSizeIntPtr(v, &T*, &intptr)
 *   (cstd_vector__getBeginSize), V_getElement(v, index, &T*),
 *   V_getNextElement(v, &T*), each with a Const form taking a const V and
 *   giving const T pointers.
 * Editing: V_insert(v, index, elements, count), V_insertElement(v, index, &element),
 *   V_erase(v, index, count), V_eraseElement(v, index), V_pushBack(v, &element),
 *   V_popBack(v).
 * Heap objects (the object itself from the memory service):
 *   V_delete(&p): nothing when p is null; otherwise destructs *p, frees it and
 *     sets p to null (returning the destruct status).
 *   V_new(&p): V_delete(&p), then allocates a vector, constructs it empty and
 *     stores it in p. On failure p is null.
 *   V_newClone(&p, src): a null src is V_delete(&p); otherwise p becomes a
 *     new vector holding copies of src's elements (src may be *p itself). On
 *     failure p is null and nothing leaks.
 */
#define CSTD_VECTOR_DECLARE(V, T)                                                                       \
    typedef struct V {                                                                                  \
        cstd_vector_ untyped;                                                                           \
    } V;                                                                                                \
    CBLOB_API int32_t V##_construct(V *v, int64_t count);                                               \
    CBLOB_API int32_t V##_constructWithMtable(V *v, int64_t count, const cstd_vectorMemoryTable *mtable); \
    CBLOB_API int32_t V##_constructEmpty(V *v);                                                         \
    CBLOB_API int32_t V##_constructEmptyWithMtable(V *v, const cstd_vectorMemoryTable *mtable);         \
    CBLOB_API int32_t V##_constructUninit(V *v, int64_t count);                                         \
    CBLOB_API int32_t V##_constructFill(V *v, int64_t count, const T *value);                           \
    CBLOB_API int32_t V##_constructFromBlock(V *v, const T *block, int64_t count);                      \
    CBLOB_API int32_t V##_constructCopy(V *v, const V *src);                                            \
    CBLOB_API int32_t V##_assign(V *v, const V *src);                                                   \
    CBLOB_API int32_t V##_assignElements(V *v, const T *elements, int64_t count);                       \
    CBLOB_API int32_t V##_append(V *v, const V *src);                                                   \
    CBLOB_API int32_t V##_swap(V *v, V *other);                                                         \
    CBLOB_API int32_t V##_destruct(V *v);                                                               \
    CBLOB_API int32_t V##_clear(V *v);                                                                  \
    CBLOB_API int32_t V##_clearAndFreeMemory(V *v);                                                     \
    CBLOB_API int32_t V##_resize(V *v, int64_t count);                                                  \
    CBLOB_API int32_t V##_resizeUninit(V *v, int64_t count);                                            \
    CBLOB_API int32_t V##_resizeFill(V *v, int64_t count, const T *value);                              \
    CBLOB_API int32_t V##_reserve(V *v, int64_t count);                                                 \
    CBLOB_API int32_t V##_getSize(const V *v, int32_t *size);                                           \
    CBLOB_API int32_t V##_getSize32(const V *v, int32_t *size);                                         \
    CBLOB_API int32_t V##_getSizeIntPtr(const V *v, intptr_t *size);                                    \
    CBLOB_API int32_t V##_getCapacity(const V *v, intptr_t *capacity);                                  \
    CBLOB_API int32_t V##_getElementSize(const V *v, intptr_t *elementSize);                            \
    CBLOB_API int32_t V##_getBegin(V *v, T **begin);                                                    \
    CBLOB_API int32_t V##_getBeginConst(const V *v, const T **begin);                                   \
    CBLOB_API int32_t V##_getBeginEnd(V *v, T **begin, T **end);                                        \
    CBLOB_API int32_t V##_getBeginEndConst(const V *v, const T **begin, const T **end);                 \
    CBLOB_API int32_t V##_getBeginSize(V *v, T **begin, int32_t *size);                                 \
    CBLOB_API int32_t V##_getBeginSizeConst(const V *v, const T **begin, int32_t *size);                \
    CBLOB_API int32_t V##_getBeginSize32(V *v, T **begin, int32_t *size);                               \
    CBLOB_API int32_t V##_getBeginSize32Const(const V *v, const T **begin, int32_t *size);              \
    CBLOB_API int32_t V##_getBeginSizeIntPtr(V *v, T **begin, intptr_t *size);                          \
    CBLOB_API int32_t V##_getBeginSizeIntPtrConst(const V *v, const T **begin, intptr_t *size);         \
    CBLOB_API int32_t V##_getElement(V *v, int64_t index, T **element);                                 \
    CBLOB_API int32_t V##_getElementConst(const V *v, int64_t index, const T **element);                \
    CBLOB_API int32_t V##_getNextElement(V *v, T **element);                                            \
    CBLOB_API int32_t V##_getNextElementConst(const V *v, const T **element);                           \
    CBLOB_API int32_t V##_insert(V *v, int64_t index, const T *elements, int64_t count);                \
    CBLOB_API int32_t V##_insertElement(V *v, int64_t index, const T *element);                         \
    CBLOB_API int32_t V##_erase(V *v, int64_t index, int64_t count);                                    \
    CBLOB_API int32_t V##_eraseElement(V *v, int64_t index);                                            \
    CBLOB_API int32_t V##_pushBack(V *v, const T *element);                                             \
    CBLOB_API int32_t V##_popBack(V *v);                                                                \
    CBLOB_API int32_t V##_new(V **p);                                                                   \
    CBLOB_API int32_t V##_newClone(V **p, const V *src);                                                \
    CBLOB_API int32_t V##_delete(V **p);                                                                \
    CSYS_TYPE_CHECK_DECLARE(V)

/*
 * A pointer cell `Cell` holding one pointer to `Pointee`, used as a vector
 * element; it does not own what it points to. Its four element actions (each
 * asserting a non-null cell, and src):
 *   Cell_construct(cell)             sets the pointer (except where noted)
 *   Cell_constructCopy(cell, src)    copies the pointer; returns 0
 *   Cell_assign(cell, src)           copies the pointer; returns 0
 *   Cell_destruct(cell)              sets the pointer to null; returns 0; never frees
 * Thread-safe on distinct cells.
 */
#define CBLOB_POINTER_CELL_DECLARE(Cell, Pointee)                                 \
    typedef struct Cell {                                                         \
        Pointee *ptr;                                                             \
    } Cell;                                                                       \
    CBLOB_API int32_t Cell##_construct(Cell *cell);                               \
    CBLOB_API int32_t Cell##_constructCopy(Cell *cell, const Cell *src);          \
    CBLOB_API int32_t Cell##_assign(Cell *cell, const Cell *src);                 \
    CBLOB_API int32_t Cell##_destruct(Cell *cell);                                \
    CSYS_TYPE_CHECK_DECLARE(Cell)

/* ------------------------------------------------- the untyped vector's hooks */

CSYS_TYPE_CHECK_DECLARE(cstd_vector_)

/* ------------------------------------------------------ plain-number vectors */

CSTD_VECTOR_DECLARE(cstd_vector8, uint8_t)
CSTD_VECTOR_DECLARE(cstd_vector32, uint32_t)
CSTD_VECTOR_DECLARE(cstd_vector32s, int32_t)
CSTD_VECTOR_DECLARE(cstd_vectord, double)
/* Vectors of vectors: each element is a whole vector, constructed empty,
 * copied, assigned and destructed as a vector; the outer vector owns them. */
CSTD_VECTOR_DECLARE(cstd_vector_vector32, cstd_vector32)
CSTD_VECTOR_DECLARE(cstd_vector_vector32s, cstd_vector32s)

/* ------------------------------------------------------------- code types */

/** A blob measure code: 1 to 47 name a measure, 0 means none. */
typedef int32_t cblob_measure;
/** A morphology operation code, applied to the segmented run-length image. */
typedef int32_t cblob_morphOp;

/**
 * The morphology operation codes (cblob_imageRlePtrh_gmorph in
 * cblob/rle_image.h; the morphOps of the run parameters). The 1 x 3 element
 * is horizontal (a pixel and its left and right neighbours), 3 x 1 vertical,
 * 3 x 3 the square. Closing is dilation then erosion, opening erosion then
 * dilation, with the same element.
 */
enum {
    cblob_morph_erode1x3 = 0,
    cblob_morph_erode3x1 = 1,
    cblob_morph_erode3x3 = 2,
    cblob_morph_dilate1x3 = 3,
    cblob_morph_dilate3x1 = 4,
    cblob_morph_dilate3x3 = 5,
    cblob_morph_close1x3 = 6,
    cblob_morph_close3x1 = 7,
    cblob_morph_close3x3 = 8,
    cblob_morph_open1x3 = 9,
    cblob_morph_open3x1 = 10,
    cblob_morph_open3x3 = 11
};

CSTD_VECTOR_DECLARE(cstd_vector_cblob_measure, cblob_measure)
CSTD_VECTOR_DECLARE(cstd_vector_cblob_morphOp, cblob_morphOp)

/* ------------------------------------------------------------ pointer cells */

struct cblob_blob;
struct cmath_xformLinear;
struct cblob_adjBlockChain_;

/** The size of one adjacency chain block of the labelled scan. */
#define CBLOB_ADJ_BLOCK_CHAIN_BYTES 64008

/* A pointer to a block of blob records. construct sets it to null and returns 0. */
CBLOB_POINTER_CELL_DECLARE(cblock_of_cblob_blob_ptr, struct cblob_blob)
/* A pointer to a block of linear transforms. construct sets it to null and returns 0. */
CBLOB_POINTER_CELL_DECLARE(cblock_of_cblob_xformLinear_ptr, struct cmath_xformLinear)
/* A pointer to an adjacency chain block. construct allocates a block of
 * CBLOB_ADJ_BLOCK_CHAIN_BYTES from the memory service and stores it, returning
 * the allocation status (on failure the pointer is null). destruct does NOT
 * free the block: whoever owns the blocks frees them (with
 * csys_memory_free_internal) before destructing the cells. */
CBLOB_POINTER_CELL_DECLARE(cblock_of_cblob_adjBlockChain__ptr, struct cblob_adjBlockChain_)

/* Copying these vectors copies the pointers, never what they point to. */
CSTD_VECTOR_DECLARE(cstd_vector_cblock_of_cblob_blob_ptr, cblock_of_cblob_blob_ptr)
CSTD_VECTOR_DECLARE(cstd_vector_cblock_of_cblob_xformLinear_ptr, cblock_of_cblob_xformLinear_ptr)

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_CONTAINERS_H */
