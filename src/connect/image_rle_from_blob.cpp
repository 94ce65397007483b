// Run-length images of single blobs: a record that borrows a blob's rows
// from the blob database, the database reference its handles take, and the
// deep copy of borrowed rows into owned storage.
#include <cstdint>

#include "cblob/blob.h"
#include "cblob/result_set.h"
#include "connect/blob_record.hpp"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "rle/run_format.hpp"
#include "rle/sentinel_rows.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"

namespace {

// Bytes one borrowed row takes when re-encoded, terminator included; adds
// its runs to *runs.
int64_t rowBytes(const cblob_rleRow &row, bool grey, int64_t *runs) {
    int64_t bytes = grey ? cblob::rle::kGreyTerminatorBytes : cblob::rle::kBinaryTerminatorBytes;
    cblob::rle::RowReader reader(row, grey);
    cblob::rle::Run run;
    while (reader.next(run)) {
        bytes += grey ? cblob::rle::greyRunBytes(run.length) : cblob::rle::lengthBytes(run.length);
        ++*runs;
    }
    return bytes;
}

// Writes one borrowed row at the cursor in its own format.
void writeRow(uint8_t *&cursor, const cblob_rleRow &row, bool grey) {
    cblob::rle::RowReader reader(row, grey);
    cblob::rle::Run run;
    while (reader.next(run)) {
        if (grey) {
            cblob::rle::writeGreyRun(cursor, run.value, run.length);
        } else {
            cblob::rle::writeLength(cursor, run.length);
        }
    }
    if (grey) {
        cblob::rle::writeGreyTerminator(cursor);
    } else {
        cblob::rle::writeBinaryTerminator(cursor);
    }
}

}  // namespace

namespace cblob::rle {

int32_t attachDatabase(cblob_imageRle *img) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(img->db);
    return cstd_ptrh_assignShared(&img->dbHandle.ptrh, &img->db->shared);
}

// One block holds the sentinel rows and every row. Its size is the larger of
// (numRuns + 2 + height + 2) x (isGrey + 4) and the exact size of the
// re-encoded rows: runs of 255 pixels or more take more bytes than the first
// estimate allows for, and a row table is never written past its block.
int32_t copyBorrowedRows(cblob_imageRleData_ **data, const cblob_imageRle *src) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, data);
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, src->rows && !src->data && src->height >= 0);
    const bool grey = src->isGrey != 0;
    int64_t runs = 0;
    int64_t exact = 2 * static_cast<int64_t>(sentinelRowBytes(src->width, grey));
    for (int32_t y = 0; y < src->height; ++y) exact += rowBytes(src->rows[y], grey, &runs);
    const int64_t estimate =
        (static_cast<int64_t>(src->numRuns) + 2 + src->height + 2) * (static_cast<int64_t>(grey ? 1 : 0) + 4);
    cblob_imageRleData_ *fresh = nullptr;
    CBLOB_FRAME_TRY(f, newStorage(&fresh));
    f.addObject<&deleteStorage>(&fresh, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, resetStorage(fresh, src->height));
    fresh->isGrey = grey ? 1 : 0;
    WriteBlock block;
    CBLOB_FRAME_TRY(f, newBlock(fresh, estimate > exact ? estimate : exact, &block));
    cblob_rleRow *table = rowTable(fresh);
    writeSentinelRow(block.cursor, &table[0], src->width, grey);
    for (int32_t y = 0; y < src->height; ++y) {
        const cblob_rleRow &row = src->rows[y];
        cblob_rleRow &entry = table[y + 1];
        entry.runs = block.cursor;
        entry.numRuns = row.numRuns;
        if (!grey) entry.startValue = row.startValue;
        writeRow(block.cursor, row, grey);
    }
    writeSentinelRow(block.cursor, &table[src->height + 1], src->width, grey);
    CBLOB_FRAME_REQUIRE(f, block.bytesLeft() >= 0);
    fresh->numRuns = static_cast<int32_t>(runs);
    *data = fresh;
    return f.exit();
}

}  // namespace cblob::rle

extern "C" {

int32_t cblob_imageRle_initFromBlob(cblob_imageRle *img, const cblob_blob *blob,
                                    const cmath_xformPtrhConst *imageFromClient) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, img);
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, imageFromClient);
    CBLOB_FRAME_REQUIRE(f, blob->owner);
    cblob_blobRleDb_ *db = blob->owner->blobDb;
    CBLOB_FRAME_CHECK(f, db, cblob_err_rleImageEmpty);
    cblob_rleRow *rows = nullptr;
    CBLOB_FRAME_TRY(f, cblob::connect::blobRleRows(blob, &rows));
    // A record that handles already hold keeps a reference on its database.
    bool held = false;
    if (img->constructed != 1) {
        CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(img));
        f.addObject<&cblob_imageRle_destruct>(img, csys_cleanup_resultObject);
    } else {
        held = img->dbHandle.ptrh.shared != nullptr;
        CBLOB_FRAME_TRY(f, cblob_imageRle_clear(img));
        CBLOB_FRAME_TRY(f, cblob::rle::deleteStorage(&img->data));
    }
    img->offsetX = blob->boxLeft;
    img->offsetY = blob->boxTop;
    img->width = blob->boxWidth;
    img->height = blob->boxHeight;
    img->isGrey = blob->isGrey;
    img->rows = rows;
    img->db = db;
    img->data = nullptr;
    img->isBlobImage = 1;
    if (held) CBLOB_FRAME_TRY(f, cblob::rle::attachDatabase(img));
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&img->imageFromClient, imageFromClient));
    return f.exit();
}

}  // extern "C"
