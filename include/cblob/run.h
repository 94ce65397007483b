/*
 * cblob runs: the eleven entry points that analyse an image into blobs.
 *
 * A run takes one input (an 8-bit or 16-bit image, an image window, or a
 * run-length image), at most one mask, a run-parameters object
 * (cblob/run_params.h) and a constructed result set (cblob/result_set.h),
 * and fills the result set with the blobs of the input. The entry points
 * differ only in the kind of input and mask they accept:
 *
 *   input \ mask      none or 8-bit image      run-length image           host run-length (TORV)
 *   8-bit image       cblob_run8               cblob_run8_withRleMask     cblob_run8_withTORVRleMask
 *   16-bit image      cblob_run16              cblob_run16_withRleMask    cblob_run16_withTORVRleMask
 *   8-bit window      cblob_runWindow8 (8-bit mask window)
 *   16-bit window     cblob_runWindow16 (8-bit mask window)
 *   run-length image  cblob_runRle8_withMask8  cblob_runRle8_withRleMask  cblob_runRle8_withTORVRleMask
 *
 * Masks. A mask removes pixels from the analysis: masked-out pixels are
 * background. A pixel is inside the mask when its mask pixel is not 0 (mask
 * image or window), when it lies in a run whose value is not 0 (run-length
 * mask; an object run of a binary mask), or when its (value, length) pair has
 * a value other than 0 (TORV mask). A mask must have exactly the origin and
 * size of the input: a mask window its window's, a run-length mask its
 * offset and dimensions, a TORV mask is described by `maskRect` (x, y, width,
 * height). A TORV mask is given as one pointer per row, each to (value byte,
 * length byte) pairs ended by a pair whose length byte is 0.
 *
 * What a run does, after its own checks (listed per function):
 *   1. It clears the result set (cblob_resultSet_clear) and stores the
 *      input's client-from-image transform in it. Every check listed before
 *      "clear" in a function's list leaves the result set untouched.
 *   2. A soft threshold (segmentation type 1) whose softness is 0 (and that
 *      is not a percent threshold still to derive its softness) runs as a
 *      hard threshold at its high threshold with the same invert flag, on a
 *      private copy of the run parameters.
 *   3. The pipeline: the client transform must not be a singular linear
 *      transform (cmath_err_singularXform, 0x80000582, before any
 *      segmentation). A hard threshold with nothing kept runs in one pass
 *      that segments the window while labelling it; every other run first
 *      segments the input into a run-length image (applying the mask),
 *      applies the morphology operations of the run parameters (morphOps,
 *      in order; cblob_morph_* codes, cblob/containers.h), keeps the images
 *      the run parameters ask for, and labels that image.
 *      Large images are labelled in horizontal bands on the job thread
 *      group (cblob/job.h; at least 5000 pixels and 4 rows a band, at most
 *      one band per thread), which gives the blobs of one band; their labels
 *      are numbered band by band from the top. Runs that keep per-blob
 *      images or use a non-linear client transform label in one band.
 *      connectivityType 2 puts every object pixel into one blob (none
 *      without object pixels; with a cleanup mode the run fails with
 *      cblob_err_connectivityConflict, 0x8000129C).
 *      Each phase is timed into the result set's runTimings: [0]
 *      segmentation, [1] segmentation when a mask was given (else 0), [2]
 *      morphology, [3] connectivity (milliseconds).
 *   4. The result set is filled: every blob in the order the scan stored
 *      them, the view (a copy of that array), the counts, the first top-level
 *      blob, the run window, the kept images, the client transform, then the
 *      measure cache and the run parameters the measures need.
 *
 * Kept images (run-parameter flags): keepThresholdedImage keeps the
 * segmentation of the whole input without the mask (for a run-length input,
 * the input itself); keepMaskedAndThresholdedImage, with a mask, keeps the
 * masked segmentation the blobs came from; keepMorphedThresholdedImage keeps
 * the image after morphology, the one the blobs came from (without
 * morphology operations, the segmentation itself). Read them with
 * cblob_resultSet_getThresholdedImageRlePtrh,
 * cblob_resultSet_getMaskedAndThresholdedImageRlePtrh and
 * cblob_resultSet_getMorphedThresholdedImageRlePtrh. Morphology never
 * writes the caller's image or a kept image: each operation writes a new
 * image of the run's own.
 *
 * A run-length input with a mask and segmentation type 4
 * (cblob_runRle8_withRleMask, cblob_runRle8_withMask8): a mask image is
 * first segmented into a binary run-length image (non-zero pixels inside),
 * then the input is masked run by run: pixels under the mask's value 0
 * become 0, the others keep the input's value. The masked image (timed into
 * runTimings[0] and [1]) is what morphology and the scan work on. The mask
 * must have the input's size (cblob_err_maskGeometryMismatch).
 *
 * Per-blob images: with keepBlobImages set, or keepMaskImage set while a
 * mask of any kind is given, the scan labels wide runs (the segmentation is
 * written with a label slot per run, or a wide copy is taken of a run-length
 * input or of a segmentation that is also kept, so the caller's and the kept
 * images are never written), the labelled image is kept as the result set's
 * sourceImage with its runLabels and runTable, and every blob's rows and
 * run-length image are built in a new blob database (cblob_blob_getRleRows,
 * cblob_blob_getImageRle, cblob_blob_getBlobImage in cblob/blob.h). Runs
 * without these flags build none of it; their blobs' rows are not available
 * (cblob_err_rleImageEmpty).
 *
 * Labelled runs (connectivityType 1): the run-length image (segmentation
 * type 4 keeps the pixel values of an 8-bit label image or map; a hard
 * threshold gives binary runs) is split into regions of equal value,
 * 6-connected (left, right, up, down, up-left and down-right), each a blob
 * whose colour is its value; every blob's adjacencyHolder points at its
 * cblob_blobAdjacency (cblob/blob.h), its parent is the region that
 * separates it from the window border (null when none does). Cleanup 1
 * drops regions below minArea pixels that enclose nothing, innermost first;
 * cleanup 2 merges each region below minArea, smallest first, into its
 * largest neighbour, together with that neighbour's regions of its own value
 * that the small one separated from it (a small region that touches only the
 * border is dropped), and builds the tree afterwards. Blobs are labelled in
 * the order their regions end, top-down.
 *
 * Every request of the run parameters is served; cblob_err_notYetSupported
 * (0x80001300) is not returned by this build.
 *
 * Statuses of the pipeline, common to every entry point (after its own
 * checks): cblob_err_badMorphOp
 * (0x800012FA) for a morphology code outside 0..11; cblob_err_badScaleVal
 * (0x8000128A) for a scaleVal below 1 written directly into the run
 * parameters; cmath_err_singularXform (0x80000582); the segmentation checks
 * (cblob/run_params.h): cblob_err_noneNeeds8Bit (0x800012EF) for type 4 on a
 * 16-bit input, cblob_err_badThreshRange (0x8000128C) for a threshold beyond
 * the pixel range, cblob_err_badSoftness (0x80001290), cimg_err_badDepth for
 * an input or mask window of the wrong depth, cblob_err_maskUnbound
 * (0x80001285) for an unbound mask window, cblob_err_maskGeometryMismatch
 * (0x80001284) for a mask of another size, cblob_err_threshImageUnbound
 * (0x80001299), cip_err_emptyHistogram for a percent threshold on an empty
 * image; cblob_err_torvMaskWithRleInput (0x800012F8) for a run-length input
 * with a TORV mask; cblob_err_torvMask16Bit (0x800012F1) for a TORV mask with
 * a 16-bit image on the one-pass path (a hard threshold with nothing kept);
 * the attention check's status (csys_err_stopRequested) when the host stops
 * the run; memory failures (csys_err_outOfMemory).
 *
 * Sizes: areas, masses and moments are exact for regions of any size (a
 * region of more than 2^32 pixels included). Counts the interface keeps in
 * 32 bits give csys_err_badSize (0x80000102) when an image outgrows them: a
 * run-length image of more than INT32_MAX runs (an input segmented into one,
 * also to keep it; the one-pass path builds none and has no such limit),
 * more than INT32_MAX - 1 regions in one scan, rows wider than about 715
 * million pixels. A percent threshold on a window of more than 2^32 - 1
 * pixels gives cip_err_countOverflow.
 *
 * After a failure that follows the clearing, the result set is left cleared
 * or partly filled (at worst blobs without measure caching); destructing or
 * clearing it releases everything. Nothing the run made otherwise outlives
 * the call. A null required pointer is reported through cstd_assert_ and the
 * call then returns csys_err_assertFailed without touching anything.
 *
 * Ownership: the run keeps no pointer to any argument beyond the call; the
 * result set holds counted references to the images it keeps (the input
 * run-length image itself when that is kept).
 *
 * Thread-safety: runs on distinct result sets may proceed on any threads,
 * also on one shared input image or mask. The run parameters are written
 * when they hold percent thresholds (the computed thresholds, and the
 * softness of the first run), so such an object must not serve two runs at
 * once; otherwise it is only read. Large images may be segmented on the job
 * thread group (cblob/job.h).
 */
