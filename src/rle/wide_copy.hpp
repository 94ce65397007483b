// The wide copy of a run-length image: the same rows in the wide layout,
// where every run has a 4-byte length and a label slot the connectivity scan
// writes into.
#ifndef CBLOB_RLE_WIDE_COPY_HPP
#define CBLOB_RLE_WIDE_COPY_HPP

#include <cstdint>

#include "cblob/rle_image.h"

namespace cblob::rle {

// Constructs raw dst as a wide copy of src, which must own narrow storage
// (an assert otherwise). dst takes src's offset, size, numRuns, isGrey and
// transform, no database, and new storage with isWide = 1 holding every row
// entry of src, sentinel rows included, re-encoded into one block of
// (data numRuns + 2 + row entries) * (8 + isGrey) bytes; the label slots are
// left unset. A source whose runs do not fit that block (its storage run
// count is too low) is an assert. On failure dst is left not constructed.
int32_t constructWideCopy(cblob_imageRle *dst, const cblob_imageRle *src);

}  // namespace cblob::rle

#endif
