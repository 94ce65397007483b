// The run table of a result set: for every working label the scan gave out,
// the label it survives as. An entry equal to its own label is a region that
// lived until it was finished (or pruned); a negative entry -s was merged
// into region s; an entry of 0 was merged into the outer region. The run
// extraction follows the chains and shortens them as it goes.
//
// The table is one flat block (the result set's tableShift 0): an 8-byte
// header holding the entry count, then the int32 entries, indexed by label.
#ifndef CBLOB_RESULTS_BLOB_RUN_TABLE_HPP
#define CBLOB_RESULTS_BLOB_RUN_TABLE_HPP

#include <cstdint>

namespace cblob::results {

struct RunTableHeader {
    int32_t count;  // entries after the header
    int32_t unused;
};

// *table = a new block holding a copy of the `count` entries (count >= 0;
// null entries only when count is 0). Memory failures leave *table alone.
int32_t newRunTable(const int32_t *entries, int32_t count, void **table);

// *table = a new copy of `src` (a block made by newRunTable); null for null.
int32_t copyRunTable(const void *src, void **table);

// The entries of a table and their count.
inline int32_t *runTableEntries(void *table) {
    return reinterpret_cast<int32_t *>(static_cast<uint8_t *>(table) + sizeof(RunTableHeader));
}
inline int32_t runTableCount(const void *table) { return static_cast<const RunTableHeader *>(table)->count; }

// The label working label `label` survives as (0: the outer region). Every
// entry passed on the way is pointed at the result, so later look-ups of
// the same chain take one step. A label outside the table stands for itself.
inline int32_t resolveRunLabel(int32_t *entries, int32_t count, int32_t label) {
    if (label < 0 || label >= count) return label;
    int32_t at = label;
    int32_t value = entries[at];
    while (value < 0 && -value < count) {
        at = -value;
        value = entries[at];
    }
    const int32_t result = value < 0 ? -value : value;  // a link leaving the table ends the chain
    const int32_t link = -result;
    at = label;
    while (entries[at] < 0 && at != result) {
        const int32_t next = -entries[at];
        entries[at] = link;
        if (next >= count) break;
        at = next;
    }
    return result;
}

}  // namespace cblob::results

#endif
