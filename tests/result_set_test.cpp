// Result sets: the empty state, the exclusion setting, the measure table,
// the post-processing record, and assignment of result sets built the way a
// scan and the pipeline build them (labels, links, owners, view order after
// a simulated filter, shared and per-blob transforms, the blob database),
// with self-assignment, restoring the view, and clean failure under
// allocation faults.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "cblob/result_set.h"
#include "results/measure_table.hpp"
#include "results/result_set_internal.hpp"
#include "support/blob_builder.hpp"
#include "support/fault_injection.hpp"

namespace {

using blobtest::blobsOf;

int32_t labelOf(const cblob_blob *b) { return b ? b->label : 0; }

std::vector<int32_t> labelsOf(cblob_blob *const *blobs, int32_t n) {
    std::vector<int32_t> out;
    for (int32_t i = 0; i < n; ++i) out.push_back(labelOf(blobs[i]));
    return out;
}

// The labels of the top-level chain from `first` along the chosen sibling links.
std::vector<int32_t> chain(const cblob_blob *first, bool current) {
    std::vector<int32_t> out;
    for (const cblob_blob *b = first; b; b = current ? b->curNextSibling : b->nextSibling) out.push_back(b->label);
    return out;
}

// The exclusion setting as (mode, value, angle).
std::tuple<int32_t, double, double> exclusion(const cblob_resultSet &rs) {
    int32_t mode = -1;
    double value = -1.0, angle = -1.0;
    EXPECT_EQ(cblob_resultSet_getExcludeExtrema(&rs, &mode, &value, &angle), 0);
    return {mode, value, angle};
}

// A set that never ran: no blobs, no kept images, the default exclusion
// setting, which only valid values change and clear restores.
TEST(ResultSet, NeverRanResultSetAndExcludeExtremaChecksByMode) {
    const int64_t live = csys_memory_getLiveBlockCount();
    cblob_resultSet rs;
    ASSERT_EQ(cblob_resultSet_construct(&rs), 0);
    EXPECT_TRUE(rs.numBlobs == 0 && rs.numViewBlobs == 0 && rs.runWindow.width == 0);
    EXPECT_TRUE(!rs.allBlobs && !rs.view && !rs.blobBlocks && !rs.blobDb);
    ASSERT_NE(rs.postProcessing, nullptr);
    EXPECT_TRUE(rs.postProcessing->sortDirection == 1 && rs.postProcessing->weightScale == 1.0);
    EXPECT_EQ(exclusion(rs), std::make_tuple(0, 0.0, 0.0));
    // No kept image: each getter refuses and leaves its output alone.
    const cmath_xformPtrhConst identity = rletest::identity();
    cblob_imageRlePtrh out;
    ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&out, 3, 2, 5, &identity), 0);
    const cstd_shared *before = out.ptrh.shared;
    EXPECT_EQ(cblob_resultSet_getThresholdedImageRlePtrh(&rs, &out), cblob_err_imageNotKept);
    EXPECT_EQ(cblob_resultSet_getMaskedAndThresholdedImageRlePtrh(&rs, &out), cblob_err_imageNotKept);
    EXPECT_EQ(cblob_resultSet_getMorphedThresholdedImageRlePtrh(&rs, &out), cblob_err_imageNotKept);
    EXPECT_EQ(out.ptrh.shared, before);
    cblob_imageRlePtrh_destruct(&out);
    const struct {
        int32_t mode;
        double value;
        int32_t expected;
    } cases[] = {
        {3, 50.0, cblob_err_badExcludePercent},   {3, 49.999, 0}, {3, 0.0, 0},
        {3, -0.001, cblob_err_badExcludePercent}, {3, NAN, cblob_err_badExcludePercent},
        {1, -1.0, cblob_err_badExcludeCount},     {1, 0.0, 0},    {1, 1e9, 0},
        {2, -0.5, cblob_err_badExcludeAmount},    {2, 3.0, 0},    {0, -7.0, 0},
        {0, 1e300, 0},                            {9, -2.0, 0},   {-4, -2.0, 0},
    };
    const double previousAngle = 0.5, angle = -1.25;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.value));
        ASSERT_EQ(cblob_resultSet_setExcludeExtrema(&rs, 2, 4.0, &previousAngle), 0);
        EXPECT_EQ(cblob_resultSet_setExcludeExtrema(&rs, c.mode, c.value, &angle), c.expected);
        EXPECT_EQ(exclusion(rs), c.expected ? std::make_tuple(2, 4.0, 0.5) : std::make_tuple(c.mode, c.value, angle));
    }
    ASSERT_EQ(cblob_resultSet_clear(&rs), 0);
    EXPECT_EQ(exclusion(rs), std::make_tuple(0, 0.0, 0.0));
    EXPECT_EQ(cblob_resultSet_destruct(&rs), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

TEST(ResultSet, InitialMeasureTable) {
    // Classes of the measure codes: F read from the record, D derived, C cached.
    const std::string classes = "-FFCCFFFFFFFFFDCCFFFFFFFFFCCDDCDCDCCDCCDDCDCDCCDCCC";
    ASSERT_EQ(classes.size(), static_cast<size_t>(CBLOB_MEASURE_TABLE_SIZE));
    cblob_resultSetPostProcessing_ *pp = nullptr;
    ASSERT_EQ(cblob_resultSetPostProcessing__new(&pp), 0);
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t code = 1; code < CBLOB_MEASURE_TABLE_SIZE; ++code) {
            const int32_t expected = classes[code] == 'F' ? -3 : classes[code] == 'D' ? -2 : -1;
            EXPECT_EQ(pp->measureTable[code], expected) << "code " << code << " pass " << pass;
        }
        // A slot given to a cached code is forgotten by clear.
        pp->measureTable[cblob_measurePerimeter] = 0;
        pp->measureTable[cblob_measureAngleBoxMinX] = 1;
        ASSERT_EQ(cblob_resultSetPostProcessing__clear(pp), 0);
    }
    EXPECT_EQ(cblob_measurePrincipalBoxAspect, 47);
    EXPECT_EQ(cblob::results::kMeasurePrincipalExclusionKey, CBLOB_MEASURE_TABLE_SIZE - 1);
    EXPECT_EQ(cblob_resultSetPostProcessing__delete(&pp), 0);
    EXPECT_EQ(pp, nullptr);
    EXPECT_EQ(cblob_resultSetPostProcessing__delete(&pp), 0);
}

