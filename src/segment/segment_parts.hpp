// The pieces segment image is built from: percent thresholds, the value
// tables, the kept mask and the output record's initialisation.
#ifndef CBLOB_SEGMENT_SEGMENT_PARTS_HPP
#define CBLOB_SEGMENT_SEGMENT_PARTS_HPP

#include <cstdint>

#include "cblob/image.h"
#include "cblob/rle_image.h"
#include "cblob/run_params.h"

namespace cblob::seg {

// Percent thresholds (segmentation types 0 and 1 with isThreshPercent set),
// written back into params:
//   1. histogram of the whole window (256 counters for 8-bit, 65536
//      zero-filled counters for 16-bit); masks play no part
//   2. the inverse cumulative table of 101 pixel values
//   3. lowPel = table[trunc(lowTailPercent)],
//      highPel = table[100 - trunc(highTailPercent)], span = highPel - lowPel
//      (indices clamped to 0..100)
//   4. type 0: thresh = lowPel + trunc(span x threshPercent / 100.0 + 0.5)
//      in double precision, stored as a 16-bit unsigned value
//   5. type 1: thresh = lowPel + trunc(trunc(lowThreshPercent) x span / 100.0
//      + 0.5), highThresh likewise from highThreshPercent (integer product
//      of the whole percentage and the span), both stored at 16 bits; when
//      softnessFixed is 0: softness = highThresh - thresh, scaleVal =
//      softness + 1, softnessFixed = 1.
// Statuses: the histogram service's (cip_err_emptyHistogram for an empty
// window, cip_err_countOverflow); memory failures. params is written only on
// success.
int32_t computePercentThresholds(const cimg_windowConst *window, cblob_runParams *params);

// The soft-threshold table, size entries (256 or 65536): s = min(softness,
// 254); without invert entries below `low` are 0, entries from `high` on
// s + 1, and an entry v in between 1 + ((v - low) x s) / (high - low); with
// invert (any non-zero value) below = s + 1, above = 0 and the ramp falls
// (s + 1 minus the uninverted entry). Returns 0.
int32_t buildSoftThresholdTable(uint8_t *table, int32_t size, int32_t low, int32_t high, int32_t softness,
                                int32_t invert);

// Copies the first min(count, size) entries of `source` (null: none) into
// table[0 .. size-1] and sets the rest to 0. Returns 0.
int32_t expandTable8(uint8_t *table, int32_t size, const uint8_t *source, int64_t count);
int32_t expandTable16(uint16_t *table, int32_t size, const uint16_t *source, int64_t count);

// The number of entries of a run-parameters table that may be read: the
// smaller of the count the object states and the table's own length.
int64_t usableEntries(const void *table, int32_t statedCount);

// (Re)initialises img for the window's origin and size (cblob_imageRle_init)
// keeping the image-from-client transform it holds; a record that was not
// constructed is constructed with the identity.
int32_t initRecordForWindow(cblob_imageRle *img, const cimg_windowConst *window);

// Writes the kept mask into `record` (initialised for the window): a mask
// window as binary runs of a hard threshold at 1 (inside 1) through the band
// dispatcher; else a TORV mask by the row packer (grey runs, polled every 32
// rows; cimg_err_badGeometry when a row's lengths do not add up to the
// width). Statuses: those, the attention check's, memory failures.
int32_t keepMask(const cimg_windowConst *window, const cimg_windowConst *maskWindow, const uint8_t *const *torvMask,
                 cblob_imageRle *record);

}  // namespace cblob::seg

#endif
