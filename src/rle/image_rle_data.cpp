// Owned run storage: the exported construct / copy / destruct, and the
// internal reset and block management every writer uses.
#include <cstdint>

#include "cblob/rle_image.h"
#include "core/frame.hpp"
#include "rle/storage.hpp"

namespace {

using cblob::rle::rowCount;
using cblob::rle::rowTable;

// Frees every block the storage holds; the vectors keep their entries.
void freeBlocks(cblob_imageRleData_ *data) {
    auto *blocks = static_cast<cblob_rleData_Ptr *>(data->blocks.untyped.begin);
    const int64_t count = data->blocks.untyped.size;
    for (int64_t i = 0; i < count; ++i) cblob::release(&blocks[i]);
}

// Whether p lies in [start, start + size).
bool inside(const uint8_t *p, const uint8_t *start, uint32_t size) {
    const auto at = reinterpret_cast<uintptr_t>(p);
    const auto begin = reinterpret_cast<uintptr_t>(start);
    return at >= begin && at - begin < size;
}

// Moves every row pointer of dst, copied from src, to the same offset in
// dst's copy of the block it pointed into. Rows lie in block order, so one
// forward walk over the blocks finds each row's block.
int32_t relocateRows(cblob_imageRleData_ *dst, const cblob_imageRleData_ *src) {
    const auto *srcBlocks = static_cast<const cblob_rleData_Ptr *>(src->blocks.untyped.begin);
    const auto *dstBlocks = static_cast<const cblob_rleData_Ptr *>(dst->blocks.untyped.begin);
    const auto *sizes = static_cast<const uint32_t *>(src->blockSizes.untyped.begin);
    const int64_t numBlocks = src->blocks.untyped.size;
    cblob_rleRow *rows = rowTable(dst);
    const int32_t numRows = rowCount(dst);
    int64_t b = 0;
    for (int32_t i = 0; i < numRows; ++i) {
        if (!rows[i].runs) continue;  // an entry no writer has filled
        while (b < numBlocks && !inside(rows[i].runs, srcBlocks[b], sizes[b])) ++b;
        CBLOB_REQUIRE_ARG(b < numBlocks);
        rows[i].runs = dstBlocks[b] + (rows[i].runs - srcBlocks[b]);
    }
    return 0;
}

}  // namespace

namespace cblob::rle {

int32_t newStorage(cblob_imageRleData_ **data) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, data);
    cblob_imageRleData_ *fresh = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(cblob_imageRleData_)), &fresh));
    f.addMemory(&fresh, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_imageRleData__construct(fresh));
    *data = fresh;
    return f.exit();
}

int32_t newStorageCopy(cblob_imageRleData_ **data, const cblob_imageRleData_ *src) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, data);
    CBLOB_FRAME_REQUIRE(f, src);
    cblob_imageRleData_ *fresh = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(cblob_imageRleData_)), &fresh));
    f.addMemory(&fresh, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_imageRleData__constructCopy(fresh, src));
    *data = fresh;
    return f.exit();
}

int32_t deleteStorage(cblob_imageRleData_ **data) {
    CBLOB_REQUIRE_ARG(data);
    if (!*data) return 0;
    const int32_t status = cblob_imageRleData__destruct(*data);
    release(data);
    return status;
}

int32_t emptyStorage(cblob_imageRleData_ *data) {
    CBLOB_REQUIRE_ARG(data);
    freeBlocks(data);
    // Shrinking never allocates, so these cannot fail for lack of memory.
    int32_t status = cstd_vector_cblob_rleData_Ptr_resize(&data->blocks, 0);
    if (!CBLOB_FAILED(status)) status = cstd_vector32_resize(&data->blockSizes, 0);
    if (!CBLOB_FAILED(status)) status = cstd_vector_cblob_rleRow_resize(&data->rows, 0);
    data->numRows = 0;
    data->numRuns = 0;
    data->isGrey = 0;
    data->isWide = 0;
    return status;
}

int32_t resetStorage(cblob_imageRleData_ *data, int32_t numRows) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, data);
    CBLOB_FRAME_REQUIRE(f, numRows >= 0);
    CBLOB_FRAME_TRY(f, emptyStorage(data));
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_rleRow_resize(&data->rows, static_cast<int64_t>(numRows) + 2));
    data->numRows = numRows;
    data->numRuns = 0;
    data->isGrey = 0;
    data->isWide = 0;
    return f.exit();
}

