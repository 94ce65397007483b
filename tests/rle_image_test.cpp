// Run-length image model: byte format through the row packer, storage copies
// across blocks, the uniform builder, handles, the wide copy, lifecycle
// states, and clean failure under allocation faults and cancellation.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cblob/rle_image.h"
#include "rle/wide_copy.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"

namespace {

using rletest::Model;
using rletest::Row;

cmath_xformPtrhConst identityXform() {
    cmath_xformPtrhConst x;
    cmath_xformPtrhConst_construct(&x);
    return x;
}

// The blocks of a record's storage as (start, size) pairs.
std::vector<std::pair<const uint8_t *, uint32_t>> blocksOf(const cblob_imageRle &img) {
    std::vector<std::pair<const uint8_t *, uint32_t>> out;
    const auto *blocks = static_cast<const cblob_rleData_Ptr *>(img.data->blocks.untyped.begin);
    const auto *sizes = static_cast<const uint32_t *>(img.data->blockSizes.untyped.begin);
    for (int64_t i = 0; i < img.data->blocks.untyped.size; ++i) out.push_back({blocks[i], sizes[i]});
    return out;
}

// (block index, offset) of a row pointer, or (-1, 0) when in no block.
std::pair<int, std::ptrdiff_t> placeOf(const cblob_imageRle &img, const uint8_t *p) {
    const auto blocks = blocksOf(img);
    for (size_t b = 0; b < blocks.size(); ++b) {
        const auto at = reinterpret_cast<uintptr_t>(p), start = reinterpret_cast<uintptr_t>(blocks[b].first);
        if (at >= start && at - start < blocks[b].second) return {static_cast<int>(b), p - blocks[b].first};
    }
    return {-1, 0};
}

// Every row entry (sentinels included) of copy is at the same block and offset
// as in src, inside copy's own blocks, with the same decoded runs.
void expectSameLayout(const cblob_imageRle &src, const cblob_imageRle &copy) {
    ASSERT_NE(copy.data, nullptr);
    ASSERT_NE(copy.data, src.data);
    ASSERT_EQ(blocksOf(copy).size(), blocksOf(src).size());
    ASSERT_EQ(cblob::rle::rowCount(copy.data), cblob::rle::rowCount(src.data));
    EXPECT_EQ(copy.rows, cblob::rle::rowTable(copy.data));
    for (int32_t e = 0; e < cblob::rle::rowCount(src.data); ++e) {
        const cblob_rleRow &a = src.rows[e], &b = copy.rows[e];
        const auto pa = placeOf(src, a.runs), pb = placeOf(copy, b.runs);
        EXPECT_NE(pb.first, -1) << "entry " << e;
        EXPECT_EQ(pa, pb) << "entry " << e;
        EXPECT_EQ(a.numRuns, b.numRuns);
        EXPECT_EQ(rletest::decodeRow(a.runs, src.isGrey, a.startValue),
                  rletest::decodeRow(b.runs, copy.isGrey, b.startValue));
    }
    EXPECT_EQ(copy.numRuns, src.numRuns);
    EXPECT_EQ(copy.data->numRuns, src.data->numRuns);
}

Model greyModel(int32_t width, std::vector<Row> rows) {
    Model m;
    m.width = width;
    m.rows = std::move(rows);
    return m;
}

TEST(RleFormat, PackedRowsMatchTheReferenceEncoding) {
    constexpr int32_t kTrue = rletest::kTrueRunCount;
    Row alternating;
    for (int i = 0; i < 300; ++i) alternating.push_back({static_cast<uint8_t>(i & 1 ? 200 : 1), 1});
    struct Case {
        std::string name;
        Model model;
        Row expectedFirstRow;  // the merged runs of row 0
        int32_t numRunsGiven;
    };
    const std::vector<Case> cases = {
        {"merge", greyModel(305, {{{7, 100}, {7, 200}, {3, 5}}}), {{7, 300}, {3, 5}}, kTrue},
        {"254", greyModel(254, {{{5, 254}}}), {{5, 254}}, kTrue},
        {"255", greyModel(256, {{{5, 255}, {6, 1}}}), {{5, 255}, {6, 1}}, kTrue},
        {"256", greyModel(257, {{{9, 1}, {5, 256}}}), {{9, 1}, {5, 256}}, kTrue},
        {"70000", greyModel(70003, {{{1, 3}, {2, 70000}}, {{4, 70003}}}), {{1, 3}, {2, 70000}}, kTrue},
        // An underestimated run count makes the packer start blocks of the
        // minimum size; the escaped bottom sentinel must still fit.
        {"estimate too low", greyModel(300, {alternating, alternating, alternating}), alternating, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cblob_imageRle img;
        // Pairs of 100 pixels: every long run arrives as several pairs to merge.
        ASSERT_EQ(rletest::buildFromTorv(&img, c.model, c.numRunsGiven, 100), 0);
        EXPECT_EQ(img.isGrey, 1);
        EXPECT_EQ(img.numRuns, c.numRunsGiven == kTrue ? c.model.numRuns() : c.numRunsGiven);
        const cblob_rleRow &row0 = img.rows[1];
        EXPECT_EQ(row0.numRuns, static_cast<int32_t>(c.expectedFirstRow.size()));
        const std::vector<uint8_t> want = rletest::encodeRow(c.expectedFirstRow, true);
        EXPECT_EQ(std::vector<uint8_t>(row0.runs, row0.runs + want.size()), want);
        EXPECT_EQ(rletest::decodeImage(&img), rletest::mergedRows(c.model.rows));
        for (int32_t e : {0, c.model.height() + 1}) {
            const std::vector<uint8_t> sentinel = rletest::encodeRow({{0, c.model.width}}, true);
            EXPECT_EQ(std::vector<uint8_t>(img.rows[e].runs, img.rows[e].runs + sentinel.size()), sentinel);
            EXPECT_EQ(img.rows[e].numRuns, 1);
        }
        EXPECT_EQ(cblob_imageRle_destruct(&img), 0);
    }
}

TEST(RleFormat, BadPairInputIsRejected) {
    const int64_t live = csys_memory_getLiveBlockCount();
    struct Case {
        int32_t width, numRuns;
        Row row;
        int32_t status;
    } cases[] = {
        {10, 1, {{1, 9}}, cimg_err_badGeometry},          // short of the width
        {10, 1, {{1, 10}, {2, 3}}, cimg_err_badGeometry}, // beyond it
        {10, 1, {{1, 300}}, cimg_err_badGeometry},        // beyond it in one merged run
        {0, 1, {}, cstd_err_badRect},
        {10, -1, {{1, 10}}, cstd_err_badCount},
    };
    for (const auto &c : cases) {
        cblob_imageRle img;
        EXPECT_EQ(rletest::buildFromTorv(&img, greyModel(c.width, {c.row}), c.numRuns), c.status);
        EXPECT_EQ(img.constructed, 0);
        EXPECT_EQ(cblob_imageRle_destruct(&img), 0);
    }
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

TEST(RleImage, UniformImage) {
    const int64_t live = csys_memory_getLiveBlockCount();
    const cmath_xformPtrhConst identity = identityXform();
    cblob_imageRlePtrh h;
    ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&h, 10, 3, 9, &identity), 0);
    cblob_imageRle *img = nullptr;
    ASSERT_EQ(cblob_imageRlePtrh_getImageRle(&h, &img), 0);
    int32_t n = 0, isBinary = 1;
    EXPECT_EQ(cblob_imageRlePtrh_getNumRuns(&h, &n), 0);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(cblob_imageRlePtrh_getIsBinary(&h, &isBinary), 0);
    EXPECT_EQ(isBinary, 0);
    EXPECT_EQ(cblob::rle::rowCount(img->data), 5);
    EXPECT_EQ(img->offsetX, 0);
    for (int32_t e = 0; e < 5; ++e) {
        const Row want = {{static_cast<uint8_t>(e == 0 || e == 4 ? 0 : 9), 10}};
        EXPECT_EQ(rletest::decodeRow(img->rows[e].runs, true, 0), want) << "entry " << e;
    }
    EXPECT_EQ(cblob_imageRlePtrh_destruct(&h), 0);
    // The low 8 bits of the value, an escaped width, and bad arguments.
    ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&h, 300, 2, 0x1FE, &identity), 0);
    uint8_t pel = 0;
    EXPECT_EQ(cblob_imageRlePtrh_getPel8(&h, 299, 1, &pel), 0);
    EXPECT_EQ(pel, 0xFE);
    EXPECT_EQ(cblob_imageRlePtrh_destruct(&h), 0);
    cmath_xformLinear singular{};
    cmath_xformPtrhConst bad;
    ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&bad, &singular), 0);
    int32_t isNull = 0;
    EXPECT_EQ(cblob_imageRlePtrh_constructUniform(&h, 4, 4, 1, &bad), cmath_err_singularXform);
    EXPECT_EQ(cblob_imageRlePtrh_getIsNull(&h, &isNull), 0);
    EXPECT_EQ(isNull, 1);
    EXPECT_EQ(cblob_imageRlePtrh_constructUniform(&h, 0, 4, 1, &identity), cstd_err_badRect);
    EXPECT_EQ(cblob_imageRlePtrh_constructUniform(&h, 4, 0, 1, &identity), cstd_err_badRect);
    cmath_xformPtrhConst_destruct(&bad);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

