// The pipeline core: one path from a window or run-length image to a filled
// result set. It checks the client transform, plans the bands, segments the
// input into a run-length image when the run needs one (or lets the scan
// threshold the window itself in one pass), keeps the images the caller
// asked for, runs the standard connectivity scan, and fills the result set.
#include "run/run_pipeline.hpp"

#include <cstdint>

#include "cblob/job.h"
#include "connect/banded_scan.hpp"
#include "connect/blob_internal_pool.hpp"
#include "connect/blob_record.hpp"
#include "connect/labelled_scan.hpp"
#include "connect/standard_scan.hpp"
#include "connect/whole_image_scan.hpp"
#include "results/blob_run_table.hpp"
#include "results/result_set_internal.hpp"
#include "rle/derived_image.hpp"
#include "rle/mask_kernel.hpp"
#include "rle/morphology.hpp"
#include "rle/wide_copy.hpp"
#include "core/frame.hpp"
#include "run/run_entry_checks.hpp"
#include "segment/segment_image.hpp"
#include "segment/segment_parts.hpp"

namespace cblob::run {

namespace {

// Pixels and rows a band of the labelling gets at least.
constexpr int64_t kMinBandPixels = 5000;
constexpr int32_t kMinBandRows = 4;
// Entries the run labels (blob label -> working label) start with.
constexpr int32_t kRunLabelsStart = 1000;

// The window the run analyses, in image coordinates.
struct Geometry {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// Unknown morphology codes are refused before any work.
int32_t checkServed(const cblob_runParams &p) {
    Frame<0> f;
    const auto *ops = static_cast<const cblob_morphOp *>(p.morphOps.untyped.begin);
    for (int64_t i = 0; i < p.morphOps.untyped.size; ++i) {
        CBLOB_FRAME_CHECK(f, rle::isMorphOp(ops[i]), cblob_err_badMorphOp);
    }
    return f.exit();
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
    const cblob_imageRlePtrh *morphed = nullptr;
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
    rs->numBlobs = 0;  // the scan's count, until the array lists the blobs
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
    CBLOB_FRAME_TRY(f, attachKept(kept.morphed, &rs->morphedThresholdedImage, &rs->morphedRows));
    if (kept.mask) CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&rs->maskImage, kept.mask));
    CBLOB_FRAME_TRY(f, clientFromImage ? cmath_xformPtrhConst_assign(&rs->clientFromImage, clientFromImage)
                                       : cmath_xformPtrhConst_assignNull(&rs->clientFromImage));
    CBLOB_FRAME_TRY(f, csys_attention_check());
    CBLOB_FRAME_TRY(f, cblob_resultSet_createAndInitMeasureCaching_(rs));
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing_recordRunParams(rs->postProcessing, params));
    return f.exit();
}

// The bands the scan runs in for a planned number: the plan, except for
// runs that keep per-blob images (whose run labels the scan keeps in one
// label space) or map blobs through a non-linear client transform (whose
// blocks of local transforms one scan fills), which label in one band.
// The whole-image scan takes any plan: its bands write disjoint rows and
// finish one blob on the calling thread.
int32_t scanBands(int32_t plannedBands, int32_t connectivityType, bool blobImages,
                  const cmath_xformPtrhConst *clientFromImage) {
    if (connectivityType == cblob_connectivityWholeImage) return plannedBands;
    if (plannedBands <= 1 || blobImages) return 1;
    int32_t isLinear = 1;
    if (clientFromImage && CBLOB_FAILED(cmath_xformPtrhConst_getIsLinear(clientFromImage, &isLinear))) return 1;
    return isLinear ? plannedBands : 1;
}

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


// What a run holds between the steps of the pipeline: its inputs, what the
// steps decided and the objects they built. The objects are registered in
// the pipeline's frame, which releases them at its exit.
struct Run {
    const cimg_windowConst *window8 = nullptr;
    const cimg_windowConst *window16 = nullptr;
    const cimg_windowConst *window = nullptr;  // whichever of the two is given
    const cblob_imageRlePtrh *rleInput = nullptr;
    const cmath_xformPtrhConst *clientFromImage = nullptr;
    const cimg_windowConst *maskWindow = nullptr;
    const cblob_imageRlePtrh *rleMask = nullptr;
    const uint8_t *const *torvMask = nullptr;
    bool blobImagesFromBlobs = false;
    cblob_runParams *params = nullptr;
    cblob_resultSet *rs = nullptr;
    RunSpares *spares = nullptr;

