// Result-set assignment: a deep copy whose blobs, links, view, transforms
// and blob database all belong to the destination.
#include <cstdint>

#include "cblob/result_set.h"
#include "connect/blob_record.hpp"
#include "connect/blob_rle_db.hpp"
#include "core/frame.hpp"
#include "results/blob_run_table.hpp"

namespace {

using cblob::connect::getBlock;
using cblob::connect::getBlockCount;

// Label -> blob of the destination, for rewriting links copied from the
// source. Index 0 is unused; labels run from 1 to numBlobs.
class LabelTable {
public:
    explicit LabelTable(int32_t numBlobs) : numBlobs_(numBlobs) {}
    LabelTable(const LabelTable &) = delete;
    LabelTable &operator=(const LabelTable &) = delete;

    int32_t allocate() {
        return cblob::allocateClear((static_cast<int64_t>(numBlobs_) + 1) * sizeof(cblob_blob *), &table_);
    }
    cblob_blob ***storage() { return &table_; }

    // Enters a destination blob under its label; a label outside 1 ..
    // numBlobs or given twice is a broken invariant.
    bool enter(cblob_blob *blob) {
        if (blob->label < 1 || blob->label > numBlobs_ || table_[blob->label]) return false;
        table_[blob->label] = blob;
        return true;
    }

    // *out = the destination blob with the label of the source blob `link`
    // (null for null); false when the label names no blob.
    bool map(const cblob_blob *link, cblob_blob **out) const {
        if (!link) {
            *out = nullptr;
            return true;
        }
        if (link->label < 1 || link->label > numBlobs_ || !table_[link->label]) return false;
        *out = table_[link->label];
        return true;
    }

private:
    int32_t numBlobs_;
    cblob_blob **table_ = nullptr;
};

// Calls fn(dstBlob, srcBlob) for every pair of records, block by block.
template <class Fn>
bool forEachBlobPair(cblob_resultSet *dst, const cblob_resultSet *src, Fn &&fn) {
    for (int32_t b = 0; b < cblob::connect::getNumBlocks(src->blobBlocks); ++b) {
        cblob_blob *to = getBlock(dst->blobBlocks, b);
        const cblob_blob *from = getBlock(src->blobBlocks, b);
        for (int32_t i = 0; i < getBlockCount(src->blobBlocks, b); ++i) {
            if (!fn(&to[i], &from[i])) return false;
        }
    }
    return true;
}

// Step 2: scalar fields, window, timings, the shared linear transform, the
// shared handles and the kept images' rows.
int32_t copyScalarsAndHandles(cblob_resultSet *dst, const cblob_resultSet *src) {
    cblob::Frame<0> f;
    dst->numBlobs = src->numBlobs;
    dst->numViewBlobs = src->numViewBlobs;
    dst->runWindow = src->runWindow;
    for (int i = 0; i < 4; ++i) dst->runTimings[i] = src->runTimings[i];
    dst->sharedLinearXform = src->sharedLinearXform;
    dst->tableShift = src->tableShift;
    dst->tableMask = src->tableMask;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&dst->sourceImage, &src->sourceImage));
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&dst->maskImage, &src->maskImage));
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&dst->thresholdedImage, &src->thresholdedImage));
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&dst->maskedAndThresholdedImage, &src->maskedAndThresholdedImage));
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_assign(&dst->morphedThresholdedImage, &src->morphedThresholdedImage));
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&dst->clientFromImage, &src->clientFromImage));
    if (src->thresholdedRows) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getRows(&dst->thresholdedImage, &dst->thresholdedRows));
    }
    if (src->maskedRows) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getRows(&dst->maskedAndThresholdedImage, &dst->maskedRows));
    }
    if (src->morphedRows) {
        CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getRows(&dst->morphedThresholdedImage, &dst->morphedRows));
    }
    return f.exit();
}

