/*
 * cblob host services: memory, the cleanup list, assertions, the attention
 * check, the stopwatch, shared reference counts and counted handles, and the
 * optimisation-inhibit hook.
 *
 * These are the services the library runs on. A host application mostly
 * needs only these calls:
 *   - csys_assert_setHandler      route precondition failures to the host
 *   - csys_attention_setCallback  let the host stop long operations
 *   - cprt_isOptimizationInhibitedFP  switch optimised kernels off
 *   - csys_memory_setKeepLimit    how much freed memory is kept for reuse
 *   - csys_memory_failAfter / csys_memory_getLiveBlockCount  (tests)
 *
 * All functions are thread-safe unless stated otherwise.
 */
#ifndef CBLOB_SYS_H
#define CBLOB_SYS_H

#include <stddef.h>
#include <stdint.h>

#include "cblob/export.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ memory */

/**
 * Allocates `size` bytes (size 0 gives a valid, unique block) and stores the
 * block's address in *ptr. Returns csys_err_badSize for a negative size and
 * csys_err_outOfMemory when no block can be had; *ptr is then left alone.
 * Blocks are aligned for any scalar type.
 */
CBLOB_API int32_t csys_memory_alloc_internal(int64_t size, void **ptr);
/** As csys_memory_alloc_internal, the block zero-filled. */
CBLOB_API int32_t csys_memory_allocClear_internal(int64_t size, void **ptr);
/**
 * Resizes the block at *ptr (which may be null: then it allocates) to `size`
 * bytes, keeping the contents up to the smaller size. On failure *ptr still
 * holds the old, unchanged block.
 */
CBLOB_API int32_t csys_memory_realloc_internal(int64_t size, void **ptr);
/** Frees the block whose address is in *ptr and sets *ptr to null. A null
 *  ptr or *ptr is a no-op. Always returns 0. */
CBLOB_API int32_t csys_memory_free_internal(void **ptr);
/** Copies `size` bytes from src to dst (note the order). Returns 0. */
CBLOB_API int32_t csys_memory_copy(int64_t size, const void *src, void *dst);
/** Fills `size` bytes at dst with the byte `value`. Returns 0. */
CBLOB_API int32_t csys_memory_fill(int32_t value, int64_t size, void *dst);

/**
 * Test hook: the n-th allocation (alloc, allocClear or realloc)
 * counted from this call fails with csys_err_outOfMemory; with `persistent`
 * non-zero every allocation after it fails too. n <= 0 disarms the hook.
 */
CBLOB_API void csys_memory_failAfter(int64_t n, int32_t persistent);
/** Test hook: how many allocations have failed because of the armed hook
 *  since csys_memory_failAfter was last called. */
CBLOB_API int64_t csys_memory_getInjectedFailureCount(void);
/** The number of blocks currently allocated and not yet freed. */
CBLOB_API int64_t csys_memory_getLiveBlockCount(void);

/**
 * Freed blocks of 64 KiB and more are kept for reuse, up to `bytes` bytes in
 * all (default 512 MiB), instead of going back to the system: a later
 * allocation of a similar size (at most a quarter smaller than the kept
 * block) takes one, already mapped into the process, so that a run into a
 * new result set costs no more than one into a reused result set. Lowering
 * the limit frees kept blocks at once; 0 keeps none. Kept blocks are not
 * live blocks (csys_memory_getLiveBlockCount). Returns 0, or
 * csys_err_badSize for a negative limit (nothing changes).
 */
CBLOB_API int32_t csys_memory_setKeepLimit(int64_t bytes);
/** The limit of csys_memory_setKeepLimit. */
CBLOB_API int64_t csys_memory_getKeepLimit(void);
/** The bytes of freed blocks kept for reuse now. */
CBLOB_API int64_t csys_memory_getKeptBytes(void);

/* -------------------------------------------------------------- assertions */

/**
 * Reports a violated precondition (usually a null pointer argument) at the
 * given source line. By default it prints the line to stderr and aborts. A
 * host may install its own handler; when the handler returns, the failing
 * function returns csys_err_assertFailed without touching its arguments.
 */
CBLOB_API void cstd_assert_(int32_t line);
typedef void (*csys_assertHandler)(int32_t line, void *userData);
/** Installs a handler (null restores the default). Returns the old one. */
CBLOB_API csys_assertHandler csys_assert_setHandler(csys_assertHandler handler, void *userData);

/* --------------------------------------------------------- attention check */

/**
 * Polled by long operations. Returns 0, or the failure status the host's
 * callback returns to ask running operations to stop; that status travels
 * back to the caller of the operation unchanged. May be called from worker
 * threads, so the callback must be thread-safe. The callback may be changed
 * (csys_attention_setCallback) while operations poll it: each poll calls
 * either the old callback with its data or the new one with its own.
 */
CBLOB_API int32_t csys_attention_check(void);
typedef int32_t (*csys_attentionCallback)(void *userData);
/** Installs the callback (null: always 0). */
CBLOB_API void csys_attention_setCallback(csys_attentionCallback callback, void *userData);

/* ----------------------------------------------------- optimisation hook */

/**
 * Null, or a host function asked before an optimised kernel runs, with the
 * kernel's name (for example "cblob_findRunLengths8_hardThreshNoMask_row").
 * A non-zero answer makes the library use the portable kernel instead.
 * The host may change the variable while runs go on in other threads (store
 * it atomically, e.g. with __atomic_store_n, where a plain store is not):
 * the library loads it atomically, and a segmentation pass takes one copy
 * on its calling thread that all its band jobs ask, so a change takes effect
 * from the next pass. The function may be called from worker threads.
 */
