// Mask rows for the run finders: a mask window's row is read in place; rows
// of a run-length mask or a TORV mask are expanded into one byte per pixel
// in the finder's scratch row (non-zero inside).
#include <cstdint>
#include <cstring>

#include "rle/run_format.hpp"
#include "segment/run_finder.hpp"

namespace cblob::seg {

namespace {

// Fills out[at .. at + length) with value, cut at width; returns the new at.
inline int32_t fill(uint8_t *out, int32_t at, int32_t width, uint8_t value, int64_t length) {
    const int64_t end = static_cast<int64_t>(at) + length;
    const int32_t stop = end < width ? static_cast<int32_t>(end) : width;
    std::memset(out + at, value, static_cast<size_t>(stop - at));
    return stop;
}

// Reads the next run of a row: its value and length (0 at the terminator).
template <bool Grey, bool Wide>
inline int32_t nextRun(const uint8_t *&p, uint8_t &value) {
    if constexpr (Wide) {
        return Grey ? rle::readWideGreyRun(p, value) : rle::readWideBinaryRun(p);
    } else {
        if constexpr (Grey) value = *p++;
        return rle::readLength(p);
    }
}

template <bool Grey, bool Wide>
void expandRows(uint8_t *out, const cblob_rleRow &row, int32_t width) {
    int32_t at = 0;
    if (const uint8_t *p = row.runs) {
        uint8_t binary = row.startValue ? 1 : 0;
        while (at < width) {
            uint8_t value = binary;
            const int32_t length = nextRun<Grey, Wide>(p, value);
            if (length <= 0) break;
            at = fill(out, at, width, Grey ? value : binary, length);
            binary ^= 1;
        }
    }
    if (at < width) std::memset(out + at, 0, static_cast<size_t>(width - at));
}

}  // namespace

int32_t expandRleMaskRow(uint8_t *out, const cblob_rleRow &row, int32_t width, int32_t grey, int32_t wide) {
    if (grey) {
        wide ? expandRows<true, true>(out, row, width) : expandRows<true, false>(out, row, width);
    } else {
        wide ? expandRows<false, true>(out, row, width) : expandRows<false, false>(out, row, width);
    }
    return 0;
}

int32_t expandTorvMaskRow(uint8_t *out, const uint8_t *pairs, int32_t width) {
    int32_t at = 0;
    if (pairs) {
        for (; at < width && pairs[1] != 0; pairs += 2) at = fill(out, at, width, pairs[0], pairs[1]);
    }
    if (at < width) std::memset(out + at, 0, static_cast<size_t>(width - at));
    return 0;
}

const uint8_t *maskRow(const FindInputs &in, int32_t y) {
    const MaskSource &mask = in.mask;
    switch (mask.kind) {
        case MaskKind::window:
            return mask.window + y * mask.windowStride;
        case MaskKind::rle:
            expandRleMaskRow(in.scratch, mask.rleRows[y], in.width, mask.rleGrey, mask.rleWide);
            return in.scratch;
        case MaskKind::torv:
            expandTorvMaskRow(in.scratch, mask.torvRows[y], in.width);
            return in.scratch;
        default:
            return nullptr;
    }
}

}  // namespace cblob::seg
