// The soft-threshold table: 0 below the low threshold, s + 1 from the high
// threshold on, and s graded levels across the ramp between (inverted on
// request), with s the softness capped at 254 so every level fits a byte
// next to the top value.
#include <algorithm>
#include <cstdint>

#include "core/frame.hpp"
#include "segment/segment_parts.hpp"

namespace cblob::seg {

int32_t buildSoftThresholdTable(uint8_t *table, int32_t size, int32_t low, int32_t high, int32_t softness,
                                int32_t invert) {
    CBLOB_REQUIRE_ARG(table);
    const int64_t s = std::min(softness, 254);
    const int64_t below = invert ? s + 1 : 0;
    const int64_t above = invert ? 0 : s + 1;
    const int64_t step = invert ? -1 : 1;
    for (int32_t v = 0; v < size; ++v) {
        int64_t value;
        if (v < low) {
            value = below;
        } else if (v >= high) {
            value = above;
        } else {
            // low <= v < high, so high - low > 0; the quotient truncates toward zero.
            value = below + step + ((v - static_cast<int64_t>(low)) * step * s) / (static_cast<int64_t>(high) - low);
        }
        table[v] = static_cast<uint8_t>(value);
    }
    return 0;
}

}  // namespace cblob::seg