// Step 3: as many blocks as the source, each record copied, each count kept.
int32_t copyBlobBlocks(cblob_resultSet *dst, const cblob_resultSet *src) {
    cblob::Frame<0> f;
    CBLOB_FRAME_TRY(f, cstd_vector_cblock_of_cblob_blob_ptr_new(&dst->blobBlocks));
    for (int32_t b = 0; b < cblob::connect::getNumBlocks(src->blobBlocks); ++b) {
        CBLOB_FRAME_TRY(f, cblob::connect::appendBlobBlock(dst->blobBlocks));
        cblob_blob *to = getBlock(dst->blobBlocks, b);
        const cblob_blob *from = getBlock(src->blobBlocks, b);
        const int32_t count = getBlockCount(src->blobBlocks, b);
        for (int32_t i = 0; i < count; ++i) CBLOB_FRAME_TRY(f, cblob::connect::copyBlobRecord(&to[i], &from[i], dst));
        *cblob::connect::blockCount(to) = count;
    }
    return f.exit();
}

// Step 4: every link of both sets points at the destination's blob of the
// same label.
bool rewriteLinks(cblob_resultSet *dst, const cblob_resultSet *src, const LabelTable &labels) {
    return forEachBlobPair(dst, src, [&](cblob_blob *to, const cblob_blob *from) {
        return labels.map(from->parent, &to->parent) && labels.map(from->firstChild, &to->firstChild) &&
               labels.map(from->lastChild, &to->lastChild) && labels.map(from->nextSibling, &to->nextSibling) &&
               labels.map(from->prevSibling, &to->prevSibling) &&
               labels.map(from->curFirstChild, &to->curFirstChild) &&
               labels.map(from->curLastChild, &to->curLastChild) &&
               labels.map(from->curNextSibling, &to->curNextSibling) &&
               labels.map(from->curPrevSibling, &to->curPrevSibling);
    });
}

// Step 5: blobs on the shared linear transform point at the destination's;
// every other transform is copied into the destination's transform blocks.
int32_t copyTransforms(cblob_resultSet *dst, const cblob_resultSet *src) {
    cblob::Frame<0> f;
    if (src->xformBlocks) CBLOB_FRAME_TRY(f, cblob::connect::ensureXformBlocks(&dst->xformBlocks));
    forEachBlobPair(dst, src, [&](cblob_blob *to, const cblob_blob *from) {
        if (!from->clientFromImage) return true;
        if (from->clientFromImage == &src->sharedLinearXform) {
            to->clientFromImage = &dst->sharedLinearXform;
            return true;
        }
        cmath_xformLinear *entry = nullptr;
        if (f.fails(cblob::connect::ensureXformBlocks(&dst->xformBlocks)) ||
            f.fails(cblob::connect::takeXformSlot(dst->xformBlocks, &entry))) {
            return false;
        }
        *entry = *from->clientFromImage;
        to->clientFromImage = entry;
        return !f.fails(cblob::connect::commitXformSlot(dst->xformBlocks));
    });
    return f.exit();
}

// Copies `count` source blob pointers through the label table into a new
// array of `capacity` entries.
int32_t mapBlobArray(cblob_blob ***out, cblob_blob *const *from, int32_t count, int32_t capacity,
                     const LabelTable &labels) {
    cblob::Frame<1> f;
    if (!from || capacity <= 0) return f.exit();
    cblob_blob **array = nullptr;
    CBLOB_FRAME_TRY(f, cblob::allocate(static_cast<int64_t>(capacity) * sizeof(cblob_blob *), &array));
    f.addMemory(&array, csys_cleanup_resultMemory);
    for (int32_t i = 0; i < count; ++i) CBLOB_FRAME_REQUIRE(f, labels.map(from[i], &array[i]));
    *out = array;
    return f.exit();
}

// Step 6: the all-blobs array, the view in the source's order, and both
// first top-level blobs.
int32_t mapArrays(cblob_resultSet *dst, const cblob_resultSet *src, const LabelTable &labels) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, src->numViewBlobs >= 0 && src->numViewBlobs <= src->numBlobs);
    CBLOB_FRAME_TRY(f, mapBlobArray(&dst->allBlobs, src->allBlobs, src->numBlobs, src->numBlobs, labels));
    CBLOB_FRAME_TRY(f, mapBlobArray(&dst->view, src->view, src->numViewBlobs, src->numBlobs, labels));
    CBLOB_FRAME_REQUIRE(f, labels.map(src->firstTopLevelBlob, &dst->firstTopLevelBlob));
    CBLOB_FRAME_REQUIRE(f, labels.map(src->viewFirstTopLevelBlob, &dst->viewFirstTopLevelBlob));
    return f.exit();
}

