// Value tables of the map and threshold-image segmentations, expanded to one
// entry per pixel value so that the row kernels never index past a table:
// entries a caller's map does not have read 0.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/frame.hpp"
#include "containers/table_block.hpp"
#include "segment/segment_parts.hpp"

namespace cblob::seg {

namespace {

template <class T>
int32_t expand(T *table, int32_t size, const T *source, int64_t count) {
    CBLOB_REQUIRE_ARG(table);
    const int64_t copied = source ? std::clamp<int64_t>(count, 0, size) : 0;
    if (copied > 0) std::memcpy(table, source, static_cast<size_t>(copied) * sizeof(T));
    if (copied < size) std::memset(table + copied, 0, static_cast<size_t>(size - copied) * sizeof(T));
    return 0;
}

}  // namespace

int32_t expandTable8(uint8_t *table, int32_t size, const uint8_t *source, int64_t count) {
    return expand(table, size, source, count);
}

int32_t expandTable16(uint16_t *table, int32_t size, const uint16_t *source, int64_t count) {
    return expand(table, size, source, count);
}

int64_t usableEntries(const void *entries, int32_t statedCount) {
    if (!entries) return 0;
    return std::clamp<int64_t>(statedCount, 0, cblob::table::countOf(entries));
}

}  // namespace cblob::seg
