/*
 * cblob host services: the untyped growable vector.
 *
 * cstd_vector_ is a growable array of elements of one size. How elements are
 * made, copied and destroyed is given by an optional element action table;
 * without one, elements are plain bytes (copied bytewise, default-constructed
 * as zero bytes). Memory comes from the memory service, or from an optional
 * memory table given at construction.
 *
 * The typed vectors of cblob/containers.h (cstd_vector32, cstd_vector_cblob_measure,
 * ...) wrap this vector and forward to it; most code should use those.
 *
 * Conventions of every cstd_vector__ function:
 *   - Returns 0 on success or a failure status (bit 31 set).
 *   - A null required pointer argument is reported to cstd_assert_ and the
 *     function returns csys_err_assertFailed without touching anything.
 *   - Counts and indices are int64_t. A negative count gives cstd_err_badCount,
 *     an index outside the vector cstd_err_badIndex, a count whose byte size
 *     does not fit in memory csys_err_badSize. Validation failures leave the
 *     vector unchanged; output parameters are written only on success.
 *   - Allocation failures return the memory service's status
 *     (csys_err_outOfMemory). A failing element action (its status has bit 31
 *     set) makes the operation fail with that status. Either way no element
 *     is left half-built and nothing leaks; unless a function says otherwise
 *     the vector keeps its previous elements (only its capacity may have
 *     grown).
 *   - Releasing elements never stops half-way: when an element's destruct
 *     fails, the remaining elements are still destructed, the operation
 *     completes, and the first such failure is returned.
 *   - Thread-safety: a vector must not be used by two threads at once. Pure
 *     queries (getSize, getElementConst, ...) on one vector may run on
 *     several threads together, except getBegin / getBeginConst and
 *     getNextElement / getNextElementConst, which move the vector's iteration
 *     cursor. Different vectors are independent.
 *
 * Storage: elements are contiguous from `begin`. Growth by appending
 * (pushBack, insert, append, resize) is geometric: the capacity grows to
 * 1.5 times its old value (at least 4 elements, at least what is needed);
 * construct*, reserve and assign allocate exactly what is asked. Elements
 * with an action table are never moved bytewise: growing, inserting in the
 * middle and erasing in the middle build fresh storage by copy-constructing
 * the elements and then destruct the old ones, so those operations either
 * succeed or leave the vector exactly as it was. Element addresses are
 * valid until the next operation that changes the size or capacity.
 */
#ifndef CBLOB_VECTOR_H
#define CBLOB_VECTOR_H

#include <stddef.h>
#include <stdint.h>

#include "cblob/export.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/** The end marker every element action table carries in its last field. */
#define CSTD_VECTOR_TABLE_END ((uintptr_t)-1)

/**
 * How the elements of a vector are made, copied and destroyed. Each action
 * gets the address of one element and returns a status. Every function must
 * be set and `endMarker` must be CSTD_VECTOR_TABLE_END, else constructing a
 * vector with the table fails with cstd_err_badElementTable. The vector
 * keeps a pointer to the table, which must outlive the vector (tables are
 * normally static constants).
 */
typedef struct cstd_vectorElementTable {
    int32_t (*construct)(void *element);                        /* default-construct */
    int32_t (*constructCopy)(void *element, const void *src);  /* construct as a copy of src */
    int32_t (*assign)(void *element, const void *src);         /* assign src to a constructed element */
    int32_t (*destruct)(void *element);
    uintptr_t endMarker; /* CSTD_VECTOR_TABLE_END */
} cstd_vectorElementTable;

/**
 * Where a vector's storage comes from, with the signatures of the memory
 * service (csys_memory_alloc_internal, csys_memory_free_internal,
 * csys_memory_realloc_internal). All three must be set, else construction
 * fails with cstd_err_badMemoryTable. A null memory table means the memory
 * service. The vector keeps a pointer to the table, which must outlive it;
 * copies of the vector (constructCopy) use the same table.
 */
typedef struct cstd_vectorMemoryTable {
    int32_t (*alloc)(int64_t size, void **ptr);
    int32_t (*free)(void **ptr);
    int32_t (*realloc)(int64_t size, void **ptr);
} cstd_vectorMemoryTable;

/**
 * The untyped vector. The fields are read-only for users: change a vector
 * only through its functions. When a constructor fails, the object holds
 * nothing and must not be destructed.
 */
typedef struct cstd_vector_ {
    void *begin;          /* first element; null while capacity is 0 */
    int64_t size;         /* number of constructed elements */
    int64_t capacity;     /* elements the storage can hold */
    int64_t elementSize;  /* bytes per element, at least 1 */
    const cstd_vectorElementTable *table;  /* null: plain bytes */
    const cstd_vectorMemoryTable *mtable;  /* null: the memory service */
    int64_t cursor;       /* next index getNextElement returns */
} cstd_vector_;

/* ------------------------------------------------------------ construction */

