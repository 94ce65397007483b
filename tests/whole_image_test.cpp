// The whole-image scan (connectivityType 2) against a direct sum over the
// pixels: one blob holding every object pixel, connected or not, with its
// area, box, centre and central moments, the same for 1 to 8 bands; binary,
// weighted and wide input (label slots set); the runs of the pipeline; the
// cleanup conflict; failures and cancellation.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "connect/whole_image_scan.hpp"
#include "rle/row_access.hpp"
#include "rle/run_format.hpp"
#include "support/blob_builder.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"
#include "support/run_support.hpp"
#include "support/scan_pixels.hpp"
#include "support/segmentation_support.hpp"

namespace {

using namespace cblob::connect;

using scantest::near;
using scantest::Pixels;
using scantest::randomPixels;
using scantest::RleImage;

// The expected blob: sums over the object pixels' unit squares, weighted.
struct Expected {
    bool any = false;
    double mass = 0, cx = 0, cy = 0, mxx = 0, myy = 0, mxy = 0;
    int left = 0, top = 0, right = -1, bottom = -1;
};

Expected sumPixels(const Pixels &p, bool weighted) {
    Expected e;
    double sx = 0, sy = 0;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            if (!p.at(x, y)) continue;
            const double w = weighted ? p.at(x, y) : 1;
            if (!e.any) e.left = x, e.top = y, e.right = x, e.bottom = y;
            e.any = true;
            e.left = std::min(e.left, x), e.right = std::max(e.right, x);
            e.top = std::min(e.top, y), e.bottom = std::max(e.bottom, y);
            e.mass += w, sx += w * (x + 0.5), sy += w * (y + 0.5);
        }
    if (!e.any) return e;
    e.cx = sx / e.mass, e.cy = sy / e.mass;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            if (!p.at(x, y)) continue;
            const double w = weighted ? p.at(x, y) : 1;
            const double dx = x + 0.5 - e.cx, dy = y + 0.5 - e.cy;
            e.mxx += w * (dx * dx + 1.0 / 12), e.myy += w * (dy * dy + 1.0 / 12), e.mxy += w * dx * dy;
        }
    return e;
}