    csys_timer timer;
    cmath_xformPtrhConst localXform;
    const cmath_xformPtrhConst *runXform = nullptr;  // the client transform, or the identity
    connect::ScanSettings settings;
    Geometry g;
    cblob_imageRle *input = nullptr;  // the run-length input's record
    csys_jobThreadGroup group;
    int32_t bands = 1;
    connect::BlobInternalPool *pools = nullptr;  // one per band
    int32_t constructedPools = 0;
    bool segmentationStep = false;
    cblob_imageRle *maskRecord = nullptr;
    int32_t maskIsRleOrTorv = 0;
    bool anyMask = false;
    uint8_t *rowBuffer = nullptr;
    uint8_t *maskRow = nullptr;
    cblob_imageRlePtrh maskImage;
    cblob_imageRle *keptMaskRecord = nullptr;
    cblob_imageRlePtrh labelled;
    bool maskedInput = false;  // a run-length input masked into `labelled`
    const cblob_imageRle *scanImage = nullptr;
    // Morphology: the two records the operations write in turn, and the
    // handle of the image the scan labels before any wide copy.
    cblob_imageRlePtrh morphed[2];
    const cblob_imageRlePtrh *current = nullptr;
    // Per-blob images: the wide copy the scan labels when the segmentation
    // is also kept or the input is a run-length image, and the label map.
    cblob_imageRlePtrh wide;
    cstd_vector32s *labelMap = nullptr;
    cblob_imageRlePtrh thresholded;
    KeptImages kept;
};

// The frame of the pipeline: every object of a Run is registered in it.
using PipelineFrame = Frame<14>;

// Destructs the bands' record pools and frees their array.
int32_t destructPools(Run *r) {
    int32_t status = 0;
    for (int32_t b = 0; b < r->constructedPools; ++b) {
        const int32_t step = connect::poolDestruct(&r->pools[b]);
        if (!CBLOB_FAILED(status)) status = step;
    }
    r->constructedPools = 0;
    const int32_t step = release(&r->pools);
    return CBLOB_FAILED(status) ? status : step;
}

// The client transform; without one the run works in image coordinates (a
// null handle is the identity).
int32_t prepareClientXform(PipelineFrame &outer, Run &r) {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&r.localXform));
    outer.addObject<&cmath_xformPtrhConst_destruct>(&r.localXform, csys_cleanup_tempObject);
    r.runXform = r.clientFromImage ? r.clientFromImage : &r.localXform;
    CBLOB_FRAME_TRY(f, prepareTransform(r.runXform, &r.localXform, r.rs, &r.settings));
    return f.exit();
}

// The window, or the run-length input's offset and size.
int32_t readGeometry(Run &r) {
    Frame<0> f;
    if (r.rleInput) {
        CBLOB_FRAME_TRY(f, requireRleImage(r.rleInput, &r.input));
        r.g = Geometry{r.input->offsetX, r.input->offsetY, r.input->width, r.input->height};
    } else {
        r.g = Geometry{r.window->x, r.window->y, r.window->width, r.window->height};
    }
    return f.exit();
}

// Bands: planned by the banding rule, run as scanBands allows (one record
// pool and one row buffer per band).
int32_t planLabelling(PipelineFrame &outer, Run &r) {
    Frame<0> f;
    const cblob_runParams &p = *r.params;
    CBLOB_FRAME_TRY(f, csys_jobThreadGroup_construct(&r.group));
    outer.addObject<&csys_jobThreadGroup_destruct>(&r.group, csys_cleanup_tempObject);
    int32_t threads = 1;
    CBLOB_FRAME_TRY(f, csys_jobGetCurrentThreadState(&threads, &r.group));
    r.bands = scanBands(planBands(r.g.width, r.g.height, threads, p.connectivityType), p.connectivityType,
                        r.blobImagesFromBlobs, r.clientFromImage);
    int32_t recordsPerBlock = 0;
    CBLOB_FRAME_TRY(f, connect::poolRecordsPerBlock(r.g.width, r.bands, p.connectivityCleanup, p.connectivityType,
                                                    &recordsPerBlock));
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(connect::BlobInternalPool)) * r.bands, &r.pools));
    outer.addObject<&destructPools>(&r, csys_cleanup_tempObject);
    for (; r.constructedPools < r.bands; ++r.constructedPools) {
        CBLOB_FRAME_TRY(f, connect::poolConstruct(&r.pools[r.constructedPools], recordsPerBlock));
    }
    return f.exit();
}