// Fills a record with filters, cache slots and valid bits for n blobs.
int32_t fillPostProcessing(cblob_resultSetPostProcessing_ *pp, int32_t n) {
    const cblob_filter filters[] = {{cblob_measureArea, 2.0, 9.0, 0}, {cblob_measureColour, 0.0, 0.0, 1}};
    for (const cblob_filter &f : filters) BLOBTEST_TRY(cstd_vector_cblob_filter_pushBack(&pp->filters, &f));
    BLOBTEST_TRY(cstd_vector32_resize(&pp->validBits, n));
    for (int32_t slot = 0; slot < 3; ++slot) {
        cblob_measureDataPtr_ data = nullptr;
        if (slot != 1) {
            BLOBTEST_TRY(csys_memory_alloc_internal(n * 8, reinterpret_cast<void **>(&data)));
            for (int32_t i = 0; i < n; ++i) data[i] = slot * 100.0 + i;
        }
        if (const int32_t status = cstd_vector_cblob_measureDataPtr__pushBack(&pp->measureData, &data);
            CBLOB_FAILED(status)) {
            csys_memory_free_internal(reinterpret_cast<void **>(&data));
            return status;
        }
        static_cast<uint32_t *>(pp->validBits.untyped.begin)[slot] = 1u << slot;
    }
    pp->measureTable[cblob_measurePerimeter] = 0;
    pp->measureTable[cblob_measureMedianX] = 2;
    pp->excludeMode = 3;
    pp->excludeValue = 12.5;
    pp->sortMeasure = cblob_measureArea;
    pp->sortDirection = 0;
    return 0;
}