// The copy operations a multi-block image goes through.
const std::vector<std::pair<std::string, std::function<int32_t(cblob_imageRle *, const cblob_imageRle *)>>>
    kCopies = {
        {"constructCopy",
         [](cblob_imageRle *d, const cblob_imageRle *s) { return cblob_imageRle_constructCopy(d, s); }},
        {"constructDeepCopy",
         [](cblob_imageRle *d, const cblob_imageRle *s) { return cblob_imageRle_constructDeepCopy(d, s); }},
        {"assign over content",
         [](cblob_imageRle *d, const cblob_imageRle *s) {
             const int32_t status = rletest::buildFromTorv(d, greyModel(3, {{{1, 3}}}));
             return CBLOB_FAILED(status) ? status : cblob_imageRle_assign(d, s);
         }},
        {"vector copy",
         [](cblob_imageRle *d, const cblob_imageRle *s) {
             cstd_vector_cblob_imageRle a, b;
             int32_t status = cstd_vector_cblob_imageRle_constructFill(&a, 2, s);
             if (CBLOB_FAILED(status)) return status;
             status = cstd_vector_cblob_imageRle_constructCopy(&b, &a);
             const cblob_imageRle *e = nullptr;
             if (!CBLOB_FAILED(status)) {
                 cstd_vector_cblob_imageRle_getElementConst(&b, 1, &e);
                 status = cblob_imageRle_constructCopy(d, e);
                 cstd_vector_cblob_imageRle_destruct(&b);
             }
             cstd_vector_cblob_imageRle_destruct(&a);
             return status;
         }},
};

