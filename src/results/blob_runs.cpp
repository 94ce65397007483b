// A blob's runs: extracted from the run's labelled run image on first use
// and kept in the result set's blob database.
//
// The labelled image has wide runs, each carrying the working label the scan
// gave its region when it read the row. The run table (blob_run_table.hpp)
// maps those labels to the regions they ended up in; the result set's run
// labels give each blob's working label. A blob's rows cover its box: each
// source run across the box is in the blob when its label resolves to the
// blob's working label, and the row is written as alternating lengths of in
// and out pixels (binary blobs) or as grey runs (weighted blobs).
#include <cstdint>

#include "cblob/blob.h"
#include "cblob/result_set.h"
#include "connect/blob_rle_db.hpp"
#include "core/frame.hpp"
#include "rle/row_access.hpp"
#include "rle/run_format.hpp"
#include "results/blob_run_table.hpp"

namespace {

// Row entries of a new row block, and bytes of a new data block, at least.
constexpr int64_t kRowBlockEntries = 4096;
constexpr int64_t kDataBlockBytes = 64 * 1024;

// What the extraction reads: the labelled image, the table and the blob's
// working label.
struct Extraction {
    const cblob_imageRle *source = nullptr;
    bool grey = false;       // the source runs carry values
    bool greyRows = false;   // the blob's rows do (its grey flag): a labelled blob of grey runs has binary rows
    int32_t *table = nullptr;
    int32_t tableCount = 0;
    int32_t working = 0;
    // The last label looked up and whether it was the blob's.
    int32_t lastLabel = -1;
    bool lastIn = false;

    bool inBlob(int32_t label) {
        if (label != lastLabel) {
            lastLabel = label;
            lastIn = cblob::results::resolveRunLabel(table, tableCount, label) == working;
        }
        return lastIn;
    }
};

// The source, table and working label of the blob, with their checks:
// cblob_err_rleImageEmpty when the result set holds no labelled image with
// rows, no blob database, no run table or no working label for the blob.
int32_t readExtraction(cblob_blob *blob, Extraction *e) {
    cblob::Frame<0> f;
    cblob_resultSet *rs = blob->owner;
    cblob_imageRle *source = nullptr;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getImageRle(&rs->sourceImage, &source));
    CBLOB_FRAME_CHECK(f, source && source->rows && source->data, cblob_err_rleImageEmpty);
    CBLOB_FRAME_CHECK(f, rs->blobDb && rs->runTable && rs->runLabels, cblob_err_rleImageEmpty);
    CBLOB_FRAME_CHECK(f, blob->label >= 1 && blob->label < rs->runLabels->untyped.size, cblob_err_rleImageEmpty);
    CBLOB_FRAME_REQUIRE(f, source->data->isWide && rs->tableShift == 0);
    // The box lies inside the labelled image.
    CBLOB_FRAME_REQUIRE(f, blob->boxLeft >= source->offsetX && blob->boxTop >= source->offsetY &&
                               blob->boxWidth >= 1 && blob->boxHeight >= 1 &&
                               static_cast<int64_t>(blob->boxLeft) + blob->boxWidth <=
                                   static_cast<int64_t>(source->offsetX) + source->width &&
                               static_cast<int64_t>(blob->boxTop) + blob->boxHeight <=
                                   static_cast<int64_t>(source->offsetY) + source->height);
    e->source = source;
    e->grey = source->isGrey != 0;
    e->greyRows = e->grey && blob->isGrey != 0;
    e->table = cblob::results::runTableEntries(rs->runTable);
    e->tableCount = cblob::results::runTableCount(rs->runTable);
    e->working = static_cast<const int32_t *>(rs->runLabels->untyped.begin)[blob->label];
    return f.exit();
}

// *rows = room for `count` row entries in the database's last row block, or
// in a new one (reserved, not yet taken: the caller commits them).
int32_t reserveRows(cblob_blobRleDb_ *db, int32_t count, cblob_blob_rleRowBlock_ **block) {
    cblob::Frame<0> f;
    CBLOB_FRAME_TRY(f, cblob::connect::ensureRowBlocks(db));
    const int64_t entry = static_cast<int64_t>(sizeof(cblob_rleRow));
    const int64_t total = cblob::connect::rowBlockTotal(db);
    auto *last = total > 0 ? const_cast<cblob_blob_rleRowBlock_ *>(cblob::connect::rowBlockArray(db)) + total - 1
                           : nullptr;
    if (!last || last->size / entry - last->used < count) {
        const int64_t entries = count > kRowBlockEntries ? count : kRowBlockEntries;
        CBLOB_FRAME_CHECK(f, entries * entry <= INT32_MAX, csys_err_badSize);
        CBLOB_FRAME_TRY(f, cblob_blobRleDb__addRowBlock(static_cast<int32_t>(entries * entry), &last, db->rowBlocks));
    }
    *block = last;
    return f.exit();
}

// *block = the database's last data block when it has `bytes` left, else a
// new one.
int32_t dataRoom(cblob_blobRleDb_ *db, int64_t bytes, cblob_blob_rleDataBlock_ **block) {
    cblob::Frame<0> f;
    CBLOB_FRAME_TRY(f, cblob::connect::ensureDataBlocks(db));
    const int64_t total = cblob::connect::dataBlockTotal(db);
    auto *last = total > 0 ? const_cast<cblob_blob_rleDataBlock_ *>(cblob::connect::dataBlockArray(db)) + total - 1
                           : nullptr;
    if (!last || (last->memory + last->size) - last->cursor < bytes) {
        const int64_t size = bytes > kDataBlockBytes ? bytes : kDataBlockBytes;
        CBLOB_FRAME_CHECK(f, size <= INT32_MAX, csys_err_badSize);
        uint8_t *memory = nullptr;
        CBLOB_FRAME_TRY(f, cblob_blobRleDb__addDataBlock(static_cast<int32_t>(size), &memory, &last, db->dataBlocks));
    }
    *block = last;
    return f.exit();
}

