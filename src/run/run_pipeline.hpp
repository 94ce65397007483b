// The path every run takes after its entry point: the common front end, the
// per-blob image layer and the pipeline core, which segments, masks, keeps
// images, labels and fills the result set.
//
// Each of the three takes the same seven inputs in this order: 8-bit input
// window, 16-bit input window, input run-length image, client-from-image
// transform (null: identity), mask window, run-length mask, TORV mask rows.
// Exactly one input is given and at most one mask; the others are null.
#ifndef CBLOB_RUN_RUN_PIPELINE_HPP
#define CBLOB_RUN_RUN_PIPELINE_HPP

#include <cstdint>

#include "cblob/image.h"
#include "cblob/math.h"
#include "cblob/result_set.h"
#include "cblob/rle_image.h"
#include "cblob/run_params.h"
#include "run/run_spares.hpp"

namespace cblob::run {

// The common front end, called by every entry point once the result set is
// cleared and holds the transform. A soft threshold (type 1) with softness 0
// that is not a percent threshold still to derive its softness (isThreshPercent
// 0, or softnessFixed 1) runs as a hard threshold at highThresh with the same
// invert, on a local copy of params (the caller's object is not changed).
// Then runPipelineWithBlobImages. Statuses: the copy's (memory), the
// setter's (cblob_err_badThresh for a negative highThresh), the pipeline's.
int32_t runFrontEnd(const cimg_windowConst *window8, const cimg_windowConst *window16,
                    const cblob_imageRlePtrh *rleInput, const cmath_xformPtrhConst *clientFromImage,
                    const cimg_windowConst *maskWindow, const cblob_imageRlePtrh *rleMask,
                    const uint8_t *const *torvMask, cblob_runParams *params, cblob_resultSet *rs,
                    RunSpares *spares = nullptr);

// The common end of the image entry points once their checks have passed:
// clears the result set (handing its blob memory to the run, see
// run_spares.hpp), gives it the client transform (null: none) and runs the
// front end on the window of its depth with the mask given.
int32_t clearAndRun(const cimg_windowConst *window8, const cimg_windowConst *window16,
                    const cmath_xformPtrhConst *clientFromImage, const cimg_windowConst *maskWindow,
                    const cblob_imageRlePtrh *rleMask, const uint8_t *const *torvMask, cblob_runParams *params,
                    cblob_resultSet *rs);

// The per-blob image layer. Blob images are wanted when keepBlobImages is
// set, or keepMaskImage is set and a mask of any kind is given; they are
// built from the blobs unless connectivityType is 1 (which the core refuses
// as not yet supported). Runs the core with both flags; then, when the
// images are built from the blobs, gives the result set a new blob database
// whose image vector holds one image per blob (entry label - 1): the blob's
// rows (cblob_blob_getRleRows extracts them from the labelled image the core
// kept), its box, the inverse of the client transform, and the run total of
// its rows. Polls the attention check every 256 blobs. Statuses: the core's,
// the extraction's, memory failures, the attention check's.
int32_t runPipelineWithBlobImages(const cimg_windowConst *window8, const cimg_windowConst *window16,
                                  const cblob_imageRlePtrh *rleInput, const cmath_xformPtrhConst *clientFromImage,
                                  const cimg_windowConst *maskWindow, const cblob_imageRlePtrh *rleMask,
                                  const uint8_t *const *torvMask, cblob_runParams *params, cblob_resultSet *rs,
                                  RunSpares *spares = nullptr);

// The pipeline core, for one band and connectivityType 0. In order:
//   1. requests this build does not serve: cblob_err_notYetSupported for
//      connectivityType other than 0; cblob_err_badMorphOp for an unknown
//      morphology code; then a scaleVal below 1: cblob_err_badScaleVal
//   2. the client transform: a linear one must not be singular
//      (cmath_err_singularXform); a perspective one gets the result set's
//      transform blocks, filled by the scan with each blob's approximation
//   3. attention poll
//   4. geometry: the window, or the run-length input (cblob_err_nullRleImage,
//      cblob_err_rleImageNoRows)
//   5. bands (planBands; the scan runs as one band), the record pool
//   6. the segmentation step when the input is a window and blob images
//      are built from the blobs, anything is to be kept
//      (keepThresholdedImage, keepMaskedAndThresholdedImage,
//      keepMorphedThresholdedImage, keepMaskImage) or segmentationType is not
//      0; otherwise a window takes the one-pass path (hard threshold fused
//      into the scan; percent thresholds computed first) and a run-length
//      input is labelled as it stands
//   7. row buffers; the kept mask record (keepMaskImage with a mask window or
//      TORV mask); a run-length input with a TORV mask:
//      cblob_err_torvMaskWithRleInput
//   8. segmentation (timed into runTimings[0], and [1] with a mask); a
//      run-length input with a mask window or run-length mask is masked
//      instead (the window first segmented at 1 into a binary image; timed
//      into [0] and [1]); wide runs when blob images are built from the
//      blobs and the image is neither kept nor morphed
//   9. kept images: the masked segmentation; the unmasked segmentation (a
//      second segmentation without the mask when a mask was given; the
//      input itself for a run-length input); morphology, each operation
//      into one of two records of the pipeline's own (timed into
//      runTimings[2]), attention poll, the morphed image (the image before
//      any wide copy); with blob images built from
//      the blobs, a wide copy of a narrow scan image (a run-length input or
//      a kept segmentation: neither is ever written), the scan's label map
//      and the result set's run labels; attention poll
//  10. the standard scan (timed into runTimings[3]; it writes each run's
//      working label into the wide runs), attention poll; with blob images
//      built from the blobs, the labelled image becomes the result set's
//      source image and the label map its flat run table
//  11. the result set: all-blobs array (every record of the blob blocks
//      whose label is not negative, in block order), the view as a copy,
//      counts, first top-level blobs, run window, kept images and their rows
//      pointers, the mask image (keepMaskImage), the client transform;
//      attention poll; measure caching and the run parameters.
// Statuses: the above, the segmentation's and the scan's, the attention
// check's, memory failures. The result set is left as far as it was filled.
// The blob blocks and arrays are taken from `spares` (may be null) where
// they fit before new ones are allocated.
int32_t runPipeline(const cimg_windowConst *window8, const cimg_windowConst *window16,
                    const cblob_imageRlePtrh *rleInput, const cmath_xformPtrhConst *clientFromImage,
                    const cimg_windowConst *maskWindow, const cblob_imageRlePtrh *rleMask,
                    const uint8_t *const *torvMask, int32_t blobImagesWanted, int32_t blobImagesFromBlobs,
                    cblob_runParams *params, cblob_resultSet *rs, RunSpares *spares = nullptr);

// The number of bands the labelling of a width x height window is planned
// in when the job thread group offers `threads` threads: connectivityType 0
// and 2 only (any other type: 1). With P = width x height, at most P / 5000
// bands (at least 1); then, when bands would be lower than 4 rows
// (height / T < 4) and height / 4 < T, height / 4 bands (at least 1). So a
// band gets at least 5000 pixels and 4 rows where the window allows.
int32_t planBands(int32_t width, int32_t height, int32_t threads, int32_t connectivityType);

}  // namespace cblob::run

#endif
