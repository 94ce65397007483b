// The whole-image scan: each band sums its object runs into one working
// record, the calling thread adds the bands' records and finishes the sum
// into one blob.
#include "connect/whole_image_scan.hpp"

#include <algorithm>
#include <cstdint>

#include "cblob/run_params.h"
#include "connect/blob_record.hpp"
#include "connect/scan_state.hpp"
#include "core/frame.hpp"
#include "rle/row_access.hpp"
#include "rle/run_format.hpp"

namespace cblob::connect {

namespace {

constexpr int32_t kPollRowMask = 31;  // the attention check runs every 32 rows

// One band: its rows, its pool and the record it sums into (label -1 until
// the band meets an object run, 0 from then on). The box is kept as left,
// top, right and bottom while the band runs.
struct WholeBand {
    const cblob_imageRle *image = nullptr;
    int32_t rowBegin = 0, rowEnd = 0, width = 0;
    bool moments = true;
    BlobInternalPool *pool = nullptr;
    cblob_blob_internal_ *record = nullptr;
    int32_t right = 0, bottom = 0;
};

// Reads the run at p: its length (0 or below ends the row) and value.
template <bool Grey, bool Wide>
inline int32_t nextRun(const uint8_t *&p, uint8_t binary, uint8_t &value) {
    if constexpr (Grey) {
        return Wide ? rle::readWideGreyRun(p, value) : rle::readGreyRun(p, value);
    } else {
        value = binary;
        return Wide ? rle::readWideBinaryRun(p) : rle::readLength(p);
    }
}

// Adds the run [x0, x0 + len) of row y with weight w to the band's sum.
void addRun(WholeBand &band, int64_t w, int32_t x0, int32_t len, int32_t y, bool weighted) {
    cblob_blob_internal_ *r = band.record;
    const int64_t xs = x0, l = len;
    const int32_t x1 = x0 + len - 1;
    if (r->label < 0) {
        r->label = 0;
        r->left = x0;
        r->top = y;
        band.right = x1;
    } else {
        r->left = std::min(r->left, x0);
        band.right = std::max(band.right, x1);
    }
    band.bottom = y;
    const double yd = y;
    const double plainX = static_cast<double>((2 * xs + l) * l);
    const double m = static_cast<double>(w * l);
    r->mass += w * l;
    if (weighted) r->pixelCount += l;
    r->sumX += static_cast<double>(w) * plainX;
    r->sumY += m * yd;
    if (band.moments) {
        r->sumXX += m * static_cast<double>(3 * xs * (xs + l) + l * l);
        r->sumYY += m * (3.0 * yd * yd + 3.0 * yd + 1.0);
        r->sumXY += (2.0 * yd + 1.0) * static_cast<double>(w) * plainX;
    }
}

// Sums the object runs of one row; wide runs get label 1 (object) or 0.
template <bool Grey, bool Wide>
void sumRow(WholeBand &band, const cblob_rleRow &entry, int32_t y) {
    const uint8_t *p = entry.runs;
    int32_t runsLeft = Grey ? entry.numRuns : INT32_MAX;
    uint8_t binary = entry.startValue ? 1 : 0;
    int32_t x = 0;
    while (p && x < band.width && runsLeft-- > 0) {
        const uint8_t *run = p;
        uint8_t value = 0;
        int32_t len = nextRun<Grey, Wide>(p, binary, value);
        if (len <= 0) break;
        if (len > band.width - x) len = band.width - x;
        if constexpr (Wide) rle::storeInt32(const_cast<uint8_t *>(run) + (Grey ? 1 : 0) + 4, value != 0 ? 1 : 0);
        if (value != 0) addRun(band, Grey ? value : 1, x, len, y, Grey);
        x += len;
        binary ^= 1;
    }
}

using SumRowFn = void (*)(WholeBand &, const cblob_rleRow &, int32_t);

SumRowFn sumRowFor(bool grey, bool wide) {
    if (grey) return wide ? &sumRow<true, true> : &sumRow<true, false>;
    return wide ? &sumRow<false, true> : &sumRow<false, false>;
}

// The band's rows into its record.
int32_t sumBand(WholeBand &band) {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, poolOpen(band.pool, &band.record));
    cblob_blob_internal_ *r = band.record;
    r->nodeKind = nullptr;
    r->firstChild = r->lastChild = r->parent = r->nextSibling = r->prevSibling = nullptr;
    r->label = -1;
    r->colour = 1;
    r->pixelCount = r->mass = 0;
    r->sumX = r->sumY = r->sumXX = r->sumYY = r->sumXY = 0.0;
    r->plainSumX = r->plainSumY = r->plainSumXX = r->plainSumYY = r->plainSumXY = 0.0;
    r->left = r->top = r->width = r->height = 0;
    r->adjChainBlock = r->adjFirst = r->adjLast = r->adjNextFree = nullptr;
    r->seamState = 0;
    r->childCount = 0;
    const cblob_imageRle *image = band.image;
    const SumRowFn sum = sumRowFor(image->isGrey != 0, image->data && image->data->isWide);
    for (int32_t y = band.rowBegin; y < band.rowEnd; ++y) {
        if ((y & kPollRowMask) == 0) CBLOB_FRAME_TRY(f, csys_attention_check());
        sum(band, *rle::imageRow(image, y), y);
    }
    if (r->label == 0) {
        r->width = band.right - r->left + 1;
        r->height = band.bottom - r->top + 1;
    }
    return f.exit();
}

int32_t wholeBandJob(const csys_jobParams *params, csys_jobResult *) {
    const void *data = nullptr;
    const int32_t status = csys_jobParams_getDataConst(params, &data);
    if (CBLOB_FAILED(status)) return status;
    return sumBand(**static_cast<WholeBand *const *>(data));
}

// Runs every band: inline for one, else one job each.
int32_t runBands(WholeBand *bands, int32_t count, const csys_jobThreadGroup *group) {
    Frame<2> f;
    if (count == 1) {
        CBLOB_FRAME_TRY(f, sumBand(bands[0]));
        return f.exit();
    }
    csys_jobRequestSet requests;
    CBLOB_FRAME_TRY(f, csys_jobRequestSet_construct(&requests));
    f.addObject<&csys_jobRequestSet_destruct>(&requests, csys_cleanup_tempObject);
    csys_jobResultSet results;
    CBLOB_FRAME_TRY(f, csys_jobResultSet_construct(&results));
    f.addObject<&csys_jobResultSet_destruct>(&results, csys_cleanup_tempObject);
    for (int32_t k = 0; k < count; ++k) {
        Frame<1> add;
        csys_jobParams params;
        CBLOB_FRAME_TRY(add, csys_jobParams_construct(&params));
        add.addObject<&csys_jobParams_destruct>(&params, csys_cleanup_tempObject);
        WholeBand **block = nullptr;
        CBLOB_FRAME_TRY(add, allocate(static_cast<int64_t>(sizeof(WholeBand *)), &block));
        *block = &bands[k];
        CBLOB_FRAME_TRY(add, csys_jobParams_takeData(&params, reinterpret_cast<void **>(&block),
                                                     &csys_memory_free_internal));
        CBLOB_FRAME_TRY(add, csys_jobRequestSet_addFuncAndParams(&requests, &wholeBandJob, &params));
        CBLOB_FRAME_TRY(f, add.exit());
    }
    CBLOB_FRAME_TRY(f, csys_jobThreadGroup_dispatchAndWait(group, &requests, &results));
    return f.exit();
}

// The label map {0, 1} of a scan whose object runs all carry label 1.
int32_t setWholeLabelMap(cstd_vector32s *labelMap) {
    Frame<0> f;
    if (!labelMap) return f.exit();
    CBLOB_FRAME_TRY(f, cstd_vector32s_resize(labelMap, 2));
    int32_t *entries = nullptr;
    CBLOB_FRAME_TRY(f, cstd_vector32s_getBegin(labelMap, &entries));
    entries[0] = 0;
    entries[1] = 1;
    return f.exit();
}

}  // namespace

