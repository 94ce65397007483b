// The run pipeline end to end: blobs of random images and of a sample photo
// through every entry point against the test reference, soft thresholds,
// cleanup modes, transforms, kept images, the band plan, and a whole run
// under allocation failures and cancellation.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <thread>

#include "cblob/cblob.h"
#include "connect/blob_record.hpp"
#include "run/run_pipeline.hpp"
#include "support/blob_builder.hpp"
#include "support/blob_reference.hpp"
#include "support/fault_injection.hpp"
#include "support/run_support.hpp"

namespace {

using runtest::GreyImage;
using runtest::Params;
using runtest::Results;
using runtest::RleHandle;
using runtest::TorvMask;

TEST(RunPipeline, PlanBands) {
    struct Row {
        int32_t width, height, threads, type, bands;
    } rows[] = {
        {100, 100, 8, 0, 2},  // 10000 pixels: two bands of 5000
        {1000, 3, 8, 0, 1},   // 3 rows cannot make a band of 4
        {200, 200, 8, 0, 8},  // 8 bands of 25 rows
        {2000, 12, 8, 0, 3},  // 4 by pixels, then 12 / 4 rows
        {10000, 1, 8, 2, 1},  // by pixels 2, one row
        {100, 100, 8, 1, 1},  // the labelled scan: one band
        {1, 1, 8, 0, 1},     {300, 300, 1, 0, 1}, {0, 0, 4, 0, 1},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(cblob::run::planBands(r.width, r.height, r.threads, r.type), r.bands)
            << r.width << " x " << r.height << ", " << r.threads << " threads, type " << r.type;
    }
}

// The entry point a random case runs through.
enum class Entry { image, window, rleMask, torvMask, rleInputNone, rleInputRendered };
enum class Mask { none, image, rle, torv };

struct RandomCase {
    int width, height, bits;
    double density;
    int cell;
    int32_t invert;
    Entry entry;
    Mask mask;
    bool keepImages;  // forces the segmentation step
};

// Runs one case and compares with the reference.
void runRandomCase(std::mt19937 &rng, const RandomCase &c) {
    const int32_t thresh = c.bits == 8 ? 128 : 32768;
    const int ox = static_cast<int>(rng() % 7), oy = static_cast<int>(rng() % 5);
    // Window runs analyse the middle of a larger image.
    const int margin = c.entry == Entry::window ? 2 : 0;
    const int bigW = c.width + 2 * margin, bigH = c.height + 2 * margin;
    GreyImage image(bigW, bigH, c.bits, runtest::randomValues(rng, bigW, bigH, c.bits, c.density, c.cell), ox, oy,
                    static_cast<int>(rng() % 3));
    std::vector<uint16_t> maskValues(static_cast<size_t>(bigW) * bigH);
    for (auto &m : maskValues) m = static_cast<uint16_t>(rng() % 5 == 0 ? 0 : 1 + rng() % 255);
    GreyImage mask(bigW, bigH, 8, maskValues, ox, oy);

    // Expected objects over the analysed window.
    std::vector<uint8_t> all = runtest::hardObjects(image, thresh, c.invert, c.mask == Mask::none ? nullptr : &mask);
    std::vector<uint8_t> objects(static_cast<size_t>(c.width) * c.height);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            objects[static_cast<size_t>(y) * c.width + x] = all[static_cast<size_t>(y + margin) * bigW + x + margin];
        }
    }
    cblobtest::RefOptions options;
    options.originX = ox + margin;
    options.originY = oy + margin;
    const cblobtest::RefResult ref = cblobtest::referenceBlobs(objects, c.width, c.height, options);

    Params params;
    Results results;
    ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, thresh, c.invert), 0);
    params.p.keepThresholdedImage = c.keepImages ? 1 : 0;
    params.p.keepMaskedAndThresholdedImage = c.keepImages ? 1 : 0;
    RleHandle rleMask, rleInput;
    TorvMask torv(mask);
    ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleMask.h, mask.image(), 1, 0), 0);
    const cimg_imageConst *maskImage = c.mask == Mask::image ? mask.image() : nullptr;
    const cblob_imageRlePtrh *maskRle = c.mask == Mask::rle ? &rleMask.h : nullptr;
    const uint8_t *const *maskRows = c.mask == Mask::torv ? torv.rows.data() : nullptr;
    int32_t expected = 0;
    int32_t status = 0;
    const bool eight = c.bits == 8;
    switch (c.entry) {
        case Entry::image:
            status = eight ? cblob_run8(image.image(), maskImage, &params.p, &results.rs)
                           : cblob_run16(image.image(), maskImage, &params.p, &results.rs);
            break;
        case Entry::window: {
            cimg_windowConst w, m;
            ASSERT_EQ(cimg_windowConst_initWindow(&w, image.image(), ox + margin, oy + margin, c.width, c.height), 0);
            ASSERT_EQ(cimg_windowConst_initWindow(&m, mask.image(), ox + margin, oy + margin, c.width, c.height), 0);
            const cimg_windowConst *mw = maskImage ? &m : nullptr;
            status = eight ? cblob_runWindow8(&w, nullptr, mw, &params.p, &results.rs)
                           : cblob_runWindow16(&w, nullptr, mw, &params.p, &results.rs);
            break;
        }
        case Entry::rleMask:
            status = eight ? cblob_run8_withRleMask(image.image(), maskRle, &params.p, &results.rs)
                           : cblob_run16_withRleMask(image.image(), maskRle, &params.p, &results.rs);
            break;
        case Entry::torvMask:
            // The one-pass path reads TORV masks with 8-bit images only.
            if (!eight && maskRows && !c.keepImages) expected = cblob_err_torvMask16Bit;
            status = eight ? cblob_run8_withTORVRleMask(image.image(), maskRows, &torv.rect, &params.p, &results.rs)
                           : cblob_run16_withTORVRleMask(image.image(), maskRows, &torv.rect, &params.p, &results.rs);
            break;
        case Entry::rleInputNone:
            // The segmented image itself is labelled.
            ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleInput.h, image.image(), thresh, c.invert), 0);
            ASSERT_EQ(cblob_runParams_setSegmentationNone(&params.p, 1), 0);
            status = cblob_runRle8_withRleMask(&rleInput.h, nullptr, &params.p, &results.rs);
            break;
        case Entry::rleInputRendered:
            // Rendered as 0 and 1, thresholded at 1, masked.
            ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleInput.h, image.image(), thresh, c.invert), 0);
            ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 1, 0), 0);
            status = c.mask == Mask::image ? cblob_runRle8_withMask8(&rleInput.h, maskImage, &params.p, &results.rs)
                     : c.mask == Mask::torv
                         ? cblob_runRle8_withTORVRleMask(&rleInput.h, maskRows, &torv.rect, &params.p, &results.rs)
                         : cblob_runRle8_withRleMask(&rleInput.h, maskRle, &params.p, &results.rs);
            break;
    }
    ASSERT_EQ(status, expected) << cblob_statusName(status);
    if (expected != 0) return;
    EXPECT_TRUE(runtest::blobsMatch(results.rs, ref));
    EXPECT_EQ(results.rs.runWindow.x, ox + margin);
    EXPECT_EQ(results.rs.runWindow.width, c.width);
    EXPECT_EQ(results.rs.runWindow.height, c.height);

    // Kept images: the unmasked segmentation, and the masked one the blobs
    // came from.
    RleHandle kept, expect;
    if (c.keepImages) {
        ASSERT_EQ(cblob_resultSet_getThresholdedImageRlePtrh(&results.rs, &kept.h), 0);
        if (eight && c.entry != Entry::window) {
            ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&expect.h, image.image(), thresh, c.invert), 0);
            int32_t equal = 0;
            ASSERT_EQ(cblob_imageRlePtrh_compareEqual(&kept.h, &expect.h, &equal), 0);
            EXPECT_EQ(equal, 1) << "the kept thresholded image is not the unmasked segmentation";
        }
        EXPECT_EQ(cblob_resultSet_getMaskedAndThresholdedImageRlePtrh(&results.rs, &kept.h),
                  c.mask == Mask::none ? cblob_err_imageNotKept : 0);
    } else {
        EXPECT_EQ(cblob_resultSet_getThresholdedImageRlePtrh(&results.rs, &kept.h), cblob_err_imageNotKept);
    }
}