int32_t addBlock(cblob_imageRleData_ *data, uint8_t **block, int64_t size) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, data);
    CBLOB_FRAME_REQUIRE(f, block);
    // Until both appends succeed the block is still ours to free.
    f.addMemory(block, csys_cleanup_resultMemory);
    CBLOB_FRAME_CHECK(f, size >= 0 && size <= static_cast<int64_t>(UINT32_MAX), csys_err_badSize);
    const cblob_rleData_Ptr pointer = *block;
    const uint32_t size32 = static_cast<uint32_t>(size);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_rleData_Ptr_pushBack(&data->blocks, &pointer));
    if (f.fails(cstd_vector32_pushBack(&data->blockSizes, &size32))) {
        cstd_vector_cblob_rleData_Ptr_popBack(&data->blocks);
        return f.exit();
    }
    return f.exit();
}

int32_t newBlock(cblob_imageRleData_ *data, int64_t size, WriteBlock *block) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, data);
    CBLOB_FRAME_REQUIRE(f, block);
    CBLOB_FRAME_CHECK(f, size >= 0 && size <= static_cast<int64_t>(UINT32_MAX), csys_err_badSize);
    uint8_t *fresh = nullptr;
    CBLOB_FRAME_TRY(f, allocate(size, &fresh));
    CBLOB_FRAME_TRY(f, addBlock(data, &fresh, size));
    block->start = fresh;
    block->size = size;
    block->cursor = fresh;
    return f.exit();
}

int32_t ensureSpace(cblob_imageRleData_ *data, WriteBlock *block, int64_t needed, int64_t newSize) {
    CBLOB_REQUIRE_ARG(block);
    CBLOB_REQUIRE_ARG(newSize >= needed);
    if (block->bytesLeft() >= needed) return 0;
    return newBlock(data, newSize, block);
}

}  // namespace cblob::rle

extern "C" {

int32_t cblob_imageRleData__construct(cblob_imageRleData_ *data) {
    cblob::Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, data);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_rleRow_constructEmpty(&data->rows));
    f.addObject<&cstd_vector_cblob_rleRow_destruct>(&data->rows, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_rleData_Ptr_constructEmpty(&data->blocks));
    f.addObject<&cstd_vector_cblob_rleData_Ptr_destruct>(&data->blocks, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cstd_vector32_constructEmpty(&data->blockSizes));
    data->numRows = 0;
    data->numRuns = 0;
    data->isGrey = 0;
    data->isWide = 0;
    return f.exit();
}

int32_t cblob_imageRleData__constructCopy(cblob_imageRleData_ *dst, const cblob_imageRleData_ *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, dst);
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_TRY(f, cblob_imageRleData__construct(dst));
    f.addObject<&cblob_imageRleData__destruct>(dst, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob::rle::resetStorage(dst, src->numRows));
    dst->numRows = src->numRows;
    dst->numRuns = src->numRuns;
    dst->isGrey = src->isGrey;
    dst->isWide = src->isWide;
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_rleRow_assign(&dst->rows, &src->rows));
    const auto *blocks = static_cast<const cblob_rleData_Ptr *>(src->blocks.untyped.begin);
    const auto *sizes = static_cast<const uint32_t *>(src->blockSizes.untyped.begin);
    for (int64_t i = 0; i < src->blocks.untyped.size; ++i) {
        uint8_t *copy = nullptr;
        CBLOB_FRAME_TRY(f, cblob::allocate(sizes[i], &copy));
        csys_memory_copy(sizes[i], blocks[i], copy);
        CBLOB_FRAME_TRY(f, cblob::rle::addBlock(dst, &copy, sizes[i]));
    }
    CBLOB_FRAME_TRY(f, relocateRows(dst, src));
    return f.exit();
}

int32_t cblob_imageRleData__destruct(cblob_imageRleData_ *data) {
    CBLOB_REQUIRE_ARG(data);
    freeBlocks(data);
    int32_t status = cstd_vector_cblob_rleRow_destruct(&data->rows);
    if (!CBLOB_FAILED(status)) status = cstd_vector_cblob_rleData_Ptr_destruct(&data->blocks);
    if (!CBLOB_FAILED(status)) status = cstd_vector32_destruct(&data->blockSizes);
    return status;
}

}  // extern "C"
