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
using rletest::makeModel;

// (block index, offset) of a row pointer in the record's storage, or (-1, 0).
std::pair<int64_t, std::ptrdiff_t> placeOf(const cblob_imageRle &img, const uint8_t *p) {
    const auto *blocks = static_cast<const cblob_rleData_Ptr *>(img.data->blocks.untyped.begin);
    const auto *sizes = static_cast<const uint32_t *>(img.data->blockSizes.untyped.begin);
    for (int64_t b = 0; b < img.data->blocks.untyped.size; ++b)
        if (p >= blocks[b] && p < blocks[b] + sizes[b]) return {b, p - blocks[b]};
    return {-1, 0};
}

// The rows of every entry (sentinels included) of a narrow or wide record.
std::vector<Row> entries(const cblob_imageRle &img) {
    std::vector<Row> out;
    for (int32_t e = 0; e < cblob::rle::rowCount(img.data); ++e) {
        const cblob_rleRow &r = img.rows[e];
        out.push_back(rletest::decodeRow(r.runs, img.isGrey, r.startValue, img.data->isWide));
        EXPECT_EQ(r.numRuns, static_cast<int32_t>(out.back().size())) << "entry " << e;
    }
    return out;
}

TEST(RleFormat, PackedRowsMatchTheReferenceEncoding) {
    constexpr int32_t kTrue = rletest::kTrueRunCount;
    Row alternating;
    for (int i = 0; i < 300; ++i) alternating.push_back({static_cast<uint8_t>(i & 1 ? 200 : 1), 1});
    const struct {
        std::string name;
        Model model;
        Row expectedFirstRow;  // the merged runs of row 0
        int32_t numRunsGiven;
    } cases[] = {
        {"merge", makeModel(305, {{{7, 100}, {7, 200}, {3, 5}}}), {{7, 300}, {3, 5}}, kTrue},
        {"254", makeModel(254, {{{5, 254}}}), {{5, 254}}, kTrue},
        {"255", makeModel(256, {{{5, 255}, {6, 1}}}), {{5, 255}, {6, 1}}, kTrue},
        {"256", makeModel(257, {{{9, 1}, {5, 256}}}), {{9, 1}, {5, 256}}, kTrue},
        {"70000", makeModel(70003, {{{1, 3}, {2, 70000}}, {{4, 70003}}}), {{1, 3}, {2, 70000}}, kTrue},
        // An underestimated run count makes the packer start blocks of the
        // minimum size; the escaped bottom sentinel must still fit.
        {"estimate too low", makeModel(300, {alternating, alternating, alternating}), alternating, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        cblob_imageRle img;
        // Pairs of 100 pixels: every long run arrives as several pairs to merge.
        ASSERT_EQ(rletest::buildFromTorv(&img, c.model, c.numRunsGiven, 100), 0);
        EXPECT_EQ(img.isGrey, 1);
        EXPECT_EQ(img.numRuns, c.numRunsGiven == kTrue ? c.model.numRuns() : c.numRunsGiven);
        const std::vector<uint8_t> want = rletest::encodeRow(c.expectedFirstRow, true),
                                   sentinel = rletest::encodeRow({{0, c.model.width}}, true);
        EXPECT_EQ(std::vector<uint8_t>(img.rows[1].runs, img.rows[1].runs + want.size()), want);
        std::vector<Row> rows = rletest::mergedRows(c.model.rows);
        rows.insert(rows.begin(), {{0, c.model.width}});
        rows.push_back({{0, c.model.width}});
        EXPECT_EQ(entries(img), rows);  // and every run count
        for (int32_t e : {0, c.model.height() + 1})
            EXPECT_EQ(std::vector<uint8_t>(img.rows[e].runs, img.rows[e].runs + sentinel.size()), sentinel);
        EXPECT_EQ(cblob_imageRle_destruct(&img), 0);
    }
}

TEST(RleFormat, BadPairInputIsRejected) {
    const int64_t live = csys_memory_getLiveBlockCount();
    const struct {
        int32_t width, numRuns;
        Row row;
        int32_t status;
    } cases[] = {
        {10, 1, {{1, 9}}, cimg_err_badGeometry},           // short of the width
        {10, 1, {{1, 10}, {2, 3}}, cimg_err_badGeometry},  // beyond it
        {10, 1, {{1, 300}}, cimg_err_badGeometry},         // beyond it in one merged run
        {0, 1, {}, cstd_err_badRect},
        {10, -1, {{1, 10}}, cstd_err_badCount},
    };
    for (const auto &c : cases) {
        cblob_imageRle img;
        EXPECT_EQ(rletest::buildFromTorv(&img, makeModel(c.width, {c.row}), c.numRuns), c.status);
        EXPECT_EQ(img.constructed, 0);
        EXPECT_EQ(cblob_imageRle_destruct(&img), 0);
    }
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

TEST(RleImage, UniformImage) {
    const int64_t live = csys_memory_getLiveBlockCount();
    const cmath_xformPtrhConst identity = rletest::identity();
    cblob_imageRlePtrh h;
    ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&h, 10, 3, 9, &identity), 0);
    cblob_imageRle *img = nullptr;
    int32_t n = 0, isBinary = 1, isNull = 0;
    ASSERT_EQ(cblob_imageRlePtrh_getImageRle(&h, &img), 0);
    EXPECT_EQ(cblob_imageRlePtrh_getNumRuns(&h, &n), 0);
    EXPECT_EQ(cblob_imageRlePtrh_getIsBinary(&h, &isBinary), 0);
    EXPECT_TRUE(n == 3 && isBinary == 0 && img->offsetX == 0);
    EXPECT_EQ(entries(*img), (std::vector<Row>{{{0, 10}}, {{9, 10}}, {{9, 10}}, {{9, 10}}, {{0, 10}}}));
    EXPECT_EQ(cblob_imageRlePtrh_destruct(&h), 0);
    // The low 8 bits of the value, an escaped width, and bad arguments.
    ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&h, 300, 2, 0x1FE, &identity), 0);
    uint8_t pel = 0;
    EXPECT_EQ(cblob_imageRlePtrh_getPel8(&h, 299, 1, &pel), 0);
    EXPECT_EQ(pel, 0xFE);
    EXPECT_EQ(cblob_imageRlePtrh_destruct(&h), 0);
    const cmath_xformLinear singular{};
    cmath_xformPtrhConst bad;
    ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&bad, &singular), 0);
    EXPECT_EQ(cblob_imageRlePtrh_constructUniform(&h, 4, 4, 1, &bad), cmath_err_singularXform);
    EXPECT_EQ(cblob_imageRlePtrh_getIsNull(&h, &isNull), 0);
    EXPECT_EQ(isNull, 1);
    EXPECT_EQ(cblob_imageRlePtrh_constructUniform(&h, 0, 4, 1, &identity), cstd_err_badRect);
    EXPECT_EQ(cblob_imageRlePtrh_constructUniform(&h, 4, 0, 1, &identity), cstd_err_badRect);
    cmath_xformPtrhConst_destruct(&bad);
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

