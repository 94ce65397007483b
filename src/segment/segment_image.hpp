// Segmentation: turning the pixels of an 8- or 16-bit window into the runs
// of a run-length image, by the segmentation type of the run parameters;
// and the encode operation behind the cblob_imageRlePtrh_encode* functions.
#ifndef CBLOB_SEGMENT_SEGMENT_IMAGE_HPP
#define CBLOB_SEGMENT_SEGMENT_IMAGE_HPP

#include <cstdint>

#include "cblob/image.h"
#include "cblob/rle_image.h"
#include "cblob/run_params.h"

namespace cblob::seg {

// Segments the input window into `out`.
//
// Arguments, in order:
//   window8, window16  the input; exactly one is given (asserted)
//   maskWindow         an 8-bit mask window, or null
//   params             the run parameters (asserted); percent thresholds are
//                      written back into it
//   out                the output record (asserted): any record, constructed
//                      or not. It is (re)initialised with
//                      cblob_imageRle_init at the window's origin and size;
//                      the transform it holds is kept (a record that was
//                      not constructed gets the identity).
//   rleMask            with maskIsRleOrTorv set and no TORV mask: the
//                      run-length mask; otherwise the record into which the
//                      kept mask is written (when params->keepMaskImage is
//                      set and a mask window or TORV mask is given; it is
//                      initialised as `out` is), or null
//   torvMask           rows of (value, length) byte pairs ended by a length
//                      of 0, one pointer per window row, or null
//   maskIsRleOrTorv    the mask is the TORV mask when given, else rleMask;
//                      0: the mask is maskWindow (or there is none)
//   wide               write the wide run layout
//   scratchRow         at least the window's width in bytes, used to decode
//                      mask rows on the calling thread; null: allocated here
//                      when needed
//
// A pixel is inside a mask when its mask byte, its run-length mask run or
// its TORV pair value is not 0. Values per segmentation type (inv: invert
// exactly 1):
//   0 hard, connectivityType != 1: binary; object when inside and
//     (v >= thresh) != inv. Start values: with a mask the first run's class
//     (1 object); without, 1 / 0 for a row starting at / below the threshold
//     (0 / 1 with inv).
//   0 hard, connectivityType 1: grey; the soft table with softness 0 and
//     low = high = thresh (any non-zero invert inverts); 0 outside.
//   1 soft: grey; the soft-threshold table; 0 outside.
//   2 map: grey; map[v] (entries beyond mapSize read 0); 0 outside.
//   3 threshold image: grey; u = threshMap[v] (entries beyond threshMapSize
//     read 0), t = threshold pixel at the same position (the threshold image
//     read from its own first pixel): 0 when u < t, else map[u - t] (the
//     post map; indices beyond it read its last entry); 0 outside. An 8-bit
//     input uses threshImage8 / threshMap8; a 16-bit input threshImage16 /
//     threshMap16 when threshImage16 is set, else threshImage8 / threshMap8.
//   4 none: grey; v itself (8-bit only); 0 outside.
//
// Kept mask (keepMaskImage, a mask window or TORV mask, and an rleMask
// record): a mask window becomes binary runs of a hard threshold at 1
// (inside 1, outside 0, whatever the run's polarity); a TORV mask becomes
// grey runs by the row packer (neighbouring pairs of one value merged).
//
// Statuses, in order (validateSegmentation first):
//   cblob_err_noneNeeds8Bit (0x800012EF), cblob_err_badThreshRange
//   (0x8000128C), cblob_err_badSoftness (0x80001290), then the input,
//   mask and threshold-image checks of validateSegmentation;
//   the histogram service's status for percent thresholds
//   (cip_err_emptyHistogram for an empty window);
//   cimg_err_badGeometry for a kept TORV mask whose row lengths do not add
//   up to the width; the attention check's status; memory failures.
// Validation and percent-threshold failures leave `out` untouched; after a
// later failure `out` is initialised for the window with every row entry
// empty (null run pointer, 0 runs) and numRuns 0, and keeps the buffers it
// already took until it is cleared or destructed.
int32_t segmentImage(const cimg_windowConst *window8, const cimg_windowConst *window16,
                     const cimg_windowConst *maskWindow, cblob_runParams *params, cblob_imageRle *out,
                     cblob_imageRle *rleMask, const uint8_t *const *torvMask, int32_t maskIsRleOrTorv, int32_t wide,
                     uint8_t *scratchRow);

// The argument checks of segmentImage, nothing changed. Asserted: exactly
// one input window, params. Then, in order:
//   1. type 4 with a 16-bit window: cblob_err_noneNeeds8Bit (0x800012EF)
//   2. type 1: highThresh above 255 (8-bit) / 65535 (16-bit):
//      cblob_err_badThreshRange (0x8000128C); softness exactly 255 / 65535:
//      cblob_err_badSoftness (0x80001290)
//   3. types 0 and 1: thresh above 255 / 65535: cblob_err_badThreshRange
//   (thresholds as stored; percent thresholds are computed later)
//   4. the input window: cblob_err_imageUnbound (0x80001282) without
//      pixels; cimg_err_badDepth when its depth is not 8 (window8) or 16
//      (window16); cimg_err_badGeometry for a negative size
//   5. the mask: with maskIsRleOrTorv, cblob_err_maskMissing (0x800012ED)
//      when neither torvMask nor rleMask is given; a run-length mask (no
//      torvMask) must be constructed and have rows, else
//      cblob_err_rleImageNoRows (0x800012E3), and the window's width and
//      height, else cblob_err_maskGeometryMismatch (0x80001284). Without
//      the flag, a mask window must be bound (cblob_err_maskUnbound,
//      0x80001285), 8-bit (cimg_err_badDepth) and of the window's width and
//      height (cblob_err_maskGeometryMismatch).
//   6. type 3: the threshold image for the input depth must exist and be
//      bound (cblob_err_threshImageUnbound, 0x80001299), have the expected
//      depth (cimg_err_badDepth) and be at least as wide and high as the
//      window (cimg_err_badGeometry).
int32_t validateSegmentation(const cimg_windowConst *window8, const cimg_windowConst *window16,
                             const cimg_windowConst *maskWindow, const cblob_runParams *params,
                             const cblob_imageRle *rleMask, const uint8_t *const *torvMask, int32_t maskIsRleOrTorv);

// Encodes the whole 8-bit image into a new record attached to *h, by the
// segmentation of params (no mask, narrow runs). The image and the
// segmentation are checked first: cblob_err_imageUnbound (0x80001282) for
// an unbound image, cimg_err_badDepth for a 16-bit one, then the checks of
// validateSegmentation; these leave *h unchanged. Then *h is detached (other
// holders of its image keep it), a new record is initialised with the
// image's origin, size and client-from-image transform, segmented, and
// attached to *h. Later failures (memory, attention check, histogram)
// release the new record and leave *h null.
int32_t encodeImage(cblob_imageRlePtrh *h, const cimg_imageConst *image, cblob_runParams *params);

}  // namespace cblob::seg

#endif