// Images whose rows span several blocks.
std::vector<std::pair<std::string, std::function<int32_t(cblob_imageRle *)>>> multiBlockBuilders() {
    return {
        {"grey, packer",
         [](cblob_imageRle *i) { return rletest::buildFromTorv(i, rletest::randomModel(1, 300, 40, true, 3), 1); }},
        {"binary, filled",
         [](cblob_imageRle *i) { return rletest::buildByFilling(i, rletest::randomModel(2, 700, 30, false, 300), 4); }},
    };
}

TEST(RleImage, CopiesRelocateRowsIntoTheirOwnBlocks) {
    for (const auto &builder : multiBlockBuilders()) {
        cblob_imageRle src;
        ASSERT_EQ(builder.second(&src), 0);
        ASSERT_GT(blocksOf(src).size(), 3u) << builder.first;
        for (const auto &copy : kCopies) {
            SCOPED_TRACE(builder.first + " / " + copy.first);
            cblob_imageRle dst;
            cblob_imageRle_construct(&dst);
            ASSERT_EQ(copy.second(&dst, &src), 0);
            expectSameLayout(src, dst);
            EXPECT_EQ(dst.offsetX, src.offsetX);
            EXPECT_EQ(dst.isGrey, src.isGrey);
            EXPECT_EQ(cblob_imageRle_destruct(&dst), 0);
        }
        EXPECT_EQ(cblob_imageRle_destruct(&src), 0);
    }
}

