// Randomised robustness of the run entry points: random images and masks
// (matching or not), run parameters from a random setter with random
// arguments, then random values poked into the fields a C caller may
// write. Whatever the mix, a run must end with a status this library names
// (never a crash, a hang or, under the sanitizer build, a leak or a stray
// read), and a run that succeeds must leave a consistent result set: the
// same one when it is repeated into that result set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "support/run_support.hpp"

namespace {

using runtest::GreyImage;
using runtest::Params;
using runtest::Results;
using runtest::RleHandle;
using runtest::TorvMask;

int pick(std::mt19937 &rng, int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }

// Mostly sensible values, sometimes the edges of the type and beyond.
int32_t wildInt(std::mt19937 &rng, int32_t usualMax) {
    switch (pick(rng, 8)) {
        case 0: return -1 - pick(rng, 3);
        case 1: return usualMax + 1 + pick(rng, 3);
        case 2: return std::numeric_limits<int32_t>::max() - pick(rng, 2);
        case 3: return std::numeric_limits<int32_t>::min() + pick(rng, 2);
        default: return pick(rng, usualMax + 1);
    }
}
float wildPercent(std::mt19937 &rng) {
    switch (pick(rng, 8)) {
        case 0: return std::numeric_limits<float>::quiet_NaN();
        case 1: return -5.0f;
        case 2: return 150.0f;
        case 3: return std::numeric_limits<float>::infinity();
        default: return static_cast<float>(pick(rng, 1001)) / 10.0f;
    }
}

// A random setter with random arguments; its refusal is a valid outcome.
void randomSegmentation(std::mt19937 &rng, cblob_runParams *p, int bits, const cimg_imageConst *threshImage) {
    const int32_t maxPixel = bits == 8 ? 255 : 65535;
    const int32_t invert = pick(rng, 4) == 0 ? wildInt(rng, 2) : pick(rng, 2);
    // Tables of any length, 0 included; the pointers are never null (a null
    // table is a broken call, reported through the assert service).
    const int32_t mapSize = pick(rng, 3) == 0 ? pick(rng, 300) : maxPixel + 1;
    const int32_t postSize = pick(rng, 300);
    std::vector<uint8_t> map(static_cast<size_t>(mapSize) + 1), post(static_cast<size_t>(postSize) + 1);
    for (auto &v : map) v = static_cast<uint8_t>(pick(rng, 256));
    for (auto &v : post) v = static_cast<uint8_t>(pick(rng, 256));
    std::vector<uint16_t> map16(map.size());
    for (auto &v : map16) v = static_cast<uint16_t>(rng());
    const uint8_t scale = static_cast<uint8_t>(pick(rng, 256));
    switch (pick(rng, 9)) {
        case 0: cblob_runParams_setSegmentationNone(p, wildInt(rng, 255)); break;
        case 1: cblob_runParams_setSegmentationHardThresh(p, wildInt(rng, maxPixel), invert); break;
        case 2:
            cblob_runParams_setSegmentationHardThreshPercent(p, wildPercent(rng), wildPercent(rng), wildPercent(rng),
                                                             invert);
            break;
        case 3:
            cblob_runParams_setSegmentationSoftThresh(p, wildInt(rng, maxPixel), wildInt(rng, maxPixel), invert);
            break;
        case 4:
            cblob_runParams_setSegmentationSoftThreshWithSoftness(p, wildInt(rng, maxPixel), wildInt(rng, maxPixel),
                                                                  wildInt(rng, 255), invert);
            break;
        case 5:
            cblob_runParams_setSegmentationSoftThreshPercentWithSoftness(
                p, wildPercent(rng), wildPercent(rng), wildPercent(rng), wildPercent(rng), wildInt(rng, 255), invert);
            break;
        case 6:
            cblob_runParams_setSegmentationMap(p, scale, map.data(), mapSize);
            break;
        case 7:
            cblob_runParams_setSegmentationThreshImage8(p, scale, map.data(), threshImage, post.data(), mapSize,
                                                        postSize);
            break;
        default:
            cblob_runParams_setSegmentationThreshImage16(p, scale, map16.data(), threshImage, post.data(), mapSize,
                                                         postSize);
            break;
    }
}

// The fields a caller may write directly: connectivity and keep flags (the
// segmentation fields belong to the setters).
void pokeFields(std::mt19937 &rng, cblob_runParams *p) {
    for (int n = pick(rng, 4); n > 0; --n) {
        switch (pick(rng, 8)) {
            case 0: p->connectivityType = wildInt(rng, 2); break;
            case 1: p->connectivityCleanup = wildInt(rng, 2); break;
            case 2: p->minArea = wildInt(rng, 20); break;
            case 3: p->computeSecondMoments = wildInt(rng, 1); break;
            case 4: p->computeTopology = wildInt(rng, 1); break;
            case 5: p->keepThresholdedImage = wildInt(rng, 1); break;
            case 6: p->keepMaskedAndThresholdedImage = wildInt(rng, 1); break;
            default: p->keepMaskImage = wildInt(rng, 1); break;
        }
    }
}

// A result set a successful run leaves: arrays, labels 1..n, and child lists
// that agree with the parents and counts.
::testing::AssertionResult consistent(const cblob_resultSet &rs) {
    const int n = rs.numBlobs;
    if (n < 0 || rs.numViewBlobs != n) return ::testing::AssertionFailure() << "counts " << n << " " << rs.numViewBlobs;
    std::set<const cblob_blob *> blobs;
    std::vector<int> labels(static_cast<size_t>(n) + 1, 0);
    // The labelled scan's colours are region values, and a region may have
    // its parent's value (when two regions of other values enclose it).
    const bool labelled = rs.postProcessing->connectivityType == cblob_connectivityLabelled;
    for (int i = 0; i < n; ++i) {
        const cblob_blob *b = rs.allBlobs[i];
        if (!b || b->owner != &rs || b->label < 1 || b->label > n || labels[b->label]++ || (b->colour > 1 && !labelled)) {
            return ::testing::AssertionFailure() << "blob " << i << " is malformed";
        }
        blobs.insert(b);
    }
    for (const cblob_blob *b : blobs) {
        if (b->parent && (!blobs.count(b->parent) || (b->parent->colour == b->colour && !labelled))) {
            return ::testing::AssertionFailure() << "blob " << b->label << " has a bad parent";
        }
        int children = 0;
        for (const cblob_blob *c = b->firstChild; c && children <= n; c = c->nextSibling, ++children) {
            if (c->parent != b) return ::testing::AssertionFailure() << "child of " << b->label << " disowns it";
        }
        if (children != b->numChildren) return ::testing::AssertionFailure() << "child count of " << b->label;
    }
    return ::testing::AssertionSuccess();
}

enum class Entry { image, window, rleMask, torvMask, rleInput };

TEST(RunFuzz, RandomInputsEndWithANamedStatusAndConsistentResults) {
    std::mt19937 rng(77);
    int succeeded = 0, refused = 0;
    for (int i = 0; i < 1500; ++i) {
        const int bits = pick(rng, 3) == 0 ? 16 : 8;
        const int w = 1 + pick(rng, pick(rng, 4) == 0 ? 3 : 40), h = 1 + pick(rng, pick(rng, 4) == 0 ? 3 : 40);
        const int ox = pick(rng, 5) - 2, oy = pick(rng, 5) - 2;
        GreyImage image(w, h, bits, runtest::randomValues(rng, w, h, bits, 0.1 * pick(rng, 10), 1 + pick(rng, 3)),
                        ox, oy, pick(rng, 3));
        // Masks and threshold images: usually the image's geometry.
        const bool misfit = pick(rng, 6) == 0;
        const int mw = misfit ? 1 + pick(rng, 40) : w, mh = misfit ? 1 + pick(rng, 40) : h;
        std::vector<uint16_t> maskValues(static_cast<size_t>(mw) * mh);
        for (auto &m : maskValues) m = static_cast<uint16_t>(pick(rng, 4) == 0 ? 0 : 1 + pick(rng, 255));
        GreyImage mask(mw, mh, 8, maskValues, misfit ? pick(rng, 3) : ox, oy);
        GreyImage threshImage(mw, mh, pick(rng, 2) ? bits : 24 - bits, runtest::randomValues(rng, mw, mh, 8, 0.5, 1),
                              ox, oy);
        RleHandle rleMask, rleInput;
        ASSERT_EQ(cblob_imageRlePtrh_encodeHardThresh(&rleMask.h, mask.image(), 1, 0), 0);
        TorvMask torv(mask);
        // TORV rows are the caller's bytes: sometimes rows whose lengths do
        // not add up to the width (the runs must be cut or padded, never
        // read or written past the row).
        std::vector<std::vector<uint8_t>> wildRows(static_cast<size_t>(mh));
        std::vector<const uint8_t *> wildRowPointers;
        for (auto &row : wildRows) {
            for (int n = pick(rng, 6); n > 0; --n) {
                row.push_back(static_cast<uint8_t>(pick(rng, 256)));
                row.push_back(static_cast<uint8_t>(1 + pick(rng, 30)));
            }
            row.push_back(0);
            row.push_back(0);
            wildRowPointers.push_back(row.data());
        }
        if (pick(rng, 3) == 0) torv.rows = wildRowPointers;

        Params params;
        randomSegmentation(rng, &params.p, bits, threshImage.image());
        pokeFields(rng, &params.p);

        const bool eight = bits == 8;
        const Entry entry = static_cast<Entry>(pick(rng, eight ? 5 : 4));  // run-length input is 8-bit
        const bool withMask = pick(rng, 3) != 0;
        auto run = [&](cblob_resultSet *rs) -> int32_t {
            switch (entry) {
                case Entry::image:
                    return eight ? cblob_run8(image.image(), withMask ? mask.image() : nullptr, &params.p, rs)
                                 : cblob_run16(image.image(), withMask ? mask.image() : nullptr, &params.p, rs);
                case Entry::window: {
                    cimg_windowConst win;
                    if (cimg_windowConst_initWindow(&win, image.image(), ox, oy, w, h) != 0) return -1;
                    return eight ? cblob_runWindow8(&win, nullptr, nullptr, &params.p, rs)
                                 : cblob_runWindow16(&win, nullptr, nullptr, &params.p, rs);
                }
                case Entry::rleMask: {
                    const cblob_imageRlePtrh *m = withMask ? &rleMask.h : nullptr;
                    return eight ? cblob_run8_withRleMask(image.image(), m, &params.p, rs)
                                 : cblob_run16_withRleMask(image.image(), m, &params.p, rs);
                }
                case Entry::torvMask: {
                    const uint8_t *const *rows = withMask ? torv.rows.data() : nullptr;
                    return eight ? cblob_run8_withTORVRleMask(image.image(), rows, &torv.rect, &params.p, rs)
                                 : cblob_run16_withTORVRleMask(image.image(), rows, &torv.rect, &params.p, rs);
                }
                case Entry::rleInput: {
                    if (cblob_imageRlePtrh_encodeHardThresh(&rleInput.h, image.image(), eight ? 128 : 255, 0) != 0) {
                        return -1;
                    }
                    return pick(rng, 2) ? cblob_runRle8_withRleMask(&rleInput.h, withMask ? &rleMask.h : nullptr,
                                                                   &params.p, rs)
                                        : cblob_runRle8_withMask8(&rleInput.h, withMask ? mask.image() : nullptr,
                                                                  &params.p, rs);
                }
            }
            return -1;
        };
        Results results;
        const int32_t status = run(&results.rs);
        SCOPED_TRACE(::testing::Message() << "case " << i << ": " << w << " x " << h << ", " << bits << "-bit, entry "
                                          << static_cast<int>(entry) << ", status " << cblob_statusName(status));
        ASSERT_NE(status, -1) << "the test could not set the case up";
        if (status < 0) {
            EXPECT_STRNE(cblob_statusName(status), "unknown status");
            EXPECT_NE(status, static_cast<int32_t>(cprt_err_optimizationInhibited));
            ++refused;
            continue;
        }
        ++succeeded;
        ASSERT_TRUE(consistent(results.rs));
        // Again into the used result set: the same outcome. (A run-length
        // input is encoded again, and its entry point may differ.)
        if (entry == Entry::rleInput) continue;
        const int32_t blobs = results.rs.numBlobs;
        ASSERT_EQ(run(&results.rs), status);
        EXPECT_EQ(results.rs.numBlobs, blobs);
        ASSERT_TRUE(consistent(results.rs));
    }
    // Both outcomes are common, or the mix tests little.
    EXPECT_GT(succeeded, 300);
    EXPECT_GT(refused, 300);
}

}  // namespace
