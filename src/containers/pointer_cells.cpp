// The pointer cells used as vector elements: one pointer each, copied
// shallowly, never freeing what they point to.
#include "cblob/containers.h"
#include "containers/typed_vector.hpp"
#include "core/frame.hpp"

namespace {

template <class Cell>
int32_t constructNull(Cell *cell) {
    cell->ptr = nullptr;
    return 0;
}

// Blob and transform cells only borrow their pointer: ending one leaves it.
template <class Cell>
int32_t leavePointer(Cell *) {
    return 0;
}

// An adjacency chain cell forgets its block when it ends; whoever keeps the
// cells frees the blocks.
template <class Cell>
int32_t forgetPointer(Cell *cell) {
    cell->ptr = nullptr;
    return 0;
}

// An adjacency chain cell starts with a fresh block of its own; the block
// belongs to whoever keeps the cells, not to the cell.
int32_t constructWithAdjBlock(cblock_of_cblob_adjBlockChain__ptr *cell) {
    cell->ptr = nullptr;
    return cblob::allocate(CBLOB_ADJ_BLOCK_CHAIN_BYTES, &cell->ptr);
}

}  // namespace

CBLOB_POINTER_CELL_DEFINE(cblock_of_cblob_blob_ptr, constructNull, leavePointer)
CBLOB_POINTER_CELL_DEFINE(cblock_of_cblob_xformLinear_ptr, constructNull, leavePointer)
CBLOB_POINTER_CELL_DEFINE(cblock_of_cblob_adjBlockChain__ptr, constructWithAdjBlock, forgetPointer)