// Decides between the segmentation step and the one-pass path, checks the
// mask, allocates the scratch rows and, when the run keeps the mask, the
// mask's run-length image: a given run-length mask as it is, else a new
// record segmentation writes.
int32_t prepareMask(PipelineFrame &outer, Run &r) {
    Frame<0> f;
    const cblob_runParams &p = *r.params;
    const bool keepsImage = p.keepThresholdedImage || p.keepMorphedThresholdedImage || p.keepMaskedAndThresholdedImage;
    const bool runLengthPathWanted = p.morphOps.untyped.size > 0 || keepsImage;
    // A window is segmented into a run-length image first unless the scan
    // can threshold it itself: a hard threshold with nothing to keep and no
    // per-blob images (whose labels the scan writes into the runs). A
    // run-length input is labelled as it stands (or as its wide copy).
    r.segmentationStep =
        !r.rleInput && (r.blobImagesFromBlobs || runLengthPathWanted || p.keepMaskImage ||
                        p.connectivityType != cblob_connectivityStandard ||
                        p.segmentationType != cblob_segmentationHardThresh);
    if (r.rleMask) {
        CBLOB_FRAME_TRY(f, requireRleImage(r.rleMask, &r.maskRecord));
    }
    r.maskIsRleOrTorv = r.maskRecord || r.torvMask ? 1 : 0;
    r.anyMask = r.maskWindow || r.maskRecord || r.torvMask;
    if (!r.segmentationStep && r.window) {
        // The checks segmentation would make, for the one-pass path.
        CBLOB_FRAME_TRY(f, seg::validateSegmentation(r.window8, r.window16, r.maskWindow, r.params, r.maskRecord,
                                                     r.torvMask, r.maskIsRleOrTorv));
    }

    CBLOB_FRAME_TRY(f, allocate((4 * static_cast<int64_t>(r.g.width) + 4) * 2 * r.bands, &r.rowBuffer));
    outer.addMemory(&r.rowBuffer, csys_cleanup_tempMemory);
    if ((p.keepMaskImage && r.anyMask) || (r.maskWindow && r.rleInput) ||
        p.segmentationType == cblob_segmentationHardThresh || (!r.segmentationStep && r.maskIsRleOrTorv)) {
        CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(r.g.width) * r.bands, &r.maskRow));
        outer.addMemory(&r.maskRow, csys_cleanup_tempMemory);
    }

    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(&r.maskImage));
    outer.addObject<&cblob_imageRlePtrh_destruct>(&r.maskImage, csys_cleanup_tempObject);
    if (p.keepMaskImage && r.maskRecord) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&r.maskImage, r.rleMask));
    } else if ((p.keepMaskImage && (r.maskWindow || r.torvMask)) || (r.rleInput && r.maskWindow)) {
        // A run-length input masked by a window: the window is segmented
        // into this record first, which the run keeps when asked.
        CBLOB_FRAME_TRY(f, newRecord(&r.maskImage, r.g, r.runXform, &r.keptMaskRecord));
    }
    CBLOB_FRAME_CHECK(f, !(r.rleInput && r.torvMask && !r.maskWindow && !r.maskRecord),
                      cblob_err_torvMaskWithRleInput);
    return f.exit();
}

// Whether keepImages attaches the segmentation the scan labels (the window
// segmented with its mask, or the masked run-length input) to the result
// set.
bool segmentationIsKept(const Run &r) {
    const cblob_runParams &p = *r.params;
    return (p.keepMaskedAndThresholdedImage && r.anyMask) || (r.window && p.keepThresholdedImage && !r.anyMask);
}

