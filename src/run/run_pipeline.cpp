// The pipeline core: one path from a window or run-length image to a filled
// result set. It checks the client transform, plans the bands, segments the
// input into a run-length image when the run needs one (or lets the scan
// threshold the window itself in one pass), keeps the images the caller
// asked for, runs the standard connectivity scan, and fills the result set.
#include "run/run_pipeline.hpp"

#include <cstdint>

#include "cblob/job.h"
#include "connect/blob_internal_pool.hpp"
#include "connect/blob_record.hpp"
#include "connect/standard_scan.hpp"
#include "results/result_set_internal.hpp"
#include "core/frame.hpp"
#include "segment/segment_image.hpp"
#include "segment/segment_parts.hpp"

namespace cblob::run {

namespace {

// Pixels and rows a band of the labelling gets at least.
constexpr int64_t kMinBandPixels = 5000;
constexpr int32_t kMinBandRows = 4;

// The window the run analyses, in image coordinates.
struct Geometry {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// Requests whose machinery this build does not have: per-blob images,
// morphology, the labelled and whole-image scans, and masking a run-length
// input. Each is refused with its own status instead of being run without
// what it asked for.
int32_t checkServed(const cblob_imageRlePtrh *rleInput, const cimg_windowConst *maskWindow,
                    const cblob_imageRlePtrh *rleMask, int32_t blobImagesWanted, int32_t blobImagesFromBlobs,
                    const cblob_runParams &p) {
    const bool served = !blobImagesWanted && !blobImagesFromBlobs && p.morphOps.untyped.size == 0 &&
                        p.connectivityType == cblob_connectivityStandard && !(rleInput && (maskWindow || rleMask));
    return served ? 0 : cblob_err_notYetSupported;
}

// The client transform as the scan takes it. A linear transform (a null
// handle is the identity) is handed over as its matrix and translation and
// must not be singular; any other transform stays a handle (a local copy)
// and the result set gets the transform blocks the scan fills with each
// blob's local linear approximation.
int32_t prepareTransform(const cmath_xformPtrhConst *xform, cmath_xformPtrhConst *local, cblob_resultSet *rs,
                         connect::ScanSettings *settings) {
    Frame<0> f;
    int32_t isLinear = 1;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getIsLinear(xform, &isLinear));
    if (isLinear) {
        cmath_xformLinear linear;
        CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getLinear(xform, 0.0, 0.0, &linear));
        int32_t singular = 0;
        CBLOB_FRAME_TRY(f, cmath_matrix_getIsSingular(&linear.matrix, &singular));
        CBLOB_FRAME_CHECK(f, !singular, cmath_err_singularXform);
        settings->xformKind = connect::ScanXformKind::linear;
        settings->linear = linear;
    } else {
        CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(local, xform));
        CBLOB_FRAME_TRY(f, connect::ensureXformBlocks(&rs->xformBlocks));
        settings->xformKind = connect::ScanXformKind::nonLinear;
        settings->xform = local;
    }
    return f.exit();
}

// A new record, initialised for the run window with the run's transform,
// attached to the empty handle *h; *img is the record.
int32_t newRecord(cblob_imageRlePtrh *h, const Geometry &g, const cmath_xformPtrhConst *xform, cblob_imageRle **img) {
    Frame<2> f;
    cblob_imageRle *record = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(cblob_imageRle)), &record));
    f.addMemory(&record, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(record));
    f.addObject<&cblob_imageRle_destruct>(record, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob_imageRle_init(record, g.x, g.y, g.width, g.height, xform));
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_attach(h, record));
    *img = record;
    return f.exit();
}

// An owned copy of *src in a new record, attached to the empty handle *h;
// *img is the record. Rows borrowed from a blob database have no sentinel
// rows, which the scan reads as the background frame above and below the
// image; the copy has them.
int32_t newOwnedCopy(cblob_imageRlePtrh *h, const cblob_imageRle *src, cblob_imageRle **img) {
    Frame<2> f;
    cblob_imageRle *record = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(cblob_imageRle)), &record));
    f.addMemory(&record, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_imageRle_constructDeepCopy(record, src));
    f.addObject<&cblob_imageRle_destruct>(record, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_attach(h, record));
    *img = record;
    return f.exit();
}