TEST(RunPipeline, RandomImagesAgainstReference) {
    std::mt19937 rng(20240601);
    const Entry entries[] = {Entry::image,    Entry::window,       Entry::rleMask,
                             Entry::torvMask, Entry::rleInputNone, Entry::rleInputRendered};
    for (int i = 0; i < 90; ++i) {
        RandomCase c;
        const bool large = i % 10 == 0;
        c.width = large ? 200 + static_cast<int>(rng() % 101) : 1 + static_cast<int>(rng() % (i % 3 == 0 ? 8 : 70));
        c.height = large ? 200 + static_cast<int>(rng() % 101) : 1 + static_cast<int>(rng() % (i % 4 == 0 ? 6 : 60));
        c.entry = entries[i % 6];
        const bool rleInput = c.entry == Entry::rleInputNone || c.entry == Entry::rleInputRendered;
        c.bits = rleInput ? 8 : (rng() % 2 ? 8 : 16);
        c.density = 0.05 + 0.9 * (static_cast<double>(rng() % 1000) / 999.0);
        c.cell = 1 + static_cast<int>(rng() % 4);
        c.invert = static_cast<int32_t>(rng() % 2);
        // Image entries take a mask image one time in two, mask entries their
        // kind of mask two times in three, rendered run-length input any mask.
        const Mask own[] = {Mask::image, Mask::image, Mask::rle, Mask::torv, Mask::none};
        if (c.entry == Entry::rleInputRendered) {
            c.mask = static_cast<Mask>(rng() % 4);
        } else {
            c.mask = c.entry != Entry::rleInputNone && rng() % (i % 6 < 2 ? 2 : 3) ? own[i % 6] : Mask::none;
        }
        c.keepImages = !rleInput && rng() % 2 == 0;
        SCOPED_TRACE(::testing::Message() << "case " << i << ": " << c.width << " x " << c.height << ", " << c.bits
                                          << "-bit, density " << c.density << ", cell " << c.cell << ", invert "
                                          << c.invert << ", entry " << static_cast<int>(c.entry) << ", mask "
                                          << static_cast<int>(c.mask) << ", keep " << c.keepImages);
        runRandomCase(rng, c);
        if (::testing::Test::HasFailure()) return;
    }
}