void expectSamePostProcessing(const cblob_resultSetPostProcessing_ &a, const cblob_resultSetPostProcessing_ &b) {
    EXPECT_TRUE(a.weightScale == b.weightScale && a.connectivityType == b.connectivityType);
    EXPECT_TRUE(a.excludeMode == b.excludeMode && a.excludeValue == b.excludeValue);
    EXPECT_TRUE(a.sortMeasure == b.sortMeasure && a.sortDirection == b.sortDirection);
    EXPECT_EQ(std::vector<int32_t>(a.measureTable, a.measureTable + CBLOB_MEASURE_TABLE_SIZE),
              std::vector<int32_t>(b.measureTable, b.measureTable + CBLOB_MEASURE_TABLE_SIZE));
    ASSERT_EQ(a.filters.untyped.size, b.filters.untyped.size);
    EXPECT_EQ(std::memcmp(a.filters.untyped.begin, b.filters.untyped.begin,
                          static_cast<size_t>(a.filters.untyped.size) * sizeof(cblob_filter)),
              0);
    ASSERT_EQ(a.validBits.untyped.size, b.validBits.untyped.size);
    ASSERT_EQ(a.measureData.untyped.size, b.measureData.untyped.size);
    const auto *da = static_cast<const cblob_measureDataPtr_ *>(a.measureData.untyped.begin);
    const auto *db = static_cast<const cblob_measureDataPtr_ *>(b.measureData.untyped.begin);
    for (int64_t s = 0; s < a.measureData.untyped.size; ++s) {
        ASSERT_EQ(da[s] == nullptr, db[s] == nullptr);
        if (!da[s]) continue;
        EXPECT_NE(da[s], db[s]);  // a copy owns its own arrays
        for (int64_t i = 0; i < a.validBits.untyped.size; ++i) EXPECT_EQ(da[s][i], db[s][i]);
    }
}

