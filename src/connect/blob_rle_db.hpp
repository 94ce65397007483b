// Internals of the blob run-length database: creating its block vectors on
// first use, and moving addresses from a database's blocks to the same
// offsets in the blocks of its copy.
#ifndef CBLOB_CONNECT_BLOB_RLE_DB_HPP
#define CBLOB_CONNECT_BLOB_RLE_DB_HPP

#include <cstdint>

#include "cblob/blob.h"

namespace cblob::connect {

// Creates the database's row block (data block) vector when it is null.
int32_t ensureRowBlocks(cblob_blobRleDb_ *db);
int32_t ensureDataBlocks(cblob_blobRleDb_ *db);

// The blocks of a database's vectors, read directly (the vectors' iteration
// cursors are not touched); an absent vector has no blocks.
inline const cblob_blob_rleRowBlock_ *rowBlockArray(const cblob_blobRleDb_ *db) {
    return db->rowBlocks ? static_cast<const cblob_blob_rleRowBlock_ *>(db->rowBlocks->untyped.begin) : nullptr;
}
inline int64_t rowBlockTotal(const cblob_blobRleDb_ *db) { return db->rowBlocks ? db->rowBlocks->untyped.size : 0; }
inline const cblob_blob_rleDataBlock_ *dataBlockArray(const cblob_blobRleDb_ *db) {
    return db->dataBlocks ? static_cast<const cblob_blob_rleDataBlock_ *>(db->dataBlocks->untyped.begin) : nullptr;
}
inline int64_t dataBlockTotal(const cblob_blobRleDb_ *db) { return db->dataBlocks ? db->dataBlocks->untyped.size : 0; }

// Maps an address inside block i of `from` to the same offset inside block i
// of `to` (the blocks of a database and of its copy, pairwise of one size).
// Look-ups start at the block of the previous hit, so walking addresses in
// block order costs O(1) each.
template <class Block>
class BlockRelocator {
public:
    BlockRelocator(const Block *from, const Block *to, int64_t count) : from_(from), to_(to), count_(count) {}

    // *out = the moved address (null for null); false when p lies in no block.
    template <class T>
    bool map(T *p, T **out) {
        if (!p) {
            *out = nullptr;
            return true;
        }
        const auto at = reinterpret_cast<uintptr_t>(p);
        for (int64_t k = 0; k < count_; ++k) {
            const int64_t i = (hint_ + k) % count_;
            const auto start = reinterpret_cast<uintptr_t>(from_[i].memory);
            if (from_[i].memory && at >= start && at - start < static_cast<uintptr_t>(from_[i].size)) {
                hint_ = i;
                *out = reinterpret_cast<T *>(reinterpret_cast<uint8_t *>(to_[i].memory) + (at - start));
                return true;
            }
        }
        return false;
    }

private:
    const Block *from_;
    const Block *to_;
    int64_t count_;
    int64_t hint_ = 0;
};

using RowRelocator = BlockRelocator<cblob_blob_rleRowBlock_>;
using DataRelocator = BlockRelocator<cblob_blob_rleDataBlock_>;

// The relocator from the row blocks of `from` to those of its copy `to`.
inline RowRelocator rowRelocator(const cblob_blobRleDb_ *from, const cblob_blobRleDb_ *to) {
    return RowRelocator(rowBlockArray(from), rowBlockArray(to), rowBlockTotal(from));
}

}  // namespace cblob::connect

#endif