// The sample photograph at a few thresholds, both polarities, one pass and
// through segmentation, and as run-length input.
TEST(RunPipeline, SampleImageAgainstReference) {
    int width = 0, height = 0;
    std::vector<uint16_t> values;
    ASSERT_TRUE(runtest::readPngGrey(std::string(CBLOB_SAMPLES_DIR) + "/coins.png", &width, &height, &values));
    GreyImage image(width, height, 8, values, 10, 20);
    for (const int32_t thresh : {50, 90, 130, 170}) {
        for (const int32_t invert : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << "threshold " << thresh << ", invert " << invert);
            cblobtest::RefOptions options;
            options.originX = 10;
            options.originY = 20;
            const auto ref =
                cblobtest::referenceBlobs(runtest::hardObjects(image, thresh, invert), width, height, options);
            for (int path = 0; path < 3; ++path) {
                Params params;
                Results results;
                RleHandle input;
                ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, thresh, invert), 0);
                if (path == 2) {
                    ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&input.h, image.image(), thresh, invert), 0);
                    ASSERT_EQ(cblob_runParams_setSegmentationNone(&params.p, 1), 0);
                    params.p.keepThresholdedImage = 1;
                    const cstd_rect32 unused{0, 0, 0, 0};  // compared only with a mask
                    ASSERT_EQ(cblob_runRle8_withTORVRleMask(&input.h, nullptr, &unused, &params.p, &results.rs), 0);
                    // The kept thresholded image is the input itself.
                    cblob_imageRle *kept = nullptr, *given = nullptr;
                    cblob_imageRlePtrh_getImageRle(&results.rs.thresholdedImage, &kept);
                    cblob_imageRlePtrh_getImageRle(&input.h, &given);
                    EXPECT_EQ(kept, given);
                } else {
                    params.p.keepThresholdedImage = path;
                    ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results.rs), 0);
                }
                EXPECT_TRUE(runtest::blobsMatch(results.rs, ref)) << "path " << path;
            }
        }
    }
}