// Step 7: a copy of the source's blob database, held by the destination's
// handle, with every blob's cached runs moved into the copy.
int32_t copyDatabase(cblob_resultSet *dst, const cblob_resultSet *src) {
    cblob::Frame<1> f;
    if (!src->blobDb) return f.exit();
    cblob_blobRleDb_ *db = nullptr;
    CBLOB_FRAME_TRY(f, cblob::allocate(static_cast<int64_t>(sizeof(*db)), &db));
    const int32_t id = f.addMemory(&db, csys_cleanup_tempMemory);
    CBLOB_FRAME_TRY(f, cblob_blobRleDb__constructCopy(db, src->blobDb));
    // From here the handle owns the database: its last release ends it.
    f.handOver(id);
    CBLOB_FRAME_TRY(f, cblob_blobRleDb_Ptrh_attach(&dst->blobDbHandle, db));
    dst->blobDb = db;
    cblob::connect::RowRelocator rows = cblob::connect::rowRelocator(src->blobDb, db);
    CBLOB_FRAME_REQUIRE(f, forEachBlobPair(dst, src, [&](cblob_blob *to, const cblob_blob *from) {
                            return rows.map(from->cachedRuns, &to->cachedRuns);
                        }));
    return f.exit();
}

// Steps 3 to 9 on the cleared destination.
int32_t copyInto(cblob_resultSet *dst, const cblob_resultSet *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_TRY(f, copyScalarsAndHandles(dst, src));
    CBLOB_FRAME_TRY(f, copyBlobBlocks(dst, src));
    LabelTable labels(src->numBlobs);
    CBLOB_FRAME_TRY(f, labels.allocate());
    f.addMemory(labels.storage(), csys_cleanup_tempMemory);
    CBLOB_FRAME_REQUIRE(f, forEachBlobPair(dst, src, [&](cblob_blob *to, const cblob_blob *) {
                            return labels.enter(to);
                        }));
    CBLOB_FRAME_REQUIRE(f, rewriteLinks(dst, src, labels));
    CBLOB_FRAME_TRY(f, copyTransforms(dst, src));
    CBLOB_FRAME_TRY(f, mapArrays(dst, src, labels));
    CBLOB_FRAME_TRY(f, copyDatabase(dst, src));
    if (src->runLabels) CBLOB_FRAME_TRY(f, cstd_vector32s_newClone(&dst->runLabels, src->runLabels));
    if (src->runLabelLists) CBLOB_FRAME_TRY(f, cstd_vector_vector32s_newClone(&dst->runLabelLists, src->runLabelLists));
    // The copy extracts runs of its own blobs from the shared labelled image.
    CBLOB_FRAME_TRY(f, cblob::results::copyRunTable(src->runTable, &dst->runTable));
    cblob_resultSetPostProcessing_ *pp = nullptr;
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing__newClone(&pp, src->postProcessing));
    cblob_resultSetPostProcessing_ *old = dst->postProcessing;
    dst->postProcessing = pp;
    CBLOB_FRAME_TRY(f, cblob_resultSetPostProcessing__delete(&old));
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_resultSet_assign(cblob_resultSet *dst, const cblob_resultSet *src) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, dst);
    CBLOB_FRAME_REQUIRE(f, src);
    if (dst == src) return f.exit();
    CBLOB_FRAME_REQUIRE(f, src->postProcessing);
    CBLOB_FRAME_TRY(f, cblob_resultSet_clear(dst));
    if (!src->blobBlocks) return f.exit();
    // Whatever the copy built belongs to dst; a failure clears it again.
    f.addObject<&cblob_resultSet_clear>(dst, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, copyInto(dst, src));
    return f.exit();
}

}  // extern "C"