bool wantsMorphology(const Run &r) { return r.params->morphOps.untyped.size > 0; }

// Whether the image the pipeline makes for the scan may be written in the
// wide format at once: per-blob images need wide runs, but kept images and
// the input of morphology are narrow (the scan then labels a wide copy).
bool writeWide(const Run &r) {
    return r.blobImagesFromBlobs && !segmentationIsKept(r) && !wantsMorphology(r) &&
           !r.params->keepMorphedThresholdedImage;
}

// A run-length input with a mask: a mask window is first segmented into a
// binary run-length image (non-zero pixels inside), then the input is
// masked by it (or by the run-length mask given) into a new image: pixels
// under mask value 0 become 0. Timed as the segmentation.
int32_t maskRunLengthInput(Run &r) {
    Frame<2> f;
    CBLOB_FRAME_TRY(f, startPhase(&r.timer));
    const cblob_imageRle *mask = r.maskRecord;
    cblob_runParams inside;  // lives as long as the frame that destructs it
    if (!mask) {
        const cimg_windowConst &w = *r.maskWindow;
        CBLOB_FRAME_CHECK(f, w.pels, cblob_err_maskUnbound);
        CBLOB_FRAME_CHECK(f, w.bitsPerPel == 8, cimg_err_badDepth);
        CBLOB_FRAME_CHECK(f, w.width == r.g.width && w.height == r.g.height, cblob_err_maskGeometryMismatch);
        CBLOB_FRAME_TRY(f, cblob_runParams_construct(&inside));
        f.addObject<&cblob_runParams_destruct>(&inside, csys_cleanup_tempObject);
        CBLOB_FRAME_TRY(f, cblob_runParams_setSegmentationHardThresh(&inside, 1, 0));
        CBLOB_FRAME_REQUIRE(f, r.keptMaskRecord);
        CBLOB_FRAME_TRY(f, seg::segmentImage(r.maskWindow, nullptr, nullptr, &inside, r.keptMaskRecord, nullptr,
                                             nullptr, 0, 0, r.maskRow));
        mask = r.keptMaskRecord;
    }
    cblob_imageRle *masked = nullptr;
    CBLOB_FRAME_TRY(f, rle::maskImage(r.input, mask, 0, 0, 0, writeWide(r), &masked));
    f.addObject<&rle::deleteRecord>(&masked, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, rle::attachResult(&r.labelled, &masked));
    double ms = 0.0;
    CBLOB_FRAME_TRY(f, endPhase(&r.timer, &ms));
    r.rs->runTimings[0] = ms;
    r.rs->runTimings[1] = ms;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getImageRle(&r.labelled, &masked));
    r.scanImage = masked;
    r.maskedInput = true;
    return f.exit();
}

// The run-length image the scan labels, when the pipeline makes one: the
// segmentation of a window (timed), or an owned copy of a run-length input
// that borrows its rows; on the one-pass path the percent thresholds.
int32_t makeLabelledImage(PipelineFrame &outer, Run &r) {
    Frame<0> f;
    const cblob_runParams &p = *r.params;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(&r.labelled));
    outer.addObject<&cblob_imageRlePtrh_destruct>(&r.labelled, csys_cleanup_tempObject);
    r.scanImage = r.input;
    if (r.input && (r.maskWindow || r.maskRecord)) {
        CBLOB_FRAME_TRY(f, maskRunLengthInput(r));
        return f.exit();
    }
    if (r.input && !r.input->data) {
        cblob_imageRle *copy = nullptr;
        CBLOB_FRAME_TRY(f, newOwnedCopy(&r.labelled, r.input, &copy));
        r.scanImage = copy;
    }
    if (!r.segmentationStep) {
        if (r.window && p.isThreshPercent &&
            (p.segmentationType == cblob_segmentationHardThresh ||
             p.segmentationType == cblob_segmentationSoftThresh)) {
            CBLOB_FRAME_TRY(f, seg::computePercentThresholds(r.window, r.params));
        }
        return f.exit();
    }
    CBLOB_FRAME_REQUIRE(f, r.window);
    cblob_imageRle *record = nullptr;
    CBLOB_FRAME_TRY(f, startPhase(&r.timer));
    CBLOB_FRAME_TRY(f, newRecord(&r.labelled, r.g, r.runXform, &record));
    // For per-blob images the scan labels wide runs: segmented wide at once
    // unless the segmentation is also kept (kept images have narrow runs;
    // the scan then labels a wide copy, see makeWideScanImage).
    const int32_t wide = writeWide(r) ? 1 : 0;
    CBLOB_FRAME_TRY(f, seg::segmentImage(r.window8, r.window16, r.maskWindow, r.params, record,
                                         r.maskRecord ? r.maskRecord : r.keptMaskRecord, r.torvMask,
                                         r.maskIsRleOrTorv, wide, r.maskRow));
    double ms = 0.0;
    CBLOB_FRAME_TRY(f, endPhase(&r.timer, &ms));
    r.rs->runTimings[0] = ms;
    r.rs->runTimings[1] = r.anyMask ? ms : 0.0;
    r.scanImage = record;
    return f.exit();
}

