// Row blocks and data blocks of the blob run-length database: adding a
// block, and the value operations of a data block record.
#include <cstdint>

#include "cblob/blob.h"
#include "core/frame.hpp"

extern "C" {

int32_t cblob_blobRleDb__addRowBlock(int32_t byteSize, cblob_blob_rleRowBlock_ **element,
                                     cstd_vector_cblob_blob_rleRowBlock_ *blocks) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, element);
    CBLOB_FRAME_REQUIRE(f, blocks);
    CBLOB_FRAME_REQUIRE(f, byteSize >= 0 && byteSize % static_cast<int32_t>(sizeof(cblob_rleRow)) == 0);
    cblob_blob_rleRowBlock_ block{nullptr, byteSize, 0};
    CBLOB_FRAME_TRY(f, cblob::allocate(byteSize, &block.memory));
    const int32_t id = f.addMemory(&block.memory, csys_cleanup_tempMemory);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_blob_rleRowBlock__pushBack(blocks, &block));
    f.handOver(id);
    *element = static_cast<cblob_blob_rleRowBlock_ *>(blocks->untyped.begin) + (blocks->untyped.size - 1);
    return f.exit();
}

int32_t cblob_blobRleDb__addDataBlock(int32_t byteSize, uint8_t **memory, cblob_blob_rleDataBlock_ **element,
                                      cstd_vector_cblob_blob_rleDataBlock_ *blocks) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, memory);
    CBLOB_FRAME_REQUIRE(f, element);
    CBLOB_FRAME_REQUIRE(f, blocks);
    CBLOB_FRAME_REQUIRE(f, byteSize >= 0);
    cblob_blob_rleDataBlock_ block{nullptr, nullptr, byteSize, 0};
    CBLOB_FRAME_TRY(f, cblob::allocate(byteSize, &block.memory));
    const int32_t id = f.addMemory(&block.memory, csys_cleanup_tempMemory);
    block.cursor = block.memory;
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_blob_rleDataBlock__pushBack(blocks, &block));
    f.handOver(id);
    *memory = block.memory;
    *element = static_cast<cblob_blob_rleDataBlock_ *>(blocks->untyped.begin) + (blocks->untyped.size - 1);
    return f.exit();
}

int32_t cblob_blob_rleDataBlock__construct(cblob_blob_rleDataBlock_ *block) {
    CBLOB_REQUIRE_ARG(block);
    *block = cblob_blob_rleDataBlock_{nullptr, nullptr, 0, 0};
    return 0;
}

int32_t cblob_blob_rleDataBlock__constructCopy(cblob_blob_rleDataBlock_ *block, const cblob_blob_rleDataBlock_ *src) {
    CBLOB_REQUIRE_ARG(block);
    CBLOB_REQUIRE_ARG(src);
    *block = *src;
    return 0;
}

int32_t cblob_blob_rleDataBlock__assign(cblob_blob_rleDataBlock_ *block, const cblob_blob_rleDataBlock_ *src) {
    CBLOB_REQUIRE_ARG(block);
    CBLOB_REQUIRE_ARG(src);
    *block = *src;
    return 0;
}

int32_t cblob_blob_rleDataBlock__destruct(cblob_blob_rleDataBlock_ *block) {
    CBLOB_REQUIRE_ARG(block);
    return 0;
}

}  // extern "C"
