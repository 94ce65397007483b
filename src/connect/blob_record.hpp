// Finished blob records and their storage: the 1000-entry blob blocks and
// transform blocks of a result set, the record copy of result-set
// assignment, and the blob's rows in the blob database.
//
// A block is one heap allocation of kCapacity entries followed by an int32
// count of the entries in use. Only the last block of a vector is written;
// when a commit makes its count reach the capacity a new, empty block is
// appended at once, so the last block always has room. Blocks are never
// compacted and entries never move.
#ifndef CBLOB_CONNECT_BLOB_RECORD_HPP
#define CBLOB_CONNECT_BLOB_RECORD_HPP

#include <atomic>
#include <cstdint>

#include "cblob/blob.h"
#include "cblob/result_set.h"

namespace cblob::connect {

// Storage traits of the two kinds of block.
template <class Entry>
struct BlockTraits;
template <>
struct BlockTraits<cblob_blob> {
    using Cell = cblock_of_cblob_blob_ptr;
    using Vector = cstd_vector_cblock_of_cblob_blob_ptr;
    static constexpr int32_t kCapacity = CBLOB_BLOB_BLOCK_CAPACITY;
};
template <>
struct BlockTraits<cmath_xformLinear> {
    using Cell = cblock_of_cblob_xformLinear_ptr;
    using Vector = cstd_vector_cblock_of_cblob_xformLinear_ptr;
    static constexpr int32_t kCapacity = CBLOB_XFORM_BLOCK_CAPACITY;
};

// The count that follows a block's entries.
template <class Entry>
inline int32_t *blockCount(Entry *block) {
    return reinterpret_cast<int32_t *>(block + BlockTraits<Entry>::kCapacity);
}
template <class Entry>
inline const int32_t *blockCount(const Entry *block) {
    return reinterpret_cast<const int32_t *>(block + BlockTraits<Entry>::kCapacity);
}

// Bytes of one block.
template <class Entry>
constexpr int64_t blockBytes() {
    return static_cast<int64_t>(sizeof(Entry)) * BlockTraits<Entry>::kCapacity + static_cast<int64_t>(sizeof(int32_t));
}

using BlobBlocks = cstd_vector_cblock_of_cblob_blob_ptr;
using XformBlocks = cstd_vector_cblock_of_cblob_xformLinear_ptr;

// Blob blocks of a result set that a run is about to clear, kept for the run
// to write its blobs into instead of allocating new blocks. A caller that
// runs image after image through one result set thus writes every run's
// records into the same memory: freeing megabytes of records and
// allocating them again lets the allocator hand the memory back to the
// system in between, and the next run then takes a page fault per page it
// writes (on images with many small blobs that doubled the run's time).
// The blocks keep no content that matters; whatever the run does not use is
// freed when it ends.
//
// The bands of a banded scan take spares concurrently: each takes the next
// cell by an atomic count and leaves it null.
struct SpareBlobBlocks {
    BlobBlocks *blocks = nullptr;  // the cleared result set's block vector
    std::atomic<int64_t> taken{0};  // cells taken from the front
};

// Moves the result set's blob blocks (rs->blobBlocks, which becomes null)
// into *spares, which must be empty. Nothing happens without blocks.
int32_t takeSpareBlobBlocks(cblob_resultSet *rs, SpareBlobBlocks *spares);

// Frees the blocks left in *spares and their vector.
int32_t releaseSpareBlobBlocks(SpareBlobBlocks *spares);

// Appends a new, empty block (count 0) to *blocks; freed again when the push
// fails.
int32_t appendBlobBlock(BlobBlocks *blocks);
int32_t appendXformBlock(XformBlocks *blocks);

// Creates *blocks (a heap vector holding one empty block) when it is null.
int32_t ensureBlobBlocks(BlobBlocks **blocks);
int32_t ensureXformBlocks(XformBlocks **blocks);

// appendBlobBlock and ensureBlobBlocks that take the next block of `spares`
// (may be null) when it has one; a spare whose push fails is freed. Safe
// from several threads with one `spares` (and their own `blocks`).
int32_t appendBlobBlockFrom(BlobBlocks *blocks, SpareBlobBlocks *spares);
int32_t ensureBlobBlocksFrom(BlobBlocks **blocks, SpareBlobBlocks *spares);

// *entry = the next free entry of the last block (the caller fills it, then
// commits). A missing block or a full last block is a broken invariant.
int32_t takeBlobSlot(BlobBlocks *blocks, cblob_blob **entry);
int32_t takeXformSlot(XformBlocks *blocks, cmath_xformLinear **entry);

// Counts the entry taken last; when the count reaches the capacity a new
// block is appended (its failure is returned; the count stays counted).
int32_t commitBlobSlot(BlobBlocks *blocks);
int32_t commitXformSlot(XformBlocks *blocks);

// The number of blocks and the count of block i (tests and assertions).
int32_t getNumBlocks(const BlobBlocks *blocks);
int32_t getBlockCount(const BlobBlocks *blocks, int32_t index);
cblob_blob *getBlock(const BlobBlocks *blocks, int32_t index);
int32_t getNumXformBlocks(const XformBlocks *blocks);
int32_t getXformBlockCount(const XformBlocks *blocks, int32_t index);
cmath_xformLinear *getXformBlock(const XformBlocks *blocks, int32_t index);

// The record copy of result-set assignment: label, colour, box (with centre
// and aspect), grey flag, area, centre of mass, moment fields and both child
// counts are copied; the node kind is set; the owner becomes `owner`; the
// adjacency holder, client transform, cached runs, parent and every child and
// sibling link of both sets are cleared.
int32_t copyBlobRecord(cblob_blob *dst, const cblob_blob *src, cblob_resultSet *owner);

// *rows = the blob's first row entry in the blob database (its cached runs);
// cblob_err_rleImageEmpty while the blob has none. Extraction of the runs on
// first use is the job of the blob geometry queries, which take this over.
int32_t blobRleRows(const cblob_blob *blob, cblob_rleRow **rows);

}  // namespace cblob::connect

#endif
