// Blob blocks and transform blocks: 1000 entries and a count per block,
// written only at the end of the last block, a new block appended as soon
// as one fills.
#include <cstdint>
#include <type_traits>

#include "connect/blob_record.hpp"
#include "core/frame.hpp"

namespace cblob::connect {
namespace {

template <class Entry>
using VectorOf = typename BlockTraits<Entry>::Vector;
template <class Entry>
using CellOf = typename BlockTraits<Entry>::Cell;

template <class Entry>
CellOf<Entry> *cells(const VectorOf<Entry> *blocks) {
    return static_cast<CellOf<Entry> *>(blocks->untyped.begin);
}
template <class Entry>
int32_t cellTotal(const VectorOf<Entry> *blocks) {
    return static_cast<int32_t>(blocks->untyped.size);
}

// The typed heap-vector functions of each kind of block vector.
int32_t newBlockVector(BlobBlocks **p) { return cstd_vector_cblock_of_cblob_blob_ptr_new(p); }
int32_t newBlockVector(XformBlocks **p) { return cstd_vector_cblock_of_cblob_xformLinear_ptr_new(p); }
int32_t deleteBlockVector(BlobBlocks **p) { return cstd_vector_cblock_of_cblob_blob_ptr_delete(p); }
int32_t deleteBlockVector(XformBlocks **p) { return cstd_vector_cblock_of_cblob_xformLinear_ptr_delete(p); }

// Takes the next block of the spares (null when there is none left); its
// cell is left null.
cblob_blob *takeSpare(SpareBlobBlocks *spares) {
    if (!spares || !spares->blocks) return nullptr;
    const int64_t index = spares->taken.fetch_add(1, std::memory_order_relaxed);
    if (index >= static_cast<int64_t>(spares->blocks->untyped.size)) return nullptr;
    CellOf<cblob_blob> &cell = cells<cblob_blob>(spares->blocks)[index];
    cblob_blob *block = cell.ptr;
    cell.ptr = nullptr;
    return block;
}

// Appends an empty block: `spare` when given (freed when the push fails),
// else a new one.
template <class Entry>
int32_t appendBlock(VectorOf<Entry> *blocks, Entry *spare = nullptr) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, blocks);
    CellOf<Entry> cell{spare};
    if (cell.ptr) {
        f.addMemory(&cell.ptr, csys_cleanup_resultMemory);
        *blockCount(cell.ptr) = 0;
        CBLOB_FRAME_TRY(f, cstd_vector__pushBack(&blocks->untyped, &cell));
        return f.exit();
    }
    CBLOB_FRAME_TRY(f, allocate(blockBytes<Entry>(), &cell.ptr));
    const int32_t id = f.addMemory(&cell.ptr, csys_cleanup_tempMemory);
    *blockCount(cell.ptr) = 0;
    CBLOB_FRAME_TRY(f, cstd_vector__pushBack(&blocks->untyped, &cell));
    f.handOver(id);
    return f.exit();
}

template <class Entry>
int32_t ensureBlocks(VectorOf<Entry> **blocks, SpareBlobBlocks *spares = nullptr) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, blocks);
    if (*blocks) return f.exit();
    VectorOf<Entry> *fresh = nullptr;
    CBLOB_FRAME_TRY(f, newBlockVector(&fresh));
    f.addObject<static_cast<int32_t (*)(VectorOf<Entry> **)>(&deleteBlockVector)>(&fresh, csys_cleanup_tempObject);
    Entry *spare = nullptr;
    if constexpr (std::is_same_v<Entry, cblob_blob>) spare = takeSpare(spares);
    CBLOB_FRAME_TRY(f, appendBlock<Entry>(fresh, spare));
    *blocks = fresh;
    fresh = nullptr;  // *blocks owns it: the cleanup entry finds null
    return f.exit();
}

template <class Entry>
Entry *lastBlock(const VectorOf<Entry> *blocks) {
    const int32_t n = cellTotal<Entry>(blocks);
    return n > 0 ? cells<Entry>(blocks)[n - 1].ptr : nullptr;
}

template <class Entry>
int32_t takeSlot(VectorOf<Entry> *blocks, Entry **entry) {
    CBLOB_REQUIRE_ARG(blocks);
    CBLOB_REQUIRE_ARG(entry);
    Entry *block = lastBlock<Entry>(blocks);
    CBLOB_REQUIRE_ARG(block);
    const int32_t count = *blockCount(block);
    CBLOB_REQUIRE_ARG(count >= 0 && count < BlockTraits<Entry>::kCapacity);
    *entry = block + count;
    return 0;
}

