// The tables a run-parameters object owns (map, threshMap8, threshMap16) and
// how their contents are replaced in place.
//
// Each table block starts with a small header holding the number of entries
// it was made with; the object's pointer points at the first entry. The
// object's count fields do not say how long every table is (threshMap8 and
// threshMap16 share threshMapSize, and a table kept from an earlier
// segmentation keeps its old length), so the header is what decides whether
// a block can be reused and how much of it may be touched.
//
// Replacing a table is split in two so that a call can first make every
// block it needs (the only steps that can fail) and then install them all:
//
//   cblob::TableReplacement<uint8_t> map(&p->map, source, count);
//   CBLOB_FRAME_TRY(f, map.prepare(f));   // may allocate; registered 0x21
//   ...
//   CBLOB_FRAME_TRY(f, map.commit());     // never allocates
#ifndef CBLOB_CONTAINERS_TABLE_BLOCK_HPP
#define CBLOB_CONTAINERS_TABLE_BLOCK_HPP

#include <cstdint>

#include "cblob/sys.h"
#include "core/frame.hpp"

namespace cblob {
namespace table {

// Bytes in front of the entries: the count, padded to keep the entries
// aligned for any scalar type.
constexpr int64_t kHeaderBytes = 16;

// Allocates a block for `count` entries of `entryBytes` bytes and stores its
// address (the header's, not the entries') in *block. csys_err_badSize for a
// negative count.
int32_t allocateBlock(int64_t count, int64_t entryBytes, void **block);

// The first entry of a block from allocateBlock, and back.
inline void *entriesOf(void *block) { return static_cast<uint8_t *>(block) + kHeaderBytes; }
inline void *blockOf(const void *entries) {
    return const_cast<uint8_t *>(static_cast<const uint8_t *>(entries)) - kHeaderBytes;
}

// The number of entries the table at `entries` was made with; 0 for null.
int64_t countOf(const void *entries);

// Frees the table at *entries (null is a no-op) and sets *entries to null.
template <class T>
int32_t release(T **entries) {
    if (!*entries) return 0;
    void *block = blockOf(*entries);
    *entries = nullptr;
    return csys_memory_free_internal(&block);
}

}  // namespace table

// Replaces the table in *slot by a copy of `count` entries at `source`, or
// releases it when `source` is null. The block is reused when it exists and
// holds exactly `count` entries; otherwise a fresh block is made by
// prepare() and the old one freed by commit(). `source` may point into the
// table being replaced.
template <class T>
class TableReplacement {
public:
    TableReplacement(T **slot, const T *source, int64_t count) : slot_(slot), source_(source), count_(count) {}
    TableReplacement(const TableReplacement &) = delete;
    TableReplacement &operator=(const TableReplacement &) = delete;

    // Makes and fills the fresh block when one is needed. It is registered in
    // the frame as part of the result, so a failing call frees it.
    template <int N>
    int32_t prepare(Frame<N> &f) {
        if (!source_ || (*slot_ && table::countOf(*slot_) == count_)) return 0;
        if (f.fails(table::allocateBlock(count_, static_cast<int64_t>(sizeof(T)), &fresh_))) return f.status;
        f.addMemory(&fresh_, csys_cleanup_resultMemory);
        return csys_memory_copy(bytes(), source_, table::entriesOf(fresh_));
    }

    // Installs the new contents. A fresh block leaves the frame's keeping
    // here (the registered pointer is cleared), so a later failure of the
    // same call cannot free a block the object now owns.
    int32_t commit() {
        if (!source_) return table::release(slot_);
        if (!fresh_) return csys_memory_copy(bytes(), source_, *slot_);
        const int32_t status = table::release(slot_);
        *slot_ = static_cast<T *>(table::entriesOf(fresh_));
        fresh_ = nullptr;
        return status;
    }

private:
    int64_t bytes() const { return count_ * static_cast<int64_t>(sizeof(T)); }

    T **slot_;
    const T *source_;
    int64_t count_;
    void *fresh_ = nullptr;
};

}  // namespace cblob

#endif
