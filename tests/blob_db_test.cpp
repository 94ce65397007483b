// Blob records and their storage: the working-record pool under churn, the
// 1000-entry blob and transform blocks, region tree surgery, the record copy,
// the blob run-length database (copy, clear, handles), blob images and the
// deep copy of their borrowed rows, and clean failure under allocation faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cblob/blob.h"
#include "support/blob_builder.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"

namespace {

using namespace cblob::connect;

TEST(BlobPool, RecordsPerBlockRule) {
    const struct {
        int32_t width, bands, cleanup, type, expected;
    } cases[] = {
        {0, 1, 0, 0, 10},       // M = 1
        {5, 1, 0, 0, 20},       // M = 11: next multiple of 10 above 11
        {12, 1, 2, 0, 60},      // M = 50 is a multiple of 10: the next one
        {10, 1, 1, 0, 30},      // prune counts like no cleanup: M = 21
        {10, 1, 2, 0, 50},      // fill: M = 42
        {1000, 4, 0, 0, 510},   // M = 2001, 500 per band
        {1000, 300, 0, 0, 10},  // 6 per band
        {640, 3, 2, 1, 860},    // M = 2562, 854 per band
        {640, 3, 2, 2, 2},      // whole image
    };
    for (const auto &c : cases) {
        int32_t count = -1;
        EXPECT_EQ(poolRecordsPerBlock(c.width, c.bands, c.cleanup, c.type, &count), 0);
        EXPECT_EQ(count, c.expected) << c.width << " " << c.bands << " " << c.cleanup << " " << c.type;
    }
    int32_t count = 7;
    EXPECT_EQ(poolRecordsPerBlock(10, 0, 0, 0, &count), cstd_err_badCount);
    EXPECT_EQ(poolRecordsPerBlock(-1, 1, 0, 0, &count), cstd_err_badCount);
    EXPECT_EQ(poolRecordsPerBlock(INT32_MAX, 1, 2, 0, &count), csys_err_badSize);
    EXPECT_EQ(count, 7);
    // A pool's block size must be a positive multiple of ten.
    cblobtest::AssertCatcher catcher;
    BlobInternalPool pool;
    EXPECT_EQ(poolConstruct(&pool, 15), csys_err_assertFailed);
    EXPECT_EQ(poolConstruct(&pool, 0), csys_err_assertFailed);
    EXPECT_EQ(catcher.count(), 2);
}

// An independent model of the pool's block, cursor and free-list counts:
// records are linked ten at a time, from a new block once the cursor is spent.
struct PoolModel {
    int32_t perBlock, blocks = 0, freeCount = 0, cursor = -1;
    explicit PoolModel(int32_t n) : perBlock(n) { link(0); }
    void link(int32_t from) {
        blocks += from == 0;
        const int32_t n = std::min(10, perBlock - from);
        freeCount += n;
        cursor = from + n == perBlock ? -1 : from + n;
    }
    void open() {
        if (freeCount == 0) link(cursor < 0 ? 0 : cursor);
        --freeCount;
    }
};

TEST(BlobPool, ChurnReusesRecordsAndGrowsOnlyWhenTheCursorIsSpent) {
    for (int32_t perBlock : {2, 10, 30, 50}) {
        SCOPED_TRACE(perBlock);
        BlobInternalPool pool;
        ASSERT_EQ(poolConstruct(&pool, perBlock), 0);
        PoolModel model(perBlock);
        std::vector<cblob_blob_internal_ *> open;
        std::set<cblob_blob_internal_ *> everSeen;
        uint32_t s = 12345u + static_cast<uint32_t>(perBlock);
        for (int step = 0; step < 4000; ++step) {
            s = s * 1103515245u + 12345u;
            // Phases of growth and of shrinking, as regions open in a busy
            // row and merge or finish below it.
            const bool growing = (step / 500) % 2 == 0;
            if (open.empty() || (s >> 16) % 10 < (growing ? 7u : 3u)) {
                cblob_blob_internal_ *r = nullptr;
                ASSERT_EQ(poolOpen(&pool, &r), 0);
                ASSERT_EQ(r->merged, 0);
                r->merged = 1;  // the scan's marks must not survive a reopen
                ASSERT_EQ(std::count(open.begin(), open.end(), r), 0) << "record handed out twice";
                open.push_back(r);
                everSeen.insert(r);
                model.open();
            } else {
                const size_t k = (s >> 8) % open.size();
                cblob_blob_internal_ *r = open[k], *again = nullptr;
                open.erase(open.begin() + static_cast<std::ptrdiff_t>(k));
                ASSERT_EQ(poolRelease(&pool, r), 0);
                ++model.freeCount;
                // A record given back is the next one handed out.
                ASSERT_EQ(poolOpen(&pool, &again), 0);
                ASSERT_EQ(again, r);
                ASSERT_EQ(poolRelease(&pool, again), 0);
            }
            int32_t blocks = 0, freeCount = 0, cursor = 0;
            poolGetNumBlocks(&pool, &blocks);
            poolGetFreeCount(&pool, &freeCount);
            poolGetCursorIndex(&pool, &cursor);
            ASSERT_EQ(blocks, model.blocks) << "step " << step;
            ASSERT_EQ(freeCount, model.freeCount) << "step " << step;
            ASSERT_EQ(cursor, model.cursor) << "step " << step;
        }
        EXPECT_LE(static_cast<int64_t>(everSeen.size()), static_cast<int64_t>(model.blocks) * perBlock);
        EXPECT_EQ(poolDestruct(&pool), 0);
    }
}

// Drives one kind of block vector through the 1000-entry boundary.
template <class Entry, class Vector>
void expectThousandBoundary(int32_t (*ensure)(Vector **), int32_t (*take)(Vector *, Entry **),
                            int32_t (*commit)(Vector *), Entry *(*block)(const Vector *, int32_t),
                            int32_t (*count)(const Vector *, int32_t), int32_t (*cleanup)(Vector *)) {
    const int64_t live = csys_memory_getLiveBlockCount();
    Vector *blocks = nullptr;
    ASSERT_EQ(ensure(&blocks), 0);
    ASSERT_EQ(ensure(&blocks), 0);  // a second call keeps the vector
    Entry *e = nullptr;
    for (int32_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(take(blocks, &e), 0);
        ASSERT_EQ(e, block(blocks, 0) + i);
        ASSERT_EQ(commit(blocks), 0);
        // The second block appears as the count reaches 1000, not before.
        ASSERT_EQ(block(blocks, 1) != nullptr, i == 999);
    }
    EXPECT_EQ(count(blocks, 0), 1000);
    EXPECT_EQ(count(blocks, 1), 0);
    ASSERT_EQ(take(blocks, &e), 0);
    EXPECT_EQ(e, block(blocks, 1));  // the 1001st entry: index 0 of block 2
    ASSERT_EQ(commit(blocks), 0);
    EXPECT_EQ(count(blocks, 1), 1);
    {
        cblobtest::AssertCatcher catcher;  // a full last block is a broken invariant
        *blockCount(block(blocks, 1)) = 1000;
        EXPECT_EQ(take(blocks, &e), csys_err_assertFailed);
        EXPECT_EQ(commit(blocks), csys_err_assertFailed);
        EXPECT_EQ(catcher.count(), 2);
    }
    EXPECT_EQ(cleanup(blocks), 0);
    EXPECT_EQ(cstd_vector__destruct(&blocks->untyped), 0);
    csys_memory_free_internal(reinterpret_cast<void **>(&blocks));
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

TEST(BlobBlocks, TheThousandAndFirstEntryStartsTheSecondBlock) {
    expectThousandBoundary(&ensureBlobBlocks, &takeBlobSlot, &commitBlobSlot, &getBlock, &getBlockCount,
                           &_cleanupFuncBlobPtrVect);
    expectThousandBoundary(&ensureXformBlocks, &takeXformSlot, &commitXformSlot, &getXformBlock,
                           &getXformBlockCount, &_cleanupFuncBlobXformPtrVect);
}

cblob_blob blobNode(int32_t label) {
    cblob_blob b{};
    b.nodeKind = &cblob_blob_external_vtable_;
    b.label = label;
    return b;
}

// A fixed tree: root P (working) with children A B C; B has children X Y Z.
// Which nodes are finished blobs varies per case.
struct TreeFixture {
    cblob_blob_internal_ working[7] = {};
    cblob_blob blobs[7] = {};
    void *node[7] = {};
    static constexpr const char *kNames = "PABCXYZ";

    explicit TreeFixture(const std::string &blobNames) {
        for (int i = 0; i < 7; ++i) {
            const bool blob = i > 0 && blobNames.find(kNames[i]) != std::string::npos;
            blobs[i] = blobNode(100 + i);
            working[i].nodeKind = &kWorkingNodeKind;
            working[i].label = i;
            node[i] = blob ? static_cast<void *>(&blobs[i]) : &working[i];
        }
        for (int c : {1, 2, 3}) appendChild(node[0], node[c]);
        for (int c : {4, 5, 6}) appendChild(node[2], node[c]);
    }
    static int find(char name) { return static_cast<int>(std::string(kNames).find(name)); }
    char name(const void *n) const { return kNames[std::find(node, node + 7, n) - node]; }
    // The children of node i as names, checked forwards and backwards, with
    // both link sets of blob nodes equal.
    std::string children(int i) const {
        std::string forward, backward;
        for (void *c = nodeFirstChild(node[i]); c; c = nodeNextSibling(c)) {
            forward += name(c);
            if (nodeParent(c) != node[i]) forward += '!';
            const auto *b = static_cast<const cblob_blob *>(c);
            if (isBlobNode(c) && (b->curNextSibling != b->nextSibling || b->curPrevSibling != b->prevSibling))
                forward += '#';
        }
        for (void *c = nodeLastChild(node[i]); c; c = nodePrevSibling(c)) backward.insert(0, 1, name(c));
        return forward == backward ? forward : forward + "|" + backward;
    }
};

TEST(RegionTree, UnlinkMovesChildrenToTheParentAndJoinsSiblings) {
    const struct {
        std::string blobs;    // which nodes are finished blobs
        char unlink;          // the working node to unlink
        bool orphan;          // the node has no parent (detached from P first)
        std::string expectP;  // P's children afterwards
        std::string expectB;  // B's children afterwards
    } cases[] = {
        {"", 'B', false, "ACXYZ", ""},    // middle child: its children go to the end
        {"XZ", 'B', false, "ACXYZ", ""},  // blob children update both link sets
        {"ACX", 'B', false, "ACXYZ", ""}, // blob siblings are joined in both sets
        {"BC", 'A', false, "BC", "XYZ"},  // first child
        {"AB", 'C', false, "AB", "XYZ"},  // last child without children
        {"XZ", 'Y', false, "ABC", "XZ"},  // a working grandchild between blobs
        {"", 'B', true, "AC", ""},        // without a parent: children become orphans
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.blobs + " unlink " + c.unlink);
        TreeFixture t(c.blobs);
        const int victim = TreeFixture::find(c.unlink);
        if (c.orphan) {
            ASSERT_EQ(detachFromParent(t.node[victim]), 0);
        }
        ASSERT_FALSE(isBlobNode(t.node[victim]));
        auto *w = static_cast<cblob_blob_internal_ *>(t.node[victim]);
        const std::string before = t.children(victim);
        ASSERT_EQ(unlinkWorking(w), 0);
        EXPECT_EQ(w->merged, 1);
        EXPECT_EQ(t.children(0), c.expectP);
        EXPECT_EQ(c.unlink == 'B' ? "" : t.children(2), c.expectB);
        for (char ch : before)
            EXPECT_EQ(nodeParent(t.node[TreeFixture::find(ch)]), c.orphan ? nullptr : t.node[0]) << ch;
    }
}

TEST(RegionTree, FinishingReplacesTheWorkingRecordEverywhere) {
    TreeFixture t("AX");  // finishing B: its children X (blob), Y, Z (working)
    cblob_blob b = blobNode(7);
    ASSERT_EQ(replaceWithBlob(static_cast<cblob_blob_internal_ *>(t.node[2]), &b), 0);
    t.node[2] = &b;
    EXPECT_EQ(t.children(0), "ABC");
    EXPECT_EQ(t.children(2), "XYZ");
    EXPECT_TRUE(b.numChildren == 3 && b.curNumChildren == 3 && nodeLabel(&b) == 7);
    EXPECT_TRUE(b.curFirstChild == b.firstChild && b.curLastChild == b.lastChild);
    EXPECT_EQ(t.working[2].firstChild, nullptr);
    // moveChildren: a merge hands every child of one region to another.
    ASSERT_EQ(moveChildren(&b, t.node[0]), 0);
    EXPECT_EQ(t.children(0), "ABCXYZ");
    EXPECT_EQ(b.numChildren, 3);  // counts are the finisher's business
    EXPECT_EQ(b.curFirstChild, nullptr);
}

TEST(BlobRecord, CopyKeepsMeasuresAndClearsLinks) {
    // Both records start as one byte pattern: padding compares equal, and a
    // field the copy skips keeps the pattern instead of the source's value.
    cblob_resultSet owner, other;
    cblob_blob src, dst, expected;
    std::memset(&src, 0x3C, sizeof(src));  // every link and pointer set
    std::memset(&dst, 0x3C, sizeof(dst));
    src.owner = &other;
    src.label = 42;
    src.colour = 1;
    blobtest::fillBlobFields(&src);
    src.numChildren = 3;
    src.curNumChildren = 2;
    // What the copy must hold: the same record with the owner replaced and
    // the kind set, everything else that points anywhere cleared.
    std::memcpy(&expected, &src, sizeof(src));
    expected.nodeKind = &cblob_blob_external_vtable_;
    expected.owner = &owner;
    expected.adjacencyHolder = expected.clientFromImage = nullptr;
    expected.cachedRuns = nullptr;
    expected.parent = expected.firstChild = expected.lastChild = expected.nextSibling = expected.prevSibling = nullptr;
    expected.curFirstChild = expected.curLastChild = expected.curNextSibling = expected.curPrevSibling = nullptr;
    ASSERT_EQ(copyBlobRecord(&dst, &src, &owner), 0);
    const auto *a = reinterpret_cast<const uint8_t *>(&dst), *b = reinterpret_cast<const uint8_t *>(&expected);
    EXPECT_EQ(std::mismatch(a, a + sizeof(dst), b).first - a, static_cast<std::ptrdiff_t>(sizeof(dst)))
        << "first wrong byte (see offsetof in cblob_blob)";
}

// Whether p lies inside one of the database's blocks of the given kind.
template <class Block>
bool inBlocks(const Block *blocks, int64_t n, const void *p) {
    for (int64_t i = 0; i < n; ++i) {
        const auto *start = reinterpret_cast<const uint8_t *>(blocks[i].memory);
        if (p >= start && p < start + blocks[i].size) return true;
    }
    return false;
}

TEST(BlobDb, ClearOfAnEmptyDatabaseAndBlockPreconditions) {
    const int64_t live = csys_memory_getLiveBlockCount();
    const int32_t entry = static_cast<int32_t>(sizeof(cblob_rleRow));
    cblob_blobRleDb_ db;
    ASSERT_EQ(cblob_blobRleDb__construct(&db), 0);
    EXPECT_TRUE(db.rowBlocks == nullptr && db.dataBlocks == nullptr);
    EXPECT_EQ(cblob_blobRleDb__clear(&db), 0);
    ASSERT_EQ(ensureRowBlocks(&db), 0);
    cblob_blob_rleRowBlock_ *rb = nullptr;
    {
        cblobtest::AssertCatcher catcher;  // sizes are whole, positive numbers of row entries
        EXPECT_EQ(cblob_blobRleDb__addRowBlock(entry + 1, &rb, db.rowBlocks), csys_err_assertFailed);
        EXPECT_EQ(cblob_blobRleDb__addRowBlock(-entry, &rb, db.rowBlocks), csys_err_assertFailed);
        EXPECT_EQ(catcher.count(), 2);
        EXPECT_EQ(rb, nullptr);
    }
    ASSERT_EQ(cblob_blobRleDb__addRowBlock(4 * entry, &rb, db.rowBlocks), 0);
    EXPECT_TRUE(rb->used == 0 && rb->size == 4 * entry);
    EXPECT_EQ(cblob_blobRleDb__destruct(&db), 0);
    EXPECT_EQ(db.rowBlocks, nullptr);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

TEST(BlobDb, CopyMovesEveryPointerIntoTheCopysBlocks) {
    const int64_t live = csys_memory_getLiveBlockCount();
    for (bool grey : {false, true}) {
        SCOPED_TRACE(grey ? "grey" : "binary");
        cblob_blobRleDb_ src, copy;
        ASSERT_EQ(cblob_blobRleDb__construct(&src), 0);
        std::vector<std::vector<rletest::Row>> models;
        std::vector<cblob_rleRow *> firsts(12);
        for (uint32_t k = 0; k < 12; ++k) {
            // Rows of varied widths: some need escaped lengths and a new data block.
            models.push_back(rletest::randomModel(k + 1, 5 + static_cast<int32_t>(k * 40), 1 + k % 5, grey,
                                                  k % 3 == 0 ? 400 : 3).rows);
            ASSERT_EQ(blobtest::writeRows(&src, models[k], grey, &firsts[k]), 0);
        }
        ASSERT_EQ(cstd_vector_cblob_imageRle_resize(&src.images, 3), 0);
        auto *images = static_cast<cblob_imageRle *>(src.images.untyped.begin);
        ASSERT_EQ(cblob_imageRle_construct_(&images[1]), 0);  // images 0 and 2 stay not constructed
        images[1].rows = firsts[4];
        images[1].db = &src;
        images[1].height = static_cast<int32_t>(models[4].size());
        images[1].isGrey = grey;
        images[1].isBlobImage = 1;
        EXPECT_TRUE(rowBlockTotal(&src) > 1 && dataBlockTotal(&src) > 1);

        ASSERT_EQ(cblob_blobRleDb__constructCopy(&copy, &src), 0);
        ASSERT_EQ(rowBlockTotal(&copy), rowBlockTotal(&src));
        ASSERT_EQ(dataBlockTotal(&copy), dataBlockTotal(&src));
        for (int64_t i = 0; i < dataBlockTotal(&src); ++i) {
            const cblob_blob_rleDataBlock_ &a = dataBlockArray(&src)[i], &b = dataBlockArray(&copy)[i];
            EXPECT_TRUE(a.memory != b.memory && a.size == b.size && a.entries == b.entries);
            EXPECT_EQ(a.cursor - a.memory, b.cursor - b.memory);
        }
        RowRelocator relocate = rowRelocator(&src, &copy);
        for (size_t k = 0; k < models.size(); ++k) {
            cblob_rleRow *moved = nullptr;
            ASSERT_TRUE(relocate.map(firsts[k], &moved));
            ASSERT_TRUE(inBlocks(rowBlockArray(&copy), rowBlockTotal(&copy), moved));
            for (size_t y = 0; y < models[k].size(); ++y) {
                EXPECT_TRUE(inBlocks(dataBlockArray(&copy), dataBlockTotal(&copy), moved[y].runs));
                rletest::Row row = rletest::decodeRow(moved[y].runs, grey, moved[y].startValue);
                if (grey) row.resize(static_cast<size_t>(moved[y].numRuns));
                EXPECT_EQ(row, models[k][y]) << "blob " << k << " row " << y;
            }
        }
        const auto *copies = static_cast<const cblob_imageRle *>(copy.images.untyped.begin);
        ASSERT_EQ(copy.images.untyped.size, 3);
        EXPECT_TRUE(copies[0].constructed == 0 && copies[2].constructed == 0);
        ASSERT_EQ(copies[1].constructed, 1);
        EXPECT_TRUE(copies[1].db == &copy && copies[1].data == nullptr && copies[1].dbHandle.ptrh.shared == nullptr);
        cblob_rleRow *moved = nullptr;
        relocate.map(firsts[4], &moved);
        EXPECT_EQ(copies[1].rows, moved);
        EXPECT_EQ(cblob_blobRleDb__destruct(&copy), 0);
        EXPECT_EQ(cblob_blobRleDb__destruct(&src), 0);
    }
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

// A result set holding one blob of the given rows (box = rows' extent at
// (17, -3)) in its database, and the blob's image attached to a handle.
struct BlobImageFixture {
    cblob_resultSet rs;
    cblob_blob *blob = nullptr;
    cblob_imageRlePtrh handle;
    bool constructed = false;

    int32_t build(const std::vector<rletest::Row> &rows, int32_t width, bool grey) {
        cblob_imageRlePtrh_construct(&handle);
        BLOBTEST_TRY(cblob_resultSet_construct(&rs));
        constructed = true;
        BLOBTEST_TRY(blobtest::buildTree(&rs, {-1}, false));
        blob = blobtest::blobsOf(&rs)[0];
        blob->boxLeft = 17;
        blob->boxTop = -3;
        blob->boxWidth = width;
        blob->boxHeight = static_cast<int32_t>(rows.size());
        blob->isGrey = grey;
        BLOBTEST_TRY(blobtest::attachNewDatabase(&rs));
        BLOBTEST_TRY(cstd_vector_cblob_imageRle_resize(&rs.blobDb->images, 1));
        BLOBTEST_TRY(blobtest::addBlobRows(rs.blobDb, blob, rows, grey, true));
        return cblob_imageRlePtrh_attach(&handle, static_cast<cblob_imageRle *>(rs.blobDb->images.untyped.begin));
    }
    int32_t release() {
        const int32_t a = cblob_imageRlePtrh_destruct(&handle), b = constructed ? cblob_resultSet_destruct(&rs) : 0;
        constructed = false;
        return CBLOB_FAILED(a) ? a : b;
    }
    cblob_imageRle *image() const {
        cblob_imageRle *img = nullptr;
        cblob_imageRlePtrh_getImageRle(&handle, &img);
        return img;
    }
};

// The pixels of a handle's image, row after row; its origin through originX.
std::vector<uint8_t> pixelsOf(const cblob_imageRlePtrh &h, int32_t *originX = nullptr) {
    cimg_image img;
    cimg_image8_construct(&img);
    std::vector<uint8_t> out;
    if (cblob_imageRlePtrh_getImage(&h, &img) == 0) {
        for (int32_t y = 0; y < img.height; ++y) {
            const uint8_t *row = img.pels + y * img.strideBytes;
            out.insert(out.end(), row, row + img.width);
        }
        if (originX) *originX = img.originX;
    }
    cimg_image_destruct(&img);
    return out;
}

TEST(BlobImage, DeepCopyOfBorrowedRowsMatchesPixelForPixel) {
    const int64_t live = csys_memory_getLiveBlockCount();
    const struct {
        std::string name;
        bool grey;
        int32_t width;
        std::vector<rletest::Row> rows;
    } cases[] = {
        {"binary", false, 6, {{{0, 2}, {1, 4}}, {{1, 3}}, {{0, 1}, {1, 1}, {0, 1}, {1, 3}}}},
        // Rows of long runs: every length escaped, more than the first estimate of the block.
        {"binary escaped", false, 1500, {{{1, 300}, {0, 300}, {1, 300}, {0, 300}, {1, 300}}, {{0, 1499}, {1, 1}}}},
        {"grey", true, 5, {{{0, 1}, {7, 3}, {0, 1}}, {{9, 5}}}},
        {"grey escaped", true, 1200, {{{3, 300}, {4, 300}, {5, 300}, {6, 300}}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        BlobImageFixture fx;
        ASSERT_EQ(fx.build(c.rows, c.width, c.grey), 0);
        cblob_imageRle *blobImage = fx.image(), *copy = nullptr;
        EXPECT_TRUE(blobImage->isBlobImage == 1 && blobImage->db == fx.rs.blobDb && blobImage->data == nullptr);
        EXPECT_TRUE(blobImage->offsetX == 17 && blobImage->offsetY == -3 && blobImage->rows == fx.blob->cachedRuns);

        ASSERT_EQ(csys_memory_alloc_internal(sizeof(*copy), reinterpret_cast<void **>(&copy)), 0);
        ASSERT_EQ(cblob_imageRle_constructDeepCopy(copy, blobImage), 0);
        EXPECT_TRUE(copy->db == nullptr && copy->isBlobImage == 0 && copy->data != nullptr);
        EXPECT_EQ(copy->data->numRuns, blobImage->numRuns);
        for (size_t e : {size_t{0}, c.rows.size() + 1})  // the sentinel rows
            EXPECT_EQ(rletest::decodeRow(copy->rows[e].runs, c.grey, 0), (rletest::Row{{0, c.width}}));
        cblob_imageRlePtrh copyHandle;
        cblob_imageRlePtrh_construct(&copyHandle);
        ASSERT_EQ(cblob_imageRlePtrh_attach(&copyHandle, copy), 0);
        int32_t originA = 0, originB = 0;
        const std::vector<uint8_t> a = pixelsOf(fx.handle, &originA), b = pixelsOf(copyHandle, &originB);
        ASSERT_EQ(a.size(), static_cast<size_t>(c.width) * c.rows.size());
        EXPECT_EQ(a, b);
        EXPECT_TRUE(originA == 17 && originB == 17);
        // And both equal the model, with the rest of a short binary row background.
        rletest::Model m;
        m.width = c.width;
        m.rows = c.rows;
        for (size_t i = 0; i < b.size(); ++i) {
            const int32_t x = static_cast<int32_t>(i % c.width), y = static_cast<int32_t>(i / c.width);
            ASSERT_EQ(b[i] != 0, m.pel(x, y) != 0) << x << "," << y;
        }
        EXPECT_EQ(cblob_imageRlePtrh_destruct(&copyHandle), 0);
        EXPECT_EQ(fx.release(), 0);
    }
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

// Handles share the database; an attached blob image is one more holder and
// reads its rows after the result set let go; the last holder frees it all.
TEST(BlobImage, AnAttachedBlobImageKeepsTheDatabaseAlive) {
    const int64_t live = csys_memory_getLiveBlockCount();
    BlobImageFixture fx;
    ASSERT_EQ(fx.build({{{1, 2}, {0, 1}, {1, 1}}, {{0, 1}, {1, 3}}}, 4, false), 0);
    cblob_blobRleDb_Ptrh extra;
    int64_t refs = 0;
    ASSERT_EQ(cblob_blobRleDb_Ptrh_constructCopy(&extra, &fx.rs.blobDbHandle), 0);
    EXPECT_EQ(cblob_blobRleDb_Ptrh_getRefCount(&extra, &refs), 0);
    EXPECT_EQ(refs, 3);  // the result set's handle, the image's reference and extra
    EXPECT_EQ(cblob_blobRleDb_Ptrh_assignNull(&extra), 0);
    const std::vector<uint8_t> before = pixelsOf(fx.handle);
    EXPECT_EQ(before, (std::vector<uint8_t>{1, 1, 0, 1, 0, 1, 1, 1}));
    ASSERT_EQ(cblob_resultSet_clear(&fx.rs), 0);
    EXPECT_EQ(fx.rs.blobDb, nullptr);
    EXPECT_EQ(cblob_resultSet_destruct(&fx.rs), 0);
    fx.constructed = false;
    EXPECT_EQ(pixelsOf(fx.handle), before);
    EXPECT_GT(csys_memory_getLiveBlockCount(), live);
    EXPECT_EQ(fx.release(), 0);  // the last holder: database and blocks go
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
    cblob_blobRleDb_Ptrh_destruct(&extra);
}

TEST(BlobImage, InitFromBlobNeedsADatabaseAndRows) {
    cblob_resultSet rs;
    ASSERT_EQ(cblob_resultSet_construct(&rs), 0);
    ASSERT_EQ(blobtest::buildTree(&rs, {-1}, false), 0);
    cblob_blob *blob = blobtest::blobsOf(&rs)[0];
    cmath_xformPtrhConst identity;
    cmath_xformPtrhConst_construct(&identity);
    cblob_imageRle img;
    cblob_imageRle_construct(&img);
    EXPECT_EQ(cblob_imageRle_initFromBlob(&img, blob, &identity), cblob_err_rleImageEmpty);  // no database
    ASSERT_EQ(blobtest::addDatabase(&rs), 0);
    blob->cachedRuns = nullptr;
    EXPECT_EQ(cblob_imageRle_initFromBlob(&img, blob, &identity), cblob_err_rleImageEmpty);  // no rows
    EXPECT_EQ(img.constructed, 0);
    {
        cblobtest::AssertCatcher catcher;
        cblob_blob orphan = *blob;
        orphan.owner = nullptr;
        EXPECT_EQ(cblob_imageRle_initFromBlob(&img, &orphan, &identity), csys_err_assertFailed);
        EXPECT_EQ(catcher.count(), 1);
    }
    EXPECT_EQ(cblob_resultSet_destruct(&rs), 0);
}

TEST(BlobDb, CleanUnderAllocationFailures) {
    // A source database with many blocks and an image, built once.
    cblob_resultSet src;
    ASSERT_EQ(cblob_resultSet_construct(&src), 0);
    ASSERT_EQ(blobtest::buildResultSet(&src, blobtest::sampleTree(40), false, true), 0);
    BlobImageFixture images;
    ASSERT_EQ(images.build({{{1, 300}, {0, 2}, {1, 1}}, {{0, 1}, {1, 3}}}, 306, false), 0);
    const std::vector<std::pair<std::string, std::function<int32_t()>>> ops = {
        {"pool", [] {
             BlobInternalPool pool;
             BLOBTEST_TRY(poolConstruct(&pool, 10));
             cblob_blob_internal_ *r = nullptr;
             int32_t status = 0;
             for (int i = 0; i < 35 && !CBLOB_FAILED(status); ++i) status = poolOpen(&pool, &r);
             poolDestruct(&pool);
             return status;
         }},
        {"blocks", [] {
             BlobBlocks *blocks = nullptr;
             int32_t status = ensureBlobBlocks(&blocks);
             for (int i = 0; i < 1001 && !CBLOB_FAILED(status); ++i) status = commitBlobSlot(blocks);
             if (blocks) _cleanupFuncBlobPtrVect(blocks);
             cstd_vector_cblock_of_cblob_blob_ptr_delete(&blocks);
             return status;
         }},
        {"database copy", [&] {
             cblob_blobRleDb_ copy;
             const int32_t status = cblob_blobRleDb__constructCopy(&copy, src.blobDb);
             if (!CBLOB_FAILED(status)) cblob_blobRleDb__destruct(&copy);
             return status;
         }},
        {"deep copy of borrowed rows", [&] {
             cblob_imageRle copy;
             const int32_t status = cblob_imageRle_constructDeepCopy(&copy, images.image());
             cblob_imageRle_destruct(&copy);
             return status;
         }},
        {"blob image", [] {
             BlobImageFixture fx;
             const int32_t status = fx.build({{{0, 1}, {1, 2}}}, 3, false);
             fx.release();
             return status;
         }},
    };
    for (const auto &[name, op] : ops) {
        SCOPED_TRACE(name);
        EXPECT_GT(cblobtest::expectCleanUnderAllocationFailures(op).failuresInjected, 0);
    }
    EXPECT_EQ(images.release(), 0);
    EXPECT_EQ(cblob_resultSet_destruct(&src), 0);
}

}  // namespace
