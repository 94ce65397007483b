// Grey morphology on run-length images: erosion, dilation, opening and
// closing with 1 x 3, 3 x 1 and 3 x 3 elements, computed on runs by a
// horizontal pass (run boundaries move within a row) and a vertical pass
// (each row merged with its neighbours above and below). Grey images take
// the minimum and maximum of values, binary images of 0 and 1. Outside the
// image the nearest edge pixel repeats, so erosion does not eat objects that
// touch the border.
#ifndef CBLOB_RLE_MORPHOLOGY_HPP
#define CBLOB_RLE_MORPHOLOGY_HPP

#include <cstdint>

#include "cblob/rle_image.h"

namespace cblob::rle {

// The four passes operations are made of: horizontal or vertical, minimum
// (erosion) or maximum (dilation).
enum class MorphPass : uint8_t { hMin, vMin, hMax, vMax };

// Whether op is one of the operation codes (cblob_morph_* in rle_image.h).
inline bool isMorphOp(int32_t op) { return op >= cblob_morph_erode1x3 && op <= cblob_morph_open3x3; }

// One pass from the image rows `rows` (entry y is image row y; narrow, or
// wide with `wide`; rows that end early read as 0 up to the width) into `dst`, which
// is reset to `height` rows of the same format with sentinel rows. Each
// output pixel is the minimum (`minimum` true) or maximum of the pixel and
// its left and right neighbours inside the row (horizontal) or of the rows
// above and below, the edge rows repeated (vertical). Polls the attention
// check every 32 rows. Statuses: the attention check's, csys_err_badSize for
// more than INT32_MAX runs, memory failures (dst then holds part of the
// rows).
int32_t horizontalPass(const cblob_rleRow *rows, int32_t width, int32_t height, bool grey, bool wide,
                       cblob_imageRleData_ *dst, bool minimum, int64_t runsPerRow);
int32_t verticalPass(const cblob_rleRow *rows, int32_t width, int32_t height, bool grey, bool wide,
                     cblob_imageRleData_ *dst, bool minimum, int64_t runsPerRow);

// The passes of a binary image, on foreground intervals: the rows (binary,
// narrow or wide with `wide`; entry y is image row y) are decoded once, each
// pass maps interval rows to interval rows, and the result is written into
// `dst` (reset to `height` rows, sentinel rows included). Polls the
// attention check every 32 rows of each pass. Statuses: the attention
// check's, csys_err_badSize, memory failures.
int32_t binaryMorphology(const cblob_rleRow *rows, int32_t width, int32_t height, bool wide,
                         const MorphPass *passes, int32_t numPasses, cblob_imageRleData_ *dst);

// Applies operation `op` to the image rows of src and makes dst show the
// result: dst (constructed first when it is not) gets new owned storage with
// the result rows, src's offset, size and transform, and the result's
// isGrey and numRuns; what dst held before is released. src and dst may be
// the same record. src is never written. A two-pass operation keeps its
// intermediate rows in temporary storage, released on every path.
// Statuses: cblob_err_badMorphOp for a code outside 0..11 (nothing done);
// cblob_err_rleImageEmpty (0x80001286) for a source without a row table;
// the passes' statuses, dst then unchanged.
int32_t applyMorphology(const cblob_imageRle *src, cblob_imageRle *dst, int32_t op);

}  // namespace cblob::rle

#endif
