// The banded standard scan: the bands' parameters and tables, one job per
// band on the job thread group, then the seam join (seam_join.cpp).
#include "connect/banded_scan.hpp"

#include <cstdint>

#include "connect/scan_rows.hpp"
#include "core/frame.hpp"
#include "host/job_copy_params.hpp"

namespace cblob::connect {

namespace {

constexpr int32_t kMaxWidth = INT32_MAX / 4 - 8;  // as the standard scan

// The bands of one call; their blob blocks are freed with them (the blocks
// handed to the result set have left the vectors by then).
struct Bands {
    BandScan *items = nullptr;
    int32_t count = 0;
    uint8_t *tables = nullptr;
};

int32_t releaseBands(Bands *bands) {
    int32_t status = 0;
    for (int32_t b = 0; b < bands->count && bands->items; ++b) {
        BlobBlocks *&blocks = bands->items[b].blocks;
        if (!blocks) continue;
        int32_t step = _cleanupFuncBlobPtrVect(blocks);
        if (!CBLOB_FAILED(status)) status = step;
        step = cstd_vector_cblock_of_cblob_blob_ptr_delete(&blocks);
        if (!CBLOB_FAILED(status)) status = step;
    }
    int32_t step = release(&bands->tables);
    if (!CBLOB_FAILED(status)) status = step;
    step = release(&bands->items);
    return CBLOB_FAILED(status) ? status : step;
}

// Entries of each per-band table: a row has at most width + 2 segments, and
// the local labels of a first row run from 0 to its segment count.
int64_t tableEntries(int32_t width) { return static_cast<int64_t>(width) + 3; }

int64_t tableBytesPerBand(int32_t width) {
    const int64_t n = tableEntries(width);
    const int64_t pointers = static_cast<int64_t>(sizeof(void *));
    // lastEnd, firstEnd, firstLabel, link, heldRow, log (3); lastRec, rec, held.
    return n * (4 * 8 + 3 * pointers);
}

void carveTables(BandScan &band, uint8_t *block, int32_t width) {
    const int64_t n = tableEntries(width);
    auto **pointers = reinterpret_cast<cblob_blob_internal_ **>(block);
    band.lastRec = pointers;
    band.seam.rec = pointers + n;
    band.seam.held = pointers + 2 * n;
    auto *ints = reinterpret_cast<int32_t *>(pointers + 3 * n);
    band.lastEnd = ints;
    band.seam.firstEnd = ints + n;
    band.seam.firstLabel = ints + 2 * n;
    band.seam.link = ints + 3 * n;
    band.seam.heldRow = ints + 4 * n;
    band.seam.log = ints + 5 * n;
}

// Label spaces: with b the bit length of the band count, band k labels from
// k * 2^(31 - b), so labels grow from band to band.
void setLabelSpace(BandScan &band, int32_t index, int32_t count) {
    int32_t bits = 0;
    for (int32_t c = count; c > 0; c >>= 1) ++bits;
    const int64_t space = int64_t{1} << (31 - bits);
    band.labelBase = static_cast<int32_t>(space * index);
    const int64_t limit = space * (index + 1);
    band.labelLimit = limit > INT32_MAX ? INT32_MAX : static_cast<int32_t>(limit);
}

// What one band's job reads.
struct BandJob {
    const ScanSource *source;
    const ScanSettings *settings;
    cblob_resultSet *rs;
    BandScan *band;
};

int32_t bandJob(const csys_jobParams *params, csys_jobResult *) {
    const void *data = nullptr;
    const int32_t status = csys_jobParams_getDataConst(params, &data);
    if (CBLOB_FAILED(status)) return status;
    const BandJob &job = *static_cast<const BandJob *>(data);
    return scanBand(*job.source, *job.settings, job.rs, job.band);
}

// What one band's numbering job reads: the band and its first label.
struct NumberJob {
    BandScan *band;
    int32_t first;
};

// Numbers the blobs of one band's blocks, in block order.
int32_t numberJob(const csys_jobParams *params, csys_jobResult *) {
    const void *data = nullptr;
    const int32_t status = csys_jobParams_getDataConst(params, &data);
    if (CBLOB_FAILED(status)) return status;
    const NumberJob &job = *static_cast<const NumberJob *>(data);
    int32_t label = job.first;
    const BlobBlocks *blocks = job.band->blocks;
    for (int32_t i = 0; i < getNumBlocks(blocks); ++i) {
        cblob_blob *block = getBlock(blocks, i);
        const int32_t used = *blockCount(block);
        for (int32_t k = 0; k < used; ++k) block[k].label = label++;
    }
    return 0;
}

// Band by band from the top, the blobs get the result set's next labels: a
// job per band numbers its own blocks (a pass over every record, which on
// images with millions of blobs is worth sharing out).
int32_t numberBlobs(Bands &all, const csys_jobThreadGroup *group, cblob_resultSet *rs) {
    Frame<2> f;
    csys_jobRequestSet requests;
    CBLOB_FRAME_TRY(f, csys_jobRequestSet_construct(&requests));
    f.addObject<&csys_jobRequestSet_destruct>(&requests, csys_cleanup_tempObject);
    csys_jobResultSet results;
    CBLOB_FRAME_TRY(f, csys_jobResultSet_construct(&results));
    f.addObject<&csys_jobResultSet_destruct>(&results, csys_cleanup_tempObject);
    int64_t next = static_cast<int64_t>(rs->numBlobs) + 1;
    for (int32_t k = 0; k < all.count; ++k) {
        CBLOB_FRAME_TRY(f, addJobWithCopy(&requests, &numberJob, NumberJob{&all.items[k], static_cast<int32_t>(next)}));
        next += all.items[k].numBlobs;
        CBLOB_FRAME_CHECK(f, next - 1 <= INT32_MAX, csys_err_badSize);
    }
    CBLOB_FRAME_TRY(f, csys_jobThreadGroup_dispatchAndWait(group, &requests, &results));
    rs->numBlobs = static_cast<int32_t>(next - 1);
    return f.exit();
}

// Moves every band's blocks to the result set, band by band; empty blocks
// are freed, but for the last band's last block, which stays the result
// set's last block, with room.
int32_t handOverBlocks(Bands &all, cblob_resultSet *rs) {
    Frame<0> f;
    if (!rs->blobBlocks) CBLOB_FRAME_TRY(f, cstd_vector_cblock_of_cblob_blob_ptr_new(&rs->blobBlocks));
    for (int32_t b = 0; b < all.count; ++b) {
        BlobBlocks *blocks = all.items[b].blocks;
        const int32_t numBlocks = getNumBlocks(blocks);
        auto *cells = static_cast<cblock_of_cblob_blob_ptr *>(blocks ? blocks->untyped.begin : nullptr);
        for (int32_t i = 0; i < numBlocks; ++i) {
            cblob_blob *block = cells[i].ptr;
            if (*blockCount(block) == 0 && !(b == all.count - 1 && i == numBlocks - 1)) {
                cells[i].ptr = nullptr;
                CBLOB_FRAME_TRY(f, release(&block));
                continue;
            }
            cblock_of_cblob_blob_ptr cell{block};
            CBLOB_FRAME_TRY(f, cstd_vector__pushBack(&rs->blobBlocks->untyped, &cell));
            cells[i].ptr = nullptr;
        }
    }
    // Only the last block is ever written: it must have room.
    const int32_t total = getNumBlocks(rs->blobBlocks);
    if (total == 0 || getBlockCount(rs->blobBlocks, total - 1) >= CBLOB_BLOB_BLOCK_CAPACITY) {
        CBLOB_FRAME_TRY(f, appendBlobBlock(rs->blobBlocks));
    }
    return f.exit();
}

// The bands' rows, label spaces, pools, scratch and tables.
void planBands(Bands &bands, const ScanSettings &settings, BlobInternalPool *pools, const ScanScratch &scratch) {
    const int32_t count = bands.count;
    const int32_t h = settings.height / count;
    const int64_t rowBuffer = (4 * static_cast<int64_t>(settings.width) + 4) * 2;
    for (int32_t k = 0; k < count; ++k) {
        BandScan &band = bands.items[k];
        band = BandScan{};
        band.rowBegin = k * h;
        band.rowEnd = k == count - 1 ? settings.height : (k + 1) * h;
        band.closing = k == count - 1;
        setLabelSpace(band, k, count);
        band.pool = &pools[k];
        if (scratch.rowBuffer) band.scratch.rowBuffer = scratch.rowBuffer + rowBuffer * k;
        if (scratch.maskRow) band.scratch.maskRow = scratch.maskRow + static_cast<int64_t>(settings.width) * k;
        band.spares = settings.spareBlobBlocks;  // shared: bands take them in turn
        carveTables(band, bands.tables + tableBytesPerBand(settings.width) * k, settings.width);
    }
}

}  // namespace

int32_t scanBanded(const ScanSource &source, const ScanSettings &settings, BlobInternalPool *pools, int32_t bands,
                   const ScanScratch &scratch, const csys_jobThreadGroup *group, cblob_resultSet *rs) {
    Frame<3> f;
    CBLOB_FRAME_REQUIRE(f, pools);
    CBLOB_FRAME_REQUIRE(f, group);
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, bands >= 2 && bands <= settings.height);
    CBLOB_FRAME_REQUIRE(f, !settings.labelMap && !settings.blobLabels);
    CBLOB_FRAME_REQUIRE(f, settings.xformKind != ScanXformKind::nonLinear);
    CBLOB_FRAME_TRY(f, scan::validateRowSource(source, settings));
    CBLOB_FRAME_CHECK(f, settings.scaleVal >= 1, cblob_err_badScaleVal);
    CBLOB_FRAME_CHECK(f, settings.width <= kMaxWidth, csys_err_badSize);

