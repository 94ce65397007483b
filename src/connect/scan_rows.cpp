// Row sources of the standard connectivity scan: decoding run-length rows
// (binary or grey, narrow or wide) into segments, segmenting window rows
// with the hard-threshold kernels, and writing labels into wide runs.
#include "connect/scan_rows.hpp"

#include <cstdint>
#include <cstring>

#include "rle/row_access.hpp"
#include "rle/run_format.hpp"
#include "core/frame.hpp"
#include "segment/run_finder.hpp"

namespace cblob::connect::scan {

namespace {

// Reads the next run at p: its length (0 or below ends the row) and value
// (binary rows: the alternating colour passed in).
template <bool Grey, bool Wide>
inline int32_t nextRun(const uint8_t *&p, uint8_t binary, uint8_t &value) {
    if constexpr (Grey) {
        return Wide ? rle::readWideGreyRun(p, value) : rle::readGreyRun(p, value);
    } else {
        value = binary;
        return Wide ? rle::readWideBinaryRun(p) : rle::readLength(p);
    }
}

// Adds one run of weight w at [x, x + len) to segment k's sums.
inline void addRunSums(ScanRow &row, int32_t k, int64_t w, int32_t x, int32_t len) {
    const int64_t x64 = x, l64 = len;
    row.mass[k] += w * l64;
    row.sumX[k] += static_cast<double>(w * (2 * x64 + l64) * l64);
    row.sumXX[k] += static_cast<double>(w * l64) * static_cast<double>(3 * x64 * (x64 + l64) + l64 * l64);
}

inline void openSegment(ScanRow &row, int32_t k, bool sums) {
    if (sums) {
        row.mass[k] = 0;
        row.sumX[k] = 0.0;
        row.sumXX[k] = 0.0;
    }
}

// Decodes one row into segments. Binary rows end at their terminator, grey
// rows also after the entry's run count (as rle::RowReader reads them). Runs
// past the width are cut; a row that ends early is padded with background.
template <bool Grey, bool Wide, bool Sums>
void decodeRow(const cblob_rleRow &entry, int32_t width, bool fillWeights, ScanRow &row) {
    const uint8_t *p = entry.runs;
    int32_t runsLeft = Grey ? entry.numRuns : INT32_MAX;
    uint8_t binary = entry.startValue ? 1 : 0;
    uint8_t previousValue = 0;  // value of the run before, 0 at the row start
    int32_t x = 0;
    int32_t k = -1;
    uint8_t colour = 0;
    while (p && x < width && runsLeft-- > 0) {
        uint8_t value;
        int32_t len = nextRun<Grey, Wide>(p, binary, value);
        if (len <= 0) break;
        if (len > width - x) len = width - x;
        const uint8_t c = value != 0 ? 1 : 0;
        if (k < 0 || c != colour) {
            if (k >= 0) row.end[k] = x;
            if (++k == 0) row.firstColour = c;
            colour = c;
            openSegment(row, k, Sums);
        }
        if constexpr (Sums) {
            const int64_t w = c ? value : (fillWeights ? previousValue : 1);
            addRunSums(row, k, w, x, len);
        }
        x += len;
        previousValue = value;
        binary ^= 1;
    }
    if (x < width) {
        if (k < 0 || colour != 0) {
            if (k >= 0) row.end[k] = x;
            if (++k == 0) row.firstColour = 0;
            colour = 0;
            openSegment(row, k, Sums);
        }
        if constexpr (Sums) addRunSums(row, k, fillWeights ? previousValue : 1, x, width - x);
    }
    row.end[k] = width;
    row.count = k + 1;
}

// Decodes a row of narrow binary runs that the row kernels wrote: lengths
// of at least 1 that add up to the width, then the terminator. Each run is
// a segment. Returns false, with the row unfinished, when the lengths do not
// end exactly at the width; the general decoder then takes the row.
inline bool decodeKernelRow(const uint8_t *p, uint8_t firstColour, int32_t width, ScanRow &row) {
    int32_t *end = row.end;
    int32_t x = 0;
    int32_t k = 0;
    while (x < width) {
        int32_t len = *p++;
        if (len == rle::kEscape) {
            len = rle::loadInt32(p);
            p += 4;
        }
        if (len <= 0) break;
        x += len;
        end[k++] = x;
    }
    if (x != width) return false;
    row.count = k;
    row.firstColour = firstColour;
    return true;
}

// The weighted sums of a row whose segments are single binary runs (run
// values: 1 for object, 0 for background): object runs weigh 1, background
// runs 1, or under fill weights the value of the run before, which is the
// object run before it, or 0 for a first run.
void addEndSums(ScanRow &row, bool fillWeights) {
    int32_t x = 0;
    uint8_t colour = row.firstColour;
    for (int32_t k = 0; k < row.count; ++k) {
        openSegment(row, k, true);
        const int64_t w = colour || !fillWeights || k > 0 ? 1 : 0;
        addRunSums(row, k, w, x, row.end[k] - x);
        x = row.end[k];
        colour ^= 1;
    }
}

using DecodeFn = void (*)(const cblob_rleRow &, int32_t, bool, ScanRow &);

template <bool Grey, bool Wide>
DecodeFn pickDecode(bool sums) {
    return sums ? &decodeRow<Grey, Wide, true> : &decodeRow<Grey, Wide, false>;
}

DecodeFn decoderFor(bool grey, bool wide, bool sums) {
    if (grey) return wide ? pickDecode<true, true>(sums) : pickDecode<true, false>(sums);
    return wide ? pickDecode<false, true>(sums) : pickDecode<false, false>(sums);
}

// Writes the segment labels into one wide row's label slots.
template <bool Grey>
void writeWideLabels(uint8_t *p, int32_t width, const ScanRow &row, const int32_t *segLabel) {
    constexpr int32_t lengthAt = Grey ? 1 : 0;
    constexpr int32_t runBytes = Grey ? rle::kWideGreyRunBytes : rle::kWideBinaryRunBytes;
    int32_t x = 0;
    int32_t k = 0;
    while (x < width) {
        const int32_t len = rle::loadInt32(p + lengthAt);
        if (len <= 0) break;
        while (k + 1 < row.count && row.end[k] <= x) ++k;
        rle::storeInt32(p + lengthAt + 4, segLabel[k]);
        x += len < width - x ? len : width - x;
        p += runBytes;
    }
}

bool sameSize(int32_t w1, int32_t h1, int32_t w2, int32_t h2) { return w1 == w2 && h1 == h2; }

}  // namespace

int32_t validateRowSource(const ScanSource &source, const ScanSettings &settings) {
    const int inputs = (source.rle ? 1 : 0) + (source.window8 ? 1 : 0) + (source.window16 ? 1 : 0);
    CBLOB_REQUIRE_ARG(inputs == 1);
    CBLOB_REQUIRE_ARG(settings.width >= 0 && settings.height >= 0);
    if (source.rle) {
        CBLOB_REQUIRE_ARG(sameSize(source.rle->width, source.rle->height, settings.width, settings.height));
        if (!source.rle->constructed || !source.rle->rows) return cblob_err_rleImageNoRows;
        return 0;
    }
    const cimg_windowConst *window = source.window8 ? source.window8 : source.window16;
    CBLOB_REQUIRE_ARG(sameSize(window->width, window->height, settings.width, settings.height));
    if (!window->pels) return cblob_err_imageUnbound;
    const bool torv = source.torvMaskRows != nullptr;
    if (source.maskIsRleOrTorv && !torv && !source.maskRle) return cblob_err_maskMissing;
    if (torv) {
        if (source.window16) return cblob_err_torvMask16Bit;
    } else if (source.maskRle) {
        const cblob_imageRle *mask = source.maskRle;
        if (!mask->constructed || !mask->rows) return cblob_err_rleImageNoRows;
        if (!sameSize(mask->width, mask->height, settings.width, settings.height)) {
            return cblob_err_maskGeometryMismatch;
        }
    } else if (source.maskWindow) {
        const cimg_windowConst *mask = source.maskWindow;
        if (!mask->pels) return cblob_err_maskUnbound;
        if (!sameSize(mask->width, mask->height, settings.width, settings.height)) {
            return cblob_err_maskGeometryMismatch;
        }
    }
    return 0;
}

int64_t rowBufferBytes(int32_t width) {
    // Narrow binary runs: at most one byte per pixel plus the escapes of long
    // runs and the terminator; the kernels ask for width + 4.
    return static_cast<int64_t>(width) + 8;
}

bool needsRowBuffer(const ScanSource &source) {
    return !source.rle && (source.maskWindow || source.maskRle || source.torvMaskRows);
}

bool needsMaskRow(const ScanSource &source) {
    return !source.rle && (source.torvMaskRows || source.maskRle);
}

int32_t RowSource::bind(const ScanSource &source, const ScanSettings &settings, uint8_t *rowBuffer,
                        uint8_t *maskRow) {
    width_ = settings.width;
    if (source.rle) {
        kind_ = Kind::rle;
        rle_ = source.rle;
        grey_ = rle_->isGrey != 0;
        wide_ = rle_->data && rle_->data->isWide;
        return 0;
    }
    CBLOB_REQUIRE_ARG(rowBuffer || !needsRowBuffer(source));
    rowBuffer_ = rowBuffer;
    maskRow_ = maskRow;
    invert_ = source.invert == 1;
    if (source.torvMaskRows) {
        mask_ = Mask::torv;
        torvRows_ = source.torvMaskRows;
    } else if (source.maskRle) {
        mask_ = Mask::rle;
        maskRle_ = source.maskRle;
    } else if (source.maskWindow) {
        mask_ = Mask::window;
        maskWindow_ = source.maskWindow;
    }
    if (mask_ == Mask::torv || mask_ == Mask::rle) CBLOB_REQUIRE_ARG(maskRow);
    // The kernels are exact for thresholds from 0 to one past the pixel
    // range; anything beyond classifies every pixel the same way.
    const int32_t limit = source.window8 ? 256 : 65536;
    thresh_ = source.thresh < 0 ? 0 : (source.thresh > limit ? limit : source.thresh);
    if (source.window8) {
        kind_ = Kind::window8;
        window_ = source.window8;
        return mask_ == Mask::none ? row::resolveHardRowEndsKernel<uint8_t>(&ends8_) : 0;
    }
    kind_ = Kind::window16;
    window_ = source.window16;
    return mask_ == Mask::none ? row::resolveHardRowEndsKernel<uint16_t>(&ends16_) : 0;
}

// Segments unmasked window row y straight into the row's segment ends: each
// run of the kernel is a segment.
template <class Pixel>
void RowSource::segmentPixelEnds(int32_t y, ScanRow &row) const {
    static_assert(row::kRowEndsSlack <= 2, "segment tables hold width + 2 entries");
    const auto *pixels =
        reinterpret_cast<const Pixel *>(window_->pels + static_cast<int64_t>(y) * window_->strideBytes);
    int32_t count = 0;
    if constexpr (sizeof(Pixel) == 1) {
        ends8_(row.end, pixels, width_, thresh_, &count);
    } else {
        ends16_(row.end, pixels, width_, thresh_, &count);
    }
    const bool classA = static_cast<int32_t>(pixels[0]) >= thresh_;
    row.firstColour = classA != invert_ ? 1 : 0;
    row.count = count;
}

// Segments masked window row y into narrow binary runs in the row buffer;
// the colour of the first run goes to *startColour.
template <class Pixel>
uint8_t *RowSource::segmentPixels(int32_t y, uint8_t *startColour) const {
    const auto *pixels =
        reinterpret_cast<const Pixel *>(window_->pels + static_cast<int64_t>(y) * window_->strideBytes);
    uint8_t *cursor = rowBuffer_;
    int32_t numRuns = 0;
    const uint8_t *mask = maskRow_;
    if (mask_ == Mask::window) {
        mask = maskWindow_->pels + static_cast<int64_t>(y) * maskWindow_->strideBytes;
    } else if (mask_ == Mask::rle) {
        const int32_t wide = maskRle_->data && maskRle_->data->isWide ? 1 : 0;
        seg::expandRleMaskRow(maskRow_, *rle::imageRow(maskRle_, y), width_, maskRle_->isGrey, wide);
    } else {
        seg::expandTorvMaskRow(maskRow_, torvRows_[y], width_);
    }
    int32_t firstClass = 0;
    row::maskedHardRow<Pixel>(&cursor, pixels, mask, width_, thresh_, invert_ ? 1 : 0, 0, &numRuns, &firstClass);
    *startColour = firstClass ? 1 : 0;
    return rowBuffer_;
}

bool RowSource::repeatsRowAbove(int32_t y) const {
    if (kind_ == Kind::rle || mask_ != Mask::none) return false;
    const int64_t bytes = static_cast<int64_t>(width_) * (kind_ == Kind::window8 ? 1 : 2);
    const uint8_t *pixels = window_->pels + static_cast<int64_t>(y) * window_->strideBytes;
    return std::memcmp(pixels, pixels - window_->strideBytes, static_cast<size_t>(bytes)) == 0;
}

void RowSource::read(int32_t y, ScanRow &row, bool sums, bool fillWeights) const {
    if (kind_ == Kind::rle) {
        decoderFor(grey_, wide_, sums)(*rle::imageRow(rle_, y), width_, fillWeights, row);
        return;
    }
    if (mask_ == Mask::none) {
        if (kind_ == Kind::window8) {
            segmentPixelEnds<uint8_t>(y, row);
        } else {
            segmentPixelEnds<uint16_t>(y, row);
        }
        if (sums) addEndSums(row, fillWeights);
        return;
    }
    cblob_rleRow entry{};
    entry.startValue = 0;
    entry.runs = kind_ == Kind::window8 ? segmentPixels<uint8_t>(y, &entry.startValue)
                                        : segmentPixels<uint16_t>(y, &entry.startValue);
    if (!sums && decodeKernelRow(entry.runs, entry.startValue ? 1 : 0, width_, row)) return;
    decoderFor(false, false, sums)(entry, width_, fillWeights, row);
}

void RowSource::writeLabels(int32_t y, const ScanRow &row, const int32_t *segLabel) const {
    if (!hasLabelSlots()) return;
    uint8_t *runs = rle::imageRow(rle_, y)->runs;
    if (!runs) return;
    if (grey_) {
        writeWideLabels<true>(runs, width_, row, segLabel);
    } else {
        writeWideLabels<false>(runs, width_, row, segLabel);
    }
}

}  // namespace cblob::connect::scan