/*
 * The constructors work on raw, unconstructed storage. Their checks run in
 * this order: flags != 0 -> cstd_err_badFlags; elementSize < 1 ->
 * cstd_err_badElementSize; a table without end marker or with a missing
 * function -> cstd_err_badElementTable; a memory table with a missing
 * function -> cstd_err_badMemoryTable; count < 0 -> cstd_err_badCount; a
 * byte size beyond the address space -> csys_err_badSize. The capacity is
 * exactly `count`; a count of 0 allocates nothing. When building the
 * elements fails (memory, or an element action), the elements built so far
 * are destructed, the storage is freed, and the status is returned.
 * `flags` is reserved and must be 0.
 */

/** Constructs `count` default-constructed elements (zero bytes without a table). */
CBLOB_API int32_t cstd_vector__constructWithVtable(cstd_vector_ *v, int64_t count, int64_t elementSize, int32_t flags,
                                                   const cstd_vectorElementTable *table);
/** As constructWithVtable, the storage taken from `mtable` (null: memory service). */
CBLOB_API int32_t cstd_vector__constructWithVtableWithMtable(cstd_vector_ *v, int64_t count, int64_t elementSize,
                                                             int32_t flags, const cstd_vectorElementTable *table,
                                                             const cstd_vectorMemoryTable *mtable);
/**
 * Constructs a vector of `count` elements whose construct action is NOT run
 * and whose bytes are unspecified. The caller must give every element a
 * value (plain bytes) or construct it in place (with a table) before any
 * other operation reads, copies or destroys it.
 */
CBLOB_API int32_t cstd_vector__constructWithVtableUninit(cstd_vector_ *v, int64_t count, int64_t elementSize,
                                                         int32_t flags, const cstd_vectorElementTable *table);
/** Constructs `count` copies of *value (value may be null only when count is 0). */
CBLOB_API int32_t cstd_vector__constructFillWithVtable(cstd_vector_ *v, int64_t count, const void *value,
                                                       int64_t elementSize, int32_t flags,
                                                       const cstd_vectorElementTable *table);
/** Constructs copies of the `count` elements at `block` (null only when count is 0). */
CBLOB_API int32_t cstd_vector__constructFromBlockWithVtable(cstd_vector_ *v, const void *block, int64_t count,
                                                            int64_t elementSize, int32_t flags,
                                                            const cstd_vectorElementTable *table);
/**
 * Constructs v as a copy of src: same element size, action table and memory
 * table, capacity src's size. v and src must be different objects (the
 * same object is reported through cstd_assert_). Fails like the other
 * constructors when memory or an element copy fails.
 */
CBLOB_API int32_t cstd_vector__constructCopy(cstd_vector_ *v, const cstd_vector_ *src);

/* ------------------------------------------------------ copy and assignment */

/**
 * Makes v's elements copies of src's. Both must have the same element size
 * and action table, else cstd_err_elementMismatch. Assigning a vector to
 * itself does nothing. When src is longer than v's capacity, fresh storage
 * of exactly src's size is built first (v is unchanged if that fails);
 * otherwise elements are assigned in place, the missing ones copy-
 * constructed and the extra ones destructed. A failing element assign in the
 * in-place case returns its status and leaves v with its old size, all
 * elements valid, some already assigned.
 */
CBLOB_API int32_t cstd_vector__assign(cstd_vector_ *v, const cstd_vector_ *src);
/**
 * As assign, from the `count` elements at `elements` (of v's type; null only
 * when count is 0). The block may lie inside v's own storage.
 */
CBLOB_API int32_t cstd_vector__assignElements(cstd_vector_ *v, const void *elements, int64_t count);
/**
 * Appends copies of src's elements to v (src may be v itself). Element size
 * and table must match (cstd_err_elementMismatch). On failure v is unchanged.
 */
CBLOB_API int32_t cstd_vector__append(cstd_vector_ *v, const cstd_vector_ *src);
/** Exchanges the whole contents of two vectors (elements, tables, storage, cursor). Never fails but for null arguments. */
CBLOB_API int32_t cstd_vector__swap(cstd_vector_ *v, cstd_vector_ *other);

/* ------------------------------------------------------------- destruction */

/**
 * Destructs every element (last first) and frees the storage. Afterwards v
 * is an empty vector without storage; destructing it again is harmless.
 * Returns the first failing element destruct, else 0.
 */
CBLOB_API int32_t cstd_vector__destruct(cstd_vector_ *v);
/** Destructs every element (last first); the capacity stays. Resets the cursor. */
CBLOB_API int32_t cstd_vector__clear(cstd_vector_ *v);
/** As clear, then frees the storage (capacity 0). */
CBLOB_API int32_t cstd_vector__clearAndFreeMemory(cstd_vector_ *v);

/* -------------------------------------------------------------------- size */

/**
 * Makes the size `count`: extra elements are destructed (last first), new
 * ones default-constructed (zero bytes without a table). cstd_err_badCount
 * for a negative count. When constructing new elements fails they are
 * destructed again and the size is unchanged.
 */