// Cleanup modes prune or fill small regions as the reference does.
TEST(RunPipeline, CleanupModes) {
    std::mt19937 rng(77);
    for (int i = 0; i < 24; ++i) {
        const int width = 5 + static_cast<int>(rng() % 90), height = 5 + static_cast<int>(rng() % 70);
        const int32_t cleanup = 1 + i % 2;
        const int32_t minArea = 1 + static_cast<int32_t>(rng() % 12);
        const bool keep = i % 4 >= 2;
        GreyImage image(width, height, 8,
                        runtest::randomValues(rng, width, height, 8, 0.2 + 0.6 * (i % 5) / 4.0, 1 + i % 3), 3, 4);
        cblobtest::RefOptions options;
        options.cleanup = cleanup;
        options.minArea = minArea;
        options.originX = 3;
        options.originY = 4;
        const auto ref = cblobtest::referenceBlobs(runtest::hardObjects(image, 128, 0), width, height, options);
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
        params.p.connectivityCleanup = cleanup;
        params.p.minArea = minArea;
        params.p.keepThresholdedImage = keep ? 1 : 0;
        ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results.rs), 0);
        EXPECT_TRUE(runtest::blobsMatch(results.rs, ref))
            << "case " << i << ": " << width << " x " << height << ", cleanup " << cleanup << ", min area " << minArea;
    }
}

// Soft thresholds: the object area is the sum of the pixel weights divided
// by the scale value; a softness of 0 gives the blobs of the hard threshold
// at the high threshold.
TEST(RunPipeline, SoftThresholds) {
    std::mt19937 rng(5);
    for (int i = 0; i < 12; ++i) {
        const int width = 10 + static_cast<int>(rng() % 80), height = 10 + static_cast<int>(rng() % 60);
        std::vector<uint16_t> values(static_cast<size_t>(width) * height);
        for (auto &v : values) v = static_cast<uint16_t>(rng() % 256);
        GreyImage image(width, height, 8, values, 1, 2);
        const int32_t low = static_cast<int32_t>(rng() % 150);
        const int32_t high = low + 1 + static_cast<int32_t>(rng() % 100);
        const int32_t softness = static_cast<int32_t>(rng() % (high - low + 1));
        const int32_t invert = i % 2;
        SCOPED_TRACE(::testing::Message()
                     << "low " << low << ", high " << high << ", softness " << softness << ", invert " << invert);

        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationSoftThreshWithSoftness(&params.p, low, high, softness, invert), 0);
        ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results.rs), 0);
        if (softness > 0) {
            // The weight table: levels 1..s across the ramp, s + 1 above it.
            const int32_t s = softness < 254 ? softness : 254;
            double weights = 0;
            for (uint16_t v : values) {
                int32_t w = v < low ? 0 : v >= high ? s + 1 : 1 + ((v - low) * s) / (high - low);
                if (invert) w = s + 1 - w;
                weights += w;
            }
            EXPECT_NEAR(runtest::objectArea(results.rs), weights / params.p.scaleVal, 1e-6 * (weights + 1));
        } else {
            cblobtest::RefOptions options;
            options.originX = 1;
            options.originY = 2;
            const auto ref =
                cblobtest::referenceBlobs(runtest::hardObjects(image, high, invert), width, height, options);
            EXPECT_TRUE(runtest::blobsMatch(results.rs, ref));
        }
    }
}

