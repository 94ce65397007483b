// Row sources of the standard connectivity scan. Each turns one row of its
// input into the scan's segments (scan_state.hpp): maximal stretches of one
// colour covering the window width, with per-segment weighted sums for the
// weighted scan.
//
//   run-length binary   binary runs (narrow or wide) of a run-length image
//   run-length grey     grey runs (narrow or wide); colour 1 for a non-zero
//                       value, so neighbouring non-zero runs share a segment
//   single pass         8- or 16-bit window rows segmented by the hard-
//                       threshold row kernels, optionally under a mask
//                       window, a run-length mask or a host (TORV) mask
//
// Rows whose runs do not cover the width exactly are cut at the width or
// padded with background, so a malformed row never leads the scan outside
// its tables.
#ifndef CBLOB_CONNECT_SCAN_ROWS_HPP
#define CBLOB_CONNECT_SCAN_ROWS_HPP

#include <cstdint>

#include "cblob/image.h"
#include "cblob/rle_image.h"
#include "connect/scan_state.hpp"
#include "connect/standard_scan.hpp"
#include "segment/row_kernels.hpp"

namespace cblob::connect::scan {

// Checks a source against the settings, in this order:
//   exactly one input (assert); the window geometry of the settings must
//   equal the input's size (assert) and be non-negative (assert);
//   a single-pass window without pixels: cblob_err_imageUnbound;
//   maskIsRleOrTorv without a run-length or TORV mask: cblob_err_maskMissing;
//   a TORV mask with a 16-bit window: cblob_err_torvMask16Bit;
//   a run-length mask that is not constructed or has no rows, or a
//   run-length input without rows: cblob_err_rleImageNoRows;
//   a mask whose size differs from the window's: cblob_err_maskGeometryMismatch.
int32_t validateRowSource(const ScanSource &source, const ScanSettings &settings);

// Scratch the source needs beyond the caller's, only on the masked
// single-pass path: a kernel output row of rowBufferBytes (any mask; the
// unmasked path writes segment ends straight into the row) and a decoded
// mask row (run-length and TORV masks).
int64_t rowBufferBytes(int32_t width);
bool needsRowBuffer(const ScanSource &source);
bool needsMaskRow(const ScanSource &source);

class RowSource {
public:
    // Binds a validated source. rowBuffer: at least rowBufferBytes(width)
    // bytes when needsRowBuffer; maskRow: width bytes when needsMaskRow. The
    // optimised run-end kernel of unmasked single-pass rows is resolved
    // here, once per scan.
    int32_t bind(const ScanSource &source, const ScanSettings &settings, uint8_t *rowBuffer, uint8_t *maskRow);

    // Fills `row` with the segments of window row y (0 <= y < height); the
    // segment tables of `row` have room for width + 2 segments (unmasked
    // single-pass rows rely on it: their kernel may write up to
    // width + row::kRowEndsSlack segment ends, entries past row.count
    // included). With `sums`, the per-segment weighted sums are filled too:
    // object runs weigh their value (1 in binary rows); background runs
    // weigh 1, or with `fillWeights` the value of the run just before them
    // in the row (0 for a row's first run).
    void read(int32_t y, ScanRow &row, bool sums, bool fillWeights) const;

    // True when unmasked window row y (0 < y < height) has exactly the
    // pixels of row y - 1, hence its segments: the caller then need not
    // read it. Always false for other sources.
    bool repeatsRowAbove(int32_t y) const;

    // True when the input rows have label slots (wide run-length rows).
    bool hasLabelSlots() const { return kind_ == Kind::rle && wide_; }

    // Writes segLabel[k] into the label slot of every run of segment k of
    // row y (wide run-length rows only; otherwise nothing).
    void writeLabels(int32_t y, const ScanRow &row, const int32_t *segLabel) const;

private:
    enum class Kind { rle, window8, window16 };
    enum class Mask { none, window, rle, torv };

    template <class Pixel>
    uint8_t *segmentPixels(int32_t y, uint8_t *startColour) const;
    template <class Pixel>
    void segmentPixelEnds(int32_t y, ScanRow &row) const;

    Kind kind_ = Kind::rle;
    Mask mask_ = Mask::none;
    int32_t width_ = 0;
    // Run-length input.
    const cblob_imageRle *rle_ = nullptr;
    bool grey_ = false;
    bool wide_ = false;
    // Single pass.
    const cimg_windowConst *window_ = nullptr;
    int32_t thresh_ = 0;
    bool invert_ = false;  // invert exactly 1: the object colour is "below the threshold"
    // Unmasked rows: the run-end kernels, writing segment ends directly.
    row::HardRowEndsKernel<uint8_t> ends8_ = nullptr;
    row::HardRowEndsKernel<uint16_t> ends16_ = nullptr;
    const cimg_windowConst *maskWindow_ = nullptr;
    const cblob_imageRle *maskRle_ = nullptr;
    const uint8_t *const *torvRows_ = nullptr;
    uint8_t *rowBuffer_ = nullptr;
    uint8_t *maskRow_ = nullptr;
};

}  // namespace cblob::connect::scan

#endif