// *rows = the row-table entry of row 0 of the image *h holds (past the top
// sentinel row of owned storage), also for an image without rows.
int32_t firstRow(const cblob_imageRlePtrh *h, cblob_rleRow **rows) {
    Frame<0> f;
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getImageRle(h, &img));
    CBLOB_FRAME_REQUIRE(f, img && img->rows);
    *rows = img->data ? img->rows + 1 : img->rows;
    return f.exit();
}

// Attaches a kept image to one of the result set's handles and sets its rows
// pointer; nothing for a null `kept`.
int32_t attachKept(const cblob_imageRlePtrh *kept, cblob_imageRlePtrh *handle, cblob_rleRow **rows) {
    Frame<0> f;
    if (kept) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(handle, kept));
        CBLOB_FRAME_TRY(f, firstRow(handle, rows));
    }
    return f.exit();
}

// The images the result set receives at the end of a run (null: none).
struct KeptImages {
    const cblob_imageRlePtrh *thresholded = nullptr;
    const cblob_imageRlePtrh *masked = nullptr;
    const cblob_imageRlePtrh *mask = nullptr;
};

// Fills the result set after the scan, in this order: the all-blobs array
// (every record of the blob blocks whose label is not negative, in block
// order), the total count, the view as a copy of it with the view count and
// the view's first top-level blob (the scan set the labelled one), the run
// window, the kept images and their rows pointers, the mask image, the
// client transform; then, after an attention poll, the measure cache and the
// run parameters the measures need.
//
// The standard scan writes only records with labels from 1 up and with
// equal labelled and current links, so the array is made from the block
// counts alone and the view copies it, without reading the records back (on
// images with many blobs they no longer sit in the caches).
int32_t fillResultSet(cblob_resultSet *rs, const Geometry &g, const KeptImages &kept,
                      const cmath_xformPtrhConst *clientFromImage, const cblob_runParams *params,
                      RunSpares *spares) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, !rs->allBlobs && !rs->view);  // the entry point cleared the result set
    const connect::BlobBlocks *blocks = rs->blobBlocks;
    const int32_t numBlocks = blocks ? connect::getNumBlocks(blocks) : 0;
    int64_t count = 0;
    for (int32_t b = 0; b < numBlocks; ++b) count += connect::getBlockCount(blocks, b);
    CBLOB_FRAME_CHECK(f, count <= INT32_MAX, csys_err_badSize);
    if (count > 0) {
        // A spare array long enough is cut to size (in place) rather than
        // a new one allocated; the view takes the other spare likewise.
        takeSpareArray(spares, &RunSpares::allBlobs, static_cast<int32_t>(count), &rs->allBlobs);
        takeSpareArray(spares, &RunSpares::view, static_cast<int32_t>(count), &rs->view);
        CBLOB_FRAME_TRY(f, reallocate(count * static_cast<int64_t>(sizeof(cblob_blob *)), &rs->allBlobs));
        cblob_blob **next = rs->allBlobs;
        for (int32_t b = 0; b < numBlocks; ++b) {
            cblob_blob *block = connect::getBlock(blocks, b);
            const int32_t used = connect::getBlockCount(blocks, b);
            for (int32_t i = 0; i < used; ++i) *next++ = block + i;
        }
    }
    rs->numBlobs = static_cast<int32_t>(count);
    CBLOB_FRAME_TRY(f, results::setUnfilteredViewOfFreshBlobs(rs));
    CBLOB_FRAME_TRY(f, cstd_rect32_init(&rs->runWindow, g.x, g.y, g.width, g.height));
    CBLOB_FRAME_TRY(f, attachKept(kept.thresholded, &rs->thresholdedImage, &rs->thresholdedRows));
    CBLOB_FRAME_TRY(f, attachKept(kept.masked, &rs->maskedAndThresholdedImage, &rs->maskedRows));
    if (kept.mask) CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&rs->maskImage, kept.mask));
    CBLOB_FRAME_TRY(f, clientFromImage ? cmath_xformPtrhConst_assign(&rs->clientFromImage, clientFromImage)
                                       : cmath_xformPtrhConst_assignNull(&rs->clientFromImage));
    CBLOB_FRAME_TRY(f, csys_attention_check());
    CBLOB_FRAME_TRY(f, cblob_resultSet_createAndInitMeasureCaching_(rs));
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing_recordRunParams(rs->postProcessing, params));
    return f.exit();
}

// The bands the scan runs in for a planned number. The standard scan of
// this build has no banded form yet and labels the whole window as one band,
// so every plan runs as one band; the banded scan will take the plan as it
// is.
int32_t scanBands(int32_t /*plannedBands*/) { return 1; }

