// Runs with morphology and run-length inputs masked by run-length images:
// the blobs of a run with morphology are those of the image the test's own
// pixel filters morphed, the kept images hold the masked and morphed
// pixels, the caller's images are never written, and a whole run fails
// cleanly under allocation failures and cancellation.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "support/blob_reference.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_images.hpp"
#include "support/rle_model.hpp"
#include "support/run_support.hpp"

namespace {

using rletest::Image;
using rletest::Model;
using rletest::Pixels;
using rletest::Storage;
using runtest::GreyImage;
using runtest::Params;
using runtest::Results;

void addOps(cblob_runParams *p, const std::vector<int32_t> &ops) {
    for (int32_t op : ops) ASSERT_EQ(cstd_vector_cblob_morphOp_pushBack(&p->morphOps, &op), 0);
}

Pixels morphAll(Pixels px, const std::vector<int32_t> &ops) {
    for (int32_t op : ops) px = rletest::morphReference(px, op);
    return px;
}

// The object pixels of a hard threshold (pixels 0 / 1).
Pixels thresholded(const GreyImage &img, int32_t thresh) {
    Pixels px{img.width(), img.height(), std::vector<uint8_t>(static_cast<size_t>(img.width()) * img.height())};
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) px.at(x, y) = img.at(x, y) >= thresh ? 1 : 0;
    return px;
}

cblobtest::RefResult referenceOf(const Pixels &px, int originX, int originY) {
    cblobtest::RefOptions options;
    options.originX = originX;
    options.originY = originY;
    return cblobtest::referenceBlobs(px.p, px.width, px.height, options);
}

const std::vector<std::vector<int32_t>> kSequences = {
    {cblob_morph_erode3x3},  {cblob_morph_dilate3x3}, {cblob_morph_open3x3},
    {cblob_morph_close3x3},  {cblob_morph_erode1x3, cblob_morph_dilate3x1},
    {cblob_morph_close1x3, cblob_morph_open3x1, cblob_morph_erode3x1},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};

// An image run with morphology: its blobs are those of the reference-morphed
// segmentation; the kept thresholded image is the segmentation before
// morphology and the kept morphed image the morphed one.
TEST(RunMorphology, BlobsOfImageRunsAreThoseOfTheReferenceMorphedImage) {
    std::mt19937 rng(18);
    const int sizes[][2] = {{1, 1}, {1, 17}, {23, 1}, {40, 30}, {97, 61}};
    for (const auto &size : sizes) {
        for (int cell : {1, 3}) {
            GreyImage img(size[0], size[1], 8, runtest::randomValues(rng, size[0], size[1], 8, 0.55, cell), 5, -3);
            const Pixels objects = thresholded(img, 128);
            for (const auto &ops : kSequences) {
                SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + " cell " +
                             std::to_string(cell) + " ops " + std::to_string(ops.size()) + " first " +
                             std::to_string(ops[0]));
                Params params;
                Results results;
                ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
                addOps(&params.p, ops);
                params.p.keepMorphedThresholdedImage = 1;
                params.p.keepThresholdedImage = 1;
                ASSERT_EQ(cblob_run8(img.image(), nullptr, &params.p, &results.rs), 0);
                const Pixels morphed = morphAll(objects, ops);
                EXPECT_TRUE(runtest::blobsMatch(results.rs, referenceOf(morphed, 5, -3)));
                cblob_imageRlePtrh kept;
                cblob_imageRlePtrh_construct(&kept);
                ASSERT_EQ(cblob_resultSet_getMorphedThresholdedImageRlePtrh(&results.rs, &kept), 0);
                rletest::expectImageEquals(&kept, rletest::encode(morphed, false, 5, -3));
                ASSERT_EQ(cblob_resultSet_getThresholdedImageRlePtrh(&results.rs, &kept), 0);
                rletest::expectImageEquals(&kept, rletest::encode(objects, false, 5, -3));
                cblob_imageRlePtrh_destruct(&kept);
                EXPECT_GE(results.rs.runTimings[2], 0.0);
            }
        }
    }
}