// Kept images. The blobs come from the masked segmentation; the kept
// thresholded image is the segmentation of the whole input, so with a mask
// the window is segmented once more without it.
int32_t keepImages(PipelineFrame &outer, Run &r) {
    Frame<0> f;
    const cblob_runParams &p = *r.params;
    if (p.keepMaskedAndThresholdedImage && r.anyMask && (r.segmentationStep || r.maskedInput)) {
        r.kept.masked = &r.labelled;
    }
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(&r.thresholded));
    outer.addObject<&cblob_imageRlePtrh_destruct>(&r.thresholded, csys_cleanup_tempObject);
    if (p.keepThresholdedImage) {
        if (r.rleInput) {
            r.kept.thresholded = r.rleInput;
        } else if (!r.anyMask) {
            r.kept.thresholded = &r.labelled;
        } else {
            cblob_imageRle *record = nullptr;
            CBLOB_FRAME_TRY(f, newRecord(&r.thresholded, r.g, r.runXform, &record));
            CBLOB_FRAME_TRY(f, seg::segmentImage(r.window8, r.window16, nullptr, r.params, record, nullptr, nullptr,
                                                 0, 0, r.maskRow));
            r.kept.thresholded = &r.thresholded;
        }
    }
    if (p.keepMaskImage && r.anyMask) r.kept.mask = &r.maskImage;
    return f.exit();
}

// A new record with empty owned storage, attached to the empty handle *h.
int32_t newMorphRecord(cblob_imageRlePtrh *h) {
    Frame<1> f;
    cblob_imageRle *record = nullptr;
    CBLOB_FRAME_TRY(f, rle::newOwnedRecord(&record));
    f.addObject<&rle::deleteRecord>(&record, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, rle::attachResult(h, &record));
    return f.exit();
}

// Morphology: each operation of the run parameters, in order, from the
// current image into one of two records of the pipeline's own, used in
// turn (the caller's image and the kept images are only read). Each
// operation is timed into runTimings[2]. Then the final image is kept as
// the morphed thresholded image when asked (without operations, the image
// the scan labels).
int32_t morph(PipelineFrame &outer, Run &r) {
    Frame<0> f;
    const cblob_runParams &p = *r.params;
    for (cblob_imageRlePtrh &h : r.morphed) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(&h));
        outer.addObject<&cblob_imageRlePtrh_destruct>(&h, csys_cleanup_tempObject);
    }
    r.current = r.labelled.ptrh.shared ? &r.labelled : r.rleInput;
    const auto *ops = static_cast<const cblob_morphOp *>(p.morphOps.untyped.begin);
    const int64_t count = p.morphOps.untyped.size;
    for (int64_t i = 0; i < count; ++i) {
        cblob_imageRlePtrh &target = r.morphed[i % 2];
        if (i < 2) CBLOB_FRAME_TRY(f, newMorphRecord(&target));
        cblob_imageRle *dst = nullptr;
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getImageRle(&target, &dst));
        CBLOB_FRAME_REQUIRE(f, r.scanImage && dst);
        CBLOB_FRAME_TRY(f, startPhase(&r.timer));
        CBLOB_FRAME_TRY(f, rle::applyMorphology(r.scanImage, dst, ops[i]));
        double ms = 0.0;
        CBLOB_FRAME_TRY(f, endPhase(&r.timer, &ms));
        r.rs->runTimings[2] += ms;
        r.scanImage = dst;
        r.current = &target;
    }
    if (count > 0) CBLOB_FRAME_TRY(f, csys_attention_check());
    if (p.keepMorphedThresholdedImage && r.current) r.kept.morphed = r.current;
    return f.exit();
}