template <class Entry>
int32_t commitSlot(VectorOf<Entry> *blocks) {
    CBLOB_REQUIRE_ARG(blocks);
    Entry *block = lastBlock<Entry>(blocks);
    CBLOB_REQUIRE_ARG(block);
    int32_t *count = blockCount(block);
    CBLOB_REQUIRE_ARG(*count >= 0 && *count < BlockTraits<Entry>::kCapacity);
    if (++*count < BlockTraits<Entry>::kCapacity) return 0;
    return appendBlock<Entry>(blocks);
}

template <class Entry>
Entry *blockAt(const VectorOf<Entry> *blocks, int32_t index) {
    if (!blocks || index < 0 || index >= cellTotal<Entry>(blocks)) return nullptr;
    return cells<Entry>(blocks)[index].ptr;
}

template <class Entry>
int32_t countAt(const VectorOf<Entry> *blocks, int32_t index) {
    const Entry *block = blockAt<Entry>(blocks, index);
    return block ? *blockCount(block) : -1;
}

}  // namespace

int32_t takeSpareBlobBlocks(cblob_resultSet *rs, SpareBlobBlocks *spares) {
    CBLOB_REQUIRE_ARG(rs);
    CBLOB_REQUIRE_ARG(spares && !spares->blocks);
    spares->blocks = rs->blobBlocks;
    spares->taken.store(0, std::memory_order_relaxed);
    rs->blobBlocks = nullptr;
    return 0;
}

int32_t releaseSpareBlobBlocks(SpareBlobBlocks *spares) {
    CBLOB_REQUIRE_ARG(spares);
    if (!spares->blocks) return 0;
    const int32_t status = _cleanupFuncBlobPtrVect(spares->blocks);
    if (CBLOB_FAILED(status)) return status;
    return cstd_vector_cblock_of_cblob_blob_ptr_delete(&spares->blocks);
}

int32_t appendBlobBlock(BlobBlocks *blocks) { return appendBlock<cblob_blob>(blocks); }
int32_t appendBlobBlockFrom(BlobBlocks *blocks, SpareBlobBlocks *spares) {
    return appendBlock<cblob_blob>(blocks, takeSpare(spares));
}
int32_t appendXformBlock(XformBlocks *blocks) { return appendBlock<cmath_xformLinear>(blocks); }
int32_t ensureBlobBlocks(BlobBlocks **blocks) { return ensureBlocks<cblob_blob>(blocks); }
int32_t ensureBlobBlocksFrom(BlobBlocks **blocks, SpareBlobBlocks *spares) {
    return ensureBlocks<cblob_blob>(blocks, spares);
}
int32_t ensureXformBlocks(XformBlocks **blocks) { return ensureBlocks<cmath_xformLinear>(blocks); }
int32_t takeBlobSlot(BlobBlocks *blocks, cblob_blob **entry) { return takeSlot(blocks, entry); }
int32_t takeXformSlot(XformBlocks *blocks, cmath_xformLinear **entry) { return takeSlot(blocks, entry); }
int32_t commitBlobSlot(BlobBlocks *blocks) { return commitSlot<cblob_blob>(blocks); }
int32_t commitXformSlot(XformBlocks *blocks) { return commitSlot<cmath_xformLinear>(blocks); }
int32_t getNumBlocks(const BlobBlocks *blocks) { return blocks ? cellTotal<cblob_blob>(blocks) : 0; }
int32_t getBlockCount(const BlobBlocks *blocks, int32_t index) { return countAt<cblob_blob>(blocks, index); }
cblob_blob *getBlock(const BlobBlocks *blocks, int32_t index) { return blockAt<cblob_blob>(blocks, index); }
int32_t getNumXformBlocks(const XformBlocks *blocks) { return blocks ? cellTotal<cmath_xformLinear>(blocks) : 0; }
int32_t getXformBlockCount(const XformBlocks *blocks, int32_t index) {
    return countAt<cmath_xformLinear>(blocks, index);
}
cmath_xformLinear *getXformBlock(const XformBlocks *blocks, int32_t index) {
    return blockAt<cmath_xformLinear>(blocks, index);
}

}  // namespace cblob::connect
