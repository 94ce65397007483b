// Per-blob runs and images: runs that keep per-blob images, each blob's rows
// (cblob_blob_getRleRows), its run-length image (cblob_blob_getImageRle) and
// its rendering (cblob_blob_getBlobImage), against a pixel flood fill of the
// thresholded image (the test reference): a blob's rows must be exactly the
// crop of its box restricted to the pixels the reference gives it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "results/blob_run_table.hpp"
#include "support/blob_reference.hpp"
#include "support/fault_injection.hpp"
#include "support/run_support.hpp"
#include "support/segmentation_support.hpp"

namespace {

using runtest::GreyImage;
using runtest::Params;
using runtest::Results;
using runtest::RleHandle;
using runtest::TorvMask;

// One narrow length, read independently of the library.
int readLength(const uint8_t *&p) {
    const uint8_t first = *p++;
    if (first != 255) return first;
    int32_t length;
    std::memcpy(&length, p, 4);
    p += 4;
    return length;
}

// A blob's rows decoded into width x height pixels: in[i] 1 for blob
// pixels; value[i] the grey value (grey rows). Checks each row's length,
// run count and that neighbouring runs differ.
::testing::AssertionResult decodeRows(const cblob_rleRow *rows, int width, int height, bool grey,
                                      std::vector<uint8_t> *in, std::vector<uint8_t> *value) {
    in->assign(static_cast<size_t>(width) * height, 0);
    value->assign(in->size(), 0);
    for (int y = 0; y < height; ++y) {
        const uint8_t *p = rows[y].runs;
        if (!p) return ::testing::AssertionFailure() << "row " << y << " has no runs";
        int x = 0, runs = 0, previous = -1;
        int colour = rows[y].startValue ? 1 : 0;
        for (;;) {
            const int v = grey ? *p++ : colour;
            const int length = readLength(p);
            if (length == 0) break;
            if (v == previous) return ::testing::AssertionFailure() << "row " << y << ": unmerged runs";
            if (length < 0 || x + length > width) return ::testing::AssertionFailure() << "row " << y << " too long";
            for (int i = 0; i < length; ++i) {
                (*in)[static_cast<size_t>(y) * width + x + i] = v != 0;
                (*value)[static_cast<size_t>(y) * width + x + i] = static_cast<uint8_t>(v);
            }
            x += length;
            ++runs;
            previous = v;
            colour ^= 1;
        }
        if (x != width) return ::testing::AssertionFailure() << "row " << y << " covers " << x << " of " << width;
        if (runs != rows[y].numRuns) {
            return ::testing::AssertionFailure() << "row " << y << ": " << runs << " runs, entry says "
                                                 << rows[y].numRuns;
        }
    }
    return ::testing::AssertionSuccess();
}

// What the reference says of the analysed window.
struct Expected {
    cblobtest::RefResult ref;
    int width = 0, height = 0, originX = 0, originY = 0;
    std::vector<uint8_t> values;  // grey runs: the segmented value per pixel (empty: binary)
};

// Checks every blob of rs against the reference: its rows, its database
// image and its rendering into an unbound image, and that the blobs and the
// reference's blobs correspond one to one.
void expectBlobsMatch(cblob_resultSet &rs, const Expected &e) {
    ASSERT_EQ(static_cast<size_t>(rs.numBlobs), e.ref.blobs.size());
    const bool grey = !e.values.empty();
    std::set<int> seen;
    for (int i = 0; i < rs.numBlobs; ++i) {
        cblob_blob *b = rs.allBlobs[i];
        SCOPED_TRACE("blob " + std::to_string(b->label));
        cblob_rleRow *rows = nullptr;
        ASSERT_EQ(cblob_blob_getRleRows(b, &rows), 0);
        ASSERT_EQ(b->isGrey != 0, grey);
        std::vector<uint8_t> in, value;
        ASSERT_TRUE(decodeRows(rows, b->boxWidth, b->boxHeight, grey, &in, &value));
        const int bx = b->boxLeft - e.originX, by = b->boxTop - e.originY;
        auto pixel = [&](int x, int y) { return static_cast<size_t>(by + y) * e.width + bx + x; };
        int owner = -1;
        for (size_t k = 0; k < in.size() && owner < 0; ++k) {
            if (in[k]) owner = e.ref.owner[pixel(static_cast<int>(k) % b->boxWidth, static_cast<int>(k) / b->boxWidth)];
        }
        ASSERT_GE(owner, 0) << "the blob's first pixel belongs to no reference blob";
        EXPECT_TRUE(seen.insert(owner).second) << "two blobs claim reference blob " << owner;
        const cblobtest::RefBlob &r = e.ref.blobs[static_cast<size_t>(owner)];
        using Fields = std::vector<int64_t>;
        EXPECT_EQ((Fields{b->colour, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight}),
                  (Fields{r.colour, r.left, r.top, r.width, r.height}))
            << "colour and box";
        int64_t runs = 0;
        for (int y = 0; y < b->boxHeight; ++y) {
            runs += rows[y].numRuns;
            for (int x = 0; x < b->boxWidth; ++x) {
                const size_t k = static_cast<size_t>(y) * b->boxWidth + x;
                const bool expected = e.ref.owner[pixel(x, y)] == owner;
                ASSERT_EQ(in[k] != 0, expected) << "pixel (" << b->boxLeft + x << ", " << b->boxTop + y << ")";
                if (grey) {
                    const uint8_t v = e.values[pixel(x, y)];
                    ASSERT_EQ(value[k], expected ? (v ? v : 1) : 0);
                }
            }
        }
        // Extracted once: the same rows again.
        cblob_rleRow *again = nullptr;
        ASSERT_EQ(cblob_blob_getRleRows(b, &again), 0);
        EXPECT_EQ(again, rows);
        // The database's image of the blob.
        cblob_imageRle *img = nullptr;
        ASSERT_EQ(cblob_blob_getImageRle(b, &img), 0);
        EXPECT_TRUE(img->rows == rows && img->db == rs.blobDb);
        EXPECT_EQ((Fields{img->offsetX, img->offsetY, img->width, img->height, img->numRuns, img->isGrey,
                          img->isBlobImage}),
                  (Fields{b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight, runs, b->isGrey, 1}))
            << "the database image's geometry, run count and kind";
        // Rendered into an unbound image: exactly the box.
        cimg_image out;
        ASSERT_EQ(cimg_image_constructUnbound(&out, 8), 0);
        ASSERT_EQ(cblob_blob_getBlobImage(b, &out), 0);
        EXPECT_EQ((Fields{out.originX, out.originY, out.width, out.height}),
                  (Fields{b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight}));
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                ASSERT_EQ(out.pels[static_cast<size_t>(y) * out.strideBytes + x], in[static_cast<size_t>(y) * b->boxWidth + x]);
            }
        }
        cimg_image_destruct(&out);
    }
}