// Per-blob images: the scan labels wide runs, into which it writes each
// run's working label. An image with narrow runs (a run-length input, or a
// segmentation that is also kept) is replaced by a wide copy, so that the
// caller's image and the kept images are never written. The scan also keeps
// the label map (working label -> survivor) and the result set's run labels
// (blob label -> working label).
int32_t makeWideScanImage(PipelineFrame &outer, Run &r) {
    Frame<2> f;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(&r.wide));
    outer.addObject<&cblob_imageRlePtrh_destruct>(&r.wide, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cstd_vector32s_new(&r.labelMap));
    outer.addObject<&cstd_vector32s_delete>(&r.labelMap, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cstd_vector32s_new(&r.rs->runLabels));
    CBLOB_FRAME_TRY(f, cstd_vector32s_resize(r.rs->runLabels, kRunLabelsStart));
    CBLOB_FRAME_REQUIRE(f, r.scanImage && r.scanImage->data);
    if (r.scanImage->data->isWide) return f.exit();
    cblob_imageRle *record = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(cblob_imageRle)), &record));
    f.addMemory(&record, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, rle::constructWideCopy(record, r.scanImage));
    f.addObject<&cblob_imageRle_destruct>(record, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_attach(&r.wide, record));
    r.scanImage = record;
    return f.exit();
}

// After the scan, for per-blob images: the labelled image becomes the result
// set's source image, and the label map its run table (flat).
int32_t keepLabelledImage(Run &r) {
    Frame<0> f;
    // The handle that holds the labelled image: the wide copy, the wide
    // segmentation, or a run-length input that has wide runs itself.
    const cblob_imageRlePtrh *h = r.wide.ptrh.shared        ? &r.wide
                                  : r.morphed[0].ptrh.shared ? r.current
                                  : r.labelled.ptrh.shared   ? &r.labelled
                                                             : r.rleInput;
    CBLOB_FRAME_REQUIRE(f, h);
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&r.rs->sourceImage, h));
    int32_t count = 0;
    CBLOB_FRAME_TRY(f, cstd_vector32s_getSize(r.labelMap, &count));
    int32_t *entries = nullptr;
    if (count > 0) CBLOB_FRAME_TRY(f, cstd_vector32s_getBegin(r.labelMap, &entries));
    CBLOB_FRAME_TRY(f, results::newRunTable(entries, count, &r.rs->runTable));
    r.rs->tableShift = 0;
    r.rs->tableMask = 0;
    return f.exit();
}