// Writes one row of the blob as it is built: neighbouring pieces of one
// kind (binary: in or out; grey: one value) become one run.
class RowWriter {
public:
    RowWriter(uint8_t *cursor, bool grey) : cursor_(cursor), grey_(grey) {}

    // `length` pixels, in the blob or not; grey pieces carry `value`.
    void add(bool in, uint8_t value, int32_t length) {
        // Grey rows: blob pixels keep their value, background pixels of the
        // blob (holes, filled gaps) weigh 1 as in the scan; the rest is 0.
        const uint8_t key = grey_ ? (in ? (value ? value : 1) : 0) : (in ? 1 : 0);
        if (pending_ > 0 && key == key_) {
            pending_ += length;
            return;
        }
        flush();
        if (first_) {
            startValue_ = in ? 1 : 0;
            first_ = false;
        }
        key_ = key;
        pending_ = length;
    }

    // Ends the row; fills its entry.
    uint8_t *finish(cblob_rleRow *entry) {
        flush();
        if (grey_) {
            cblob::rle::writeGreyTerminator(cursor_);
        } else {
            cblob::rle::writeBinaryTerminator(cursor_);
        }
        entry->numRuns = runs_;
        entry->startValue = startValue_;
        return cursor_;
    }

private:
    void flush() {
        if (pending_ <= 0) return;
        if (grey_) {
            cblob::rle::writeGreyRun(cursor_, key_, pending_);
        } else {
            cblob::rle::writeLength(cursor_, pending_);
        }
        ++runs_;
        pending_ = 0;
    }

    uint8_t *cursor_;
    bool grey_;
    bool first_ = true;
    uint8_t startValue_ = 0;
    uint8_t key_ = 0;
    int32_t pending_ = 0;
    int32_t runs_ = 0;
};

// One row of the blob: the source row's wide runs across [left, right)
// (image x minus the source offset), written at the cursor.
uint8_t *extractRow(Extraction &e, const cblob_rleRow &source, int32_t left, int32_t right, uint8_t *cursor,
                    cblob_rleRow *entry) {
    RowWriter writer(cursor, e.greyRows);
    const uint8_t *p = source.runs;
    const int32_t runBytes = e.grey ? cblob::rle::kWideGreyRunBytes : cblob::rle::kWideBinaryRunBytes;
    const int32_t lengthAt = e.grey ? 1 : 0;
    int64_t x = 0;
    while (p && x < right) {
        const int32_t length = cblob::rle::loadInt32(p + lengthAt);
        if (length <= 0) break;
        const int64_t end = x + length;
        const int64_t from = x > left ? x : left;
        const int64_t to = end < right ? end : right;
        if (from < to) {
            const int32_t label = cblob::rle::loadInt32(p + lengthAt + 4);
            writer.add(e.inBlob(label), e.grey ? p[0] : 0, static_cast<int32_t>(to - from));
        }
        x = end;
        p += runBytes;
    }
    return writer.finish(entry);
}

// Extracts the blob's rows into the database and points its cached runs at
// them. A failure leaves the cached runs null and takes no row entries; data
// bytes already written stay unused in their block.
int32_t extractBlobRuns(cblob_blob *blob) {
    cblob::Frame<0> f;
    Extraction e;
    CBLOB_FRAME_TRY(f, readExtraction(blob, &e));
    cblob_blobRleDb_ *db = blob->owner->blobDb;
    const int32_t height = blob->boxHeight;
    // Worst case of one row: a run per pixel, and the terminator.
    const int64_t rowBytes = e.greyRows ? 2 * static_cast<int64_t>(blob->boxWidth) + 2
                                    : static_cast<int64_t>(blob->boxWidth) + 1;
    cblob_blob_rleRowBlock_ *rowBlock = nullptr;
    CBLOB_FRAME_TRY(f, reserveRows(db, height, &rowBlock));
    cblob_rleRow *rows = rowBlock->memory + rowBlock->used;
    const int32_t left = blob->boxLeft - e.source->offsetX;
    const int32_t right = left + blob->boxWidth;
    const int32_t top = blob->boxTop - e.source->offsetY;
    for (int32_t y = 0; y < height; ++y) {
        cblob_blob_rleDataBlock_ *data = nullptr;
        CBLOB_FRAME_TRY(f, dataRoom(db, rowBytes, &data));
        rows[y].runs = data->cursor;
        data->cursor = extractRow(e, *cblob::rle::imageRow(e.source, top + y), left, right, data->cursor, &rows[y]);
        ++data->entries;
    }
    // The row block may have moved in its vector since; its memory has not.
    rowBlock = const_cast<cblob_blob_rleRowBlock_ *>(cblob::connect::rowBlockArray(db)) +
               (cblob::connect::rowBlockTotal(db) - 1);
    CBLOB_FRAME_REQUIRE(f, rowBlock->memory + rowBlock->used == rows);
    rowBlock->used += height;
    blob->cachedRuns = rows;
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_blob_getRleRows(cblob_blob *blob, cblob_rleRow **rows) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, blob);
    CBLOB_FRAME_REQUIRE(f, rows);
    CBLOB_FRAME_REQUIRE(f, blob->owner);
    if (!blob->cachedRuns) CBLOB_FRAME_TRY(f, extractBlobRuns(blob));
    *rows = blob->cachedRuns;
    return f.exit();
}

}  // extern "C"