Expected binaryExpected(const GreyImage &image, int32_t thresh, const GreyImage *mask, int cleanup, int32_t minArea) {
    Expected e;
    e.width = image.width();
    e.height = image.height();
    e.originX = image.originX();
    e.originY = image.originY();
    cblobtest::RefOptions options;
    options.cleanup = cleanup;
    options.minArea = minArea;
    options.originX = e.originX;
    options.originY = e.originY;
    e.ref = cblobtest::referenceBlobs(runtest::hardObjects(image, thresh, 0, mask), e.width, e.height, options);
    return e;
}

// Binary runs of random images with holes, blobs at the edges and regions
// that merge (larger cells), in several band counts, every cleanup mode.
TEST(BlobRuns, BinaryRunsMatchFloodFill) {
    struct Row {
        int width, height, bits, cell, threads, cleanup;
        int32_t minArea;
        double density;
        int originX, originY;
    } rows[] = {
        {40, 30, 8, 1, 1, 0, 0, 0.5, 0, 0},     {64, 48, 8, 2, 2, 0, 0, 0.45, 3, 5},
        {120, 90, 8, 3, 4, 0, 0, 0.55, 0, 0},   {97, 61, 16, 2, 3, 0, 0, 0.5, 7, 1},
        {80, 80, 8, 1, 2, 1, 4, 0.5, 0, 0},     {80, 80, 8, 2, 1, 2, 6, 0.5, 2, 2},
        {200, 150, 8, 4, 4, 2, 30, 0.6, 0, 0},  {300, 7, 8, 1, 4, 0, 0, 0.5, 0, 0},
        {1, 1, 8, 1, 1, 0, 0, 1.0, 0, 0},       {33, 1, 8, 1, 1, 0, 0, 0.7, 0, 0},
        {400, 300, 8, 6, 4, 1, 20, 0.5, 10, 20},
    };
    std::mt19937 rng(4242);
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height) + " cell " +
                     std::to_string(row.cell) + " cleanup " + std::to_string(row.cleanup));
        segtest::ThreadCount threads(row.threads);
        GreyImage image(row.width, row.height, row.bits,
                        runtest::randomValues(rng, row.width, row.height, row.bits, row.density, row.cell),
                        row.originX, row.originY, 3);
        const int32_t thresh = row.bits == 8 ? 128 : 32768;
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, thresh, 0), 0);
        params.p.keepBlobImages = 1;
        params.p.connectivityCleanup = row.cleanup;
        params.p.minArea = row.minArea;
        const int32_t status = row.bits == 8 ? cblob_run8(image.image(), nullptr, &params.p, &results.rs)
                                             : cblob_run16(image.image(), nullptr, &params.p, &results.rs);
        ASSERT_EQ(status, 0);
        expectBlobsMatch(results.rs, binaryExpected(image, thresh, nullptr, row.cleanup, row.minArea));
    }
}

