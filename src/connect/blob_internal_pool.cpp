// The pool of working region records: blocks, the circular free list, the
// refill by cursor and the block count rule.
#include "connect/blob_internal_pool.hpp"

#include <cstdint>

#include "cblob/run_params.h"
#include "core/frame.hpp"

namespace cblob::connect {
namespace {

const cblob_blob_internal_block_ *blockArray(const BlobInternalPool *pool) {
    return static_cast<const cblob_blob_internal_block_ *>(pool->blocks.untyped.begin);
}

int32_t blockTotal(const BlobInternalPool *pool) { return static_cast<int32_t>(pool->blocks.untyped.size); }

// Links the n records from `first` into the (empty) free list as a circle.
void linkRecords(BlobInternalPool *pool, cblob_blob_internal_ *first, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        first[i].poolNext = &first[(i + 1) % n];
        first[i].poolPrev = &first[(i + n - 1) % n];
    }
    pool->freeHead = first;
}

}  // namespace

int32_t poolRefill(BlobInternalPool *pool) {
    if (pool->cursor) {
        const cblob_blob_internal_block_ &last = blockArray(pool)[blockTotal(pool) - 1];
        cblob_blob_internal_ *end = last.records + last.count;
        const int32_t left = static_cast<int32_t>(end - pool->cursor);
        const int32_t n = left < kPoolLinkStep ? left : kPoolLinkStep;
        linkRecords(pool, pool->cursor, n);
        pool->cursor = n == left ? nullptr : pool->cursor + n;
        return 0;
    }
    Frame<1> f;
    cblob_blob_internal_block_ block;
    cblob_blob_internal_block__init(&block);
    // Not cleared: a block of a wide window is large, and records are
    // written when they are opened (only the pool links before that).
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(pool->recordsPerBlock) * sizeof(cblob_blob_internal_),
                                &block.records));
    const int32_t id = f.addMemory(&block.records, csys_cleanup_tempMemory);
    block.count = pool->recordsPerBlock;
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_blob_internal__ptr_pushBack(&pool->blocks, &block));
    f.handOver(id);
    const int32_t n = block.count < kPoolLinkStep ? block.count : kPoolLinkStep;
    linkRecords(pool, block.records, n);
    pool->cursor = block.count > n ? block.records + n : nullptr;
    return f.exit();
}

int32_t poolRecordsPerBlock(int32_t width, int32_t bands, int32_t connectivityCleanup, int32_t connectivityType,
                            int32_t *count) {
    CBLOB_REQUIRE_ARG(count);
    if (width < 0 || bands < 1) return cstd_err_badCount;
    if (connectivityType == cblob_connectivityWholeImage) {
        *count = 2;
        return 0;
    }
    const int64_t m = connectivityCleanup == cblob_connectivityCleanupFill ? 4 * static_cast<int64_t>(width) + 2
                                                                           : 2 * static_cast<int64_t>(width) + 1;
    const int64_t perBand = m / bands;
    const int64_t records = perBand < 10 ? 10 : (perBand / 10 + 1) * 10;
    if (records > INT32_MAX) return csys_err_badSize;
    *count = static_cast<int32_t>(records);
    return 0;
}

int32_t poolConstruct(BlobInternalPool *pool, int32_t recordsPerBlock) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, pool);
    CBLOB_FRAME_REQUIRE(f, recordsPerBlock >= 1 && (recordsPerBlock % kPoolLinkStep == 0 ||
                                                    recordsPerBlock < kPoolLinkStep));
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_blob_internal__ptr_constructEmpty(&pool->blocks));
    f.addObject<&poolDestruct>(pool, csys_cleanup_resultObject);
    pool->recordsPerBlock = recordsPerBlock;
    pool->freeHead = nullptr;
    pool->cursor = nullptr;
    CBLOB_FRAME_TRY(f, poolRefill(pool));
    return f.exit();
}

int32_t poolDestruct(BlobInternalPool *pool) {
    CBLOB_REQUIRE_ARG(pool);
    cblob_blob_internal_block_ *blocks = static_cast<cblob_blob_internal_block_ *>(pool->blocks.untyped.begin);
    for (int32_t i = 0; i < blockTotal(pool); ++i) release(&blocks[i].records);
    pool->freeHead = nullptr;
    pool->cursor = nullptr;
    return cstd_vector_cblob_blob_internal__ptr_destruct(&pool->blocks);
}

int32_t poolGetNumBlocks(const BlobInternalPool *pool, int32_t *numBlocks) {
    CBLOB_REQUIRE_ARG(pool);
    CBLOB_REQUIRE_ARG(numBlocks);
    *numBlocks = blockTotal(pool);
    return 0;
}

int32_t poolGetFreeCount(const BlobInternalPool *pool, int32_t *freeCount) {
    CBLOB_REQUIRE_ARG(pool);
    CBLOB_REQUIRE_ARG(freeCount);
    int32_t n = 0;
    if (const cblob_blob_internal_ *r = pool->freeHead) {
        do {
            ++n;
            r = r->poolNext;
        } while (r != pool->freeHead);
    }
    *freeCount = n;
    return 0;
}

int32_t poolGetCursorIndex(const BlobInternalPool *pool, int32_t *index) {
    CBLOB_REQUIRE_ARG(pool);
    CBLOB_REQUIRE_ARG(index);
    *index = pool->cursor ? static_cast<int32_t>(pool->cursor - blockArray(pool)[blockTotal(pool) - 1].records) : -1;
    return 0;
}

}  // namespace cblob::connect

extern "C" int32_t cblob_blob_internal_block__init(cblob_blob_internal_block_ *block) {
    CBLOB_REQUIRE_ARG(block);
    block->records = nullptr;
    block->count = 0;
    return 0;
}