TEST(RleImage, HandlesShareOneRecordAndTheLastFreesIt) {
    const int64_t live = csys_memory_getLiveBlockCount();
    cblob_imageRlePtrh a, b, c;
    ASSERT_EQ(rletest::makeHandle(&a, [](cblob_imageRle *i) {
                  return rletest::buildFromTorv(i, rletest::randomModel(3, 50, 5, true, 9));
              }),
              0);
    ASSERT_EQ(cblob_imageRlePtrh_constructCopy(&b, &a), 0);
    ASSERT_EQ(cblob_imageRlePtrh_construct(&c), 0);
    ASSERT_EQ(cblob_imageRlePtrh_assign(&c, &b), 0);
    const cstd_point32 moved = {-40, 17};
    cstd_point32 seen = {0, 0};
    ASSERT_EQ(cblob_imageRlePtrh_setOffset(&a, &moved), 0);
    ASSERT_EQ(cblob_imageRlePtrh_getOffset(&c, &seen), 0);
    EXPECT_EQ(seen.x, -40);
    EXPECT_EQ(seen.y, 17);
    // A client-from-image transform set through one handle is seen, inverted,
    // through another.
    cmath_xformLinear shift;
    cmath_xformLinear_initIdentity(&shift);
    shift.tx = 5;
    cmath_xformPtrhConst set, got = identityXform();
    ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&set, &shift), 0);
    ASSERT_EQ(cblob_imageRlePtrh_setClientFromImageXform(&b, &set), 0);
    double x = 0, y = 0;
    ASSERT_EQ(cblob_imageRlePtrh_getImageFromClientXform(&c, &got), 0);
    ASSERT_EQ(cmath_xformPtrhConst_mapPoint(&got, 5, 0, &x, &y), 0);
    EXPECT_EQ(x, 0.0);
    cmath_xformPtrhConst_destruct(&set);
    cmath_xformPtrhConst_destruct(&got);

    EXPECT_EQ(cblob_imageRlePtrh_destruct(&a), 0);
    EXPECT_EQ(cblob_imageRlePtrh_detach(&b), 0);
    EXPECT_GT(csys_memory_getLiveBlockCount(), live);
    EXPECT_EQ(cblob_imageRlePtrh_assignNull(&c), 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
    int32_t n = 0;
    EXPECT_EQ(cblob_imageRlePtrh_getNumRuns(&c, &n), cblob_err_nullRleImage);
    EXPECT_EQ(cblob_imageRlePtrh_setOffset(&c, &moved), cblob_err_nullRleImage);
    cblob_imageRlePtrh_destruct(&c);
}

TEST(RleImage, WideCopyHoldsTheSameRows) {
    std::vector<std::pair<std::string, std::function<int32_t(cblob_imageRle *)>>> builders = multiBlockBuilders();
    builders.push_back({"binary, start values", [](cblob_imageRle *i) {
                            return rletest::buildByFilling(i, rletest::randomModel(5, 9, 6, false, 4));
                        }});
    for (const auto &builder : builders) {
        SCOPED_TRACE(builder.first);
        cblob_imageRle src, wide;
        ASSERT_EQ(builder.second(&src), 0);
        ASSERT_EQ(cblob::rle::constructWideCopy(&wide, &src), 0);
        EXPECT_EQ(wide.data->isWide, 1);
        EXPECT_EQ(blocksOf(wide).size(), 1u);
        EXPECT_EQ(wide.numRuns, src.numRuns);
        EXPECT_EQ(wide.width, src.width);
        EXPECT_EQ(wide.rows, cblob::rle::rowTable(wide.data));
        const int32_t entries = cblob::rle::rowCount(src.data);
        ASSERT_EQ(cblob::rle::rowCount(wide.data), entries);
        for (int32_t e = 0; e < entries; ++e) {
            const cblob_rleRow &n = src.rows[e], &w = wide.rows[e];
            EXPECT_EQ(w.numRuns, n.numRuns);
            EXPECT_EQ(w.startValue, n.startValue);
            EXPECT_EQ(rletest::decodeRow(w.runs, src.isGrey, w.startValue, true),
                      rletest::decodeRow(n.runs, src.isGrey, n.startValue))
                << "entry " << e;
        }
        cblob_imageRle_destruct(&wide);
        cblob_imageRle_destruct(&src);
    }
}