// Connectivity (timed): the whole-image sum for connectivityType 2, else the
// standard scan, banded or not, over the labelled image, or over the window
// thresholded row by row on the one-pass path.
int32_t label(Run &r) {
    Frame<0> f;
    const cblob_runParams &p = *r.params;
    connect::ScanSource source;
    if (r.scanImage) {
        source.rle = r.scanImage;
    } else {
        source = onePassSource(r.window8, r.window16, r.maskWindow, r.maskRecord, r.torvMask, p);
    }
    setScanOptions(p, r.g, r.scanImage && r.scanImage->isGrey != 0, &r.settings);
    connect::ScanScratch scratch;
    scratch.rowBuffer = r.rowBuffer;
    scratch.maskRow = r.maskRow;
    r.settings.spareBlobBlocks = r.spares ? &r.spares->blocks : nullptr;
    r.settings.labelMap = r.labelMap;
    r.settings.blobLabels = r.blobImagesFromBlobs ? r.rs->runLabels : nullptr;
    CBLOB_FRAME_TRY(f, startPhase(&r.timer));
    if (p.connectivityType == cblob_connectivityLabelled) {
        CBLOB_FRAME_REQUIRE(f, r.scanImage);  // a window is always segmented first
        CBLOB_FRAME_TRY(f, connect::scanLabelled(r.scanImage, r.settings, r.rs));
    } else if (p.connectivityType == cblob_connectivityWholeImage) {
        CBLOB_FRAME_REQUIRE(f, r.scanImage);  // segmented first, or a run-length input
        CBLOB_FRAME_TRY(f, connect::scanWholeImage(r.scanImage, r.settings, r.pools, r.bands, &r.group, r.rs));
    } else if (r.bands > 1) {
        CBLOB_FRAME_TRY(f, connect::scanBanded(source, r.settings, r.pools, r.bands, scratch, &r.group, r.rs));
    } else {
        CBLOB_FRAME_TRY(f, connect::ensureBlobBlocksFrom(&r.rs->blobBlocks, r.settings.spareBlobBlocks));
        CBLOB_FRAME_TRY(f, connect::scanStandard(source, r.settings, &r.pools[0], scratch, r.rs));
    }
    double scanMs = 0.0;
    CBLOB_FRAME_TRY(f, endPhase(&r.timer, &scanMs));
    r.rs->runTimings[3] = scanMs;
    return f.exit();
}

// The scan counts the blobs it finishes in the result set before
// fillResultSet lists them: a run that fails before they are listed takes
// the count back, so that numBlobs never names blobs the arrays lack.
int32_t forgetUnlistedBlobs(cblob_resultSet *rs) {
    if (!rs->allBlobs) {
        rs->numBlobs = 0;
        rs->numViewBlobs = 0;
    }
    return 0;
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
    Run r;
    PipelineFrame f;
    CBLOB_FRAME_REQUIRE(f, params);
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, (window8 ? 1 : 0) + (window16 ? 1 : 0) + (rleInput ? 1 : 0) == 1);
    CBLOB_FRAME_REQUIRE(f, blobImagesWanted || !blobImagesFromBlobs);
    CBLOB_FRAME_TRY(f, checkServed(*params));
    CBLOB_FRAME_CHECK(f, params->scaleVal >= 1, cblob_err_badScaleVal);
    r.window8 = window8;
    r.window16 = window16;
    r.window = window8 ? window8 : window16;
    r.rleInput = rleInput;
    r.clientFromImage = clientFromImage;
    r.maskWindow = maskWindow;
    r.rleMask = rleMask;
    r.torvMask = torvMask;
    r.blobImagesFromBlobs = blobImagesFromBlobs != 0;
    r.params = params;
    r.rs = rs;
    r.spares = spares;
    f.addObject<&forgetUnlistedBlobs>(rs, csys_cleanup_resultObject);

    CBLOB_FRAME_TRY(f, csys_timer_init(&r.timer, 0));
    CBLOB_FRAME_TRY(f, prepareClientXform(f, r));
    CBLOB_FRAME_TRY(f, csys_attention_check());
    CBLOB_FRAME_TRY(f, readGeometry(r));
    CBLOB_FRAME_TRY(f, planLabelling(f, r));
    CBLOB_FRAME_TRY(f, prepareMask(f, r));
    CBLOB_FRAME_TRY(f, makeLabelledImage(f, r));
    CBLOB_FRAME_TRY(f, keepImages(f, r));
    CBLOB_FRAME_TRY(f, morph(f, r));
    if (r.blobImagesFromBlobs) CBLOB_FRAME_TRY(f, makeWideScanImage(f, r));
    CBLOB_FRAME_TRY(f, csys_attention_check());
    CBLOB_FRAME_TRY(f, label(r));
    CBLOB_FRAME_TRY(f, csys_attention_check());
    if (r.blobImagesFromBlobs) CBLOB_FRAME_TRY(f, keepLabelledImage(r));
    CBLOB_FRAME_TRY(f, fillResultSet(rs, r.g, r.kept, clientFromImage, params, spares));
    return f.exit();
}

}  // namespace cblob::run