// Grey runs (segmentation none, a map, a soft threshold): the blobs come
// from the weighted scan and their rows carry the segmented values. The
// objects are the pixels whose segmented value is not 0.
TEST(BlobRuns, GreyRunsCarryTheirValues) {
    enum Kind { none, map, soft, softKept };
    struct Row {
        Kind kind;
        int width, height, cell, threads;
    } rows[] = {
        {none, 50, 40, 1, 1}, {none, 120, 80, 3, 4}, {map, 90, 70, 2, 2},
        {soft, 100, 60, 2, 3}, {softKept, 100, 60, 3, 2}, {none, 257, 3, 1, 1},
    };
    std::mt19937 rng(99);
    std::vector<uint8_t> table(256);
    for (int v = 0; v < 256; ++v) table[static_cast<size_t>(v)] = static_cast<uint8_t>(v < 128 ? 0 : 255 - v);
    for (const Row &row : rows) {
        SCOPED_TRACE("kind " + std::to_string(row.kind) + " " + std::to_string(row.width) + "x" +
                     std::to_string(row.height));
        segtest::ThreadCount threads(row.threads);
        std::vector<uint16_t> values = runtest::randomValues(rng, row.width, row.height, 8, 0.5, row.cell);
        for (uint16_t &v : values) v = static_cast<uint16_t>(v >= 128 ? v : (rng() % 4 == 0 ? v : 0));
        GreyImage image(row.width, row.height, 8, values);
        Params params;
        Results results;
        Expected e;
        e.width = row.width;
        e.height = row.height;
        e.values.resize(values.size());
        switch (row.kind) {
            case none:
                ASSERT_EQ(cblob_runParams_setSegmentationNone(&params.p, 1), 0);
                for (size_t i = 0; i < values.size(); ++i) e.values[i] = static_cast<uint8_t>(values[i]);
                break;
            case map:
                ASSERT_EQ(cblob_runParams_setSegmentationMap(&params.p, 1, table.data(), 256), 0);
                for (size_t i = 0; i < values.size(); ++i) e.values[i] = table[values[i]];
                break;
            case soft:
            case softKept:
                // Low 100, high 160, softness 4: values from the segmentation
                // itself, read back from the kept thresholded image.
                ASSERT_EQ(cblob_runParams_setSegmentationSoftThreshWithSoftness(&params.p, 100, 160, 4, 0), 0);
                params.p.keepThresholdedImage = 1;
                break;
        }
        params.p.keepBlobImages = 1;
        ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results.rs), 0);
        if (row.kind == soft || row.kind == softKept) {
            RleHandle kept;
            ASSERT_EQ(cblob_resultSet_getThresholdedImageRlePtrh(&results.rs, &kept.h), 0);
            cimg_image rendered;
            ASSERT_EQ(cimg_image_constructUnbound(&rendered, 8), 0);
            ASSERT_EQ(cblob_imageRlePtrh_getImage(&kept.h, &rendered), 0);
            for (int y = 0; y < row.height; ++y) {
                for (int x = 0; x < row.width; ++x) {
                    e.values[static_cast<size_t>(y) * row.width + x] =
                        rendered.pels[static_cast<size_t>(y) * rendered.strideBytes + x];
                }
            }
            cimg_image_destruct(&rendered);
        }
        std::vector<uint8_t> objects(e.values.size());
        for (size_t i = 0; i < objects.size(); ++i) objects[i] = e.values[i] != 0;
        e.ref = cblobtest::referenceBlobs(objects, row.width, row.height);
        expectBlobsMatch(results.rs, e);
    }
}