// The scan's input on the one-pass path: the window, segmented row by row
// with the hard threshold, and its mask.
connect::ScanSource onePassSource(const cimg_windowConst *window8, const cimg_windowConst *window16,
                                  const cimg_windowConst *maskWindow, const cblob_imageRle *maskRecord,
                                  const uint8_t *const *torvMask, const cblob_runParams &p) {
    connect::ScanSource source;
    source.window8 = window8;
    source.window16 = window16;
    source.thresh = p.thresh;
    source.invert = p.invert;
    source.maskWindow = maskWindow;
    source.maskRle = maskRecord;
    source.torvMaskRows = torvMask;
    source.maskIsRleOrTorv = maskRecord || torvMask;
    return source;
}

// The scan options the run parameters and the window give; the weighted
// scan for grey runs. The transform is set by prepareTransform.
void setScanOptions(const cblob_runParams &p, const Geometry &g, bool weighted, connect::ScanSettings *settings) {
    settings->weighted = weighted;
    settings->connectivityCleanup = p.connectivityCleanup;
    settings->minArea = p.minArea;
    settings->computeSecondMoments = p.computeSecondMoments != 0;
    settings->computeTopology = p.computeTopology != 0;
    settings->scaleVal = p.scaleVal;
    settings->originX = g.x;
    settings->originY = g.y;
    settings->width = g.width;
    settings->height = g.height;
}

// Milliseconds of one phase: the stopwatch is reset and started by
// startPhase and read by endPhase.
int32_t startPhase(csys_timer *timer) {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, csys_timer_reset(timer));
    CBLOB_FRAME_TRY(f, csys_timer_start(timer));
    return f.exit();
}
int32_t endPhase(csys_timer *timer, double *ms) {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, csys_timer_stop(timer));
    CBLOB_FRAME_TRY(f, csys_timer_getMillisecondsDouble(timer, ms));
    return f.exit();
}

}  // namespace

int32_t planBands(int32_t width, int32_t height, int32_t threads, int32_t connectivityType) {
    if (connectivityType != cblob_connectivityStandard && connectivityType != cblob_connectivityWholeImage) return 1;
    int64_t bands = threads > 1 ? threads : 1;
    const int64_t byPixels = static_cast<int64_t>(width > 0 ? width : 0) * (height > 0 ? height : 0) / kMinBandPixels;
    if (byPixels < bands) bands = byPixels > 1 ? byPixels : 1;
    const int64_t byRows = (height > 0 ? height : 0) / kMinBandRows;
    if ((height > 0 ? height : 0) / bands < kMinBandRows && byRows < bands) bands = byRows > 1 ? byRows : 1;
    return static_cast<int32_t>(bands);
}

