// The run table block: made from the scan's label map, copied with its
// result set.
#include "results/blob_run_table.hpp"

#include <cstring>

#include "core/frame.hpp"

namespace cblob::results {

int32_t newRunTable(const int32_t *entries, int32_t count, void **table) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, table);
    CBLOB_FRAME_REQUIRE(f, count >= 0 && (entries || count == 0));
    const int64_t bytes = static_cast<int64_t>(sizeof(RunTableHeader)) + 4 * static_cast<int64_t>(count);
    uint8_t *block = nullptr;
    CBLOB_FRAME_TRY(f, allocate(bytes, &block));
    RunTableHeader header{count, 0};
    std::memcpy(block, &header, sizeof header);
    if (count > 0) std::memcpy(block + sizeof header, entries, 4 * static_cast<size_t>(count));
    *table = block;
    return f.exit();
}

int32_t copyRunTable(const void *src, void **table) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, table);
    if (!src) {
        *table = nullptr;
        return f.exit();
    }
    const int32_t count = runTableCount(src);
    CBLOB_FRAME_TRY(f, newRunTable(runTableEntries(const_cast<void *>(src)), count, table));
    return f.exit();
}

}  // namespace cblob::results