// The same through per-blob images: the morphed image is copied wide for
// the labels, and each blob's rows come from it.
TEST(RunMorphology, PerBlobImagesComeFromTheMorphedImage) {
    std::mt19937 rng(19);
    GreyImage img(64, 48, 8, runtest::randomValues(rng, 64, 48, 8, 0.5, 2));
    const std::vector<int32_t> ops = {cblob_morph_open3x3, cblob_morph_dilate1x3};
    Params params;
    Results results;
    ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
    addOps(&params.p, ops);
    params.p.keepBlobImages = 1;
    ASSERT_EQ(cblob_run8(img.image(), nullptr, &params.p, &results.rs), 0);
    const Pixels morphed = morphAll(thresholded(img, 128), ops);
    EXPECT_TRUE(runtest::blobsMatch(results.rs, referenceOf(morphed, 0, 0)));
    // Every object pixel of the morphed image is in exactly one object blob's image.
    Pixels covered{morphed.width, morphed.height, std::vector<uint8_t>(morphed.p.size())};
    for (int32_t i = 0; i < results.rs.numViewBlobs; ++i) {
        cblob_blob *b = results.rs.view[i];
        if (b->colour != 1) continue;
        cblob_imageRle *record = nullptr;
        ASSERT_EQ(cblob_blob_getImageRle(b, &record), 0);
        cblob_imageRlePtrh h;
        cblob_imageRlePtrh_construct(&h);
        ASSERT_EQ(cblob_imageRlePtrh_attach(&h, record), 0);
        for (int y = 0; y < b->boxHeight; ++y)
            for (int x = 0; x < b->boxWidth; ++x) {
                uint8_t v = 0;
                ASSERT_EQ(cblob_imageRlePtrh_getPel8(&h, b->boxLeft + x, b->boxTop + y, &v), 0);
                if (v) ++covered.at(b->boxLeft + x, b->boxTop + y);
            }
        cblob_imageRlePtrh_destruct(&h);
    }
    EXPECT_EQ(covered.p, morphed.p);
}