int32_t scanWholeImage(const cblob_imageRle *image, const ScanSettings &settings, BlobInternalPool *pools,
                       int32_t bands, const csys_jobThreadGroup *group, cblob_resultSet *rs) {
    Frame<1> f;
    CBLOB_FRAME_CHECK(f, settings.connectivityCleanup == cblob_connectivityCleanupNone,
                      cblob_err_connectivityConflict);
    CBLOB_FRAME_REQUIRE(f, image);
    CBLOB_FRAME_REQUIRE(f, pools);
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, image->width == settings.width && image->height == settings.height);
    CBLOB_FRAME_REQUIRE(f, bands >= 1 && (bands == 1 || (group && bands <= settings.height)));
    for (int32_t k = 0; k < bands; ++k) CBLOB_FRAME_REQUIRE(f, pools[k].recordsPerBlock == 2);
    CBLOB_FRAME_CHECK(f, image->constructed && image->rows, cblob_err_rleImageNoRows);
    CBLOB_FRAME_CHECK(f, settings.scaleVal >= 1, cblob_err_badScaleVal);

    scan::ScanState st;
    scan::initScanState(st, settings, &pools[0], rs);
    st.keepTree = false;  // the blob has no parent, children or siblings
    CBLOB_FRAME_TRY(f, ensureBlobBlocksFrom(&rs->blobBlocks, settings.spareBlobBlocks));
    CBLOB_FRAME_TRY(f, scan::prepareClientXform(st));
    CBLOB_FRAME_TRY(f, setWholeLabelMap(settings.labelMap));
    if (settings.width == 0 || settings.height == 0) return f.exit();

    WholeBand *items = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(WholeBand)) * bands, &items));
    f.addMemory(&items, csys_cleanup_tempMemory);
    const int32_t h = settings.height / bands;
    for (int32_t k = 0; k < bands; ++k) {
        WholeBand &band = items[k];
        band = WholeBand{};
        band.image = image;
        band.rowBegin = k * h;
        band.rowEnd = k == bands - 1 ? settings.height : (k + 1) * h;
        band.width = settings.width;
        band.moments = settings.computeSecondMoments;
        band.pool = &pools[k];
    }
    CBLOB_FRAME_TRY(f, runBands(items, bands, group));

    // The bands' sums, top band first.
    cblob_blob_internal_ *sum = nullptr;
    for (int32_t k = 0; k < bands; ++k) {
        cblob_blob_internal_ *r = items[k].record;
        if (r->label != 0) continue;
        if (!sum) {
            sum = r;
        } else {
            scan::addRegionSums(st, sum, r);
        }
    }
    if (!sum) return f.exit();  // no object pixel, no blob
    // The label the object runs carry, for the blob's run labels.
    sum->label = 1;
    CBLOB_FRAME_TRY(f, scan::bindBlobBlock(st));
    st.firstBlobIndex = rs->numBlobs;
    cblob_blob *block = getBlock(rs->blobBlocks, getNumBlocks(rs->blobBlocks) - 1);
    cblob_blob *blob = block + *blockCount(block);  // the record finishing writes
    CBLOB_FRAME_TRY(f, scan::finishRegion(st, sum));
    blob->isGrey = 0;
    // The one blob is top-level.
    if (!rs->firstTopLevelBlob) rs->firstTopLevelBlob = blob;
    return f.exit();
}

}  // namespace cblob::connect