TEST(RleImage, LifecycleStates) {
    const int64_t live = csys_memory_getLiveBlockCount();
    const cmath_xformPtrhConst identity = identityXform();
    cblob_imageRle lazy, img;
    cblob_imageRle_construct(&lazy);
    EXPECT_EQ(cblob_imageRle_destruct(&lazy), 0);  // nothing to release
    // Assigning a record that is not constructed empties the destination.
    ASSERT_EQ(rletest::buildFromTorv(&img, rletest::randomModel(6, 20, 4, true, 5)), 0);
    EXPECT_EQ(cblob_imageRle_assign(&img, &lazy), 0);
    EXPECT_EQ(img.constructed, 0);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
    // init validates before changing anything; re-init frees the old blocks.
    cblob_imageRle_construct(&img);
    EXPECT_EQ(cblob_imageRle_init(&img, INT32_MAX, 0, 2, 3, &identity), cstd_err_badRect);
    EXPECT_EQ(img.constructed, 0);
    cblob_imageRle_destruct(&img);
    ASSERT_EQ(rletest::buildByFilling(&img, rletest::randomModel(7, 20, 4, false, 5), 1), 0);
    const int64_t filled = csys_memory_getLiveBlockCount();
    ASSERT_EQ(cblob_imageRle_init(&img, 3, 4, 8, 2, &identity), 0);
    EXPECT_LT(csys_memory_getLiveBlockCount(), filled);
    EXPECT_EQ(img.numRuns, 0);
    EXPECT_EQ(cblob::rle::rowCount(img.data), 4);
    // clear keeps geometry and run count but no rows.
    img.numRuns = 5;
    ASSERT_EQ(cblob_imageRle_clear(&img), 0);
    EXPECT_EQ(img.rows, nullptr);
    EXPECT_EQ(img.width, 8);
    EXPECT_EQ(img.numRuns, 5);
    int32_t n = 0;
    EXPECT_EQ(cblob_imageRle_getNumRunsWithValue(&img, 0, &n), cblob_err_rleImageNoRows);
    cblob_imageRle_destruct(&img);
    // A record that is not constructed is a caller error.
    {
        cblobtest::AssertCatcher catcher;
        cblob_imageRlePtrh h;
        cblob_imageRlePtrh_construct(&h);
        EXPECT_EQ(cblob_imageRlePtrh_attach(&h, &lazy), csys_err_assertFailed);
        EXPECT_EQ(cblob_imageRle_clear(&lazy), csys_err_assertFailed);
        EXPECT_EQ(cblob_imageRle_getNumRunsWithLength(&lazy, 1, &n), csys_err_assertFailed);
        EXPECT_EQ(catcher.count(), 3);
    }
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

TEST(RleImage, CleanUnderAllocationFailures) {
    const cmath_xformPtrhConst identity = identityXform();
    const Model grey = rletest::randomModel(8, 300, 70, true, 3);
    std::vector<std::pair<std::string, std::function<int32_t()>>> ops = {
        {"constructUniform",
         [&] {
             cblob_imageRlePtrh h;
             const int32_t status = cblob_imageRlePtrh_constructUniform(&h, 70, 9, 3, &identity);
             cblob_imageRlePtrh_destruct(&h);
             return status;
         }},
        {"constructFromTORVRLE",
         [&] {
             cblob_imageRle img;
             const int32_t status = rletest::buildFromTorv(&img, grey, 1);
             cblob_imageRle_destruct(&img);
             return status;
         }},
        {"init and fill", [&] {
             cblob_imageRle img;
             const int32_t status = rletest::buildByFilling(&img, rletest::randomModel(9, 60, 9, false, 7), 2);
             cblob_imageRle_destruct(&img);
             return status;
         }},
        {"getImage into an unbound image", [&] {
             cblob_imageRlePtrh h;
             cimg_image out;
             cimg_image8_construct(&out);
             int32_t status =
                 rletest::makeHandle(&h, [&](cblob_imageRle *i) { return rletest::buildFromTorv(i, grey); });
             if (!CBLOB_FAILED(status)) status = cblob_imageRlePtrh_getImage(&h, &out);
             cimg_image_destruct(&out);
             cblob_imageRlePtrh_destruct(&h);
             return status;
         }},
    };
    for (const auto &copy : kCopies) {
        ops.push_back({copy.first, [&] {
                           cblob_imageRle src, dst;
                           cblob_imageRle_construct(&dst);
                           int32_t status = rletest::buildByFilling(&src, grey, 5);
                           if (!CBLOB_FAILED(status)) status = copy.second(&dst, &src);
                           cblob_imageRle_destruct(&dst);
                           cblob_imageRle_destruct(&src);
                           return status;
                       }});
    }
    ops.push_back({"wide copy", [&] {
                       cblob_imageRle src, wide;
                       int32_t status = rletest::buildByFilling(&src, grey, 5);
                       if (!CBLOB_FAILED(status)) status = cblob::rle::constructWideCopy(&wide, &src);
                       if (!CBLOB_FAILED(status)) cblob_imageRle_destruct(&wide);
                       cblob_imageRle_destruct(&src);
                       return status;
                   }});
    for (const auto &op : ops) {
        SCOPED_TRACE(op.first);
        const auto report = cblobtest::expectCleanUnderAllocationFailures(op.second);
        EXPECT_GT(report.failuresInjected, 0);
    }
}

TEST(RleImage, PackerStopsCleanlyAtEveryPoll) {
    const Model m = rletest::randomModel(10, 40, 100, true, 6);
    const int64_t polls = cblobtest::expectCleanUnderCancellation([&] {
        cblob_imageRle img;
        const int32_t status = rletest::buildFromTorv(&img, m);
        EXPECT_EQ(img.constructed, status == 0 ? 1 : 0);
        cblob_imageRle_destruct(&img);
        return status;
    });
    EXPECT_EQ(polls, 4);  // rows 0, 32, 64 and 96
}

}  // namespace
