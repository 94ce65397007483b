// Owned run storage of a run-length image (cblob_imageRleData_): heap
// objects, reset, and the blocks that hold the run bytes.
#ifndef CBLOB_RLE_STORAGE_HPP
#define CBLOB_RLE_STORAGE_HPP

#include <cstdint>

#include "cblob/rle_image.h"
#include "cblob/status.h"

namespace cblob::rle {

// A block being filled: its start and size, and the write cursor inside it.
// A default WriteBlock has no space, so the first ensureSpace starts a block.
struct WriteBlock {
    uint8_t *start = nullptr;
    int64_t size = 0;
    uint8_t *cursor = nullptr;
    int64_t bytesLeft() const { return start ? (start + size) - cursor : 0; }
};

// The row table of the storage and its number of entries (read directly:
// neither touches the vector's iteration cursor).
inline cblob_rleRow *rowTable(cblob_imageRleData_ *data) {
    return static_cast<cblob_rleRow *>(data->rows.untyped.begin);
}
inline const cblob_rleRow *rowTable(const cblob_imageRleData_ *data) {
    return static_cast<const cblob_rleRow *>(data->rows.untyped.begin);
}
inline int32_t rowCount(const cblob_imageRleData_ *data) { return static_cast<int32_t>(data->rows.untyped.size); }

// Allocates and constructs empty storage in *data (null on failure).
int32_t newStorage(cblob_imageRleData_ **data);
// Allocates *data as a deep copy of src (null on failure).
int32_t newStorageCopy(cblob_imageRleData_ **data, const cblob_imageRleData_ *src);
// Destructs and frees *data and sets it to null; nothing for a null *data.
int32_t deleteStorage(cblob_imageRleData_ **data);

// Frees every block and empties the row table; counters become 0.
int32_t emptyStorage(cblob_imageRleData_ *data);
// Storage reset to n rows: every block freed, the row table made n + 2
// blank entries, numRows = n, numRuns, isGrey and isWide 0.
int32_t resetStorage(cblob_imageRleData_ *data, int32_t numRows);

// Appends the heap block *block of `size` bytes to `blocks` and its size to
// `blockSizes`; the storage owns it from then on. When the append fails (or
// the size does not fit 32 bits: csys_err_badSize) the block is freed and
// *block set to null.
int32_t addBlock(cblob_imageRleData_ *data, uint8_t **block, int64_t size);
// Allocates a block of `size` bytes, adds it, and makes it the block being
// filled, cursor at its start.
int32_t newBlock(cblob_imageRleData_ *data, int64_t size, WriteBlock *block);
// Starts a new block of newSize bytes when fewer than `needed` bytes are left
// in *block (newSize >= needed).
int32_t ensureSpace(cblob_imageRleData_ *data, WriteBlock *block, int64_t needed, int64_t newSize);

// Adds `runs` to the storage's run count. The count is 32 bits wide (it is the
// image record's numRuns): an image of more than INT32_MAX runs gives
// csys_err_badSize and leaves the count as it was.
inline int32_t addRunCount(cblob_imageRleData_ *data, int64_t runs) {
    const int64_t total = static_cast<int64_t>(data->numRuns) + runs;
    if (runs < 0 || total > INT32_MAX) return csys_err_badSize;
    data->numRuns = static_cast<int32_t>(total);
    return 0;
}

// The size of the next block when `estimate` bytes are expected to follow
// and a row needs at most `rowSpace`: the estimate, but never more than
// kMaxBlockBytes (a block's size is kept in 32 bits, and bigger blocks save
// nothing) and never less than a row.
constexpr int64_t kMaxBlockBytes = int64_t{1} << 28;
inline int64_t nextBlockSize(int64_t estimate, int64_t rowSpace) {
    const int64_t capped = estimate < kMaxBlockBytes ? estimate : kMaxBlockBytes;
    return capped > rowSpace ? capped : rowSpace;
}

}  // namespace cblob::rle

#endif