// Masks of every kind, with keepMaskImage alone (a mask makes the run keep
// per-blob images) or keepBlobImages, and kept segmentations beside them;
// the kept mask is the mask's run-length image.
TEST(BlobRuns, MaskedRunsMatchFloodFill) {
    enum Kind { window, rle, torv };
    struct Row {
        Kind kind;
        bool keepBlobImages, keepMasked;
    } rows[] = {
        {window, false, false}, {window, true, true}, {rle, false, false},
        {rle, true, true},      {torv, false, false}, {torv, true, false},
    };
    std::mt19937 rng(7);
    for (const Row &row : rows) {
        SCOPED_TRACE("mask kind " + std::to_string(row.kind));
        const int w = 90, h = 70;
        GreyImage image(w, h, 8, runtest::randomValues(rng, w, h, 8, 0.55, 2), 4, 6);
        std::vector<uint16_t> maskValues(static_cast<size_t>(w) * h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) maskValues[static_cast<size_t>(y) * w + x] = ((x / 9 + y / 7) % 3) ? 5 : 0;
        }
        GreyImage mask(w, h, 8, maskValues, 4, 6);
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
        params.p.keepMaskImage = 1;
        params.p.keepBlobImages = row.keepBlobImages ? 1 : 0;
        params.p.keepMaskedAndThresholdedImage = row.keepMasked ? 1 : 0;
        int32_t status = 0;
        if (row.kind == window) {
            status = cblob_run8(image.image(), mask.image(), &params.p, &results.rs);
        } else if (row.kind == rle) {
            RleHandle rleMask;
            ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleMask.h, mask.image(), 1, 0), 0);
            status = cblob_run8_withRleMask(image.image(), &rleMask.h, &params.p, &results.rs);
        } else {
            TorvMask torvMask(mask);
            status = cblob_run8_withTORVRleMask(image.image(), torvMask.rows.data(), &torvMask.rect, &params.p,
                                                &results.rs);
        }
        ASSERT_EQ(status, 0);
        expectBlobsMatch(results.rs, binaryExpected(image, 128, &mask, 0, 0));
        // The kept mask: the mask's non-zero pixels; a TORV mask with its values.
        RleHandle expect;
        ASSERT_EQ(row.kind == torv ? cblob_imageRlePtrh_encode(&expect.h, mask.image())
                                   : cblob_imageRlePtrh_encodeHardThresh(&expect.h, mask.image(), 1, 0),
                  0);
        int32_t equal = 0;
        ASSERT_EQ(cblob_imageRlePtrh_compareEqual(&results.rs.maskImage, &expect.h, &equal), 0);
        EXPECT_EQ(equal, 1);
    }
}

// A run-length input: its blobs' runs come from a wide copy; the caller's
// image is left as it was.
TEST(BlobRuns, RunLengthInputIsCopiedNotWritten) {
    std::mt19937 rng(11);
    for (int cell : {1, 2, 4}) {
        GreyImage image(75, 55, 8, runtest::randomValues(rng, 75, 55, 8, 0.5, cell));
        RleHandle input, before;
        ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&input.h, image.image(), 128, 0), 0);
        ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&before.h, image.image(), 128, 0), 0);
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationNone(&params.p, 1), 0);
        params.p.keepBlobImages = 1;
        params.p.keepThresholdedImage = 1;
        ASSERT_EQ(cblob_runRle8_withRleMask(&input.h, nullptr, &params.p, &results.rs), 0);
        int32_t equal = 0;
        ASSERT_EQ(cblob_imageRlePtrh_compareEqual(&input.h, &before.h, &equal), 0);
        EXPECT_EQ(equal, 1) << "the run wrote into the caller's image";
        expectBlobsMatch(results.rs, binaryExpected(image, 128, nullptr, 0, 0));
    }
}