#ifndef CBLOB_RUN_H
#define CBLOB_RUN_H

#include <stdint.h>

#include "cblob/export.h"
#include "cblob/image.h"
#include "cblob/math.h"
#include "cblob/rect.h"
#include "cblob/result_set.h"
#include "cblob/rle_image.h"
#include "cblob/run_params.h"
#include "cblob/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Threshold checks of the 8-bit image entry points (cblob_run8,
 * cblob_run8_withRleMask, cblob_run8_withTORVRleMask), on the thresholds as
 * stored:
 *   - segmentation type 0: thresh above 255 gives cblob_err_badThreshRange
 *     (0x8000128C);
 *   - type 1: thresh or highThresh above 255, or the span check, gives
 *     cblob_err_badThreshRange; then softness exactly 255 gives
 *     cblob_err_badSoftness (0x80001290). The span check is
 *     highThresh - thresh > 255 in cblob_run8 and cblob_run8_withTORVRleMask
 *     and highThresh - thresh == 255 in cblob_run8_withRleMask;
 *   - other types: none here.
 */

/**
 * Analyses the 8-bit image *image, masked by the 8-bit image *mask (optional:
 * null for none). Required: image, runParams, resultSet.
 * Checks, in order: image bound, else cblob_err_imageUnbound (0x80001282); a
 * given mask bound, else cblob_err_maskUnbound (0x80001285); the threshold
 * checks (span above 255); connectivityType 2 with connectivityCleanup other
 * than 0 gives cblob_err_connectivityConflict (0x8000129C). Then the image's
 * client-from-image transform and windows of the whole image and mask are
 * taken, the attention check is polled (its status returned, result set
 * untouched), and cblob_runWindow8 runs with them (a mask whose origin or
 * size differs gives cblob_err_maskGeometryMismatch, 0x80001284; then the
 * result set is cleared).
 */
