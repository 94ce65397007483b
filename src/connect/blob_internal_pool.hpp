// The pool of working region records of one connectivity scan (one per band
// in the banded scan). Records come from fixed-size blocks and circulate
// through a circular free list, so the row scan allocates only when a whole
// block is used up.
//
// Rules: every block holds the same number of records, a multiple of 10
// (the whole-image scan uses blocks of 2). A new block puts only its first
// 10 records into the free list; a cursor marks the next record not yet
// linked (null when the block has no more). Whenever the free list runs
// empty, the next 10 records from the cursor are linked; when the cursor is
// spent a new block is appended. Records leave the list when a region is
// opened and go back at its head when the region is merged away or finished.
#ifndef CBLOB_CONNECT_BLOB_INTERNAL_POOL_HPP
#define CBLOB_CONNECT_BLOB_INTERNAL_POOL_HPP

#include <cstdint>

#include "cblob/blob.h"
#include "connect/blob_internal.hpp"
#include "core/require.hpp"

namespace cblob::connect {

// Records linked into the free list at a time.
constexpr int32_t kPoolLinkStep = 10;

struct BlobInternalPool {
    cstd_vector_cblob_blob_internal__ptr blocks;  // every block, oldest first
    int32_t recordsPerBlock;
    cblob_blob_internal_ *freeHead;  // head of the circular free list; null when empty
    cblob_blob_internal_ *cursor;    // next record of the last block not yet linked; null when spent
};

// Records per block for a band of a scan: M = 4 * width + 2 with fill cleanup
// (connectivityCleanup 2), else 2 * width + 1; then 10 when M / bands < 10,
// else (M / bands / 10 + 1) * 10 (integer division). The whole-image scan
// (connectivityType 2) uses 2. cstd_err_badCount for a negative width or
// bands below 1; csys_err_badSize when the count does not fit 32 bits.
int32_t poolRecordsPerBlock(int32_t width, int32_t bands, int32_t connectivityCleanup, int32_t connectivityType,
                            int32_t *count);

// Constructs raw *pool with its first block of recordsPerBlock records.
// Records are not cleared: only the pool links of linked records hold
// values, and whoever opens a record sets the fields it uses. The memory of
// records never linked is never touched. recordsPerBlock must be >= 1 and a
// multiple of 10 or below 10 (else assert). On failure nothing is left to
// destruct.
int32_t poolConstruct(BlobInternalPool *pool, int32_t recordsPerBlock);

// Frees every block and the block vector. Records handed out become invalid.
int32_t poolDestruct(BlobInternalPool *pool);

// Links the next records of the last block into the empty free list, or
// appends a new block when the cursor is spent (poolOpen's slow path). Fails
// only when a new block cannot be allocated.
int32_t poolRefill(BlobInternalPool *pool);

// Takes the record at the head of the free list (refilling it first when
// empty) and clears its merged flag; the caller sets every other field.
// Fails only when a new block must be allocated and cannot be.
inline int32_t poolOpen(BlobInternalPool *pool, cblob_blob_internal_ **record) {
    CBLOB_REQUIRE_ARG(pool);
    CBLOB_REQUIRE_ARG(record);
    if (!pool->freeHead) {
        const int32_t status = poolRefill(pool);
        if (CBLOB_FAILED(status)) return status;
        CBLOB_REQUIRE_ARG(pool->freeHead);  // a refill always links records
    }
    cblob_blob_internal_ *r = pool->freeHead;
    if (r->poolNext == r) {
        pool->freeHead = nullptr;
    } else {
        r->poolPrev->poolNext = r->poolNext;
        r->poolNext->poolPrev = r->poolPrev;
        pool->freeHead = r->poolNext;
    }
    r->poolNext = nullptr;
    r->poolPrev = nullptr;
    r->merged = 0;
    *record = r;
    return 0;
}

// Puts a record of this pool back at the head of the free list.
inline int32_t poolRelease(BlobInternalPool *pool, cblob_blob_internal_ *record) {
    CBLOB_REQUIRE_ARG(pool);
    CBLOB_REQUIRE_ARG(record);
    cblob_blob_internal_ *head = pool->freeHead;
    if (!head) {
        record->poolNext = record;
        record->poolPrev = record;
    } else {
        record->poolNext = head;
        record->poolPrev = head->poolPrev;
        head->poolPrev->poolNext = record;
        head->poolPrev = record;
    }
    pool->freeHead = record;
    return 0;
}

// Inspection, for tests and assertions: the number of blocks, the records in
// the free list, and the index of the cursor in the last block (-1 when
// spent).
int32_t poolGetNumBlocks(const BlobInternalPool *pool, int32_t *numBlocks);
int32_t poolGetFreeCount(const BlobInternalPool *pool, int32_t *freeCount);
int32_t poolGetCursorIndex(const BlobInternalPool *pool, int32_t *index);

}  // namespace cblob::connect

#endif