// A result set copy extracts its own rows from the shared labelled image
// (its run table is a copy); rows extracted again equal the first ones.
TEST(BlobRuns, CopiesExtractTheSameRows) {
    std::mt19937 rng(5);
    GreyImage image(150, 100, 8, runtest::randomValues(rng, 150, 100, 8, 0.55, 3));
    Params params;
    Results results;
    ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
    params.p.keepBlobImages = 1;
    ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results.rs), 0);
    Results copy;
    ASSERT_EQ(cblob_resultSet_assign(&copy.rs, &results.rs), 0);
    const Expected e = binaryExpected(image, 128, nullptr, 0, 0);
    expectBlobsMatch(copy.rs, e);
    // Forget the copy's rows: it extracts them again through its own table.
    for (int i = 0; i < copy.rs.numBlobs; ++i) copy.rs.allBlobs[i]->cachedRuns = nullptr;
    expectBlobsMatch(copy.rs, e);
    ASSERT_EQ(cblob_resultSet_clear(&results.rs), 0);
    for (int i = 0; i < copy.rs.numBlobs; ++i) copy.rs.allBlobs[i]->cachedRuns = nullptr;
    expectBlobsMatch(copy.rs, e);
}

// The run table: chains of merged labels resolve to their survivor and are
// shortened on the way; 0 (merged into the outer region) ends a chain.
TEST(BlobRuns, RunTableResolvesAndCompressesChains) {
    struct Row {
        std::vector<int32_t> table;
        int32_t label, resolved;
        std::vector<int32_t> after;
    } rows[] = {
        {{0, 1, 2}, 2, 2, {0, 1, 2}},
        {{0, 1, -1, -2, -3}, 4, 1, {0, 1, -1, -1, -1}},
        {{0, 1, -1, -2, -3}, 2, 1, {0, 1, -1, -2, -3}},
        {{0, 0, -1, -2}, 3, 0, {0, 0, 0, 0}},
        {{0, 1, 2, -5, -2, -4}, 3, 2, {0, 1, 2, -2, -2, -2}},
        {{0, 1}, 7, 7, {0, 1}},
    };
    for (Row &row : rows) {
        std::vector<int32_t> t = row.table;
        EXPECT_EQ(cblob::results::resolveRunLabel(t.data(), static_cast<int32_t>(t.size()), row.label), row.resolved);
        EXPECT_EQ(t, row.after);
        EXPECT_EQ(cblob::results::resolveRunLabel(t.data(), static_cast<int32_t>(t.size()), row.label), row.resolved);
    }
}