int32_t runPipeline(const cimg_windowConst *window8, const cimg_windowConst *window16,
                    const cblob_imageRlePtrh *rleInput, const cmath_xformPtrhConst *clientFromImage,
                    const cimg_windowConst *maskWindow, const cblob_imageRlePtrh *rleMask,
                    const uint8_t *const *torvMask, int32_t blobImagesWanted, int32_t blobImagesFromBlobs,
                    cblob_runParams *params, cblob_resultSet *rs, RunSpares *spares) {
    Frame<10> f;
    CBLOB_FRAME_REQUIRE(f, params);
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, (window8 ? 1 : 0) + (window16 ? 1 : 0) + (rleInput ? 1 : 0) == 1);
    CBLOB_FRAME_TRY(f, checkServed(rleInput, maskWindow, rleMask, blobImagesWanted, blobImagesFromBlobs, *params));
    CBLOB_FRAME_CHECK(f, params->scaleVal >= 1, cblob_err_badScaleVal);
    const cblob_runParams &p = *params;
    const cimg_windowConst *window = window8 ? window8 : window16;

    csys_timer timer;
    CBLOB_FRAME_TRY(f, csys_timer_init(&timer, 0));

    // The client transform; without one the run works in image coordinates
    // (a null handle is the identity).
    cmath_xformPtrhConst localXform;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&localXform));
    f.addObject<&cmath_xformPtrhConst_destruct>(&localXform, csys_cleanup_tempObject);
    const cmath_xformPtrhConst *runXform = clientFromImage ? clientFromImage : &localXform;
    connect::ScanSettings settings;
    CBLOB_FRAME_TRY(f, prepareTransform(runXform, &localXform, rs, &settings));
    CBLOB_FRAME_TRY(f, csys_attention_check());

    const bool keepsImage = p.keepThresholdedImage || p.keepMorphedThresholdedImage || p.keepMaskedAndThresholdedImage;
    const bool runLengthPathWanted = p.morphOps.untyped.size > 0 || keepsImage;

    // Geometry: the window, or the run-length input's offset and size.
    Geometry g;
    cblob_imageRle *input = nullptr;
    if (rleInput) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getImageRle(rleInput, &input));
        CBLOB_FRAME_CHECK(f, input, cblob_err_nullRleImage);
        CBLOB_FRAME_CHECK(f, input->rows, cblob_err_rleImageNoRows);
        g = Geometry{input->offsetX, input->offsetY, input->width, input->height};
    } else {
        g = Geometry{window->x, window->y, window->width, window->height};
    }

    // Bands: planned by the banding rule, run as scanBands allows (one
    // record pool and one row buffer per band).
    csys_jobThreadGroup group;
    CBLOB_FRAME_TRY(f, csys_jobThreadGroup_construct(&group));
    f.addObject<&csys_jobThreadGroup_destruct>(&group, csys_cleanup_tempObject);
    int32_t threads = 1;
    CBLOB_FRAME_TRY(f, csys_jobGetCurrentThreadState(&threads, &group));
    const int32_t plannedBands = planBands(g.width, g.height, threads, p.connectivityType);
    const int32_t bands = scanBands(plannedBands);
    int32_t recordsPerBlock = 0;
    CBLOB_FRAME_TRY(
        f, connect::poolRecordsPerBlock(g.width, bands, p.connectivityCleanup, p.connectivityType, &recordsPerBlock));
    connect::BlobInternalPool pool;
    CBLOB_FRAME_TRY(f, connect::poolConstruct(&pool, recordsPerBlock));
    f.addObject<&connect::poolDestruct>(&pool, csys_cleanup_tempObject);

    // A window is segmented into a run-length image first unless the scan
    // can threshold it itself: a hard threshold with nothing to keep.
    const bool segmentationStep =
        blobImagesFromBlobs ||
        (!rleInput && (runLengthPathWanted || p.keepMaskImage || p.connectivityType != cblob_connectivityStandard ||
                       p.segmentationType != cblob_segmentationHardThresh));

    cblob_imageRle *maskRecord = nullptr;
    if (rleMask) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getImageRle(rleMask, &maskRecord));
        CBLOB_FRAME_CHECK(f, maskRecord, cblob_err_nullRleImage);
        CBLOB_FRAME_CHECK(f, maskRecord->rows, cblob_err_rleImageNoRows);
    }
    const int32_t maskIsRleOrTorv = maskRecord || torvMask ? 1 : 0;
    const bool anyMask = maskWindow || maskRecord || torvMask;
    if (!segmentationStep && window) {
        // The checks segmentation would make, for the one-pass path.
        CBLOB_FRAME_TRY(
            f, seg::validateSegmentation(window8, window16, maskWindow, params, maskRecord, torvMask, maskIsRleOrTorv));
    }

    // Scratch of the scan and of segmentation.
    uint8_t *rowBuffer = nullptr;
    CBLOB_FRAME_TRY(f, allocate((4 * static_cast<int64_t>(g.width) + 4) * 2 * bands, &rowBuffer));
    f.addMemory(&rowBuffer, csys_cleanup_tempMemory);
    uint8_t *maskRow = nullptr;
    if ((p.keepMaskImage && anyMask) || (maskWindow && rleInput) ||
        p.segmentationType == cblob_segmentationHardThresh || (!segmentationStep && maskIsRleOrTorv)) {
        CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(g.width) * bands, &maskRow));
        f.addMemory(&maskRow, csys_cleanup_tempMemory);
    }

    // The mask as a run-length image, when the run keeps it: a given
    // run-length mask as it is, else a new record segmentation writes.
    cblob_imageRlePtrh maskImage;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(&maskImage));
    f.addObject<&cblob_imageRlePtrh_destruct>(&maskImage, csys_cleanup_tempObject);
    cblob_imageRle *keptMaskRecord = nullptr;
    if (p.keepMaskImage && maskRecord) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&maskImage, rleMask));
    } else if (p.keepMaskImage && (maskWindow || torvMask)) {
        CBLOB_FRAME_TRY(f, newRecord(&maskImage, g, runXform, &keptMaskRecord));
    }
    CBLOB_FRAME_CHECK(f, !(rleInput && torvMask && !maskWindow && !maskRecord), cblob_err_torvMaskWithRleInput);

    // The run-length image the scan labels, when the pipeline makes one:
    // the segmentation of a window, or an owned copy of a run-length input;
    // else the percent thresholds of the one-pass path.
    cblob_imageRlePtrh labelled;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(&labelled));
    f.addObject<&cblob_imageRlePtrh_destruct>(&labelled, csys_cleanup_tempObject);
    const cblob_imageRle *scanImage = input;
    if (input && !input->data) {
        cblob_imageRle *copy = nullptr;
        CBLOB_FRAME_TRY(f, newOwnedCopy(&labelled, input, &copy));
        scanImage = copy;
    }
    if (!segmentationStep) {
        if (window && p.isThreshPercent &&
            (p.segmentationType == cblob_segmentationHardThresh ||
             p.segmentationType == cblob_segmentationSoftThresh)) {
            CBLOB_FRAME_TRY(f, seg::computePercentThresholds(window, params));
        }
    } else {
        CBLOB_FRAME_REQUIRE(f, window);
        cblob_imageRle *record = nullptr;
        CBLOB_FRAME_TRY(f, startPhase(&timer));
        CBLOB_FRAME_TRY(f, newRecord(&labelled, g, runXform, &record));
        CBLOB_FRAME_TRY(
            f, seg::segmentImage(window8, window16, maskWindow, params, record,
                                 maskRecord ? maskRecord : keptMaskRecord, torvMask, maskIsRleOrTorv, 0, maskRow));
        double ms = 0.0;
        CBLOB_FRAME_TRY(f, endPhase(&timer, &ms));
        rs->runTimings[0] = ms;
        rs->runTimings[1] = anyMask ? ms : 0.0;
        scanImage = record;
    }

    // Kept images. The blobs come from the masked segmentation; the kept
    // thresholded image is the segmentation of the whole input, so with a
    // mask the window is segmented once more without it.
    KeptImages kept;
    if (p.keepMaskedAndThresholdedImage && anyMask && segmentationStep) kept.masked = &labelled;
    cblob_imageRlePtrh thresholded;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(&thresholded));
    f.addObject<&cblob_imageRlePtrh_destruct>(&thresholded, csys_cleanup_tempObject);
    if (p.keepThresholdedImage) {
        if (rleInput) {
            kept.thresholded = rleInput;
        } else if (!anyMask) {
            kept.thresholded = &labelled;
        } else {
            cblob_imageRle *record = nullptr;
            CBLOB_FRAME_TRY(f, newRecord(&thresholded, g, runXform, &record));
            CBLOB_FRAME_TRY(
                f, seg::segmentImage(window8, window16, nullptr, params, record, nullptr, nullptr, 0, 0, maskRow));
            kept.thresholded = &thresholded;
        }
    }
    if (p.keepMaskImage && anyMask) kept.mask = &maskImage;
    CBLOB_FRAME_TRY(f, csys_attention_check());

    // Connectivity.
    connect::ScanSource source;
    if (scanImage) {
        source.rle = scanImage;
    } else {
        source = onePassSource(window8, window16, maskWindow, maskRecord, torvMask, p);
    }
    setScanOptions(p, g, scanImage && scanImage->isGrey != 0, &settings);
    connect::ScanScratch scratch;
    scratch.rowBuffer = rowBuffer;
    scratch.maskRow = maskRow;
    settings.spareBlobBlocks = spares ? &spares->blocks : nullptr;
    CBLOB_FRAME_TRY(f, connect::ensureBlobBlocksFrom(&rs->blobBlocks, settings.spareBlobBlocks));
    CBLOB_FRAME_TRY(f, startPhase(&timer));
    CBLOB_FRAME_TRY(f, connect::scanStandard(source, settings, &pool, scratch, rs));
    double scanMs = 0.0;
    CBLOB_FRAME_TRY(f, endPhase(&timer, &scanMs));
    rs->runTimings[3] = scanMs;
    CBLOB_FRAME_TRY(f, csys_attention_check());

    CBLOB_FRAME_TRY(f, fillResultSet(rs, g, kept, clientFromImage, params, spares));
    return f.exit();
}

}  // namespace cblob::run