using Copy = std::function<int32_t(cblob_imageRle *, const cblob_imageRle *)>;
using Build = std::function<int32_t(cblob_imageRle *)>;

// The copy operations a multi-block image goes through; the wide copy last.
const std::vector<std::pair<std::string, Copy>> kCopies = {
    {"constructCopy", &cblob_imageRle_constructCopy},
    {"constructDeepCopy", &cblob_imageRle_constructDeepCopy},
    {"assign over content",
     [](cblob_imageRle *d, const cblob_imageRle *s) {
         const int32_t status = rletest::buildFromTorv(d, makeModel(3, {{{1, 3}}}));
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
    {"wide copy", &cblob::rle::constructWideCopy},
};

// Images whose rows span several blocks, and a small binary one whose rows
// start with either value.
const std::vector<std::pair<std::string, Build>> kBuilders = {
    {"grey, packer", [](cblob_imageRle *i) { return rletest::buildFromTorv(i, rletest::randomModel(1, 300, 40, true, 3), 1); }},
    {"binary, filled",
     [](cblob_imageRle *i) { return rletest::buildByFilling(i, rletest::randomModel(2, 700, 30, false, 300), 4); }},
    {"binary, start values",
     [](cblob_imageRle *i) { return rletest::buildByFilling(i, rletest::randomModel(5, 9, 6, false, 4)); }},
};

// Every copy holds the same rows in storage of its own: narrow copies at the
// same block and offset as the source, the wide copy in one block.
TEST(RleImage, CopiesRelocateRowsIntoTheirOwnBlocks) {
    for (const auto &[buildName, build] : kBuilders) {
        cblob_imageRle src;
        ASSERT_EQ(build(&src), 0);
        const int32_t rows = cblob::rle::rowCount(src.data);
        for (const auto &[copyName, copy] : kCopies) {
            SCOPED_TRACE(buildName + " / " + copyName);
            const bool wide = copyName == std::string("wide copy");
            cblob_imageRle dst;
            cblob_imageRle_construct(&dst);
            ASSERT_EQ(copy(&dst, &src), 0);
            ASSERT_TRUE(dst.data != nullptr && dst.data != src.data);
            ASSERT_EQ(cblob::rle::rowCount(dst.data), rows);
            EXPECT_EQ(dst.data->isWide, wide);
            EXPECT_EQ(dst.rows, cblob::rle::rowTable(dst.data));
            EXPECT_EQ(dst.data->blocks.untyped.size, wide ? 1 : src.data->blocks.untyped.size);
            EXPECT_TRUE(dst.offsetX == src.offsetX && dst.width == src.width && dst.isGrey == src.isGrey);
            EXPECT_TRUE(dst.numRuns == src.numRuns && dst.data->numRuns == src.data->numRuns);
            EXPECT_EQ(entries(dst), entries(src));
            for (int32_t e = 0; e < rows; ++e) {
                EXPECT_EQ(dst.rows[e].startValue, src.rows[e].startValue) << "entry " << e;
                const auto at = placeOf(dst, dst.rows[e].runs);
                EXPECT_NE(at.first, -1) << "entry " << e;
                if (!wide) {
                    EXPECT_EQ(at, placeOf(src, src.rows[e].runs)) << "entry " << e;
                }
            }
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
    EXPECT_TRUE(seen.x == -40 && seen.y == 17);
    // A client-from-image transform set through one handle is seen, inverted, through another.
    const cmath_xformLinear shift = {{1, 0, 0, 1}, 5, 0};
    cmath_xformPtrhConst set, got = rletest::identity();
    double x = 1, y = 0;
    ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&set, &shift), 0);
    ASSERT_EQ(cblob_imageRlePtrh_setClientFromImageXform(&b, &set), 0);
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

TEST(RleImage, LifecycleStates) {
    const int64_t live = csys_memory_getLiveBlockCount();
    const cmath_xformPtrhConst identity = rletest::identity();
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
    ASSERT_EQ(rletest::buildByFilling(&img, rletest::randomModel(7, 20, 4, false, 5), 1), 0);
    const int64_t filled = csys_memory_getLiveBlockCount();
    ASSERT_EQ(cblob_imageRle_init(&img, 3, 4, 8, 2, &identity), 0);
    EXPECT_LT(csys_memory_getLiveBlockCount(), filled);
    EXPECT_TRUE(img.numRuns == 0 && cblob::rle::rowCount(img.data) == 4);
    // clear keeps geometry and run count but no rows.
    img.numRuns = 5;
    ASSERT_EQ(cblob_imageRle_clear(&img), 0);
    EXPECT_TRUE(img.rows == nullptr && img.width == 8 && img.numRuns == 5);
    int32_t n = 0;
    EXPECT_EQ(cblob_imageRle_getNumRunsWithValue(&img, 0, &n), cblob_err_rleImageNoRows);
    cblob_imageRle_destruct(&img);
    {
        cblobtest::AssertCatcher catcher;  // a record that is not constructed is a caller error
        cblob_imageRlePtrh h;
        cblob_imageRlePtrh_construct(&h);
        EXPECT_EQ(cblob_imageRlePtrh_attach(&h, &lazy), csys_err_assertFailed);
        EXPECT_EQ(cblob_imageRle_clear(&lazy), csys_err_assertFailed);
        EXPECT_EQ(cblob_imageRle_getNumRunsWithLength(&lazy, 1, &n), csys_err_assertFailed);
        EXPECT_EQ(catcher.count(), 3);
    }
    EXPECT_EQ(csys_memory_getLiveBlockCount(), live);
}

// Copies of an image in its elements' vector and the wide copy, with every
// allocation failing in turn (the public copies are swept with the API).
TEST(RleImage, VectorAndWideCopiesFailCleanly) {
    const Model grey = rletest::randomModel(8, 300, 70, true, 3);
    for (const auto &[name, copy] : kCopies) {
        if (name != "vector copy" && name != "wide copy") continue;
        SCOPED_TRACE(name);
        EXPECT_GT(cblobtest::expectCleanUnderAllocationFailures([&grey, copy = copy] {
                      cblob_imageRle src, dst;
                      cblob_imageRle_construct(&dst);
                      int32_t status = rletest::buildByFilling(&src, grey, 5);
                      if (!CBLOB_FAILED(status)) status = copy(&dst, &src);
                      cblob_imageRle_destruct(&dst);
                      cblob_imageRle_destruct(&src);
                      return status;
                  }).failuresInjected,
                  0);
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
