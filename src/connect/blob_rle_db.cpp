// The blob run-length database: construct, deep copy, clear, destruct, and
// the shared-count descriptor that ends it with its last handle.
#include <cstdint>
#include <cstring>

#include "cblob/blob.h"
#include "connect/blob_rle_db.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"

namespace {

// Destroy function of the shared count: the database lives in a block of
// the memory service, which is freed after the database is destructed.
int32_t destroyDatabase(void *owner) {
    auto *db = static_cast<cblob_blobRleDb_ *>(owner);
    const int32_t status = cblob_blobRleDb__destruct(db);
    cblob::release(&db);
    return status;
}

// Copies every data block of src into db, cursors at the same offsets.
int32_t copyDataBlocks(cblob_blobRleDb_ *db, const cblob_blobRleDb_ *src) {
    if (!src->dataBlocks) return 0;
    int32_t status = cblob::connect::ensureDataBlocks(db);
    const cblob_blob_rleDataBlock_ *from = cblob::connect::dataBlockArray(src);
    for (int64_t i = 0; i < cblob::connect::dataBlockTotal(src) && !CBLOB_FAILED(status); ++i) {
        uint8_t *memory = nullptr;
        cblob_blob_rleDataBlock_ *block = nullptr;
        status = cblob_blobRleDb__addDataBlock(from[i].size, &memory, &block, db->dataBlocks);
        if (CBLOB_FAILED(status)) break;
        if (from[i].memory) std::memcpy(memory, from[i].memory, static_cast<size_t>(from[i].size));
        block->cursor = from[i].cursor ? memory + (from[i].cursor - from[i].memory) : nullptr;
        block->entries = from[i].entries;
    }
    return status;
}

// Copies every row block of src into db, each used entry's run pointer moved
// into db's data blocks.
int32_t copyRowBlocks(cblob_blobRleDb_ *db, const cblob_blobRleDb_ *src) {
    if (!src->rowBlocks) return 0;
    int32_t status = cblob::connect::ensureRowBlocks(db);
    const cblob_blob_rleRowBlock_ *from = cblob::connect::rowBlockArray(src);
    cblob::connect::DataRelocator runs(cblob::connect::dataBlockArray(src), cblob::connect::dataBlockArray(db),
                                       cblob::connect::dataBlockTotal(src));
    for (int64_t i = 0; i < cblob::connect::rowBlockTotal(src) && !CBLOB_FAILED(status); ++i) {
        cblob_blob_rleRowBlock_ *block = nullptr;
        status = cblob_blobRleDb__addRowBlock(from[i].size, &block, db->rowBlocks);
        if (CBLOB_FAILED(status)) break;
        block->used = from[i].used;
        for (int32_t r = 0; r < from[i].used && !CBLOB_FAILED(status); ++r) {
            block->memory[r] = from[i].memory[r];
            if (!runs.map(from[i].memory[r].runs, &block->memory[r].runs)) {
                cstd_assert_(__LINE__);  // a row whose bytes lie in no data block
                status = csys_err_assertFailed;
            }
        }
    }
    return status;
}

// Constructs raw *dst as the copy of src's image living in the copy db:
// borrowed rows move into db's row blocks, owned storage is copied.
int32_t copyImage(cblob_imageRle *dst, const cblob_imageRle *src, cblob_blobRleDb_ *db,
                  cblob::connect::RowRelocator &rows) {
    cblob::Frame<1> f;
    CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(dst));
    f.addObject<&cblob_imageRle_destruct>(dst, csys_cleanup_resultObject);
    dst->offsetX = src->offsetX;
    dst->offsetY = src->offsetY;
    dst->width = src->width;
    dst->height = src->height;
    dst->numRuns = src->numRuns;
    dst->isGrey = src->isGrey;
    dst->isBlobImage = src->isBlobImage;
    if (src->data) {
        CBLOB_FRAME_TRY(f, cblob::rle::newStorageCopy(&dst->data, src->data));
        dst->rows = cblob::rle::rowTable(dst->data);
    } else if (src->rows) {
        CBLOB_FRAME_REQUIRE(f, rows.map(src->rows, &dst->rows));
        dst->db = db;
    }
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&dst->imageFromClient, &src->imageFromClient));
    return f.exit();
}