// A grey run-length input labelled as it stands weighs each run by its
// value / scaleVal.
TEST(RunPipeline, GreyRunLengthInputIsWeighted) {
    std::mt19937 rng(11);
    std::vector<uint16_t> values(40 * 30);
    double sum = 0;
    for (auto &v : values) {
        v = static_cast<uint16_t>(rng() % 3 == 0 ? 0 : rng() % 20);
        sum += v;
    }
    GreyImage image(40, 30, 8, values);
    RleHandle input;
    ASSERT_EQ(cblob_imageRlePtrh_encode(&input.h, image.image()), 0);
    Params params;
    Results results;
    ASSERT_EQ(cblob_runParams_setSegmentationNone(&params.p, 19), 0);
    ASSERT_EQ(cblob_runRle8_withMask8(&input.h, nullptr, &params.p, &results.rs), 0);
    EXPECT_NEAR(runtest::objectArea(results.rs), sum / 19.0, 1e-9 * sum);
    EXPECT_DOUBLE_EQ(results.rs.postProcessing->weightScale, 1.0 / 19.0);
}

// A blob's image borrows its rows from a blob database (no sentinel rows,
// binary rows that may end early); labelled as it stands it gives the
// blobs of its rendering, and the database is left as it was.
TEST(RunPipeline, RunLengthInputWithBorrowedRows) {
    cblob_resultSet source;
    ASSERT_EQ(cblob_resultSet_construct(&source), 0);
    ASSERT_EQ(blobtest::buildResultSet(&source, blobtest::sampleTree(12), false, true), 0);
    int tested = 0;
    for (cblob_blob *b : blobtest::blobsOf(&source)) {
        cblob_imageRle *img = static_cast<cblob_imageRle *>(source.blobDb->images.untyped.begin) + (b->label - 1);
        if (!img->constructed || !img->rows) continue;
        SCOPED_TRACE(b->label);
        img->isGrey = 0;  // the builder writes binary rows for every blob
        RleHandle input;
        ASSERT_EQ(cblob_imageRlePtrh_attach(&input.h, img), 0);
        cimg_image rendered;
        cimg_image8_construct(&rendered);
        ASSERT_EQ(cblob_imageRlePtrh_getImage(&input.h, &rendered), 0);
        std::vector<uint8_t> objects(static_cast<size_t>(img->width) * img->height);
        for (int y = 0; y < img->height; ++y) {
            for (int x = 0; x < img->width; ++x) {
                objects[static_cast<size_t>(y) * img->width + x] = rendered.pels[y * rendered.strideBytes + x];
            }
        }
        cimg_image_destruct(&rendered);
        cblobtest::RefOptions options;
        options.originX = img->offsetX;
        options.originY = img->offsetY;
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationNone(&params.p, 1), 0);
        params.p.keepThresholdedImage = 1;
        ASSERT_EQ(cblob_runRle8_withRleMask(&input.h, nullptr, &params.p, &results.rs), 0);
        EXPECT_TRUE(
            runtest::blobsMatch(results.rs, cblobtest::referenceBlobs(objects, img->width, img->height, options)));
        EXPECT_EQ(results.rs.thresholdedRows, img->rows);  // the input itself is kept
        ++tested;
    }
    EXPECT_GT(tested, 2);
    EXPECT_EQ(cblob_resultSet_destruct(&source), 0);
}

