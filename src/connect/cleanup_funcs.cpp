// Clean-up functions for arrays of blocks and of blob images: each releases
// what its elements point to, skips null entries and stops at the first
// failing release. None frees the array itself.
#include <cstdint>

#include "cblob/blob.h"
#include "core/frame.hpp"

namespace {

// Frees the block that member `memory` of every element of *blocks points
// to (and nulls it).
template <class Vector, class Element, class Pointee>
int32_t freeEachBlock(Vector *blocks, Pointee *Element::*memory) {
    CBLOB_REQUIRE_ARG(blocks);
    auto *elements = static_cast<Element *>(blocks->untyped.begin);
    int32_t status = 0;
    for (int64_t i = 0; i < blocks->untyped.size && !CBLOB_FAILED(status); ++i) {
        if (elements[i].*memory) status = cblob::release(&(elements[i].*memory));
    }
    return status;
}

// Runs `each` on every inner vector of *outer.
template <class Outer, class Inner>
int32_t forEachInner(Outer *outer, int32_t (*each)(Inner *)) {
    CBLOB_REQUIRE_ARG(outer);
    auto *inner = static_cast<Inner *>(outer->untyped.begin);
    int32_t status = 0;
    for (int64_t i = 0; i < outer->untyped.size && !CBLOB_FAILED(status); ++i) status = each(&inner[i]);
    return status;
}

}  // namespace

extern "C" {

int32_t _cleanupFuncImageRles(cblob_blobRleDb_ *db) {
    CBLOB_REQUIRE_ARG(db);
    auto *images = static_cast<cblob_imageRle *>(db->images.untyped.begin);
    int32_t status = 0;
    for (int64_t i = 0; i < db->images.untyped.size && !CBLOB_FAILED(status); ++i) {
        status = cblob_imageRle_destruct(&images[i]);
    }
    return status;
}

int32_t _cleanupFuncRleRowBlockVect(cstd_vector_cblob_blob_rleRowBlock_ *blocks) {
    return freeEachBlock(blocks, &cblob_blob_rleRowBlock_::memory);
}

int32_t _cleanupFuncRleDataBlockVect(cstd_vector_cblob_blob_rleDataBlock_ *blocks) {
    return freeEachBlock(blocks, &cblob_blob_rleDataBlock_::memory);
}

int32_t _cleanupFuncRleRowBlockVectVect(cstd_vector_vector_cblob_blob_rleRowBlock_ *blocks) {
    return forEachInner(blocks, &_cleanupFuncRleRowBlockVect);
}

int32_t _cleanupFuncRleDataBlockVectVect(cstd_vector_vector_cblob_blob_rleDataBlock_ *blocks) {
    return forEachInner(blocks, &_cleanupFuncRleDataBlockVect);
}

int32_t _cleanupFuncBlobPtrVect(cstd_vector_cblock_of_cblob_blob_ptr *blocks) {
    return freeEachBlock(blocks, &cblock_of_cblob_blob_ptr::ptr);
}

int32_t _cleanupFuncBlobXformPtrVect(cstd_vector_cblock_of_cblob_xformLinear_ptr *blocks) {
    return freeEachBlock(blocks, &cblock_of_cblob_xformLinear_ptr::ptr);
}

}  // extern "C"
