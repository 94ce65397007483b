// Building a new run-length image that an operation derives from others: a
// new record with owned storage, the storage filled row by row (sentinel
// rows, blocks with room for every row, run counts, cancellation polls), and
// handing the record to the caller's handle.
#ifndef CBLOB_RLE_DERIVED_IMAGE_HPP
#define CBLOB_RLE_DERIVED_IMAGE_HPP

#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/run_writer.hpp"
#include "rle/storage.hpp"

namespace cblob::rle {

// A new record from the memory service, fully constructed, owning new empty
// storage. On failure *img is null and nothing is left allocated.
int32_t newOwnedRecord(cblob_imageRle **img);

// Destructs and frees a record made by newOwnedRecord, and nulls *img;
// nothing for a null *img. For cleanup entries of records not yet handed on.
int32_t deleteRecord(cblob_imageRle **img);

// Makes the record show the storage it owns: the geometry given, numRuns
// and isGrey from the storage, rows at its entry 0, and a share of
// *imageFromClient as its transform.
int32_t publishStorage(cblob_imageRle *img, int32_t offsetX, int32_t offsetY, int32_t width, int32_t height,
                       const cmath_xformPtrhConst *imageFromClient);

// Attaches *img to *result (which may refer to a source of the operation:
// its old reference is dropped last). From then on the handle owns the
// record, so *img becomes null whether or not dropping the old reference
// failed.
int32_t attachResult(cblob_imageRlePtrh *result, cblob_imageRle **img);

// Fills owned storage row by row. Every row is written into a block with
// room for the longest row the format allows (one run per pixel).
class StorageWriter {
public:
    // Resets *data to `height` rows of the format, starts the first block,
    // sized from the expected runs per row, and writes the top sentinel row.
    int32_t start(cblob_imageRleData_ *data, int32_t width, int32_t height, bool grey, bool wide, int64_t runsPerRow);

    // Before image row y: polls the attention check every 32 rows (unless
    // `poll` is false) and makes room for the row; returns a writer at the
    // row's start.
    int32_t beginRow(int32_t y, RunWriter *writer, bool poll = true);

    // After image row y: records the row's entry (runs, count, start value)
    // and adds its runs to the storage's count.
    int32_t endRow(int32_t y, RunWriter *writer);

    // The same for a row the caller writes byte by byte, terminator
    // included (no polling): *cursor is where it starts; endRawRow takes the
    // cursor after the terminator, the row's run count and start value.
    // Both run for every row, so they are inline and take no frame.
    int32_t beginRawRow(int32_t y, uint8_t **cursor) {
        int32_t status = 0;
        if (block_.bytesLeft() < rowSpace_) status = newRowBlock(y);
        rowStart_ = block_.cursor;
        *cursor = block_.cursor;
        return status;
    }
    int32_t endRawRow(int32_t y, uint8_t *cursor, int32_t runs, uint8_t startValue) {
        block_.cursor = cursor;
        cblob_rleRow &entry = rows_[y + 1];
        entry.runs = rowStart_;
        entry.numRuns = runs;
        entry.startValue = startValue;
        return addRunCount(data_, runs);
    }

    // Writes the bottom sentinel row.
    int32_t finish();

private:
    // Starts a block for row y and the rows after it.
    int32_t newRowBlock(int32_t y);

    cblob_imageRleData_ *data_ = nullptr;
    cblob_rleRow *rows_ = nullptr;
    WriteBlock block_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool grey_ = false;
    bool wide_ = false;
    int64_t perRun_ = 1;
    int64_t rowSpace_ = 0;
    int64_t runsPerRow_ = 0;
    uint8_t *rowStart_ = nullptr;
};

}  // namespace cblob::rle

#endif
