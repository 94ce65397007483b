// Grey morphology on run-length images against per-pixel minimum and
// maximum filters: outside the image the nearest edge pixel repeats, so the
// filter window is clipped to the image. Every operation code, grey and
// binary images of many sizes, every storage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cblob/rle_image.h"
#include "support/fault_injection.hpp"
#include "support/rle_images.hpp"
#include "support/rle_model.hpp"
#include "support/run_support.hpp"

namespace {

using rletest::Image;
using rletest::Model;
using rletest::Pixels;
using rletest::Storage;

const char *opName(int32_t op) {
    static const char *names[] = {"erode1x3", "erode3x1", "erode3x3", "dilate1x3", "dilate3x1", "dilate3x3",
                                  "close1x3", "close3x1", "close3x3", "open1x3",   "open3x1",   "open3x3"};
    return names[op];
}

TEST(RleMorphology, EveryOperationMatchesPixelFiltersInEveryStorage) {
    for (const Model &m : rletest::testModels()) {
        const Pixels px = rletest::decode(m);
        for (Storage s : rletest::storagesFor(m)) {
            Image src(m, s);
            for (int32_t op = 0; op < 12; ++op) {
                SCOPED_TRACE(rletest::label(m, s) + " " + opName(op));
                runtest::RleHandle out;
                ASSERT_EQ(cblob_imageRlePtrh_gmorph(&src.h, &out.h, op), 0);
                rletest::expectImageEquals(&out.h, rletest::encode(rletest::morphReference(px, op), m.grey, m.offsetX, m.offsetY));
            }
        }
    }
}

TEST(RleMorphology, ResultMayBeTheSourceHandle) {
    const Model m = rletest::randomModel(12, 25, 14, false, 5);
    Image src(m, Storage::Borrowed);
    cblob_imageRlePtrh other;
    cblob_imageRlePtrh_constructCopy(&other, &src.h);
    ASSERT_EQ(cblob_imageRlePtrh_gmorph(&src.h, &src.h, cblob_morph_close3x3), 0);
    rletest::expectImageEquals(&src.h, rletest::encode(rletest::morphReference(rletest::decode(m), cblob_morph_close3x3), false,
                                                       m.offsetX, m.offsetY));
    cblob_imageRle *kept = nullptr;
    cblob_imageRlePtrh_getImageRle(&other, &kept);
    // The other handle keeps the borrowed record.
    EXPECT_NE(kept, src.record());
    EXPECT_EQ(kept->data, nullptr);
    cblob_imageRlePtrh_destruct(&other);
}

TEST(RleMorphology, RefusesBadCodesAndMissingImages) {
    Image src(rletest::randomModel(13, 9, 9, true, 3, 4), Storage::Filled);
    cblob_imageRlePtrh out, null, bare;
    cblob_imageRlePtrh_constructCopy(&out, &src.h);
    cblob_imageRlePtrh_construct(&null);
    ASSERT_EQ(rletest::makeHandle(&bare, [](cblob_imageRle *img) { return cblob_imageRle_construct_(img); }), 0);
    for (int32_t op : {-1, 12, 1000}) {
        EXPECT_EQ(cblob_imageRlePtrh_gmorph(&src.h, &out, op), cblob_err_badMorphOp);
        int32_t isNull = 0;
        cblob_imageRlePtrh_getIsNull(&out, &isNull);
        EXPECT_EQ(isNull, 1);
    }
    EXPECT_EQ(cblob_imageRlePtrh_gmorph(&null, &out, 0), cblob_err_nullRleImage);
    EXPECT_EQ(cblob_imageRlePtrh_gmorph(&bare, &out, 0), cblob_err_rleImageEmpty);
    cblob_imageRlePtrh_destruct(&bare);
}

TEST(RleMorphology, EveryOperationStopsWhenAsked) {
    Image grey(rletest::randomModel(14, 41, 100, true, 6, 5), Storage::Filled);
    Image binary(rletest::randomModel(15, 41, 100, false, 6), Storage::Borrowed);
    for (int32_t op = 0; op < 12; ++op) {
        for (const Image *img : {&grey, &binary}) {
            SCOPED_TRACE(std::string(opName(op)) + (img == &grey ? " grey" : " binary"));
            auto run = [&] {
                runtest::RleHandle out;
                return cblob_imageRlePtrh_gmorph(&img->h, &out.h, op);
            };
            // 100 rows polled at rows 0, 32, 64 and 96 of every pass.
            const int32_t passes = op % 3 == 2 ? 2 : 1;
            const int32_t steps = op >= 6 ? 2 * passes : passes;
            EXPECT_EQ(cblobtest::expectCleanUnderCancellation(run), 4 * steps);
        }
    }
}

}  // namespace