// The result set holds exactly the expected blob (or none).
::testing::AssertionResult holdsBlob(const cblob_resultSet &rs, const Expected &e, double scaleVal = 1) {
    const std::vector<cblob_blob *> blobs = blobtest::blobsOf(&rs);
    if (!e.any) {
        if (blobs.empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << blobs.size() << " blobs of an empty window";
    }
    if (blobs.size() != 1) return ::testing::AssertionFailure() << blobs.size() << " blobs";
    const cblob_blob &b = *blobs[0];
    const double scale = e.mass * (e.right - e.left + e.bottom - e.top + 2) * (e.right - e.left + e.bottom - e.top + 2);
    const double major = (e.mxx + e.myy) / 2 + std::sqrt((e.mxx - e.myy) * (e.mxx - e.myy) / 4 + e.mxy * e.mxy);
    const bool same = b.label == rs.numBlobs && b.colour == 1 && b.isGrey == 0 && !b.parent && !b.firstChild &&
                      !b.nextSibling && b.numChildren == 0 && b.owner == &rs && b.boxLeft == e.left &&
                      b.boxTop == e.top && b.boxWidth == e.right - e.left + 1 &&
                      b.boxHeight == e.bottom - e.top + 1 && near(b.area, e.mass / scaleVal, e.mass) &&
                      near(b.centerOfMassX, e.cx, 1e3) && near(b.centerOfMassY, e.cy, 1e3) &&
                      near(b.inertiaX, e.mxx, scale) && near(b.inertiaY, e.myy, scale) &&
                      near(b.inertiaMax, major, scale) && b.momentsValid == 1 && rs.firstTopLevelBlob == &b;
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "blob area " << b.area << " (" << e.mass / scaleVal << ") box " << b.boxLeft
                                         << "," << b.boxTop << " " << b.boxWidth << "x" << b.boxHeight << " centre "
                                         << b.centerOfMassX << "," << b.centerOfMassY << " (" << e.cx << "," << e.cy
                                         << ") mxx " << b.inertiaX << " (" << e.mxx << ")";
}

// Runs the scan on an image record in `bands` bands.
int32_t runWhole(const cblob_imageRle *img, const ScanSettings &s, int bands, cblob_resultSet *rs) {
    scantest::Pools pools(bands, 2);
    scantest::ThreadGroup group(bands);
    return CBLOB_FAILED(pools.status) ? pools.status : scanWholeImage(img, s, pools.data(), bands, &group.group, rs);
}

ScanSettings settingsFor(const Pixels &p, bool weighted) {
    ScanSettings s;
    s.width = p.w, s.height = p.h, s.weighted = weighted;
    return s;
}

TEST(WholeImage, OneBlobOfEveryObjectPixelInAnyNumberOfBands) {
    std::mt19937 rng(41);
    for (int i = 0; i < 60; ++i) {
        const bool weighted = i % 2 == 1;
        const int w = 1 + static_cast<int>(rng() % 50), h = 1 + static_cast<int>(rng() % 40);
        const double density = i % 10 == 0 ? 0.0 : 0.01 + 0.98 * (i % 7) / 6.0;
        const Pixels p = randomPixels(rng, w, h, density, weighted ? 9 : 1);
        const RleImage img(p, weighted);
        const Expected e = sumPixels(p, weighted);
        for (int bands = 1; bands <= std::min(8, h); ++bands) {
            runtest::Results results;
            ASSERT_EQ(runWhole(img.get(), settingsFor(p, weighted), bands, &results.rs), 0);
            EXPECT_TRUE(holdsBlob(results.rs, e)) << "image " << i << ", " << bands << " bands";
        }
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(WholeImage, WideRunsGetLabelOneForObjectRunsAndZeroElse) {
    std::mt19937 rng(43);
    for (const bool grey : {false, true}) {
        const Pixels p = randomPixels(rng, 37, 29, 0.4, grey ? 5 : 1);
        RleImage img(p, grey, true);
        cblob_imageRle &wide = *img.get();
        // Each wide run's label slot with the pixel that starts the run.
        auto forEachRun = [&](auto visit) {
            for (int y = 0; y < p.h; ++y) {
                uint8_t *run = cblob::rle::imageRow(&wide, y)->runs;
                for (int x = 0; x < p.w;) {
                    visit(run + (grey ? 1 : 0) + 4, x, y);
                    x += cblob::rle::loadInt32(run + (grey ? 1 : 0));
                    run += grey ? cblob::rle::kWideGreyRunBytes : cblob::rle::kWideBinaryRunBytes;
                }
            }
        };
        forEachRun([](uint8_t *label, int, int) { cblob::rle::storeInt32(label, 77); });  // labels to overwrite
        cstd_vector32s *labelMap = nullptr, *blobLabels = nullptr;
        ASSERT_EQ(cstd_vector32s_new(&labelMap), 0);
        ASSERT_EQ(cstd_vector32s_new(&blobLabels), 0);
        ScanSettings s = settingsFor(p, grey);
        s.labelMap = labelMap, s.blobLabels = blobLabels;
        runtest::Results results;
        ASSERT_EQ(runWhole(&wide, s, 3, &results.rs), 0);
        EXPECT_TRUE(holdsBlob(results.rs, sumPixels(p, grey)));
        forEachRun([&](uint8_t *label, int x, int y) {
            EXPECT_EQ(cblob::rle::loadInt32(label), p.at(x, y) ? 1 : 0) << x << "," << y;
        });
        int32_t size = 0, *entries = nullptr;
        cstd_vector32s_getSize(labelMap, &size);
        cstd_vector32s_getBegin(labelMap, &entries);
        ASSERT_EQ(size, 2);
        EXPECT_EQ(entries[0], 0);
        EXPECT_EQ(entries[1], 1);
        cstd_vector32s_getBegin(blobLabels, &entries);
        EXPECT_EQ(entries[1], 1);
        cstd_vector32s_delete(&labelMap);
        cstd_vector32s_delete(&blobLabels);
    }
}

TEST(WholeImage, RunsOfThePipeline) {
    std::mt19937 rng(47);
    const int w = 300, h = 160;  // banded on a host of several threads
    std::vector<uint16_t> values(static_cast<size_t>(w * h));
    for (auto &v : values) v = static_cast<uint16_t>(rng() % 256);
    runtest::GreyImage image(w, h, 8, values, 5, 7);
    Pixels objects{w, h, std::vector<uint8_t>(values.size())};
    for (size_t i = 0; i < values.size(); ++i) objects.v[i] = values[i] >= 100 ? 1 : 0;
    // A whole-image run at threshold 100 with the settings `set` makes.
    auto run = [&](runtest::Results *results, auto set) {
        runtest::Params params;
        cblob_runParams_setSegmentationHardThresh(&params.p, 100, 0);
        params.p.connectivityType = cblob_connectivityWholeImage;
        set(&params.p);
        return cblob_run8(image.image(), nullptr, &params.p, &results->rs);
    };
    for (int threads : {1, 2, 5}) {
        segtest::ThreadCount use(threads);
        {
            runtest::Results results;
            ASSERT_EQ(run(&results, [](cblob_runParams *) {}), 0);
            Expected e = sumPixels(objects, false);
            e.left += 5, e.right += 5, e.top += 7, e.bottom += 7, e.cx += 5, e.cy += 7;
            EXPECT_TRUE(holdsBlob(results.rs, e)) << threads << " threads";
            EXPECT_EQ(results.rs.numViewBlobs, 1);
        }
        // With per-blob images: the blob's image is every object pixel.
        {
            runtest::Results results;
            ASSERT_EQ(run(&results, [](cblob_runParams *p) { p->keepBlobImages = 1; }), 0);
            ASSERT_EQ(results.rs.numBlobs, 1);
            cimg_image out;
            ASSERT_EQ(cimg_image_constructUnbound(&out, 8), 0);
            ASSERT_EQ(cblob_blob_getBlobImage(results.rs.allBlobs[0], &out), 0);
            int64_t differ = 0;
            const cblob_blob &b = *results.rs.allBlobs[0];
            for (int y = 0; y < out.height; ++y)
                for (int x = 0; x < out.width; ++x) {
                    const uint8_t v = out.pels[y * out.strideBytes + x];
                    differ += (v != 0) != (objects.at(b.boxLeft - 5 + x, b.boxTop - 7 + y) != 0);
                }
            EXPECT_EQ(differ, 0) << threads << " threads";
            EXPECT_EQ(out.width, b.boxWidth);
            cimg_image_destruct(&out);
        }
        // Nothing above the threshold: no blob.
        runtest::Results none;
        ASSERT_EQ(run(&none,
                      [](cblob_runParams *p) {
                          cblob_runParams_setSegmentationHardThresh(p, 0, 1);  // objects below 0
                          p->keepThresholdedImage = 1;
                      }),
                  0);
        EXPECT_EQ(none.rs.numBlobs, 0);
    }
}

TEST(WholeImage, AllocationFailuresAndCancellationLeaveNothingBehind) {
    std::mt19937 rng(53);
    const Pixels p = randomPixels(rng, 40, 100, 0.3, 3);
    const RleImage img(p, true);
    for (const int bands : {1, 4}) {
        auto operation = [&]() -> int32_t {
            cblob_resultSet rs;
            int32_t status = cblob_resultSet_construct(&rs);
            if (CBLOB_FAILED(status)) return status;
            status = runWhole(img.get(), settingsFor(p, true), bands, &rs);
            const int32_t end = cblob_resultSet_destruct(&rs);
            return CBLOB_FAILED(status) ? status : end;
        };
        const auto report = cblobtest::expectCleanUnderAllocationFailures(operation);
        EXPECT_GT(report.failuresInjected, 2);
        // Rows 0, 32, 64 and 96, whichever band holds them.
        EXPECT_EQ(cblobtest::expectCleanUnderCancellation(operation), 4);
    }
    // A cleanup mode is refused before anything else.
    ScanSettings s = settingsFor(p, true);
    s.connectivityCleanup = cblob_connectivityCleanupPrune;
    runtest::Results results;
    EXPECT_EQ(runWhole(img.get(), s, 2, &results.rs), cblob_err_connectivityConflict);
}

}  // namespace