// cblob_blob_getBlobImage into a bound image: the window at the box is
// written (1 on blob pixels, 0 elsewhere in the box), the rest is not; a box
// outside a large enough image gives cblob_err_windowOutsideImage and writes
// nothing; a smaller image is replaced; a 16-bit image is refused.
TEST(BlobRuns, BlobImageIntoBoundImages) {
    // A ring with a hole and a dot, at an image origin of (10, 20).
    const int w = 12, h = 9;
    std::vector<uint16_t> values(static_cast<size_t>(w) * h, 0);
    for (int y = 2; y <= 6; ++y) {
        for (int x = 3; x <= 8; ++x) values[static_cast<size_t>(y) * w + x] = (y == 4 && (x == 5 || x == 6)) ? 0 : 200;
    }
    values[static_cast<size_t>(7) * w + 10] = 200;
    GreyImage image(w, h, 8, values, 10, 20);
    Params params;
    Results results;
    ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
    params.p.keepBlobImages = 1;
    ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results.rs), 0);
    ASSERT_EQ(results.rs.numBlobs, 3);
    cblob_blob *ring = nullptr;
    for (int i = 0; i < 3; ++i) {
        if (results.rs.allBlobs[i]->numChildren == 1) ring = results.rs.allBlobs[i];
    }
    ASSERT_NE(ring, nullptr);
    ASSERT_EQ(ring->boxLeft, 13);
    ASSERT_EQ(ring->boxTop, 22);

    struct Row {
        int width, height, originX, originY;
        int32_t status;
        bool replaced;
    } rows[] = {
        {40, 40, 0, 0, 0, false},  {6, 5, 13, 22, 0, false}, {30, 30, 14, 0, cblob_err_windowOutsideImage, false},
        {30, 30, 0, 28, cblob_err_windowOutsideImage, false},  {5, 5, 13, 22, 0, true},  {100, 4, 0, 0, 0, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height) + " at " +
                     std::to_string(row.originX) + "," + std::to_string(row.originY));
        cimg_image out;
        ASSERT_EQ(cimg_image_constructUnbound(&out, 8), 0);
        ASSERT_EQ(cimg_image_assignNew(&out, row.width, row.height), 0);
        ASSERT_EQ(cimg_image_setOrigin(&out, row.originX, row.originY), 0);
        for (int y = 0; y < out.height; ++y) std::memset(out.pels + static_cast<size_t>(y) * out.strideBytes, 7, static_cast<size_t>(out.width));
        ASSERT_EQ(cblob_blob_getBlobImage(ring, &out), row.status);
        if (row.replaced) {
            EXPECT_EQ(out.width, 6);
            EXPECT_EQ(out.height, 5);
            EXPECT_EQ(out.originX, 13);
            EXPECT_EQ(out.originY, 22);
        } else {
            EXPECT_EQ(out.width, row.width);
            EXPECT_EQ(out.originX, row.originX);
        }
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                const int ix = out.originX + x, iy = out.originY + y;
                const bool inBox = row.status == 0 && ix >= 13 && ix < 19 && iy >= 22 && iy < 27;
                const int expected = !inBox ? 7 : (iy == 24 && (ix == 15 || ix == 16)) ? 0 : 1;
                ASSERT_EQ(out.pels[static_cast<size_t>(y) * out.strideBytes + x], expected) << ix << "," << iy;
            }
        }
        cimg_image_destruct(&out);
    }
    cimg_image deep;
    ASSERT_EQ(cimg_image_constructUnbound(&deep, 16), 0);
    EXPECT_EQ(cblob_blob_getBlobImage(ring, &deep), cimg_err_badDepth);
    cimg_image_destruct(&deep);
}

// Without per-blob images a run keeps no labelled image: each query gives
// cblob_err_rleImageEmpty.
TEST(BlobRuns, WithoutBlobImagesThereAreNoRows) {
    std::mt19937 rng(3);
    GreyImage image(40, 30, 8, runtest::randomValues(rng, 40, 30, 8, 0.5, 2));
    for (bool keepThresholded : {false, true}) {
        Params params;
        Results results;
        ASSERT_EQ(cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0), 0);
        params.p.keepThresholdedImage = keepThresholded ? 1 : 0;
        ASSERT_EQ(cblob_run8(image.image(), nullptr, &params.p, &results.rs), 0);
        ASSERT_GT(results.rs.numBlobs, 0);
        EXPECT_EQ(results.rs.blobDb, nullptr);
        cblob_blob *b = results.rs.allBlobs[0];
        cblob_rleRow *rows = nullptr;
        EXPECT_EQ(cblob_blob_getRleRows(b, &rows), cblob_err_rleImageEmpty);
        EXPECT_EQ(rows, nullptr);
        cblob_imageRle *img = nullptr;
        EXPECT_EQ(cblob_blob_getImageRle(b, &img), cblob_err_rleImageEmpty);
        cimg_image out;
        ASSERT_EQ(cimg_image_constructUnbound(&out, 8), 0);
        EXPECT_EQ(cblob_blob_getBlobImage(b, &out), cblob_err_rleImageEmpty);
        int32_t bound = 1;
        cimg_image_getIsBound(&out, &bound);
        EXPECT_EQ(bound, 0);
        cimg_image_destruct(&out);
    }
}

// A run with per-blob images stopped at each of its attention polls returns
// the stop status and leaks nothing.
TEST(BlobRuns, CancelledRunsLeakNothing) {
    std::mt19937 rng(8);
    // Enough blobs for the image builder to poll too.
    GreyImage image(300, 200, 8, runtest::randomValues(rng, 300, 200, 8, 0.5, 1));
    const int64_t polls = cblobtest::expectCleanUnderCancellation([&]() -> int32_t {
        Params params;
        Results results;
        int32_t status = cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0);
        params.p.keepBlobImages = 1;
        if (!CBLOB_FAILED(status)) status = cblob_run8(image.image(), nullptr, &params.p, &results.rs);
        return status;
    });
    EXPECT_GT(polls, 10);
}

}  // namespace