typedef int32_t (*cprt_optimizationInhibitedFn)(const char *routineName);
CBLOB_API extern cprt_optimizationInhibitedFn cprt_isOptimizationInhibitedFP;

/* ------------------------------------------------------------ cleanup list */

/** What a cleanup entry holds and when it is released. */
enum {
    csys_cleanup_resultMemory = 0x21, /* part of the result: freed only on failure */
    csys_cleanup_resultObject = 0x22, /* part of the result: destructed only on failure */
    csys_cleanup_tempMemory = 0x31,   /* temporary: always freed at exit */
    csys_cleanup_tempObject = 0x32    /* temporary: always destructed at exit */
};

/** Releases what an entry holds: called with the entry's address. */
typedef int32_t (*csys_cleanupRelease)(void *address);

typedef struct csys_cleanupEntry {
    int32_t id;     /* 0 for the first entry of a call, then 1, 2, ... */
    int32_t kind;   /* one of the csys_cleanup_* kinds */
    void *address;  /* memory: address of the pointer variable; object: the object */
    csys_cleanupRelease release;
} csys_cleanupEntry;

/** A fresh tag identifying one call's cleanup list. */
CBLOB_API int32_t csys_cleanup_getNextTag(void);
/**
 * The exit step of a call: newest entry first, runs the release of every
 * temporary entry, and of every result entry too when *status is a failure;
 * then empties the list (*count = 0). A release failure on the success path
 * becomes *status. A negative count is reported through cstd_assert_.
 */
CBLOB_API void csys_cleanupExecute_(csys_cleanupEntry *list, int32_t *count, int32_t *status, int32_t tag);
/**
 * Removes the newest entry, which must have the given id, from the list;
 * with `keep` non-zero it is not run (ownership passed elsewhere), otherwise
 * it is released first and a release failure is stored in *status.
 */
CBLOB_API void csys_cleanup_doId_(csys_cleanupEntry *list, int32_t *count, int32_t *status, int32_t id, int32_t keep);

/* --------------------------------------------------------------- stopwatch */

typedef struct csys_timer {
    int64_t startNs;   /* monotonic clock at the last start */
    int64_t elapsedNs; /* accumulated time of finished start/stop intervals */
    int32_t running;
} csys_timer;

/** Initialises a stopped stopwatch at zero; `flags` must be 0. */
CBLOB_API int32_t csys_timer_init(csys_timer *t, int32_t flags);
CBLOB_API int32_t csys_timer_reset(csys_timer *t);
CBLOB_API int32_t csys_timer_start(csys_timer *t);
/** Stops a running stopwatch; csys_err_timerNotRunning when it was not. */
CBLOB_API int32_t csys_timer_stop(csys_timer *t);
/** Accumulated time, including the current interval when running. */
CBLOB_API int32_t csys_timer_getMillisecondsDouble(const csys_timer *t, double *ms);

/* ------------------------------------------- shared counts and handles */

struct cstd_shared;
/**
 * How a shared object is counted and destroyed. `increment` and `decrement`
 * adjust the count atomically and return the new count; `destroy` is called
 * with the owner when the count falls to zero.
 */
typedef struct cstd_sharedDescriptor {
    int64_t (*increment)(struct cstd_shared *shared);
    int64_t (*decrement)(struct cstd_shared *shared);
    int32_t (*destroy)(void *owner);
} cstd_sharedDescriptor;

/** A reference count embedded in the object it counts. */
typedef struct cstd_shared {
    int64_t count; /* updated atomically */
    void *owner;
    const cstd_sharedDescriptor *descriptor;
} cstd_shared;

/** Initialises the count to 0, owned by `owner`, destroyed by `descriptor`. */
CBLOB_API int32_t cstd_shared_initCustom(cstd_shared *shared, void *owner, const cstd_sharedDescriptor *descriptor);
CBLOB_API int64_t cstd_shared_increment_default(cstd_shared *shared);
CBLOB_API int64_t cstd_shared_decrement_default(cstd_shared *shared);

/**
 * A handle holding one counted reference to a shared object, or nothing.
 * Copies and assignments add a reference; destruct, detach and re-assignment
 * drop one; the last drop destroys the object. Two threads may use two
 * handles of one object; one handle must not be used by two threads at once.
 */
typedef struct cstd_ptrh {
    cstd_shared *shared;
} cstd_ptrh;

CBLOB_API int32_t cstd_ptrh_construct(cstd_ptrh *h);
CBLOB_API int32_t cstd_ptrh_constructCopy(cstd_ptrh *h, const cstd_ptrh *src);
CBLOB_API int32_t cstd_ptrh_assign(cstd_ptrh *h, const cstd_ptrh *src);
/** Makes h refer to `shared` (adding a reference), or to nothing when null. */
CBLOB_API int32_t cstd_ptrh_assignShared(cstd_ptrh *h, cstd_shared *shared);
/** Drops h's reference; h is null afterwards. Returns the destroy status. */
CBLOB_API int32_t cstd_ptrh_detach(cstd_ptrh *h);
CBLOB_API int32_t cstd_ptrh_destruct(cstd_ptrh *h);
CBLOB_API int32_t cstd_ptrh_getIsNull(const cstd_ptrh *h, int32_t *isNull);
/** The reference count of the object, 0 for an empty handle. */
CBLOB_API int32_t cstd_ptrh_getRefCount(const cstd_ptrh *h, int64_t *count);
/** The shared count h refers to (null for an empty handle); the owner is shared->owner. */
CBLOB_API int32_t cstd_ptrh_getWholeShared(const cstd_ptrh *h, cstd_shared **shared);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_SYS_H */