// Client transforms: a singular linear one fails before segmentation; a
// scaling one scales areas and maps centres; a perspective one gives every
// blob its own transform.
TEST(RunPipeline, ClientTransforms) {
    std::mt19937 rng(3);
    GreyImage image(30, 20, 8, runtest::randomValues(rng, 30, 20, 8, 0.4, 3), 5, 6);
    auto withXform = [&](const cmath_xformPtrhConst *xform, Params &params, Results &results) {
        cimg_image copy;
        cimg_imageConst_constructCopy(&copy, image.image());
        cimg_image_setClientFromImageXform(&copy, xform);
        const int32_t status = cblob_run8(&copy, nullptr, &params.p, &results.rs);
        cimg_image_destruct(&copy);
        return status;
    };
    {
        const cmath_xformLinear linear = {{1.0, 2.0, 2.0, 4.0}, 0.0, 0.0};
        cmath_xformPtrhConst xform;
        ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&xform, &linear), 0);
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationHardThreshPercent(&params.p, 0.0f, 0.0f, 50.0f, 0), 0);
        params.p.keepThresholdedImage = 1;
        EXPECT_EQ(withXform(&xform, params, results), cmath_err_singularXform);
        RleHandle kept;
        EXPECT_EQ(cblob_resultSet_getThresholdedImageRlePtrh(&results.rs, &kept.h), cblob_err_imageNotKept);
        EXPECT_EQ(params.p.thresh, 0) << "percent thresholds were computed";
        EXPECT_EQ(results.rs.runTimings[0], 0.0);
        cmath_xformPtrhConst_destruct(&xform);
    }
    Params plainParams;
    Results plain;
    ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&plainParams.p, 128, 0), 0);
    ASSERT_EQ(cblob_run8(image.image(), nullptr, &plainParams.p, &plain.rs), 0);
    ASSERT_GT(plain.rs.numBlobs, 0);
    {
        const cmath_xformLinear linear = {{2.0, 0.0, 0.0, 3.0}, 1.0, -1.0};
        cmath_xformPtrhConst xform;
        ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&xform, &linear), 0);
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
        ASSERT_EQ(withXform(&xform, params, results), 0);
        ASSERT_EQ(results.rs.numBlobs, plain.rs.numBlobs);
        for (int i = 0; i < plain.rs.numBlobs; ++i) {
            const cblob_blob *a = plain.rs.allBlobs[i], *b = results.rs.allBlobs[i];
            EXPECT_DOUBLE_EQ(b->area, 6.0 * a->area);
            EXPECT_NEAR(b->centerOfMassX, 2.0 * a->centerOfMassX + 1.0, 1e-9);
            EXPECT_NEAR(b->centerOfMassY, 3.0 * a->centerOfMassY - 1.0, 1e-9);
            EXPECT_EQ(b->clientFromImage, &results.rs.sharedLinearXform);
        }
        int32_t isNull = 1;
        cmath_xformPtrhConst_getIsNull(&results.rs.clientFromImage, &isNull);
        EXPECT_EQ(isNull, 0);
        cmath_xformPtrhConst_destruct(&xform);
    }
    {
        const double h[9] = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.001, 0.002, 1.0};
        cmath_xformPtrhConst xform;
        ASSERT_EQ(cmath_xformPtrhConst_constructPerspective(&xform, h), 0);
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
        ASSERT_EQ(withXform(&xform, params, results), 0);
        ASSERT_EQ(results.rs.numBlobs, plain.rs.numBlobs);
        ASSERT_NE(results.rs.xformBlocks, nullptr);
        for (int i = 0; i < results.rs.numBlobs; ++i) {
            EXPECT_NE(results.rs.allBlobs[i]->clientFromImage, &results.rs.sharedLinearXform);
        }
        cmath_xformPtrhConst_destruct(&xform);
    }
}

// Every attention poll sleeps 20 ms while it lives, so each phase that
// polls at least once takes at least that long.
struct SlowAttention {
    SlowAttention() {
        csys_attention_setCallback(
            [](void *) -> int32_t {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return 0;
            },
            nullptr);
    }
    ~SlowAttention() { csys_attention_setCallback(nullptr, nullptr); }
    SlowAttention(const SlowAttention &) = delete;
    SlowAttention &operator=(const SlowAttention &) = delete;
};

