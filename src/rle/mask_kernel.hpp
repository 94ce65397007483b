// The masking kernel: a new run-length image holding the pixels of a source
// image where a run-length mask passes its test, and a replacement value
// elsewhere. Shared by cblob_imageRlePtrh_mask and the run pipeline, which
// asks for the wide run format so that the connectivity scan can write
// labels into the runs.
#ifndef CBLOB_RLE_MASK_KERNEL_HPP
#define CBLOB_RLE_MASK_KERNEL_HPP

#include <cstdint>

#include "cblob/rle_image.h"

namespace cblob::rle {

// *out = a new record (not attached to any handle; free it with
// deleteRecord or attach it) with src's offset, size, format and transform.
// Pixel x of row y is src's pixel where the mask test holds for the mask's
// pixel x of row y (the mask is read from its own first pixel; its offset is
// not consulted), else `replacement` (a binary source: 1 when non-zero).
// The test holds when (mask value == value) equals (keepEqual != 0); a
// binary mask has values 0 and 1. Rows that end early read as 0 up to the
// width. `wide`: the rows, sentinel rows included, are written in the wide
// format. Both images are read in the narrow format through the row rule
// (owned storage or borrowed rows).
// Statuses: cblob_err_rleImageEmpty (0x80001286) when either image has no
// row table; cblob_err_maskGeometryMismatch (0x80001284) when the mask's
// size differs from src's; csys_err_badSize for more than INT32_MAX runs;
// the attention check's (polled every 32 rows); memory failures. On failure
// *out is null and nothing is left allocated.
int32_t maskImage(const cblob_imageRle *src, const cblob_imageRle *mask, uint8_t value, uint8_t replacement,
                  int32_t keepEqual, bool wide, cblob_imageRle **out);

}  // namespace cblob::rle

#endif
