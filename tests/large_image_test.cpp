// Images past the 32-bit counts: a region of more than 2^32 pixels, and a
// pattern of more than 2^31 runs. Each gives the right blobs or a named
// status, never a wrapped count.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "cblob/cblob.h"
#include "support/rle_model.hpp"
#include "support/run_support.hpp"

namespace {

using runtest::Params;
using runtest::Results;
using runtest::RleHandle;

constexpr int32_t kWide = 65536;
constexpr int32_t kTall = 65540;  // kWide x kTall passes 2^32 pixels

// The whole-image object of a run-length image with one run per row, binary
// or grey, through the run-length entry point: its area, box and centre are
// exact, whatever the 32-bit counts would have wrapped to.
TEST(LargeImage, WholeImageObjectOfMoreThan2To32Pixels) {
    struct Case {
        const char *name;
        bool grey;
    };
    for (const Case &c : {Case{"binary", false}, Case{"grey", true}}) {
        SCOPED_TRACE(c.name);
        RleHandle h;
        if (c.grey) {
            const cmath_xformPtrhConst none = rletest::identity();
            ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&h.h, kWide, kTall, 1, &none), 0);
        } else {
            rletest::Model m = rletest::makeModel(kWide, std::vector<rletest::Row>(kTall, {{1, kWide}}), false);
            ASSERT_EQ(rletest::makeHandle(&h.h, [&](cblob_imageRle *img) { return rletest::buildByFilling(img, m); }),
                      0);
        }
        Params p;
        ASSERT_EQ(cblob_runParams_setSegmentationNone(&p.p, 1), 0);
        Results r;
        ASSERT_EQ(cblob_runRle8_withRleMask(&h.h, nullptr, &p.p, &r.rs), 0);
        ASSERT_EQ(r.rs.numBlobs, 1);
        const cblob_blob &b = *r.rs.allBlobs[0];
        EXPECT_EQ(b.colour, 1);
        EXPECT_EQ(b.area, static_cast<double>(kWide) * kTall);
        EXPECT_EQ(b.boxLeft, 0);
        EXPECT_EQ(b.boxTop, 0);
        EXPECT_EQ(b.boxWidth, kWide);
        EXPECT_EQ(b.boxHeight, kTall);
        EXPECT_DOUBLE_EQ(b.centerOfMassX, kWide / 2.0);
        EXPECT_DOUBLE_EQ(b.centerOfMassY, kTall / 2.0);
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CBLOB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CBLOB_SANITIZED 1
#endif
#endif

// 65536 x 32800 pixels of alternating columns: 2^31 + 2^20 runs. Labelled in
// one pass (no run-length image) the columns are 32768 objects of one
// column each, with one and with two threads; a run that must build the
// run-length image (it keeps it) gives the size status, since an image's
// run count is 32 bits wide. Needs 2 GiB of pixels: Release builds only.
TEST(LargeImage, AlternatingColumnsPast2To31Runs) {
#ifdef CBLOB_SANITIZED
    GTEST_SKIP() << "2 GiB of pixels: runs in the Release build only";
#else
    constexpr int32_t kHeight = 32800;
    std::vector<uint8_t> pixels(static_cast<size_t>(kWide) * kHeight);
    for (size_t i = 0; i < pixels.size(); i += 2) pixels[i] = 255;
    cimg_image image;
    ASSERT_EQ(cimg_image_constructUnbound(&image, 8), 0);
    ASSERT_EQ(cimg_image_initFromBuffer(&image, pixels.data(), 8, kWide, kHeight, kWide, 0, 0), 0);
    int32_t savedThreads = 1;
    ASSERT_EQ(csys_job_getThreadCount(&savedThreads), 0);
    for (int32_t threads : {1, 2}) {
        SCOPED_TRACE(threads);
        ASSERT_EQ(csys_job_setThreadCount(threads), 0);
        for (int32_t keep : {0, 1}) {
            Params p;
            ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&p.p, 128, 0), 0);
            p.p.keepThresholdedImage = keep;
            Results r;
            const int32_t status = cblob_run8(&image, nullptr, &p.p, &r.rs);
            if (keep) {
                EXPECT_EQ(status, csys_err_badSize) << cblob_statusName(status);
                continue;
            }
            ASSERT_EQ(status, 0) << cblob_statusName(status);
            int32_t objects = 0;
            bool allColumns = true;
            for (int32_t i = 0; i < r.rs.numBlobs; ++i) {
                const cblob_blob &b = *r.rs.allBlobs[i];
                if (b.colour != 1) continue;
                ++objects;
                allColumns = allColumns && b.area == kHeight && b.boxWidth == 1 && b.boxHeight == kHeight;
            }
            EXPECT_EQ(objects, kWide / 2);
            EXPECT_TRUE(allColumns);
        }
    }
    csys_job_setThreadCount(savedThreads);
    cimg_image_destruct(&image);
#endif
}

}  // namespace

namespace {

// The projections' 32-bit sums: exact up to 2^32 - 1, the size status
// beyond. A grey row of 255s weighs 255 x width.
TEST(LargeImage, ProjectionSumsAreExactOrRefused) {
    constexpr int32_t kLongest = 16843009;  // 255 x 16843009 = 2^32 - 1
    struct Case {
        int32_t width, height;
        int32_t (*project)(const cblob_imageRlePtrh *, cstd_vector32 *);
        int32_t status;
        uint32_t first;
    };
    const Case cases[] = {
        {kLongest, 1, cblob_imageRlePtrh_projectHoriz, 0, UINT32_MAX},
        {kLongest + 1, 1, cblob_imageRlePtrh_projectHoriz, csys_err_badSize, 0},
        {1, kLongest + 1, cblob_imageRlePtrh_projectVert, csys_err_badSize, 0},
        {kLongest + 1, 1, cblob_imageRlePtrh_projectDiag, 0, 255},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        RleHandle h;
        const cmath_xformPtrhConst none = rletest::identity();
        ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&h.h, c.width, c.height, 255, &none), 0);
        cstd_vector32 out;
        ASSERT_EQ(cstd_vector32_construct(&out, 0), 0);
        EXPECT_EQ(c.project(&h.h, &out), c.status);
        if (c.status == 0) {
            uint32_t *sums = nullptr;
            ASSERT_EQ(cstd_vector32_getBegin(&out, &sums), 0);
            EXPECT_EQ(sums[0], c.first);
        }
        cstd_vector32_destruct(&out);
    }
}

}  // namespace