// Timings: segmentation into [0], the same into [1] with a mask, no
// morphology time in [2], connectivity into [3]. Segmentation and the scan
// each poll the attention check; with every poll 20 ms slower, both phases
// read at least 15 ms. The one-pass path has no segmentation step: a run
// on it reports no segmentation time, also in a result set that held one.
TEST(RunPipeline, TimingsGrowWithTheWorkOfTheirPhase) {
    std::mt19937 rng(9);
    GreyImage image(120, 30, 8, runtest::randomValues(rng, 120, 30, 8, 0.5, 2));
    GreyImage mask(120, 30, 8, std::vector<uint16_t>(120 * 30, 1));
    SlowAttention slow;
    for (const bool masked : {false, true}) {
        SCOPED_TRACE(masked ? "masked" : "unmasked");
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
        params.p.keepThresholdedImage = 1;  // segments into a run-length image first
        ASSERT_EQ(cblob_run8(image.image(), masked ? mask.image() : nullptr, &params.p, &results.rs), 0);
        const double *t = results.rs.runTimings;
        EXPECT_GE(t[0], 15.0);
        EXPECT_EQ(t[1], masked ? t[0] : 0.0);
        EXPECT_EQ(t[2], 0.0);
        EXPECT_GE(t[3], 15.0);

        params.p.keepThresholdedImage = 0;  // the one-pass path
        ASSERT_EQ(cblob_run8(image.image(), masked ? mask.image() : nullptr, &params.p, &results.rs), 0);
        EXPECT_EQ(t[0], 0.0);
        EXPECT_EQ(t[1], 0.0);
        EXPECT_EQ(t[2], 0.0);
        EXPECT_GE(t[3], 15.0);
    }
}

// The blob blocks of a result set, in order.
std::vector<const cblob_blob *> blobBlocksOf(const cblob_resultSet &rs) {
    std::vector<const cblob_blob *> blocks;
    const int32_t n = cblob::connect::getNumBlocks(rs.blobBlocks);
    for (int32_t i = 0; i < n; ++i) blocks.push_back(cblob::connect::getBlock(rs.blobBlocks, i));
    return blocks;
}

// A run into a result set that holds an earlier run's blobs writes its
// blobs into the earlier run's blob blocks, frees those it does not need,
// and finds the blobs a run into a fresh result set finds; also through the
// run-length entry point, and under failing allocations.
TEST(RunPipeline, RunsReuseTheBlobBlocksOfTheResultSet) {
    std::mt19937 rng(5);
    // Single-pixel noise gives a few thousand blobs (several blocks); large
    // cells a few dozen (one block).
    GreyImage many(150, 100, 8, runtest::randomValues(rng, 150, 100, 8, 0.3, 1));
    GreyImage few(150, 100, 8, runtest::randomValues(rng, 150, 100, 8, 0.5, 12));
    RleHandle manyRle;
    ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&manyRle.h, many.image(), 128, 0), 0);
    auto runImage = [](const GreyImage *image, cblob_resultSet *rs) {
        Params params;
        cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0);
        return cblob_run8(image->image(), nullptr, &params.p, rs);
    };
    auto runRle = [&](cblob_resultSet *rs) {
        Params params;
        cblob_runParams_setSegmentationNone(&params.p, 1);
        return cblob_runRle8_withRleMask(&manyRle.h, nullptr, &params.p, rs);
    };
    struct Row {
        const char *name;
        const GreyImage *first, *second;
        bool secondAsRle;
    } rows[] = {
        {"many, then many", &many, &many, false},
        {"few, then many", &few, &many, false},
        {"many, then few", &many, &few, false},
        {"many, then many as runs", &many, &many, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        auto runSecond = [&](cblob_resultSet *rs) { return r.secondAsRle ? runRle(rs) : runImage(r.second, rs); };
        const auto ref = cblobtest::referenceBlobs(runtest::hardObjects(*r.second, 128, 0), 150, 100);
        Results fresh, reused;
        int64_t live = csys_memory_getLiveBlockCount();
        ASSERT_EQ(runSecond(&fresh.rs), 0);
        const int64_t freshHolds = csys_memory_getLiveBlockCount() - live;

        live = csys_memory_getLiveBlockCount();
        ASSERT_EQ(runImage(r.first, &reused.rs), 0);
        const auto before = blobBlocksOf(reused.rs);
        ASSERT_EQ(runSecond(&reused.rs), 0);
        EXPECT_TRUE(runtest::blobsMatch(reused.rs, ref));
        EXPECT_EQ(csys_memory_getLiveBlockCount() - live, freshHolds) << "blocks kept or lost";
        const auto after = blobBlocksOf(reused.rs);
        size_t reusedBlocks = 0;
        for (const cblob_blob *block : after) {
            reusedBlocks += std::find(before.begin(), before.end(), block) != before.end() ? 1 : 0;
        }
        EXPECT_EQ(reusedBlocks, std::min(before.size(), after.size()));
    }
    // Every allocation of two runs into one result set failing in turn.
    const auto report = cblobtest::expectCleanUnderAllocationFailures([&]() -> int32_t {
        cblob_resultSet rs;
        int32_t status = cblob_resultSet_construct(&rs);
        if (CBLOB_FAILED(status)) return status;
        status = runImage(&many, &rs);
        if (!CBLOB_FAILED(status)) status = runRle(&rs);
        if (!CBLOB_FAILED(status)) status = runImage(&few, &rs);
        const int32_t end = cblob_resultSet_destruct(&rs);
        return CBLOB_FAILED(status) ? status : end;
    });
    EXPECT_GT(report.failuresInjected, 10);
}