CBLOB_API int32_t cblob_run8(const cimg_imageConst *image, const cimg_imageConst *mask, cblob_runParams *runParams,
                             cblob_resultSet *resultSet);

/**
 * Analyses the 16-bit image *image, masked by the 8-bit image *mask
 * (optional). Checks, in order: image bound, else cblob_err_imageUnbound;
 * a given mask bound, else cblob_err_maskUnbound. No threshold checks here
 * (thresholds above 65535 give cblob_err_badThreshRange in the pipeline).
 * Then as cblob_run8 through cblob_runWindow16, without the attention poll.
 */
CBLOB_API int32_t cblob_run16(const cimg_imageConst *image, const cimg_imageConst *mask, cblob_runParams *runParams,
                              cblob_resultSet *resultSet);

/**
 * Analyses the 8-bit window *window with the client-from-image transform
 * *clientFromImage (optional: null means identity), masked by the 8-bit
 * window *mask (optional). Required: window, runParams, resultSet.
 * Checks, in order: the window has pixels, else cblob_err_imageUnbound
 * (0x80001282); a given mask window has the window's origin and size, else
 * cblob_err_maskGeometryMismatch (0x80001284). Then the result set is
 * cleared and takes the transform, and the pipeline runs (an unbound mask
 * window gives cblob_err_maskUnbound from there).
 */
CBLOB_API int32_t cblob_runWindow8(const cimg_windowConst *window, const cmath_xformPtrhConst *clientFromImage,
                                   const cimg_windowConst *mask, cblob_runParams *runParams,
                                   cblob_resultSet *resultSet);

/** As cblob_runWindow8 for a 16-bit window; the mask window is 8-bit. */
CBLOB_API int32_t cblob_runWindow16(const cimg_windowConst *window, const cmath_xformPtrhConst *clientFromImage,
                                    const cimg_windowConst *mask, cblob_runParams *runParams,
                                    cblob_resultSet *resultSet);

/**
 * Analyses the 8-bit image *image masked by the run-length image held by
 * *mask (optional: a null pointer for none). Required: image, runParams,
 * resultSet. Checks, in order: image bound, else cblob_err_imageUnbound
 * (0x80001282); the threshold checks (span equal to 255); then, with a mask:
 * its handle holds an image, else cblob_err_nullRleImage (0x800012E2); the
 * image has a row table, else cblob_err_rleImageNoRows (0x800012E3); its
 * offset and dimensions equal the image's origin and size, else
 * cblob_err_maskGeometryMismatch (0x80001284). Then the result set is
 * cleared, takes the image's transform, and the pipeline runs.
 */
CBLOB_API int32_t cblob_run8_withRleMask(const cimg_imageConst *image, const cblob_imageRlePtrh *mask,
                                         cblob_runParams *runParams, cblob_resultSet *resultSet);

/** As cblob_run8_withRleMask for a 16-bit image, without the threshold checks. */
CBLOB_API int32_t cblob_run16_withRleMask(const cimg_imageConst *image, const cblob_imageRlePtrh *mask,
                                          cblob_runParams *runParams, cblob_resultSet *resultSet);

