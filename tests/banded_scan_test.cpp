// The banded connectivity scan gives the blob set of the single-band scan:
// the same areas, boxes, centres and moments (within rounding), the same
// tree and labels 1..n, for 2 to 8 bands, on random images of every density,
// structured scenes whose blobs and holes cross or close on every seam,
// bands of one row, both members (binary and weighted), every cleanup mode;
// and it leaves nothing behind when an allocation fails or the attention
// check stops it anywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "cblob/job.h"
#include "cblob/rle_image.h"
#include "connect/banded_scan.hpp"
#include "connect/standard_scan.hpp"
#include "support/blob_builder.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"
#include "support/run_support.hpp"
#include "support/scan_pixels.hpp"
#include "support/segmentation_support.hpp"

namespace {

using namespace cblob::connect;

// ------------------------------------------------------------------ images

using scantest::near;
using scantest::Pixels;
using scantest::RleImage;

// Random blocks of `cell` pixels a side, objects of weight 1..levels.
Pixels randomPixels(std::mt19937 &rng, int w, int h, double density, int cell = 1, int levels = 1) {
    return scantest::blockyPixels(rng, w, h, density, cell, levels);
}

// Rings (square outlines with a hole) and bars at every vertical offset, so
// that blobs start, end, and close their holes on and next to every seam row.
Pixels ringsAndBars(int w, int h) {
    Pixels p{w, h, std::vector<uint8_t>(static_cast<size_t>(w * h))};
    int x = 1;
    for (int size = 3; x + size < w; ++size) {
        for (int top = (size * 7) % 5; top + size <= h; top += size + 1 + size % 3) {
            for (int i = 0; i < size; ++i)
                for (int j = 0; j < size; ++j) {
                    const bool edge = i == 0 || j == 0 || i == size - 1 || j == size - 1;
                    if (edge) p.at(x + j, top + i) = 1;
                }
        }
        x += size + 1;
        if (x < w) {
            for (int y = 0; y < h; ++y) p.at(x, y) = 1;  // a bar through every seam
            x += 2;
        }
    }
    return p;
}

// A snake down the window: one object crossing every seam many times, with
// a hole between each pair of turns.
Pixels snake(int w, int h) {
    Pixels p{w, h, std::vector<uint8_t>(static_cast<size_t>(w * h))};
    for (int x = 0; x + 1 < w; x += 4) {
        for (int y = 1; y + 1 < h; ++y) p.at(x + 1, y) = 1;
        const int turn = (x / 4) % 2 == 0 ? h - 2 : 1;
        for (int dx = 1; dx <= 5 && x + dx < w; ++dx) p.at(x + dx, turn) = 1;
    }
    return p;
}

// A window over the pixels as 8-bit values (object = 200, threshold 128).
struct Window8 {
    std::vector<uint8_t> pels;
    cimg_windowConst w{};
    explicit Window8(const Pixels &p) : pels(p.v.size()) {
        for (size_t i = 0; i < pels.size(); ++i) pels[i] = p.v[i] ? 200 : 20;
        w.x = 3, w.y = -5, w.width = p.w, w.height = p.h, w.bitsPerPel = 8, w.strideBytes = p.w;
        w.pels = pels.data();
    }
};

// ------------------------------------------------------------ running scans

// A blob as compared: everything but the addresses; the parent as an index
// into the sorted list.
struct BlobView {
    int colour, left, top, width, height;
    double area, cx, cy, ixx, iyy, imin, imax, angle;
    int momentsValid, children, label, parent;
    const cblob_blob *self, *parentPtr;
    auto key() const { return std::make_tuple(colour, left, top, width, height, area, cx, cy); }
};

struct Outcome {
    int32_t status = 0;
    std::vector<BlobView> blobs;  // sorted by their key
    bool labelsOk = true, treeOk = true;
};

// Runs the single-band scan (bands 1) or the banded one, collects the blobs,
// and releases everything.
Outcome runScan(const ScanSource &source, ScanSettings s, int bands) {
    Outcome out;
    cblob_resultSet rs;
    EXPECT_EQ(cblob_resultSet_construct(&rs), 0);
    int32_t records = 0;
    EXPECT_EQ(poolRecordsPerBlock(s.width, bands, s.connectivityCleanup, 0, &records), 0);
    scantest::Pools pools(bands, records);
    EXPECT_EQ(pools.status, 0);
    std::vector<uint8_t> rowBuffer(static_cast<size_t>((4 * s.width + 4) * 2 * bands));
    std::vector<uint8_t> maskRow(static_cast<size_t>(s.width * bands + 1));
    ScanScratch scratch;
    scratch.rowBuffer = rowBuffer.data(), scratch.maskRow = maskRow.data();
    if (bands == 1) {
        out.status = scanStandard(source, s, pools.data(), scratch, &rs);
    } else {
        scantest::ThreadGroup group(bands);
        out.status = scanBanded(source, s, pools.data(), bands, scratch, &group.group, &rs);
    }
    if (out.status == 0) {
        const std::vector<cblob_blob *> blobs = blobtest::blobsOf(&rs);
        out.labelsOk = static_cast<int32_t>(blobs.size()) == rs.numBlobs;
        for (size_t i = 0; i < blobs.size(); ++i) {
            const cblob_blob *b = blobs[i];
            out.labelsOk = out.labelsOk && b->label == static_cast<int32_t>(i) + 1 && b->owner == &rs;
            out.blobs.push_back({b->colour, b->boxLeft, b->boxTop, b->boxWidth, b->boxHeight, b->area,
                                 b->centerOfMassX, b->centerOfMassY, b->inertiaX, b->inertiaY, b->inertiaMin,
                                 b->inertiaMax, b->angle, b->momentsValid, b->numChildren, b->label, -1, b,
                                 b->parent});
        }
        if (s.computeTopology || s.connectivityCleanup) {
            out.treeOk = static_cast<bool>(scantest::consistentTree(rs, blobs));
        }
        std::sort(out.blobs.begin(), out.blobs.end(),
                  [](const BlobView &a, const BlobView &b) { return a.key() < b.key(); });
        std::map<const cblob_blob *, int> index;
        for (size_t i = 0; i < out.blobs.size(); ++i) index[out.blobs[i].self] = static_cast<int>(i);
        for (BlobView &b : out.blobs) b.parent = b.parentPtr ? index.at(b.parentPtr) : -1;
    }
    cblob_resultSet_destruct(&rs);
    return out;
}

// The two outcomes hold the same blob set.
::testing::AssertionResult sameBlobs(const Outcome &one, const Outcome &banded) {
    if (one.status != 0 || banded.status != 0) {
        return ::testing::AssertionFailure() << "statuses " << cblob_statusName(one.status) << " / "
                                             << cblob_statusName(banded.status);
    }
    if (!banded.labelsOk) return ::testing::AssertionFailure() << "labels are not 1..n in block order";
    if (!banded.treeOk) return ::testing::AssertionFailure() << "inconsistent tree";
    if (one.blobs.size() != banded.blobs.size()) {
        return ::testing::AssertionFailure() << one.blobs.size() << " blobs in one band, " << banded.blobs.size()
                                             << " in bands";
    }
    for (size_t i = 0; i < one.blobs.size(); ++i) {
        const BlobView &a = one.blobs[i], &b = banded.blobs[i];
        const double scale = std::max(a.area, 1.0) * (a.width + a.height) * (a.width + a.height);
        const bool same = a.colour == b.colour && a.left == b.left && a.top == b.top && a.width == b.width &&
                          a.height == b.height && a.area == b.area && near(a.cx, b.cx, 1e3) &&
                          near(a.cy, b.cy, 1e3) && near(a.ixx, b.ixx, scale) && near(a.iyy, b.iyy, scale) &&
                          near(a.imin, b.imin, scale) && near(a.imax, b.imax, scale) &&
                          a.momentsValid == b.momentsValid && a.children == b.children && a.parent == b.parent;
        if (!same) {
            return ::testing::AssertionFailure()
                   << "blob " << i << ": colour " << a.colour << "/" << b.colour << " box (" << a.left << ","
                   << a.top << " " << a.width << "x" << a.height << ")/(" << b.left << "," << b.top << " " << b.width
                   << "x" << b.height << ") area " << a.area << "/" << b.area << " children " << a.children << "/"
                   << b.children << " parent " << a.parent << "/" << b.parent << " centre " << a.cx << "," << a.cy
                   << "/" << b.cx << "," << b.cy;
        }
    }
    return ::testing::AssertionSuccess();
}

ScanSettings settingsFor(const Pixels &p, int cleanup = 0, int32_t minArea = 0, bool weighted = false) {
    ScanSettings s;
    s.width = p.w, s.height = p.h;
    s.connectivityCleanup = cleanup;
    s.minArea = minArea;
    s.weighted = weighted;
    return s;
}

// Compares 1 band with 2 .. maxBands bands (at most one band per row).
void expectBandsAgree(const ScanSource &source, const ScanSettings &s, const std::string &context, int maxBands = 8) {
    const Outcome one = runScan(source, s, 1);
    ASSERT_EQ(one.status, 0) << context;
    for (int bands = 2; bands <= std::min(maxBands, s.height); ++bands) {
        EXPECT_TRUE(sameBlobs(one, runScan(source, s, bands))) << context << ", " << bands << " bands";
        if (::testing::Test::HasFailure()) return;
    }
}

ScanSource rleSource(const RleImage &img) {
    ScanSource src;
    src.rle = img.get();
    return src;
}

ScanSource windowSource(const Window8 &win) {
    ScanSource src;
    src.window8 = &win.w;
    src.thresh = 128;
    return src;
}

// ------------------------------------------------------------------- tests

TEST(BandedScan, RandomImagesOfEveryDensityGiveTheSingleBandBlobs) {
    std::mt19937 rng(19);
    int n = 0;
    for (const double density : {0.02, 0.15, 0.35, 0.5, 0.65, 0.85, 0.98}) {
        for (const int cell : {1, 2, 3, 5}) {
            ++n;
            const int w = 8 + static_cast<int>(rng() % 60), h = 8 + static_cast<int>(rng() % 60);
            const Pixels p = randomPixels(rng, w, h, density, cell);
            const std::string context = "density " + std::to_string(density) + " cell " + std::to_string(cell) +
                                        " " + std::to_string(w) + "x" + std::to_string(h);
            const RleImage img(p, false);
            const Window8 win(p);
            // The single-pass window path and run-length rows, the cleanup modes.
            expectBandsAgree(n % 2 ? windowSource(win) : rleSource(img), settingsFor(p), context);
            expectBandsAgree(rleSource(img), settingsFor(p, 1, 1 + n % 7), context + " prune");
            expectBandsAgree(windowSource(win), settingsFor(p, 2, 1 + n % 9), context + " fill");
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(BandedScan, BlobsAndHolesAcrossAndOnEverySeam) {
    for (const Pixels &p : {ringsAndBars(90, 40), ringsAndBars(61, 23), snake(40, 33), snake(9, 64)}) {
        const RleImage img(p, false);
        for (int cleanup = 0; cleanup <= 2; ++cleanup) {
            expectBandsAgree(rleSource(img), settingsFor(p, cleanup, cleanup ? 12 : 0),
                             std::to_string(p.w) + "x" + std::to_string(p.h) + " cleanup " + std::to_string(cleanup));
        }
    }
    // A snake crosses every seam and stays one blob in 8 bands.
    const Pixels s = snake(40, 33);
    const RleImage img(s, false);
    int objects = 0;
    for (const BlobView &b : runScan(rleSource(img), settingsFor(s), 8).blobs) objects += b.colour;
    EXPECT_EQ(objects, 1);
}

TEST(BandedScan, BandsOfOneRow) {
    std::mt19937 rng(29);
    for (int i = 0; i < 40; ++i) {
        const int h = 2 + i % 8, w = 3 + static_cast<int>(rng() % 30);
        const Pixels p = randomPixels(rng, w, h, 0.2 + 0.6 * (i % 5) / 4.0, 1 + i % 2);
        const RleImage img(p, false);
        const Window8 win(p);
        expectBandsAgree(i % 2 ? rleSource(img) : windowSource(win), settingsFor(p, i % 3, i % 3 ? 3 : 0),
                         "one-row bands " + std::to_string(i), h);
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(BandedScan, TopologyAndMomentsSwitchedOffAndLinearTransforms) {
    std::mt19937 rng(31);
    const Pixels p = randomPixels(rng, 50, 45, 0.45, 2);
    const RleImage img(p, false);
    ScanSettings s = settingsFor(p);
    s.computeTopology = false;
    expectBandsAgree(rleSource(img), s, "no tree");
    s.computeSecondMoments = false;
    expectBandsAgree(rleSource(img), s, "no tree, no moments");
    s = settingsFor(p);
    s.xformKind = ScanXformKind::linear;
    s.linear = cmath_xformLinear{{0.5, 0.25, -0.1, 2.0}, 10.0, -4.0};
    s.originX = 7, s.originY = 9;
    s.scaleVal = 3;
    expectBandsAgree(rleSource(img), s, "linear transform");
}

TEST(BandedScan, SampleImagesGiveTheSingleBandBlobs) {
    // The photographs of the shared data folder (next to the repository),
    // at two thresholds, with and without fill; each band count from 2 to 8.
    int read = 0;
    for (const char *name : {"cell.png", "coins.png", "stars.png", "text.png"}) {
        const std::string path = std::string(CBLOB_SHARED_DATA_DIR) + "/" + name;
        int w = 0, h = 0;
        std::vector<uint16_t> values;
        if (!runtest::readPngGrey(path, &w, &h, &values)) continue;
        ++read;
        for (const int thresh : {60, 128}) {
            Pixels p{w, h, std::vector<uint8_t>(values.size())};
            for (size_t i = 0; i < values.size(); ++i) p.v[i] = values[i] >= thresh ? 1 : 0;
            const Window8 win(p);
            const std::string context = std::string(name) + " at " + std::to_string(thresh);
            expectBandsAgree(windowSource(win), settingsFor(p), context);
            expectBandsAgree(windowSource(win), settingsFor(p, 2, 20), context + " fill");
            expectBandsAgree(windowSource(win), settingsFor(p, 1, 20), context + " prune", 3);
        }
    }
    if (read == 0) GTEST_SKIP() << "no images in " << CBLOB_SHARED_DATA_DIR;
}

TEST(BandedScan, AllocationFailuresAndCancellationLeaveNothingBehind) {
    std::mt19937 rng(37);
    const Pixels p = randomPixels(rng, 60, 80, 0.45, 2);
    const RleImage img(p, false);
    for (int cleanup = 0; cleanup <= 2; ++cleanup) {
        for (const int bands : {2, 5}) {
            SCOPED_TRACE("cleanup " + std::to_string(cleanup) + ", " + std::to_string(bands) + " bands");
            const ScanSettings s = settingsFor(p, cleanup, 4);
            auto operation = [&]() -> int32_t {
                cblob_resultSet rs;
                int32_t status = cblob_resultSet_construct(&rs);
                if (CBLOB_FAILED(status)) return status;
                std::vector<uint8_t> rowBuffer(static_cast<size_t>((4 * s.width + 4) * 2 * bands));
                ScanScratch scratch;
                scratch.rowBuffer = rowBuffer.data();
                {
                    scantest::Pools pools(bands, 10);  // small pool blocks: the bands grow their pools
                    scantest::ThreadGroup group(bands);
                    status = pools.status;
                    if (!CBLOB_FAILED(status)) {
                        status = scanBanded(rleSource(img), s, pools.data(), bands, scratch, &group.group, &rs);
                    }
                }
                const int32_t end = cblob_resultSet_destruct(&rs);
                return CBLOB_FAILED(status) ? status : end;
            };
            const auto report = cblobtest::expectCleanUnderAllocationFailures(operation);
            EXPECT_GT(report.failuresInjected, 2 * bands);
            const int64_t polls = cblobtest::expectCleanUnderCancellation(operation);
            // Every band polls at its rows that are multiples of 32, the join once a seam.
            EXPECT_GE(polls, 3);
        }
    }
}

TEST(BandedScan, RunsOnEveryThreadCountGiveTheReferenceBlobs) {
    std::mt19937 rng(59);
    const int w = 300, h = 200;  // up to 12 bands by its pixels
    for (int i = 0; i < 4; ++i) {
        runtest::GreyImage image(w, h, 8, runtest::randomValues(rng, w, h, 8, 0.2 + 0.2 * i, 1 + i), 2, 3);
        std::vector<uint16_t> maskValues(static_cast<size_t>(w * h));
        for (auto &v : maskValues) v = rng() % 13 ? 1 : 0;
        runtest::GreyImage mask(w, h, 8, maskValues, 2, 3);
        runtest::RleHandle rleMask;
        ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleMask.h, mask.image(), 1, 0), 0);
        runtest::TorvMask torv(mask);
        for (const int cleanup : {0, 1, 2}) {
            cblobtest::RefOptions o;
            o.cleanup = cleanup, o.minArea = cleanup ? 6 : 0, o.originX = 2, o.originY = 3;
            const auto ref = cblobtest::referenceBlobs(runtest::hardObjects(image, 128, 0), w, h, o);
            const auto refMasked = cblobtest::referenceBlobs(runtest::hardObjects(image, 128, 0, &mask), w, h, o);
            for (int threads = 1; threads <= 8; ++threads) {
                SCOPED_TRACE("image " + std::to_string(i) + " cleanup " + std::to_string(cleanup) + ", " +
                             std::to_string(threads) + " threads");
                segtest::ThreadCount use(threads);
                // No mask, a mask image, a run-length mask, a TORV mask.
                for (int masked = 0; masked < 4; ++masked) {
                    runtest::Params params;
                    runtest::Results results;
                    cblob_runParams_setSegmentationHardThresh(&params.p, 128, 0);
                    params.p.connectivityCleanup = cleanup;
                    params.p.minArea = o.minArea;
                    params.p.keepThresholdedImage = i % 2;  // segmented first, or thresholded while labelled
                    int32_t status = 0;
                    if (masked < 2) {
                        status = cblob_run8(image.image(), masked ? mask.image() : nullptr, &params.p, &results.rs);
                    } else if (masked == 2) {
                        status = cblob_run8_withRleMask(image.image(), &rleMask.h, &params.p, &results.rs);
                    } else {
                        status = cblob_run8_withTORVRleMask(image.image(), torv.rows.data(), &torv.rect, &params.p,
                                                            &results.rs);
                    }
                    ASSERT_EQ(status, 0) << "mask kind " << masked;
                    EXPECT_TRUE(runtest::blobsMatch(results.rs, masked ? refMasked : ref)) << "mask kind " << masked;
                }
            }
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(BandedScan, RunsInBandsStopCleanlyAtEveryPollAndFailure) {
    std::mt19937 rng(61);
    const int w = 160, h = 140;
    runtest::GreyImage image(w, h, 8, runtest::randomValues(rng, w, h, 8, 0.45, 2), 0, 0);
    segtest::ThreadCount use(4);
    for (const int variant : {0, 1, 2}) {
        SCOPED_TRACE("variant " + std::to_string(variant));
        auto operation = [&]() -> int32_t {
            cblob_runParams p;
            int32_t status = cblob_runParams_construct(&p);
            if (CBLOB_FAILED(status)) return status;
            cblob_resultSet rs;
            status = cblob_resultSet_construct(&rs);
            if (CBLOB_FAILED(status)) {
                cblob_runParams_destruct(&p);
                return status;
            }
            if (variant == 1) {
                cblob_runParams_setSegmentationSoftThreshWithSoftness(&p, 100, 160, 20, 0);  // weighted
                p.connectivityCleanup = cblob_connectivityCleanupFill;
                p.minArea = 5;
            } else {
                cblob_runParams_setSegmentationHardThresh(&p, 128, 0);
                if (variant == 2) p.connectivityType = cblob_connectivityWholeImage;
            }
            status = cblob_run8(image.image(), nullptr, &p, &rs);
            const int32_t end = cblob_resultSet_destruct(&rs);
            cblob_runParams_destruct(&p);
            return CBLOB_FAILED(status) ? status : end;
        };
        const auto report = cblobtest::expectCleanUnderAllocationFailures(operation);
        EXPECT_GT(report.failuresInjected, 8);
        EXPECT_GT(cblobtest::expectCleanUnderCancellation(operation), 4);
    }
}

// Random sizes, densities, grains, members, cleanup modes, with and without
// the tree, each against a random band count.
TEST(BandedScan, RandomSettingsAndBandCounts) {
    for (unsigned seed = 100; seed < 700; ++seed) {
        std::mt19937 rng(seed);
        const int w = 3 + static_cast<int>(rng() % 70), h = 2 + static_cast<int>(rng() % 70);
        const bool weighted = rng() % 3 == 0;
        const double density = 0.05 + 0.9 * static_cast<double>(rng() % 100) / 100.0;
        const Pixels p = randomPixels(rng, w, h, density, 1 + static_cast<int>(rng() % 4), weighted ? 5 : 1);
        const int cleanup = static_cast<int>(rng() % 3);
        ScanSettings s = settingsFor(p, cleanup, cleanup ? 1 + static_cast<int32_t>(rng() % 15) : 0, weighted);
        s.computeTopology = rng() % 5 != 0;
        const RleImage img(p, weighted);
        const int bands = 2 + static_cast<int>(rng() % static_cast<unsigned>(std::min(h, 12) - 1));
        EXPECT_TRUE(sameBlobs(runScan(rleSource(img), s, 1), runScan(rleSource(img), s, bands)))
            << "seed " << seed << ", " << bands << " bands";
        if (::testing::Test::HasFailure()) return;
    }
}

}  // namespace