CBLOB_API int32_t cstd_vector__resize(cstd_vector_ *v, int64_t count);
/** As resize, but new elements are not constructed (see constructWithVtableUninit). */
CBLOB_API int32_t cstd_vector__resizeUninit(cstd_vector_ *v, int64_t count);
/** As resize, new elements being copies of *value (which may be an element of v). */
CBLOB_API int32_t cstd_vector__resizeFill(cstd_vector_ *v, int64_t count, const void *value);
/** Makes the capacity at least `count` (exactly `count` when it grows). Never shrinks. */
CBLOB_API int32_t cstd_vector__reserve(cstd_vector_ *v, int64_t count);

/* ----------------------------------------------------------------- queries */

/** The number of elements, pointer-width. */
CBLOB_API int32_t cstd_vector__getSize(const cstd_vector_ *v, intptr_t *size);
/** The number of elements as int32; cstd_err_sizeOver32Bits when above INT32_MAX. */
CBLOB_API int32_t cstd_vector__getSize32(const cstd_vector_ *v, int32_t *size);
/** How many elements the storage holds without growing. */
CBLOB_API int32_t cstd_vector__getCapacity(const cstd_vector_ *v, intptr_t *capacity);
/** Bytes per element. */
CBLOB_API int32_t cstd_vector__getElementSize(const cstd_vector_ *v, intptr_t *elementSize);

/* ---------------------------------------------------------- element access */

/**
 * The first element's address (null for a vector without storage). Also
 * resets the iteration cursor, so that the next getNextElement returns the
 * first element. getBeginConst moves the cursor of a vector it sees as
 * const: do not call it on a vector defined const or used by another thread.
 */
CBLOB_API int32_t cstd_vector__getBegin(cstd_vector_ *v, void **begin);
CBLOB_API int32_t cstd_vector__getBeginConst(const cstd_vector_ *v, const void **begin);
/** The first element's address and the address one past the last. Does not touch the cursor. */
CBLOB_API int32_t cstd_vector__getBeginEnd(cstd_vector_ *v, void **begin, void **end);
CBLOB_API int32_t cstd_vector__getBeginEndConst(const cstd_vector_ *v, const void **begin, const void **end);
/** The first element's address and the pointer-width size. Does not touch the cursor. */
CBLOB_API int32_t cstd_vector__getBeginSize(cstd_vector_ *v, void **begin, intptr_t *size);
CBLOB_API int32_t cstd_vector__getBeginSizeConst(const cstd_vector_ *v, const void **begin, intptr_t *size);
/** As getBeginSize with an int32 size; cstd_err_sizeOver32Bits above INT32_MAX. */
CBLOB_API int32_t cstd_vector__getBeginSize32(cstd_vector_ *v, void **begin, int32_t *size);
CBLOB_API int32_t cstd_vector__getBeginSize32Const(const cstd_vector_ *v, const void **begin, int32_t *size);
/** The address of element `index` (0 <= index < size, else cstd_err_badIndex). */
CBLOB_API int32_t cstd_vector__getElement(cstd_vector_ *v, int64_t index, void **element);
CBLOB_API int32_t cstd_vector__getElementConst(const cstd_vector_ *v, int64_t index, const void **element);
/**
 * Iteration: writes the element at the cursor and advances the cursor, or
 * writes null once every element has been returned (the call still returns
 * 0). getBegin resets the cursor; constructors and clear set it to 0.
 *   cstd_vector__getBegin(v, &p);
 *   for (cstd_vector__getNextElement(v, &e); e; cstd_vector__getNextElement(v, &e)) ...
 * The Const form moves the cursor too (see getBeginConst).
 */
CBLOB_API int32_t cstd_vector__getNextElement(cstd_vector_ *v, void **element);
CBLOB_API int32_t cstd_vector__getNextElementConst(const cstd_vector_ *v, const void **element);

/* ----------------------------------------------------------------- editing */

/**
 * Inserts copies of the `count` elements at `elements` before position
 * `index` (0 <= index <= size, else cstd_err_badIndex; count >= 0, else
 * cstd_err_badCount; elements null only when count is 0). The block may lie
 * inside v. On failure v is unchanged.
 */
CBLOB_API int32_t cstd_vector__insert(cstd_vector_ *v, int64_t index, const void *elements, int64_t count);
/** Inserts a copy of *element before position `index` (0..size). */
CBLOB_API int32_t cstd_vector__insertElement(cstd_vector_ *v, int64_t index, const void *element);
/**
 * Removes `count` elements from position `index` (count >= 0 else
 * cstd_err_badCount; 0 <= index and index + count <= size else
 * cstd_err_badIndex). With an action table, erasing anywhere but at the end
 * rebuilds the storage (it can then fail for lack of memory, leaving v
 * unchanged).
 */
CBLOB_API int32_t cstd_vector__erase(cstd_vector_ *v, int64_t index, int64_t count);
/** Removes element `index` (0 <= index < size, else cstd_err_badIndex). */
CBLOB_API int32_t cstd_vector__eraseElement(cstd_vector_ *v, int64_t index);
/** Appends a copy of *element (which may be an element of v). On failure v is unchanged. */
CBLOB_API int32_t cstd_vector__pushBack(cstd_vector_ *v, const void *element);
/** Destructs and removes the last element; cstd_err_emptyVector when there is none. */
CBLOB_API int32_t cstd_vector__popBack(cstd_vector_ *v);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_VECTOR_H */
