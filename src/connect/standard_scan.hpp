// The standard connectivity scan: one pass over the rows of a window that
// labels 8-connected object regions and 4-connected background regions
// (holes), accumulates their area, moments and boxes, builds the region tree,
// applies the small-region cleanup, and finishes every region into a
// cblob_blob in the result set's blob blocks.
//
// Two members share the row logic: the binary scan (rows of alternating
// binary runs, from a run-length image or segmented row by row from a grey
// window with a hard threshold: the single-pass path) and the weighted scan
// (grey run-length rows whose value bytes weigh object runs).
//
// This header is the contract between the scan and the run pipeline.
#ifndef CBLOB_CONNECT_STANDARD_SCAN_HPP
#define CBLOB_CONNECT_STANDARD_SCAN_HPP

#include <cstdint>

#include "cblob/image.h"
#include "cblob/math.h"
#include "cblob/result_set.h"
#include "cblob/rle_image.h"
#include "connect/blob_internal_pool.hpp"
#include "connect/blob_record.hpp"

namespace cblob::connect {

// Where the rows come from: exactly one of `rle`, `window8`, `window16`.
struct ScanSource {
    // A run-length image (narrow or wide rows; binary rows for the binary
    // scan, grey rows for the weighted scan). With wide rows the scan writes
    // each run's label into the run's label slot.
    const cblob_imageRle *rle = nullptr;
    // Single pass: the window is segmented row by row with the hard
    // threshold: class A is thresh <= value; the object colour is class A
    // unless invert is exactly 1. At most one mask; masked-out pixels are
    // background.
    const cimg_windowConst *window8 = nullptr;
    const cimg_windowConst *window16 = nullptr;
    int32_t thresh = 0;
    int32_t invert = 0;
    const cimg_windowConst *maskWindow = nullptr;      // 8-bit, same geometry as the window
    const cblob_imageRle *maskRle = nullptr;           // run-length mask, same geometry
    // Host (TORV) run-length mask rows, one per window row: (value, length)
    // byte pairs ended by a length of 0.
    const uint8_t *const *torvMaskRows = nullptr;
    bool maskIsRleOrTorv = false;                      // a run-length or TORV mask was asked for
};

// The client transform the scan applies when it finishes blobs.
enum class ScanXformKind { none, linear, nonLinear };

struct ScanSettings {
    bool weighted = false;              // the weighted member (grey run-length input)
    int32_t connectivityCleanup = 0;    // 0 none, 1 prune, 2 fill
    int32_t minArea = 0;
    bool computeSecondMoments = true;
    bool computeTopology = true;
    int32_t scaleVal = 1;               // object area = mass / scaleVal
    // The window: image coordinates of its first pixel and its size.
    int32_t originX = 0, originY = 0, width = 0, height = 0;
    ScanXformKind xformKind = ScanXformKind::none;
    // linear: the transform (blobs point at rs->sharedLinearXform, which the
    // scan fills from it); nonLinear: the handle (each blob gets its local
    // linear approximation in rs->xformBlocks, created when missing).
    cmath_xformLinear linear{};
    const cmath_xformPtrhConst *xform = nullptr;
    // Optional per-run label map (labels of working regions): entry [label]
    // = label while alive, -survivor after a merge. Null when not wanted.
    // The scan makes it at least 1000 entries long and grows it by 1000.
    cstd_vector32s *labelMap = nullptr;
    // Optional table from blob label to the working label the blob's region
    // had during the scan: entry [blob label] = working label. Doubled when a
    // label does not fit. Null when not wanted.
    cstd_vector32s *blobLabels = nullptr;
    // Blocks for the blob records, used before new ones are allocated
    // (blob_record.hpp). May be null.
    SpareBlobBlocks *spareBlobBlocks = nullptr;
};

// Scratch the caller provides: a row buffer of at least (4 * width + 4) * 2
// bytes, and, for a run-length or TORV mask on the single-pass path, a mask
// row of `width` bytes. Either may be null: the scan then takes its own
// with its working tables (one allocation per call in any case).
struct ScanScratch {
    uint8_t *rowBuffer = nullptr;
    uint8_t *maskRow = nullptr;
};

// Runs the scan over the whole window. Blobs are appended to rs's blob
// blocks (created when missing) and numbered from rs->numBlobs + 1
// (rs->numBlobs counts them). When the region tree is kept and rs had no
// first top-level blob, it becomes the head of the top-level blobs' sibling
// chain (null without top-level blobs); without the tree it is left alone.
// The caller fills the all-blobs array, the view and the rest of the result
// set afterwards. Working records come from *pool (constructed by the
// caller) and are all back in its free list after a successful scan. Polls
// the attention check before rows 0, 32, 64, ... With xformKind none the
// blobs point at rs->sharedLinearXform, which the scan sets to the identity.
// Statuses, in order: cblob_err_imageUnbound (0x80001282) for a single-pass
// window without pixels; cblob_err_maskMissing (0x800012ED) when
// maskIsRleOrTorv is set without such a mask; cblob_err_torvMask16Bit
// (0x800012F1) for a TORV mask with a 16-bit window;
// cblob_err_rleImageNoRows (0x800012E3) for a run-length input or mask
// without rows; cblob_err_maskUnbound (0x80001285) for a mask window
// without pixels; cblob_err_maskGeometryMismatch (0x80001284) for a mask of
// another size; cblob_err_badScaleVal (0x8000128A) for a scaleVal below 1;
// csys_err_badSize for a width beyond INT32_MAX / 4 - 8;
// then the attention status, cmath_err_outsideDomain when a non-linear
// transform is undefined at a blob's centre of mass, and memory failures.
// Exactly one input, an input of the settings' width and height, and a
// non-linear transform handle when xformKind asks for one are asserted.
// Blobs written before a failure stay in rs (and working records in the
// pool) for the caller to clear.
// Thread-safety: one call per pool, result set and label tables at a time;
// wide run-length input rows are written (their label slots).
int32_t scanStandard(const ScanSource &source, const ScanSettings &settings, BlobInternalPool *pool,
                     const ScanScratch &scratch, cblob_resultSet *rs);

}  // namespace cblob::connect

#endif