// A run-length input masked by a run-length image or by a mask image, with
// and without morphology: the masked pixels are the input's where the mask
// is non-zero and 0 elsewhere; the blobs are those of a run on the
// reference-masked (and morphed) image; the caller's input is not written.
TEST(RunMorphology, MaskedRunLengthInputsGiveTheBlobsOfTheReference) {
    uint32_t seed = 40;
    for (bool grey : {false, true}) {
        for (Storage storage : {Storage::Filled, Storage::Borrowed}) {
            for (bool maskImage : {false, true}) {
                for (const auto &ops : {std::vector<int32_t>{}, std::vector<int32_t>{cblob_morph_close3x3},
                                        std::vector<int32_t>{cblob_morph_erode3x1, cblob_morph_dilate3x3}}) {
                    SCOPED_TRACE(std::string(grey ? "grey" : "binary") + " " + rletest::storageName(storage) +
                                 (maskImage ? " mask image" : " run-length mask") + " ops " +
                                 std::to_string(ops.size()));
                    const Model m = rletest::randomModel(seed++, 45, 33, grey, 7, 3);
                    Image input(m, storage);
                    Model maskModel = rletest::randomModel(seed++, 45, 33, false, 20);
                    maskModel.offsetX = m.offsetX;  // a mask has its image's origin
                    maskModel.offsetY = m.offsetY;
                    Image mask(maskModel, Storage::Filled);
                    std::vector<uint16_t> maskValues;
                    const Pixels maskPx = rletest::decode(maskModel);
                    for (uint8_t v : maskPx.p) maskValues.push_back(v ? 255 : 0);
                    GreyImage maskImg(45, 33, 8, maskValues, m.offsetX, m.offsetY);

                    Params params;
                    Results results;
                    ASSERT_EQ(cblob_runParams_setSegmentationNone(&params.p, 1), 0);
                    addOps(&params.p, ops);
                    params.p.keepMaskedAndThresholdedImage = 1;
                    params.p.keepMorphedThresholdedImage = 1;
                    params.p.keepThresholdedImage = 1;
                    const int32_t status =
                        maskImage ? cblob_runRle8_withMask8(&input.h, maskImg.image(), &params.p, &results.rs)
                                  : cblob_runRle8_withRleMask(&input.h, &mask.h, &params.p, &results.rs);
                    ASSERT_EQ(status, 0);

                    Pixels masked = rletest::decode(m);
                    for (size_t i = 0; i < masked.p.size(); ++i)
                        if (!maskPx.p[i]) masked.p[i] = 0;
                    const Pixels morphed = morphAll(masked, ops);
                    cblob_imageRlePtrh kept;
                    cblob_imageRlePtrh_construct(&kept);
                    ASSERT_EQ(cblob_resultSet_getMaskedAndThresholdedImageRlePtrh(&results.rs, &kept), 0);
                    rletest::expectImageEquals(&kept, rletest::encode(masked, grey, m.offsetX, m.offsetY));
                    ASSERT_EQ(cblob_resultSet_getMorphedThresholdedImageRlePtrh(&results.rs, &kept), 0);
                    rletest::expectImageEquals(&kept, rletest::encode(morphed, grey, m.offsetX, m.offsetY));
                    ASSERT_EQ(cblob_resultSet_getThresholdedImageRlePtrh(&results.rs, &kept), 0);
                    int32_t same = 0;
                    cblob_imageRlePtrh_compareEqual(&kept, &input.h, &same);
                    EXPECT_EQ(same, 1);  // the input itself
                    cblob_imageRlePtrh_destruct(&kept);
                    EXPECT_GE(results.rs.runTimings[0], 0.0);
                    EXPECT_EQ(results.rs.runTimings[0], results.rs.runTimings[1]);

                    if (!grey) {
                        EXPECT_TRUE(runtest::blobsMatch(results.rs, referenceOf(morphed, m.offsetX, m.offsetY)));
                    } else {
                        // The weighted scan on the reference image, as a run without mask or morphology.
                        Image ref(rletest::encode(morphed, true, m.offsetX, m.offsetY), Storage::Filled);
                        Params plain;
                        Results want;
                        ASSERT_EQ(cblob_runParams_setSegmentationNone(&plain.p, 1), 0);
                        ASSERT_EQ(cblob_runRle8_withRleMask(&ref.h, nullptr, &plain.p, &want.rs), 0);
                        ASSERT_EQ(results.rs.numBlobs, want.rs.numBlobs);
                        for (int32_t i = 0; i < want.rs.numBlobs; ++i) {
                            const cblob_blob &a = *results.rs.allBlobs[i], &b = *want.rs.allBlobs[i];
                            EXPECT_EQ(a.colour, b.colour);
                            EXPECT_DOUBLE_EQ(a.area, b.area);
                            EXPECT_DOUBLE_EQ(a.centerOfMassX, b.centerOfMassX);
                            EXPECT_DOUBLE_EQ(a.centerOfMassY, b.centerOfMassY);
                            EXPECT_EQ(a.boxLeft, b.boxLeft);
                            EXPECT_EQ(a.boxWidth, b.boxWidth);
                        }
                    }
                    // The caller's input is unchanged.
                    Image again(m, Storage::Filled);
                    if (storage == Storage::Filled) {
                        int32_t equal = 0;
                        cblob_imageRlePtrh_compareEqual(&input.h, &again.h, &equal);
                        EXPECT_EQ(equal, 1);
                    }
                }
            }
        }
    }
}

TEST(RunMorphology, RefusesUnknownCodesAndMismatchedMasks) {
    GreyImage img(20, 10, 8, std::vector<uint16_t>(200, 200));
    Params params;
    Results results;
    ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
    addOps(&params.p, {cblob_morph_erode3x3, 12});
    EXPECT_EQ(cblob_run8(img.image(), nullptr, &params.p, &results.rs), cblob_err_badMorphOp);
    Image input(rletest::randomModel(3, 20, 10, false, 4), Storage::Filled);
    GreyImage small(19, 10, 8, std::vector<uint16_t>(190, 1));
    Params none;
    ASSERT_EQ(cblob_runParams_setSegmentationNone(&none.p, 1), 0);
    EXPECT_EQ(cblob_runRle8_withMask8(&input.h, small.image(), &none.p, &results.rs), cblob_err_maskGeometryMismatch);
}