    // The result set's shared transform, once, before the jobs read it.
    scan::ScanState st;
    scan::initScanState(st, settings, &pools[0], rs);
    CBLOB_FRAME_TRY(f, scan::prepareClientXform(st, true));

    Bands all;
    f.addObject<&releaseBands>(&all, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(BandScan)) * bands, &all.items));
    CBLOB_FRAME_TRY(f, allocate(tableBytesPerBand(settings.width) * bands, &all.tables));
    all.count = bands;
    planBands(all, settings, pools, scratch);

    csys_jobRequestSet requests;
    CBLOB_FRAME_TRY(f, csys_jobRequestSet_construct(&requests));
    f.addObject<&csys_jobRequestSet_destruct>(&requests, csys_cleanup_tempObject);
    csys_jobResultSet results;
    CBLOB_FRAME_TRY(f, csys_jobResultSet_construct(&results));
    f.addObject<&csys_jobResultSet_destruct>(&results, csys_cleanup_tempObject);
    for (int32_t k = 0; k < bands; ++k) {
        CBLOB_FRAME_TRY(f, addJobWithCopy(&requests, &bandJob, BandJob{&source, &settings, rs, &all.items[k]}));
    }
    CBLOB_FRAME_TRY(f, csys_jobThreadGroup_dispatchAndWait(group, &requests, &results));
    CBLOB_FRAME_TRY(f, joinBands(settings, all.items, bands, rs));
    CBLOB_FRAME_TRY(f, numberBlobs(all, group, rs));
    CBLOB_FRAME_TRY(f, handOverBlocks(all, rs));
    return f.exit();
}

}  // namespace cblob::connect