int32_t copyImages(cblob_blobRleDb_ *db, const cblob_blobRleDb_ *src) {
    const int64_t n = src->images.untyped.size;
    if (n == 0) return 0;
    int32_t status = cstd_vector_cblob_imageRle_resize(&db->images, n);
    const auto *from = static_cast<const cblob_imageRle *>(src->images.untyped.begin);
    auto *to = static_cast<cblob_imageRle *>(db->images.untyped.begin);
    cblob::connect::RowRelocator rows = cblob::connect::rowRelocator(src, db);
    for (int64_t i = 0; i < n && !CBLOB_FAILED(status); ++i) {
        if (from[i].constructed == 1) status = copyImage(&to[i], &from[i], db, rows);
    }
    return status;
}

}  // namespace

extern "C" {

const cstd_sharedDescriptor shBlobRleDb_Vtable_ = {nullptr, nullptr, &destroyDatabase};

int32_t cblob_blobRleDb__construct(cblob_blobRleDb_ *db) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, db);
    db->rowBlocks = nullptr;
    db->dataBlocks = nullptr;
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_imageRle_constructEmpty(&db->images));
    f.addObject<&cstd_vector_cblob_imageRle_destruct>(&db->images, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cstd_shared_initCustom(&db->shared, db, &shBlobRleDb_Vtable_));
    return f.exit();
}

int32_t cblob_blobRleDb__constructCopy(cblob_blobRleDb_ *db, const cblob_blobRleDb_ *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, db);
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, db != src);
    CBLOB_FRAME_TRY(f, cblob_blobRleDb__construct(db));
    f.addObject<&cblob_blobRleDb__destruct>(db, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, copyDataBlocks(db, src));
    CBLOB_FRAME_TRY(f, copyRowBlocks(db, src));
    CBLOB_FRAME_TRY(f, copyImages(db, src));
    return f.exit();
}

int32_t cblob_blobRleDb__clear(cblob_blobRleDb_ *db) {
    CBLOB_REQUIRE_ARG(db);
    int32_t status = 0;
    if (db->rowBlocks) {
        if (CBLOB_FAILED(status = _cleanupFuncRleRowBlockVect(db->rowBlocks))) return status;
        if (CBLOB_FAILED(status = cstd_vector_cblob_blob_rleRowBlock__delete(&db->rowBlocks))) return status;
    }
    if (db->dataBlocks) {
        if (CBLOB_FAILED(status = _cleanupFuncRleDataBlockVect(db->dataBlocks))) return status;
        if (CBLOB_FAILED(status = cstd_vector_cblob_blob_rleDataBlock__delete(&db->dataBlocks))) return status;
    }
    if (CBLOB_FAILED(status = _cleanupFuncImageRles(db))) return status;
    return cstd_vector_cblob_imageRle_resize(&db->images, 0);
}

int32_t cblob_blobRleDb__destruct(cblob_blobRleDb_ *db) {
    CBLOB_REQUIRE_ARG(db);
    const int32_t status = cblob_blobRleDb__clear(db);
    if (CBLOB_FAILED(status)) return status;
    return cstd_vector_cblob_imageRle_destruct(&db->images);
}

}  // extern "C"

namespace cblob::connect {

int32_t ensureRowBlocks(cblob_blobRleDb_ *db) {
    CBLOB_REQUIRE_ARG(db);
    return db->rowBlocks ? 0 : cstd_vector_cblob_blob_rleRowBlock__new(&db->rowBlocks);
}

int32_t ensureDataBlocks(cblob_blobRleDb_ *db) {
    CBLOB_REQUIRE_ARG(db);
    return db->dataBlocks ? 0 : cstd_vector_cblob_blob_rleDataBlock__new(&db->dataBlocks);
}

}  // namespace cblob::connect