/**
 * Analyses the 8-bit image *image masked by the TORV run-length mask
 * `maskRows` (optional: null for none; image height row pointers) whose
 * geometry is *maskRect (required, also without a mask). Required: image,
 * maskRect, runParams, resultSet. Checks, in order: image bound, else
 * cblob_err_imageUnbound (0x80001282); the threshold checks (span above
 * 255); *maskRect equals the image's origin and size, else
 * cblob_err_maskGeometryMismatch (0x80001284), whether or not a mask is
 * given. Then the result set is cleared, takes the image's transform, and
 * the pipeline runs. The lengths of each mask row must add up to the
 * image's width.
 */
CBLOB_API int32_t cblob_run8_withTORVRleMask(const cimg_imageConst *image, const uint8_t *const *maskRows,
                                             const cstd_rect32 *maskRect, cblob_runParams *runParams,
                                             cblob_resultSet *resultSet);

/**
 * As cblob_run8_withTORVRleMask for a 16-bit image, without the threshold
 * checks. A hard threshold with nothing kept runs in one pass, which reads
 * TORV masks with 8-bit images only: it returns cblob_err_torvMask16Bit
 * (0x800012F1) when a mask is given.
 */
CBLOB_API int32_t cblob_run16_withTORVRleMask(const cimg_imageConst *image, const uint8_t *const *maskRows,
                                              const cstd_rect32 *maskRect, cblob_runParams *runParams,
                                              cblob_resultSet *resultSet);

/*
 * Run-length input. The three cblob_runRle8_ functions check, in order: the
 * input handle holds an image, else cblob_err_nullRleImage (0x800012E2); the
 * image has a row table, else cblob_err_rleImageNoRows (0x800012E3); its
 * client-from-image transform (cmath_err_singularXform when its stored
 * transform is linear and singular); then their mask checks below. Then the
 * result set is cleared and takes the transform, and by segmentationType:
 *   - 4 (none): the run-length image itself is what is labelled: binary runs
 *     by the binary scan, grey runs by the weighted scan (a run's weight is
 *     its value / scaleVal). keepThresholdedImage keeps the input handle
 *     itself. A TORV mask gives cblob_err_torvMaskWithRleInput (0x800012F8);
 *     a run-length or image mask (of the input's size) masks the input
 *     into a new image first (see "A run-length input with a mask" above).
 *   - any other type: the image is rendered into a temporary 8-bit image
 *     (grey runs as their values, binary runs as 0 and 1, at the image's
 *     offset and with its transform) and the matching image entry point
 *     runs on it with the same mask: cblob_run8_withRleMask, cblob_run8 or
 *     cblob_run8_withTORVRleMask, with all their checks (and a second
 *     clearing of the result set).
 * The input image is never changed; the result set may keep a reference to
 * it.
 */

/**
 * Run-length input *image masked by the run-length image held by *mask
 * (optional: null pointer for none). Mask checks: the handle holds an image,
 * else cblob_err_nullRleImage; it has a row table, else
 * cblob_err_rleImageNoRows; its offset and dimensions equal the input's,
 * else cblob_err_maskGeometryMismatch (0x80001284).
 */
CBLOB_API int32_t cblob_runRle8_withRleMask(const cblob_imageRlePtrh *image, const cblob_imageRlePtrh *mask,
                                            cblob_runParams *runParams, cblob_resultSet *resultSet);

/**
 * Run-length input *image masked by the 8-bit image *mask (optional). The
 * mask's geometry is not compared here; cblob_run8 checks it when the input
 * is rendered.
 */
CBLOB_API int32_t cblob_runRle8_withMask8(const cblob_imageRlePtrh *image, const cimg_imageConst *mask,
                                          cblob_runParams *runParams, cblob_resultSet *resultSet);

/**
 * Run-length input *image with the TORV mask `maskRows` (optional) of
 * geometry *maskRect (required). With a mask, *maskRect must equal the
 * input's offset and dimensions, else cblob_err_maskGeometryMismatch
 * (0x80001284). With segmentation type 4 a TORV mask then gives
 * cblob_err_torvMaskWithRleInput (0x800012F8); without a mask the input is
 * labelled as it stands.
 */
CBLOB_API int32_t cblob_runRle8_withTORVRleMask(const cblob_imageRlePtrh *image, const uint8_t *const *maskRows,
                                                const cstd_rect32 *maskRect, cblob_runParams *runParams,
                                                cblob_resultSet *resultSet);

#ifdef __cplusplus
}
#endif

#endif /* CBLOB_RUN_H */