// A whole run under failing allocations and under cancellation at every
// attention poll: the memory or stop status, and nothing left after the
// result set is destructed.
TEST(RunPipeline, FaultsAndCancellation) {
    std::mt19937 rng(21);
    GreyImage image(60, 40, 8, runtest::randomValues(rng, 60, 40, 8, 0.5, 2), 1, 1);
    GreyImage mask(60, 40, 8, std::vector<uint16_t>(60 * 40, 3), 1, 1);
    RleHandle rleMask, rleInput;
    ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleMask.h, mask.image(), 1, 0), 0);
    ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleInput.h, image.image(), 128, 0), 0);
    TorvMask torv(mask);
    struct Variant {
        const char *name;
        std::function<int32_t(cblob_runParams *, cblob_resultSet *)> run;
    };
    const Variant variants[] = {
        {"one pass with a mask image",
         [&](cblob_runParams *p, cblob_resultSet *rs) { return cblob_run8(image.image(), mask.image(), p, rs); }},
        {"segmentation with a run-length mask and kept images",
         [&](cblob_runParams *p, cblob_resultSet *rs) {
             p->keepThresholdedImage = 1;
             p->keepMaskedAndThresholdedImage = 1;
             return cblob_run8_withRleMask(image.image(), &rleMask.h, p, rs);
         }},
        {"soft threshold with a TORV mask",
         [&](cblob_runParams *p, cblob_resultSet *rs) {
             cblob_runParams_setSegmentationSoftThreshWithSoftness(p, 100, 160, 20, 0);
             return cblob_run8_withTORVRleMask(image.image(), torv.rows.data(), &torv.rect, p, rs);
         }},
        {"percent threshold, fill cleanup",
         [&](cblob_runParams *p, cblob_resultSet *rs) {
             cblob_runParams_setSegmentationHardThreshPercent(p, 5.0f, 5.0f, 50.0f, 1);
             p->connectivityCleanup = cblob_connectivityCleanupFill;
             p->minArea = 4;
             return cblob_run8(image.image(), nullptr, p, rs);
         }},
        {"run-length input rendered and masked",
         [&](cblob_runParams *p, cblob_resultSet *rs) {
             return cblob_runRle8_withRleMask(&rleInput.h, &rleMask.h, p, rs);
         }},
    };
    for (const Variant &v : variants) {
        SCOPED_TRACE(v.name);
        auto operation = [&]() -> int32_t {
            cblob_runParams p;
            int32_t status = cblob_runParams_construct(&p);
            if (CBLOB_FAILED(status)) return status;
            cblob_resultSet rs;
            status = cblob_resultSet_construct(&rs);
            if (!CBLOB_FAILED(status)) {
                cblob_runParams_setSegmentationHardThresh(&p, 128, 0);
                status = v.run(&p, &rs);
                const int32_t end = cblob_resultSet_destruct(&rs);
                if (!CBLOB_FAILED(status)) status = end;
            }
            cblob_runParams_destruct(&p);
            return status;
        };
        const auto report = cblobtest::expectCleanUnderAllocationFailures(operation);
        EXPECT_GT(report.failuresInjected, 3);
        const int64_t polls = cblobtest::expectCleanUnderCancellation(operation);
        EXPECT_GE(polls, 4);
    }
}

}  // namespace