TEST(ResultSet, PostProcessingCopiesAreDeep) {
    const int64_t live = csys_memory_getLiveBlockCount();
    cblob_resultSetPostProcessing_ *src = nullptr, *clone = nullptr, assigned;
    ASSERT_EQ(cblob_resultSetPostProcessing__new(&src), 0);
    ASSERT_EQ(fillPostProcessing(src, 7), 0);
    ASSERT_EQ(cblob_resultSetPostProcessing__newClone(&clone, src), 0);
    expectSamePostProcessing(*src, *clone);
    ASSERT_EQ(cblob_resultSetPostProcessing__construct(&assigned), 0);
    ASSERT_EQ(fillPostProcessing(&assigned, 2), 0);  // replaced wholesale
    ASSERT_EQ(cblob_resultSetPostProcessing__assign(&assigned, src), 0);
    expectSamePostProcessing(*src, assigned);
    ASSERT_EQ(cblob_resultSetPostProcessing__assign(&assigned, &assigned), 0);
    expectSamePostProcessing(*src, assigned);
    ASSERT_EQ(cblob_resultSetPostProcessing__clear(&assigned), 0);
    EXPECT_TRUE(!assigned.filters.untyped.size && !assigned.measureData.untyped.size &&
                !assigned.validBits.untyped.size && !assigned.excludeMode);
    EXPECT_EQ(cblob_resultSetPostProcessing__destruct(&assigned), 0);
    EXPECT_EQ(cblob_resultSetPostProcessing__delete(&clone), 0);
    EXPECT_EQ(cblob_resultSetPostProcessing__delete(&src), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

bool inXformBlocks(const cblob_resultSet &rs, const cmath_xformLinear *x) {
    for (int32_t i = 0; i < cblob::connect::getNumXformBlocks(rs.xformBlocks); ++i) {
        const cmath_xformLinear *block = cblob::connect::getXformBlock(rs.xformBlocks, i);
        if (x >= block && x < block + CBLOB_XFORM_BLOCK_CAPACITY) return true;
    }
    return false;
}

std::vector<rletest::Row> rowsAt(const cblob_rleRow *first, int32_t n) {
    std::vector<rletest::Row> out;
    for (int32_t y = 0; y < n; ++y) out.push_back(rletest::decodeRow(first[y].runs, false, first[y].startValue));
    return out;
}

// Everything a faithful copy must hold, compared blob by blob.
void expectFaithfulCopy(const cblob_resultSet &src, const cblob_resultSet &dst) {
    ASSERT_TRUE(dst.numBlobs == src.numBlobs && dst.numViewBlobs == src.numViewBlobs);
    EXPECT_EQ(dst.runWindow.width, src.runWindow.width);
    ASSERT_EQ(cblob::connect::getNumBlocks(dst.blobBlocks), cblob::connect::getNumBlocks(src.blobBlocks));
    for (int32_t i = 0; i < cblob::connect::getNumBlocks(src.blobBlocks); ++i)
        EXPECT_EQ(cblob::connect::getBlockCount(dst.blobBlocks, i), cblob::connect::getBlockCount(src.blobBlocks, i));
    const std::vector<cblob_blob *> a = blobsOf(&src), b = blobsOf(&dst);
    ASSERT_EQ(a.size(), b.size());
    const std::set<const cblob_blob *> dstBlobs(b.begin(), b.end());
    for (size_t i = 0; i < a.size(); ++i) {
        const cblob_blob &s = *a[i], &d = *b[i];
        SCOPED_TRACE("blob " + std::to_string(s.label));
        ASSERT_EQ(d.label, s.label);
        EXPECT_TRUE(d.owner == &dst && d.nodeKind == &cblob_blob_external_vtable_ && d.colour == s.colour);
        EXPECT_TRUE(d.boxLeft == s.boxLeft && d.boxHeight == s.boxHeight && d.area == s.area);
        EXPECT_TRUE(d.inertiaMax == s.inertiaMax && d.numChildren == s.numChildren);
        EXPECT_EQ(d.curNumChildren, s.curNumChildren);
        const cblob_blob *const sl[] = {s.parent,        s.firstChild,    s.lastChild,    s.nextSibling,
                                        s.prevSibling,   s.curFirstChild, s.curLastChild, s.curNextSibling,
                                        s.curPrevSibling};
        const cblob_blob *const dl[] = {d.parent,        d.firstChild,    d.lastChild,    d.nextSibling,
                                        d.prevSibling,   d.curFirstChild, d.curLastChild, d.curNextSibling,
                                        d.curPrevSibling};
        for (int k = 0; k < 9; ++k) {
            EXPECT_EQ(labelOf(dl[k]), labelOf(sl[k])) << "link " << k;
            EXPECT_TRUE(!dl[k] || dstBlobs.count(dl[k])) << "link " << k << " leaves the copy";
        }
        if (s.clientFromImage == &src.sharedLinearXform) {
            EXPECT_EQ(d.clientFromImage, &dst.sharedLinearXform);
        } else {
            ASSERT_TRUE(d.clientFromImage && inXformBlocks(dst, d.clientFromImage));
            EXPECT_EQ(std::memcmp(d.clientFromImage, s.clientFromImage, sizeof(cmath_xformLinear)), 0);
        }
        ASSERT_EQ(d.cachedRuns == nullptr, s.cachedRuns == nullptr);
        if (s.cachedRuns) {
            EXPECT_NE(d.cachedRuns, s.cachedRuns);
            EXPECT_EQ(rowsAt(d.cachedRuns, d.boxHeight), rowsAt(s.cachedRuns, s.boxHeight));
        }
    }
    EXPECT_EQ(labelsOf(dst.allBlobs, dst.numBlobs), labelsOf(src.allBlobs, src.numBlobs));
    EXPECT_EQ(labelsOf(dst.view, dst.numViewBlobs), labelsOf(src.view, src.numViewBlobs));
    EXPECT_EQ(labelOf(dst.firstTopLevelBlob), labelOf(src.firstTopLevelBlob));
    EXPECT_EQ(chain(dst.viewFirstTopLevelBlob, true), chain(src.viewFirstTopLevelBlob, true));
    EXPECT_EQ(dst.sharedLinearXform.tx, src.sharedLinearXform.tx);
    ASSERT_EQ(dst.blobDb == nullptr, src.blobDb == nullptr);
    if (src.blobDb) {
        int64_t refs = 0;
        cblob_blobRleDb_Ptrh_getRefCount(&dst.blobDbHandle, &refs);
        EXPECT_TRUE(dst.blobDb != src.blobDb && refs == 1);
        const auto *images = static_cast<const cblob_imageRle *>(dst.blobDb->images.untyped.begin);
        for (int64_t i = 0; i < dst.blobDb->images.untyped.size; ++i) {
            if (images[i].constructed != 1) continue;
            EXPECT_EQ(images[i].db, dst.blobDb);
            EXPECT_EQ(images[i].rows, b[static_cast<size_t>(i)]->cachedRuns);  // image of label i + 1
        }
    }
    ASSERT_NE(dst.runLabels, nullptr);
    EXPECT_TRUE(dst.runLabels != src.runLabels && dst.runLabels->untyped.size == src.runLabels->untyped.size);
    EXPECT_EQ(dst.thresholdedImage.ptrh.shared, src.thresholdedImage.ptrh.shared);  // a share, not a copy
    EXPECT_EQ(dst.thresholdedRows, src.thresholdedRows);
    EXPECT_NE(dst.postProcessing, src.postProcessing);
    expectSamePostProcessing(*src.postProcessing, *dst.postProcessing);
}

// A filter and a sort as the filtering code would leave them: the view holds
// the odd labels in reverse, the top-level chain and the children of every
// parent with two or more are reversed in the current links.
int32_t simulateFilterAndSort(cblob_resultSet *rs) {
    std::vector<cblob_blob *> kept, top;
    for (int32_t i = rs->numBlobs - 1; i >= 0; --i)
        if (rs->allBlobs[i]->label % 2 == 1) kept.push_back(rs->allBlobs[i]);
    BLOBTEST_TRY(cblob::results::setView(rs, kept.data(), static_cast<int32_t>(kept.size())));
    for (cblob_blob *b = rs->firstTopLevelBlob; b; b = b->nextSibling) top.insert(top.begin(), b);
    BLOBTEST_TRY(cblob::results::relinkCurrentSiblings(top.data(), static_cast<int32_t>(top.size())));
    rs->viewFirstTopLevelBlob = top.empty() ? nullptr : top[0];
    for (cblob_blob *parent : blobsOf(rs)) {
        std::vector<cblob_blob *> children;
        for (cblob_blob *c = parent->firstChild; c; c = c->nextSibling) children.insert(children.begin(), c);
        if (children.size() >= 2)
            BLOBTEST_TRY(cblob::results::setCurrentChildren(parent, children.data(), static_cast<int32_t>(children.size())));
    }
    return 0;
}

// Fills a constructed result set with the sample tree as the pipeline leaves
// it, with cached measures and, when asked, filtered and sorted.
int32_t buildSource(cblob_resultSet *rs, int32_t blobs, bool perBlobXforms, bool database, bool filtered) {
    BLOBTEST_TRY(blobtest::buildResultSet(rs, blobtest::sampleTree(blobs), perBlobXforms, database));
    BLOBTEST_TRY(fillPostProcessing(rs->postProcessing, rs->numBlobs));
    return filtered ? simulateFilterAndSort(rs) : 0;
}

TEST(ResultSet, AssignmentMakesAFaithfulCopy) {
    const int64_t live = csys_memory_getLiveBlockCount();
    const struct {
        int32_t blobs;
        bool perBlobXforms, database, filtered;
    } cases[] = {
        {9, false, false, false}, {9, true, true, false}, {9, false, true, true},
        {1203, true, true, true}, {1203, false, false, true}, {1000, true, true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.blobs) + (c.perBlobXforms ? " per-blob" : " shared") +
                     (c.database ? " db" : "") + (c.filtered ? " filtered" : ""));
        cblob_resultSet src, dst, again;
        ASSERT_EQ(cblob_resultSet_construct(&src), 0);
        ASSERT_EQ(cblob_resultSet_construct(&dst), 0);
        ASSERT_EQ(buildSource(&src, c.blobs, c.perBlobXforms, c.database, c.filtered), 0);
        ASSERT_EQ(cblob::connect::getNumBlocks(src.blobBlocks), c.blobs / 1000 + 1);
        // The pipeline's own statements about the filled set.
        EXPECT_TRUE(src.postProcessing->weightScale == 0.25 && src.postProcessing->connectivityType == 1);
        EXPECT_EQ(src.firstTopLevelBlob->parent, nullptr);
        ASSERT_EQ(buildSource(&dst, 4, true, true, false), 0);  // overwritten
        ASSERT_EQ(cblob_resultSet_assign(&dst, &src), 0);
        expectFaithfulCopy(src, dst);

        // Restoring the unfiltered view of the copy gives the labelled order.
        ASSERT_EQ(cblob::results::restoreUnfilteredView(&dst), 0);
        EXPECT_EQ(labelsOf(dst.view, dst.numViewBlobs), labelsOf(dst.allBlobs, dst.numBlobs));
        EXPECT_EQ(dst.viewFirstTopLevelBlob, dst.firstTopLevelBlob);
        EXPECT_EQ(chain(dst.viewFirstTopLevelBlob, true), chain(dst.firstTopLevelBlob, false));
        for (cblob_blob *b : blobsOf(&dst)) {
            ASSERT_TRUE(b->curFirstChild == b->firstChild && b->curLastChild == b->lastChild &&
                        b->curNextSibling == b->nextSibling && b->curPrevSibling == b->prevSibling &&
                        b->curNumChildren == b->numChildren);
        }
        // The copy outlives its source.
        ASSERT_EQ(cblob_resultSet_destruct(&src), 0);
        ASSERT_EQ(cblob_resultSet_constructCopy(&again, &dst), 0);
        EXPECT_EQ(again.numBlobs, c.blobs);
        EXPECT_EQ(cblob_resultSet_destruct(&again), 0);
        EXPECT_EQ(cblob_resultSet_destruct(&dst), 0);
    }
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

TEST(ResultSet, SelfAssignmentAndAssigningAnEmptySet) {
    const int64_t live = csys_memory_getLiveBlockCount();
    cblob_resultSet rs, empty, before;
    ASSERT_EQ(cblob_resultSet_construct(&rs), 0);
    ASSERT_EQ(cblob_resultSet_construct(&empty), 0);
    ASSERT_EQ(buildSource(&rs, 30, true, true, true), 0);
    std::memcpy(&before, &rs, sizeof(rs));
    std::vector<cblob_blob> records;
    for (cblob_blob *b : blobsOf(&rs)) records.push_back(*b);
    ASSERT_EQ(cblob_resultSet_assign(&rs, &rs), 0);
    EXPECT_EQ(std::memcmp(&before, &rs, sizeof(rs)), 0);
    const std::vector<cblob_blob *> now = blobsOf(&rs);
    ASSERT_EQ(now.size(), records.size());
    for (size_t i = 0; i < now.size(); ++i) EXPECT_EQ(std::memcmp(now[i], &records[i], sizeof(cblob_blob)), 0);
    // A set that never ran, assigned, leaves the destination cleared.
    ASSERT_EQ(cblob_resultSet_assign(&rs, &empty), 0);
    EXPECT_TRUE(rs.numBlobs == 0 && !rs.blobBlocks && !rs.blobDb && !rs.thresholdedRows);
    cblob_imageRlePtrh out;
    cblob_imageRlePtrh_construct(&out);
    EXPECT_EQ(cblob_resultSet_getThresholdedImageRlePtrh(&rs, &out), cblob_err_imageNotKept);
    EXPECT_EQ(cblob_resultSet_destruct(&rs), 0);
    EXPECT_EQ(cblob_resultSet_destruct(&empty), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

TEST(ResultSet, PipelineHelpers) {
    cblob_resultSet rs;
    ASSERT_EQ(cblob_resultSet_construct(&rs), 0);
    ASSERT_EQ(blobtest::buildResultSet(&rs, blobtest::sampleTree(12), false, false), 0);
    // The kept image is shared with the caller.
    cblob_imageRlePtrh out;
    cblob_imageRlePtrh_construct(&out);
    ASSERT_EQ(cblob_resultSet_getThresholdedImageRlePtrh(&rs, &out), 0);
    int64_t refs = 0;
    cstd_ptrh_getRefCount(&out.ptrh, &refs);
    EXPECT_EQ(refs, 2);
    cblob_imageRlePtrh_destruct(&out);
    // Measure caching starts with every valid bit clear, one word per blob.
    static_cast<uint32_t *>(rs.postProcessing->validBits.untyped.begin)[3] = 0xFFu;
    ASSERT_EQ(cblob_resultSet_createAndInitMeasureCaching_(&rs), 0);
    const auto *bits = static_cast<uint32_t *>(rs.postProcessing->validBits.untyped.begin);
    EXPECT_EQ(std::vector<uint32_t>(bits, bits + rs.postProcessing->validBits.untyped.size),
              std::vector<uint32_t>(12, 0u));
    {
        cblobtest::AssertCatcher catcher;
        EXPECT_EQ(cblob::results::setView(&rs, rs.allBlobs, rs.numBlobs + 1), csys_err_assertFailed);
        cblob_runParams params;
        cblob_runParams_construct(&params);
        params.scaleVal = 0;
        EXPECT_EQ(cblob_resultSetPostProcessing_recordRunParams(rs.postProcessing, &params), csys_err_assertFailed);
        EXPECT_EQ(catcher.count(), 2);
        cblob_runParams_destruct(&params);
    }
    EXPECT_EQ(cblob_resultSet_destruct(&rs), 0);
}

TEST(ResultSet, CleanUnderAllocationFailures) {
    // A multi-block source with per-blob transforms and a database.
    cblob_resultSet src;
    ASSERT_EQ(cblob_resultSet_construct(&src), 0);
    ASSERT_EQ(buildSource(&src, 1003, true, true, true), 0);
    auto copyInto = [&](bool assign) {
        return [&src, assign] {
            cblob_resultSet dst;
            int32_t status = assign ? cblob_resultSet_construct(&dst) : 0;
            if (CBLOB_FAILED(status)) return status;
            status = assign ? cblob_resultSet_assign(&dst, &src) : cblob_resultSet_constructCopy(&dst, &src);
            EXPECT_TRUE(!CBLOB_FAILED(status) || dst.blobBlocks == nullptr) << "a failed assignment leaves dst cleared";
            if (assign || !CBLOB_FAILED(status)) cblob_resultSet_destruct(&dst);
            return status;
        };
    };
    const std::vector<std::pair<std::string, std::function<int32_t()>>> ops = {
        {"assign", copyInto(true)},
        {"constructCopy", copyInto(false)},
        {"build and clear", [] {
             cblob_resultSet rs;
             BLOBTEST_TRY(cblob_resultSet_construct(&rs));
             const int32_t status = buildSource(&rs, 25, true, true, false);
             const int32_t cleared = cblob_resultSet_clear(&rs);
             cblob_resultSet_destruct(&rs);
             return CBLOB_FAILED(status) ? status : cleared;
         }},
    };
    for (const auto &[name, op] : ops) {
        SCOPED_TRACE(name);
        EXPECT_GT(cblobtest::expectCleanUnderAllocationFailures(op).failuresInjected, 0);
    }
    EXPECT_EQ(cblob_resultSet_destruct(&src), 0);
}

}  // namespace