// A whole run with a masked run-length input, morphology and every kept
// image, under every allocation failure and every cancellation poll.
TEST(RunMorphology, RunsFailCleanlyAndStopWhenAsked) {
    const Model m = rletest::randomModel(77, 50, 70, false, 6);
    Image input(m, Storage::Borrowed);
    Model maskModel = rletest::randomModel(78, 50, 70, false, 25);
    maskModel.offsetX = m.offsetX;
    maskModel.offsetY = m.offsetY;
    Image mask(maskModel, Storage::Filled);
    std::mt19937 rng(5);
    GreyImage img(50, 70, 8, runtest::randomValues(rng, 50, 70, 8, 0.5, 2));
    std::vector<uint16_t> maskValues(3500, 9);
    for (size_t i = 0; i < maskValues.size(); i += 7) maskValues[i] = 0;
    GreyImage maskImg(50, 70, 8, maskValues, m.offsetX, m.offsetY);
    GreyImage imageMask(50, 70, 8, maskValues);
    // A run with its own parameters and result set: morphology `ops`, the
    // segmentation and kept images `set` chooses, the entry point `call`.
    using Call = std::function<int32_t(cblob_runParams *, cblob_resultSet *)>;
    auto wholeRun = [](std::vector<cblob_morphOp> ops, std::function<void(cblob_runParams *)> set, Call call) {
        return [=]() -> int32_t {
            cblob_runParams p;
            cblob_resultSet rs;
            int32_t st = cblob_runParams_construct(&p);
            if (CBLOB_FAILED(st)) return st;
            st = cblob_resultSet_construct(&rs);
            if (!CBLOB_FAILED(st)) {
                set(&p);
                for (const cblob_morphOp &op : ops)
                    if (!CBLOB_FAILED(st)) st = cstd_vector_cblob_morphOp_pushBack(&p.morphOps, &op);
                if (!CBLOB_FAILED(st)) st = call(&p, &rs);
                cblob_resultSet_destruct(&rs);
            }
            cblob_runParams_destruct(&p);
            return st;
        };
    };
    const std::vector<std::function<int32_t()>> runs = {
        wholeRun({cblob_morph_open3x3, cblob_morph_dilate1x3},
                 [](cblob_runParams *p) {
                     cblob_runParams_setSegmentationNone(p, 1);
                     p->keepMaskedAndThresholdedImage = p->keepMorphedThresholdedImage = p->keepBlobImages = 1;
                 },
                 [&](cblob_runParams *p, cblob_resultSet *rs) {
                     return cblob_runRle8_withRleMask(&input.h, &mask.h, p, rs);
                 }),
        wholeRun({cblob_morph_erode1x3},
                 [](cblob_runParams *p) {
                     cblob_runParams_setSegmentationNone(p, 1);
                     p->keepMaskImage = p->keepThresholdedImage = 1;
                 },
                 [&](cblob_runParams *p, cblob_resultSet *rs) {
                     return cblob_runRle8_withMask8(&input.h, maskImg.image(), p, rs);
                 }),
        wholeRun({cblob_morph_close3x3},
                 [](cblob_runParams *p) {
                     cblob_runParams_setSegmentationHardThresh(p, 128, 0);
                     p->keepThresholdedImage = p->keepMorphedThresholdedImage = 1;
                 },
                 [&](cblob_runParams *p, cblob_resultSet *rs) {
                     return cblob_run8(img.image(), imageMask.image(), p, rs);
                 }),
    };
    for (const auto &run : runs) {
        ASSERT_EQ(run(), 0);
        EXPECT_GT(cblobtest::expectCleanUnderAllocationFailures(run).failuresInjected, 0);
        EXPECT_GT(cblobtest::expectCleanUnderCancellation(run), 4);
    }
}

}  // namespace
