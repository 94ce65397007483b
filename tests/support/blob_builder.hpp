// Builds result sets the way a connectivity scan and the run pipeline do,
// through the library's own internal calls: working records from a pool
// linked under an outer region, finished children-first into blob records,
// a blob database holding each blob's rows, and the result set's arrays
// filled in the pipeline's order. Every builder returns the first failing
// status and leaves what it made to the result set's clear, so the builders
// can run under injected allocation failures.
#ifndef CBLOB_TESTS_BLOB_BUILDER_HPP
#define CBLOB_TESTS_BLOB_BUILDER_HPP

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "cblob/result_set.h"
#include "connect/blob_internal_pool.hpp"
#include "connect/blob_record.hpp"
#include "connect/blob_rle_db.hpp"
#include "connect/region_tree.hpp"
#include "support/rle_model.hpp"

#define BLOBTEST_TRY(expr)                                  \
    do {                                                    \
        const int32_t blobtestStatus_ = (expr);             \
        if (CBLOB_FAILED(blobtestStatus_)) return blobtestStatus_; \
    } while (0)

namespace blobtest {

// Runs fn at scope exit.
struct Finally {
    std::function<void()> fn;
    ~Finally() { fn(); }
};

// A tree of regions: parents[i] is the index of node i's parent (-1: the
// outer region); a parent comes before its children.
using Tree = std::vector<int32_t>;

// The deterministic fields of the blob with a given label.
inline void fillBlobFields(cblob_blob *b) {
    const int32_t l = b->label;
    b->boxLeft = l % 7;
    b->boxTop = l % 5;
    b->boxWidth = 1 + l % 4;
    b->boxHeight = 1 + l % 3;
    b->boxCenterX = b->boxLeft + b->boxWidth / 2.0;
    b->boxCenterY = b->boxTop + b->boxHeight / 2.0;
    b->boxAspect = static_cast<double>(b->boxHeight) / b->boxWidth;
    b->isGrey = l % 2;
    b->area = 1.5 * l;
    b->centerOfMassX = l + 0.25;
    b->centerOfMassY = l + 0.75;
    b->momentsValid = 1;
    b->inertiaX = 2.0 * l;
    b->inertiaY = 3.0 * l;
    b->inertiaMin = 1.0 * l;
    b->inertiaMax = 4.0 * l;
    b->elongation = 4.0;
    b->angle = 0.001 * l;
}

// Finishing order of a tree: children before their parent, siblings in order.
inline std::vector<int32_t> postOrder(const Tree &tree) {
    std::vector<std::vector<int32_t>> children(tree.size());
    std::vector<int32_t> roots;
    for (size_t i = 0; i < tree.size(); ++i) {
        (tree[i] < 0 ? roots : children[tree[i]]).push_back(static_cast<int32_t>(i));
    }
    std::vector<int32_t> order;
    std::function<void(int32_t)> visit = [&](int32_t n) {
        for (int32_t c : children[n]) visit(c);
        order.push_back(n);
    };
    for (int32_t r : roots) visit(r);
    return order;
}

// Scan and finishing steps for a tree: each finished blob gets the next
// label; its transform is either the result set's shared linear transform or
// its own entry in the transform blocks.
inline int32_t buildTree(cblob_resultSet *rs, const Tree &tree, bool perBlobXforms) {
    using namespace cblob::connect;
    BlobInternalPool pool;
    BLOBTEST_TRY(poolConstruct(&pool, 20));
    Finally endPool{[&] { poolDestruct(&pool); }};
    cblob_blob_internal_ *outer = nullptr;
    BLOBTEST_TRY(poolOpen(&pool, &outer));
    std::memset(outer, 0, sizeof(*outer));
    outer->nodeKind = &kWorkingNodeKind;
    std::vector<cblob_blob_internal_ *> nodes(tree.size(), nullptr);
    std::vector<int32_t> depth(tree.size(), 0);
    for (size_t i = 0; i < tree.size(); ++i) {
        BLOBTEST_TRY(poolOpen(&pool, &nodes[i]));
        cblob_blob_internal_ *n = nodes[i];
        std::memset(n, 0, sizeof(*n));
        n->nodeKind = &kWorkingNodeKind;
        n->label = static_cast<int32_t>(i) + 1;
        depth[i] = tree[i] < 0 ? 0 : depth[tree[i]] + 1;
        n->colour = static_cast<uint8_t>(depth[i] % 2 == 0 ? 1 : 0);
        BLOBTEST_TRY(appendChild(tree[i] < 0 ? outer : nodes[tree[i]], n));
    }
    BLOBTEST_TRY(ensureBlobBlocks(&rs->blobBlocks));
    if (perBlobXforms) BLOBTEST_TRY(ensureXformBlocks(&rs->xformBlocks));
    rs->sharedLinearXform = cmath_xformLinear{{2.0, 0.0, 0.0, 2.0}, 5.0, 6.0};
    for (int32_t i : postOrder(tree)) {
        cblob_blob *b = nullptr;
        BLOBTEST_TRY(takeBlobSlot(rs->blobBlocks, &b));
        std::memset(b, 0, sizeof(*b));
        b->nodeKind = &cblob_blob_external_vtable_;
        b->owner = rs;
        b->label = ++rs->numBlobs;
        b->colour = nodes[i]->colour;
        fillBlobFields(b);
        BLOBTEST_TRY(replaceWithBlob(nodes[i], b));
        if (perBlobXforms) {
            cmath_xformLinear *x = nullptr;
            BLOBTEST_TRY(takeXformSlot(rs->xformBlocks, &x));
            *x = cmath_xformLinear{{1.0, 0.01 * b->label, 0.0, 1.0}, 1.0 * b->label, -1.0 * b->label};
            b->clientFromImage = x;
            BLOBTEST_TRY(commitXformSlot(rs->xformBlocks));
        } else {
            b->clientFromImage = &rs->sharedLinearXform;
        }
        if (tree[i] < 0 && !rs->firstTopLevelBlob) rs->firstTopLevelBlob = b;
        BLOBTEST_TRY(commitBlobSlot(rs->blobBlocks));
        BLOBTEST_TRY(poolRelease(&pool, nodes[i]));
    }
    // The outer region is never finished: its children become top-level.
    for (void *child = nodeFirstChild(outer); child; child = nodeNextSibling(child)) setNodeParent(child, nullptr);
    return 0;
}

// Every blob of a result set in storage order.
inline std::vector<cblob_blob *> blobsOf(const cblob_resultSet *rs) {
    std::vector<cblob_blob *> out;
    for (int32_t b = 0; b < cblob::connect::getNumBlocks(rs->blobBlocks); ++b) {
        cblob_blob *block = cblob::connect::getBlock(rs->blobBlocks, b);
        for (int32_t i = 0; i < cblob::connect::getBlockCount(rs->blobBlocks, b); ++i) out.push_back(&block[i]);
    }
    return out;
}

// The binary rows of a blob of a given label: box height rows, starting
// alternately with background and foreground, some ending before the box's
// right edge after a foreground run.
inline std::vector<rletest::Row> rowsFor(const cblob_blob *b) {
    std::vector<rletest::Row> rows;
    for (int32_t y = 0; y < b->boxHeight; ++y) {
        rletest::Row row;
        uint8_t value = static_cast<uint8_t>((b->label + y) % 2);
        for (int32_t x = 0; x < b->boxWidth;) {
            const int32_t n = 1 + (b->label + x + y) % 2;
            const int32_t len = n < b->boxWidth - x ? n : b->boxWidth - x;
            row.push_back({value, len});
            x += len;
            if (value == 1 && (b->label + y) % 3 == 0) break;  // the rest is background
            value ^= 1;
        }
        rows.push_back(row);
    }
    return rows;
}

// Writes rows into the database's blocks as the run extraction does: the
// row entries consecutive in one row block (a new block when the last lacks
// room), each row's bytes in the current data block (a new block when fewer
// bytes are left than the row needs). Small blocks make many of them.
inline int32_t writeRows(cblob_blobRleDb_ *db, const std::vector<rletest::Row> &rows, bool grey,
                         cblob_rleRow **first) {
    using namespace cblob::connect;
    BLOBTEST_TRY(ensureRowBlocks(db));
    BLOBTEST_TRY(ensureDataBlocks(db));
    const int32_t need = static_cast<int32_t>(rows.size());
    auto *rowBlocks = static_cast<cblob_blob_rleRowBlock_ *>(db->rowBlocks->untyped.begin);
    cblob_blob_rleRowBlock_ *rb = db->rowBlocks->untyped.size ? &rowBlocks[db->rowBlocks->untyped.size - 1] : nullptr;
    if (!rb || rb->size / static_cast<int32_t>(sizeof(cblob_rleRow)) - rb->used < need) {
        const int32_t entries = need > 6 ? need : 6;
        BLOBTEST_TRY(cblob_blobRleDb__addRowBlock(entries * static_cast<int32_t>(sizeof(cblob_rleRow)), &rb,
                                                  db->rowBlocks));
    }
    cblob_rleRow *entry = rb->memory + rb->used;
    rb->used += need;
    *first = entry;
    for (const rletest::Row &row : rows) {
        const std::vector<uint8_t> bytes = rletest::encodeRow(row, grey);
        const int32_t size = static_cast<int32_t>(bytes.size());
        auto *dataBlocks = static_cast<cblob_blob_rleDataBlock_ *>(db->dataBlocks->untyped.begin);
        cblob_blob_rleDataBlock_ *dbk =
            db->dataBlocks->untyped.size ? &dataBlocks[db->dataBlocks->untyped.size - 1] : nullptr;
        if (!dbk || dbk->memory + dbk->size - dbk->cursor < size) {
            uint8_t *memory = nullptr;
            BLOBTEST_TRY(cblob_blobRleDb__addDataBlock(size > 24 ? size : 24, &memory, &dbk, db->dataBlocks));
        }
        std::memcpy(dbk->cursor, bytes.data(), bytes.size());
        entry->runs = dbk->cursor;
        entry->numRuns = static_cast<int32_t>(row.size());
        entry->startValue = row.empty() ? 0 : row[0].value;
        dbk->cursor += size;
        ++dbk->entries;
        ++entry;
    }
    return 0;
}

// Attaches a new, empty blob database to the result set.
inline int32_t attachNewDatabase(cblob_resultSet *rs) {
    cblob_blobRleDb_ *db = nullptr;
    BLOBTEST_TRY(csys_memory_alloc_internal(sizeof(*db), reinterpret_cast<void **>(&db)));
    if (const int32_t status = cblob_blobRleDb__construct(db); CBLOB_FAILED(status)) {
        csys_memory_free_internal(reinterpret_cast<void **>(&db));
        return status;
    }
    BLOBTEST_TRY(cblob_blobRleDb_Ptrh_attach(&rs->blobDbHandle, db));
    rs->blobDb = db;
    return 0;
}

// Writes the blob's rows into the database and, when asked, initialises the
// blob's image (the database image of index label - 1) on them.
inline int32_t addBlobRows(cblob_blobRleDb_ *db, cblob_blob *b, const std::vector<rletest::Row> &rows, bool grey,
                           bool image) {
    BLOBTEST_TRY(writeRows(db, rows, grey, &b->cachedRuns));
    if (!image) return 0;
    cmath_xformPtrhConst identity;
    cmath_xformPtrhConst_construct(&identity);
    cblob_imageRle *img = static_cast<cblob_imageRle *>(db->images.untyped.begin) + (b->label - 1);
    BLOBTEST_TRY(cblob_imageRle_initFromBlob(img, b, &identity));
    img->numRuns = 0;
    for (const auto &r : rows) img->numRuns += static_cast<int32_t>(r.size());
    return 0;
}

// Gives the result set a blob database: rows for every blob whose label is
// not a multiple of 3, and an image for those of odd label.
inline int32_t addDatabase(cblob_resultSet *rs) {
    BLOBTEST_TRY(attachNewDatabase(rs));
    BLOBTEST_TRY(cstd_vector_cblob_imageRle_resize(&rs->blobDb->images, rs->numBlobs));
    for (cblob_blob *b : blobsOf(rs)) {
        if (b->label % 3 != 0) BLOBTEST_TRY(addBlobRows(rs->blobDb, b, rowsFor(b), false, b->label % 2 == 1));
    }
    return 0;
}

// The run pipeline's filling of a result set whose blob blocks are written:
// the all-blobs array, the view, the view's first top-level blob, the view
// count, the run window, a kept thresholded image, the run labels, then the
// measure caching and the run parameters.
inline int32_t fillResultSet(cblob_resultSet *rs) {
    const std::vector<cblob_blob *> blobs = blobsOf(rs);
    const int64_t bytes = static_cast<int64_t>(blobs.size()) * static_cast<int64_t>(sizeof(cblob_blob *));
    if (!blobs.empty()) {
        BLOBTEST_TRY(csys_memory_alloc_internal(bytes, reinterpret_cast<void **>(&rs->allBlobs)));
        std::memcpy(rs->allBlobs, blobs.data(), static_cast<size_t>(bytes));
        BLOBTEST_TRY(csys_memory_alloc_internal(bytes, reinterpret_cast<void **>(&rs->view)));
        std::memcpy(rs->view, blobs.data(), static_cast<size_t>(bytes));
    }
    rs->viewFirstTopLevelBlob = rs->firstTopLevelBlob;
    rs->numViewBlobs = rs->numBlobs;
    rs->runWindow = cstd_rect32{0, 0, 64, 48};
    cmath_xformPtrhConst identity;
    cmath_xformPtrhConst_construct(&identity);
    BLOBTEST_TRY(cblob_imageRlePtrh_constructUniform(&rs->thresholdedImage, 8, 4, 1, &identity));
    BLOBTEST_TRY(cblob_imageRlePtrh_getRows(&rs->thresholdedImage, &rs->thresholdedRows));
    BLOBTEST_TRY(cstd_vector32s_new(&rs->runLabels));
    for (int32_t l = 0; l < rs->numBlobs; ++l) {
        const int32_t working = 100 + l;
        BLOBTEST_TRY(cstd_vector32s_pushBack(rs->runLabels, &working));
    }
    BLOBTEST_TRY(cblob_resultSet_createAndInitMeasureCaching_(rs));
    cblob_runParams params;
    BLOBTEST_TRY(cblob_runParams_construct(&params));
    params.scaleVal = 4;
    params.connectivityType = 1;
    const int32_t status = cblob_resultSetPostProcessing_recordRunParams(rs->postProcessing, &params);
    cblob_runParams_destruct(&params);
    return status;
}

// A whole result set: tree, database (optional), pipeline fill.
inline int32_t buildResultSet(cblob_resultSet *rs, const Tree &tree, bool perBlobXforms, bool database) {
    BLOBTEST_TRY(buildTree(rs, tree, perBlobXforms));
    if (database) BLOBTEST_TRY(addDatabase(rs));
    return fillResultSet(rs);
}

// A tree of n nodes: a small binary tree under node 0, then a long run of
// top-level regions, every fifth the child of the one before (n > 1000
// fills more than one block).
inline Tree sampleTree(int32_t n) {
    Tree t;
    for (int32_t i = 0; i < n; ++i) t.push_back(i == 0 ? -1 : i < 8 ? (i - 1) / 2 : i % 5 == 0 ? i - 1 : -1);
    return t;
}

}  // namespace blobtest

#endif
