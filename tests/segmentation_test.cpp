// Segmentation: every segmentation type, polarity, mask kind and depth
// decoded to pixels and compared with a per-pixel model written here; the
// boundary cases of each rule; validation order; percent thresholds; the encode
// functions; fault injection and cancellation. The model suites run once
// with the optimised kernels and once with them inhibited.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cblob/rle_image.h"
#include "cblob/run_params.h"
#include "run/segment_image.hpp"
#include "run/segment_parts.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"
#include "support/segmentation_support.hpp"

namespace {

using segtest::TestImage;

enum class Mask { none, window, rleBinary, rleGrey, torv };
const char *const kMaskNames[] = {"none", "window", "rleBinary", "rleGrey", "torv"};

// The model's soft-threshold level: 0 below low, s + 1 from high on, graded
// between; inverted as s + 1 minus that.
int softLevel(int v, int low, int high, int softness, bool inverted) {
    const int s = std::min(softness, 254);
    const int up = v < low ? 0 : v >= high ? s + 1 : 1 + (v - low) * s / (high - low);
    return inverted ? s + 1 - up : up;
}

// One mask of any kind over a w x h window, with its inside states.
struct MaskSetup {
    Mask kind = Mask::none;
    std::unique_ptr<TestImage> window;
    cblob_imageRle rle{};
    std::vector<std::vector<uint8_t>> pairs;
    std::vector<const uint8_t *> torv;
    std::vector<uint8_t> inside;  // per pixel, row after row
    std::vector<uint8_t> values;  // the mask's own value per pixel

    MaskSetup(Mask k, int w, int h, uint32_t seed) : kind(k) {
        cblob_imageRle_construct(&rle);
        if (k == Mask::none) return;
        const rletest::Model m = rletest::randomModel(seed, w, h, k != Mask::rleBinary, 1 + seed % 40, 3);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) values.push_back(m.pel(x, y));
        }
        for (uint8_t v : values) inside.push_back(v != 0);
        if (k == Mask::window) {
            window = std::make_unique<TestImage>(8, w, h);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) window->set(x, y, values[static_cast<size_t>(y * w + x)]);
            }
        } else if (k == Mask::torv) {
            for (const rletest::Row &row : m.rows) pairs.push_back(rletest::torvRow(row, 100));
            for (const auto &p : pairs) torv.push_back(p.data());
        } else {
            EXPECT_EQ(rletest::buildByFilling(&rle, m), 0);
        }
    }
    ~MaskSetup() { cblob_imageRle_destruct(&rle); }
    bool rleOrTorv() const { return kind == Mask::rleBinary || kind == Mask::rleGrey || kind == Mask::torv; }
};

// The segmentation a case sets, and the model of its values.
struct Segmentation {
    int type = 0, bits = 8, invert = 0, connectivity = 0;
    int thresh = 0, high = 0, softness = 0;
    std::vector<uint8_t> map, threshMap8, post;
    std::vector<uint16_t> threshMap16;
    std::unique_ptr<TestImage> threshImage;

    bool grey() const { return !(type == 0 && connectivity != 1); }
    int value(int v, int x, int y) const {
        switch (type) {
            case 0:
                if (connectivity != 1) return (v >= thresh) != (invert == 1);
                return softLevel(v, thresh, thresh, 0, invert != 0);
            case 1:
                return softLevel(v, thresh, high, softness, invert != 0);
            case 2:
                return v < static_cast<int>(map.size()) ? map[static_cast<size_t>(v)] : 0;
            case 3: {
                const bool wide = threshImage->bits == 16;
                const int size = static_cast<int>(wide ? threshMap16.size() : threshMap8.size());
                const int u =
                    v < size ? (wide ? threshMap16[static_cast<size_t>(v)] : threshMap8[static_cast<size_t>(v)]) : 0;
                const int t = threshImage->get(x, y);
                return u < t ? 0 : post[static_cast<size_t>(std::min<int>(u - t, static_cast<int>(post.size()) - 1))];
            }
            default:
                return v;
        }
    }
    // Sets the segmentation on p with the setters.
    int32_t apply(cblob_runParams *p) const {
        p->connectivityType = connectivity;
        switch (type) {
            case 0:
                return cblob_runParams_setSegmentationHardThresh(p, thresh, invert);
            case 1:
                return cblob_runParams_setSegmentationSoftThreshWithSoftness(p, thresh, high, softness, invert);
            case 2:
                return cblob_runParams_setSegmentationMap(p, 3, map.data(), static_cast<int32_t>(map.size()));
            case 3:
                if (threshImage->bits == 16) {
                    return cblob_runParams_setSegmentationThreshImage16(
                        p, 3, threshMap16.data(), &threshImage->image, post.data(),
                        static_cast<int32_t>(threshMap16.size()), static_cast<int32_t>(post.size()));
                }
                return cblob_runParams_setSegmentationThreshImage8(p, 3, threshMap8.data(), &threshImage->image,
                                                                   post.data(), static_cast<int32_t>(threshMap8.size()),
                                                                   static_cast<int32_t>(post.size()));
            default:
                return cblob_runParams_setSegmentationNone(p, 1);
        }
    }
};

template <class T>
std::vector<T> randomTable(std::mt19937 &rng, int size, int hi) {
    std::vector<T> t(static_cast<size_t>(size));
    for (T &v : t) v = static_cast<T>(std::uniform_int_distribution<int>(0, hi)(rng));
    return t;
}

// A random segmentation of `type` for pixels of `bits` whose values lie in 0..maxPel.
Segmentation randomSegmentation(std::mt19937 &rng, int type, int bits, int invert, int connectivity, int maxPel, int w,
                                int h, bool thresh16) {
    Segmentation s;
    s.type = type;
    s.bits = bits;
    s.invert = invert;
    s.connectivity = connectivity;
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    if (type == 0) s.thresh = in(0, maxPel);
    if (type == 1) {
        s.thresh = in(0, maxPel - 1);
        s.high = in(s.thresh + 1, maxPel);
        s.softness = in(0, std::min(s.high - s.thresh, bits == 8 ? 254 : 1000));
    }
    if (type == 2) s.map = randomTable<uint8_t>(rng, in(1, maxPel + 40), 9);
    if (type == 3) {
        s.threshImage = std::make_unique<TestImage>(thresh16 ? 16 : 8, w + 3, h + 2);
        s.threshImage->fillRandom(rng, 0, thresh16 ? 3000 : 255, 6);
        if (thresh16) {
            s.threshMap16 = randomTable<uint16_t>(rng, in(1, maxPel + 40), 3000);
        } else {
            s.threshMap8 = randomTable<uint8_t>(rng, in(1, maxPel + 40), 255);
        }
        s.post = randomTable<uint8_t>(rng, in(1, 300), 5);
    }
    return s;
}

struct Size {
    int w, h;
};

// Runs segment image and compares every pixel (and the kept mask) with the
// model. Returns the status.
int32_t segmentAndCompare(const Segmentation &s, TestImage &img, MaskSetup &mask, bool keep, int wide) {
    cblob_runParams p;
    cblob_runParams_construct(&p);
    EXPECT_EQ(s.apply(&p), 0);
    p.keepMaskImage = keep ? 1 : 0;
    cblob_imageRle out, kept;
    cblob_imageRle_construct(&out);
    cblob_imageRle_construct(&kept);
    std::vector<uint8_t> scratch(static_cast<size_t>(img.width) + 1);
    cblob_imageRle *rleArg = mask.kind == Mask::rleBinary || mask.kind == Mask::rleGrey ? &mask.rle : &kept;
    const int32_t status = cblob::seg::segmentImage(
        img.bits == 8 ? &img.window : nullptr, img.bits == 16 ? &img.window : nullptr,
        mask.window ? &mask.window->window : nullptr, &p, &out, rleArg, mask.torv.empty() ? nullptr : mask.torv.data(),
        mask.rleOrTorv() ? 1 : 0, wide, scratch.data());
    if (status == 0) {
        EXPECT_EQ(segtest::checkStructure(&out), "");
        EXPECT_EQ(out.isGrey != 0, s.grey());
        EXPECT_EQ(out.data->isWide, wide);
        EXPECT_EQ(out.offsetX, img.window.x);
        EXPECT_EQ(out.offsetY, img.window.y);
        std::vector<uint8_t> expected;
        for (int y = 0; y < img.height; ++y) {
            for (int x = 0; x < img.width; ++x) {
                const bool inside = mask.inside.empty() || mask.inside[static_cast<size_t>(y * img.width + x)];
                expected.push_back(static_cast<uint8_t>(inside ? s.value(img.get(x, y), x, y) : 0));
            }
        }
        EXPECT_EQ(segtest::decodePixels(&out), expected);
        if (keep && (mask.kind == Mask::window || mask.kind == Mask::torv)) {
            EXPECT_EQ(segtest::checkStructure(&kept), "");
            std::vector<uint8_t> keptExpected = mask.kind == Mask::window ? mask.inside : mask.values;
            EXPECT_EQ(segtest::decodePixels(&kept), keptExpected);
        }
    }
    cblob_imageRle_destruct(&out);
    cblob_imageRle_destruct(&kept);
    cblob_runParams_destruct(&p);
    return status;
}

// ---------------------------------------------------------- model suites

class SegmentationModel : public ::testing::TestWithParam<bool> {
protected:
    segtest::InhibitHook hook{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Kernels, SegmentationModel, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &param) {
                             return std::string(param.param ? "Inhibited" : "Optimised");
                         });

TEST_P(SegmentationModel, EveryTypePolarityMaskAndDepthMatchesTheModel) {
    const Size sizes[] = {{1, 1}, {255, 3}, {256, 4}, {257, 2}, {40, 33}, {300, 70}};
    std::mt19937 rng(2024);
    int index = 0;
    for (int type = 0; type <= 4; ++type) {
        for (int bits : {8, 16}) {
            for (int invert = 0; invert <= (type <= 1 ? 2 : 0); ++invert) {
                for (int connectivity = 0; connectivity <= (type == 0 ? 1 : 0); ++connectivity) {
                    for (int m = 0; m < 5; ++m) {
                        for (const Size &size : sizes) {
                            ++index;
                            const Mask maskKind = static_cast<Mask>(m);
                            const int maxPel = bits == 8 ? 255 : (type >= 2 ? 2000 : 65535);
                            SCOPED_TRACE("type " + std::to_string(type) + " bits " + std::to_string(bits) + " invert " +
                                         std::to_string(invert) + " connectivity " + std::to_string(connectivity) +
                                         " mask " + kMaskNames[m] + " " + std::to_string(size.w) + "x" +
                                         std::to_string(size.h));
                            TestImage img(bits, size.w, size.h, 3 - index % 7, index % 5);
                            img.fillRandom(rng, 0, maxPel, 1 + index % 300);
                            MaskSetup mask(maskKind, size.w, size.h, static_cast<uint32_t>(index));
                            const Segmentation s = randomSegmentation(rng, type, bits, invert, connectivity, maxPel,
                                                                      size.w, size.h, bits == 16 && index % 2 == 0);
                            const int32_t status = segmentAndCompare(s, img, mask, index % 2 == 1, index % 3 == 0);
                            EXPECT_EQ(status, type == 4 && bits == 16 ? cblob_err_noneNeeds8Bit : 0);
                            if (HasFailure()) return;
                        }
                    }
                }
            }
        }
    }
}

// Hand-made rows at the boundaries of each rule.
TEST_P(SegmentationModel, BoundaryCases) {
    struct Case {
        const char *name;
        int bits, type, connectivity, low, high, softness, invert;
        std::vector<int> pixels, expected;
    };
    const Case cases[] = {
        {"threshold 128", 8, 0, 0, 128, 0, 0, 0, {127, 128, 255, 0}, {0, 1, 1, 0}},
        {"threshold 128 inverted", 8, 0, 0, 128, 0, 0, 1, {127, 128}, {1, 0}},
        {"invert 2 is not inverted for a binary threshold", 8, 0, 0, 128, 0, 0, 2, {127, 128}, {0, 1}},
        {"invert 2 inverts a hard threshold under labelling", 8, 0, 1, 128, 0, 0, 2, {127, 128}, {1, 0}},
        {"hard threshold under labelling is grey 0 / 1", 8, 0, 1, 128, 0, 0, 0, {127, 128}, {0, 1}},
        {"soft 100 / 110 / 10",
         8,
         1,
         0,
         100,
         110,
         10,
         0,
         {0, 99, 100, 101, 105, 109, 110, 255},
         {0, 0, 1, 2, 6, 10, 11, 11}},
        {"soft 100 / 110 / 10 inverted", 8, 1, 0, 100, 110, 10, 1, {99, 100, 101, 109, 110}, {11, 10, 9, 1, 0}},
        {"invert 2 inverts a soft threshold", 8, 1, 0, 100, 110, 10, 2, {99, 110}, {11, 0}},
        {"soft 0 / 255 / 254", 8, 1, 0, 0, 255, 254, 0, {0, 1, 127, 253, 254, 255}, {1, 1, 127, 253, 254, 255}},
        {"16-bit softness capped at 254 levels",
         16,
         1,
         0,
         0,
         1000,
         1000,
         0,
         {0, 500, 999, 1000, 65535},
         {1, 128, 254, 255, 255}},
        {"16-bit threshold 65535", 16, 0, 0, 65535, 0, 0, 0, {65534, 65535}, {0, 1}},
        {"threshold 0 makes every pixel object", 8, 0, 0, 0, 0, 0, 0, {0, 255}, {1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int w = static_cast<int>(c.pixels.size());
        TestImage img(c.bits, w, 1);
        for (int x = 0; x < w; ++x) img.set(x, 0, c.pixels[static_cast<size_t>(x)]);
        cblob_runParams p;
        cblob_runParams_construct(&p);
        p.connectivityType = c.connectivity;
        ASSERT_EQ(c.type == 0
                      ? cblob_runParams_setSegmentationHardThresh(&p, c.low, c.invert)
                      : cblob_runParams_setSegmentationSoftThreshWithSoftness(&p, c.low, c.high, c.softness, c.invert),
                  0);
        cblob_imageRle out;
        cblob_imageRle_construct(&out);
        ASSERT_EQ(cblob::seg::segmentImage(c.bits == 8 ? &img.window : nullptr, c.bits == 16 ? &img.window : nullptr,
                                           nullptr, &p, &out, nullptr, nullptr, 0, 0, nullptr),
                  0);
        const std::vector<uint8_t> decoded = segtest::decodePixels(&out);
        EXPECT_EQ(std::vector<int>(decoded.begin(), decoded.end()), c.expected);
        cblob_imageRle_destruct(&out);
        cblob_runParams_destruct(&p);
    }
}

// ------------------------------------------------------------ validation

TEST(Segmentation, ValidationOrderAndMaskChecks) {
    cblobtest::AssertCatcher asserts;
    TestImage img8(8, 4, 3), img16(16, 4, 3), unbound(8, 0, 0), otherMask(8, 5, 3);
    unbound.window.pels = nullptr;
    cblob_imageRle noRows, wrongSize;
    cblob_imageRle_construct(&noRows);
    cblob_imageRle_construct(&wrongSize);
    ASSERT_EQ(cblob_imageRle_construct_(&noRows), 0);
    rletest::Model m = rletest::randomModel(1, 5, 3, false, 3);
    ASSERT_EQ(rletest::buildByFilling(&wrongSize, m), 0);
    const uint8_t pairs[] = {1, 4, 0, 0};
    const uint8_t *torv[] = {pairs, pairs, pairs};
    struct Case {
        const char *name;
        std::function<void(cblob_runParams *)> set;
        TestImage *image;
        const cimg_windowConst *maskWindow;
        cblob_imageRle *rle;
        bool torv, flag;
        int32_t expected;
    };
    auto hard = [](int t) { return [t](cblob_runParams *p) { cblob_runParams_setSegmentationHardThresh(p, t, 0); }; };
    auto soft = [](int lo, int hi, int s) {
        return [=](cblob_runParams *p) { cblob_runParams_setSegmentationSoftThreshWithSoftness(p, lo, hi, s, 0); };
    };
    auto none = [](cblob_runParams *p) { cblob_runParams_setSegmentationNone(p, 1); };
    const Case cases[] = {
        {"none on 16 bits", none, &img16, nullptr, nullptr, false, false, cblob_err_noneNeeds8Bit},
        {"none on 16 bits before the mask", none, &img16, nullptr, nullptr, false, true, cblob_err_noneNeeds8Bit},
        {"soft high above 255", soft(10, 256, 5), &img8, nullptr, nullptr, false, false, cblob_err_badThreshRange},
        {"soft softness 255", soft(0, 255, 255), &img8, nullptr, nullptr, false, false, cblob_err_badSoftness},
        {"soft softness 254 accepted", soft(0, 255, 254), &img8, nullptr, nullptr, false, false, 0},
        {"soft 16-bit high 65535 accepted", soft(0, 65535, 300), &img16, nullptr, nullptr, false, false, 0},
        {"soft 16-bit softness 65535", soft(0, 65535, 65535), &img16, nullptr, nullptr, false, false,
         cblob_err_badSoftness},
        {"hard 256 on 8 bits", hard(256), &img8, nullptr, nullptr, false, false, cblob_err_badThreshRange},
        {"hard 65536 on 16 bits", hard(65536), &img16, nullptr, nullptr, false, false, cblob_err_badThreshRange},
        {"threshold before the input", hard(256), &unbound, nullptr, nullptr, false, false, cblob_err_badThreshRange},
        {"unbound input", hard(1), &unbound, nullptr, nullptr, false, false, cblob_err_imageUnbound},
        {"rle path without mask", hard(1), &img8, nullptr, nullptr, false, true, cblob_err_maskMissing},
        {"rle mask without rows", hard(1), &img8, nullptr, &noRows, false, true, cblob_err_rleImageNoRows},
        {"rle mask of another size", hard(1), &img8, nullptr, &wrongSize, false, true, cblob_err_maskGeometryMismatch},
        {"TORV mask wins over the rle record", hard(1), &img8, nullptr, &noRows, true, true, 0},
        {"mask window of another size", hard(1), &img8, &otherMask.window, nullptr, false, false,
         cblob_err_maskGeometryMismatch},
        {"mask window ignored on the rle path", hard(1), &img8, &otherMask.window, nullptr, true, true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cblob_runParams p;
        cblob_runParams_construct(&p);
        c.set(&p);
        cblob_imageRle out;
        cblob_imageRle_construct(&out);
        const bool is8 = c.image->bits == 8;
        EXPECT_EQ(cblob::seg::segmentImage(is8 ? &c.image->window : nullptr, is8 ? nullptr : &c.image->window,
                                           c.maskWindow, &p, &out, c.rle, c.torv ? torv : nullptr, c.flag, 0, nullptr),
                  c.expected);
        EXPECT_EQ(out.constructed, c.expected == 0 ? 1 : 0) << "validation failures leave the record alone";
        cblob_imageRle_destruct(&out);
        cblob_runParams_destruct(&p);
    }
    EXPECT_EQ(asserts.count(), 0);
    cblob_imageRle_destruct(&noRows);
    cblob_imageRle_destruct(&wrongSize);
}

TEST(Segmentation, ThresholdImageRules) {
    // A pixel equal to its threshold gets map[0]; one below it gets 0 whatever map[0] is.
    TestImage img(8, 3, 1), thresholds(8, 3, 1), small(8, 2, 1), deep(16, 3, 1);
    const int pixels[] = {50, 49, 200}, limits[] = {50, 50, 10};
    for (int x = 0; x < 3; ++x) {
        img.set(x, 0, pixels[x]);
        thresholds.set(x, 0, limits[x]);
    }
    std::vector<uint8_t> identity(256), post = {7, 8, 9};
    for (int v = 0; v < 256; ++v) identity[static_cast<size_t>(v)] = static_cast<uint8_t>(v);
    struct Case {
        TestImage *threshImage;
        int32_t expected;
        std::vector<int> values;
    };
    const Case cases[] = {{&thresholds, 0, {7, 0, 9}},  // 190 past the post map reads its last entry
                          {&small, cimg_err_badGeometry, {}},
                          {&deep, cimg_err_badDepth, {}}};
    for (const Case &c : cases) {
        cblob_imageRlePtrh h;
        cblob_imageRlePtrh_construct(&h);
        EXPECT_EQ(cblob_imageRlePtrh_encodeThreshImage8(&h, &img.image, identity.data(), &c.threshImage->image,
                                                        post.data(), 256, 3),
                  c.expected);
        if (c.expected == 0) {
            cblob_imageRle *rec = nullptr;
            cblob_imageRlePtrh_getImageRle(&h, &rec);
            const std::vector<uint8_t> decoded = segtest::decodePixels(rec);
            EXPECT_EQ(std::vector<int>(decoded.begin(), decoded.end()), c.values);
        }
        cblob_imageRlePtrh_destruct(&h);
    }
}

// ------------------------------------------------------ percent thresholds

TEST(Segmentation, PercentThresholdsOnConstructedHistograms) {
    struct Case {
        const char *name;
        int bits;
        std::vector<std::pair<int, int>> histogram;  // (value, count)
        int type;                                    // 0 hard, 1 soft
        float lowTail, highTail, a, b;               // hard: a = threshPercent; soft: a, b = low, high percent
        int thresh, high;
    };
    const Case cases[] = {
        {"10..210 at 50 %", 8, {{10, 50}, {210, 50}}, 0, 0, 0, 50, 0, 110, 0},
        {"fraction of the percentage kept", 8, {{0, 1}, {200, 1}}, 0, 0, 0, 50.3f, 0, 101, 0},
        {"rounds half up", 8, {{0, 1}, {3, 1}}, 0, 0, 0, 50, 0, 2, 0},
        {"tails cut at whole percents", 8, {{0, 10}, {50, 80}, {250, 10}}, 0, 10.9f, 10.5f, 100, 0, 50, 0},
        {"tails move the span", 8, {{0, 10}, {100, 80}, {200, 10}}, 0, 11, 11, 0, 0, 100, 0},
        {"16-bit span", 16, {{1000, 5}, {61000, 5}}, 0, 0, 0, 25, 0, 16000, 0},
        {"soft percentages truncated", 8, {{10, 50}, {210, 50}}, 1, 0, 0, 25.9f, 75.5f, 60, 160},
        {"soft on a flat image", 8, {{77, 9}}, 1, 0, 0, 20, 80, 77, 77},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int total = 0;
        for (auto &hv : c.histogram) total += hv.second;
        TestImage img(c.bits, total, 1);
        int x = 0;
        for (auto &hv : c.histogram) {
            for (int i = 0; i < hv.second; ++i) img.set(x++, 0, hv.first);
        }
        cblob_runParams p;
        cblob_runParams_construct(&p);
        if (c.type == 0) {
            ASSERT_EQ(cblob_runParams_setSegmentationHardThreshPercent(&p, c.lowTail, c.highTail, c.a, 0), 0);
        } else {
            ASSERT_EQ(cblob_runParams_setSegmentationSoftThreshPercent(&p, c.lowTail, c.highTail, c.a, c.b, 0), 0);
        }
        ASSERT_EQ(cblob::seg::computePercentThresholds(&img.window, &p), 0);
        EXPECT_EQ(p.thresh, c.thresh);
        if (c.type == 1) {
            EXPECT_EQ(p.highThresh, c.high);
            EXPECT_EQ(p.softness, c.high - c.thresh);
            EXPECT_EQ(p.scaleVal, c.high - c.thresh + 1);
            EXPECT_EQ(p.softnessFixed, 1);
        }
        cblob_runParams_destruct(&p);
    }
}

TEST(Segmentation, PercentRunsRecomputeThresholdsButKeepTheFirstSoftness) {
    TestImage first(8, 4, 1), second(8, 4, 1), empty(8, 0, 0);
    const int a[] = {10, 10, 210, 210}, b[] = {50, 50, 100, 100};
    for (int x = 0; x < 4; ++x) {
        first.set(x, 0, a[x]);
        second.set(x, 0, b[x]);
    }
    cblob_runParams p;
    cblob_runParams_construct(&p);
    ASSERT_EQ(cblob_runParams_setSegmentationSoftThreshPercent(&p, 0, 0, 0, 100, 0), 0);
    cblob_imageRle out;
    cblob_imageRle_construct(&out);
    ASSERT_EQ(cblob::seg::segmentImage(&first.window, nullptr, nullptr, &p, &out, nullptr, nullptr, 0, 0, nullptr), 0);
    EXPECT_EQ(p.thresh, 10);
    EXPECT_EQ(p.highThresh, 210);
    EXPECT_EQ(p.softness, 200);
    EXPECT_EQ(p.scaleVal, 201);
    EXPECT_EQ(segtest::decodePixels(&out), (std::vector<uint8_t>{1, 1, 201, 201}));
    ASSERT_EQ(cblob::seg::segmentImage(&second.window, nullptr, nullptr, &p, &out, nullptr, nullptr, 0, 0, nullptr), 0);
    EXPECT_EQ(p.thresh, 50);
    EXPECT_EQ(p.highThresh, 100);
    EXPECT_EQ(p.softness, 200) << "the first run's softness stays";
    EXPECT_EQ(p.scaleVal, 201);
    // An empty window has no histogram.
    EXPECT_EQ(cblob::seg::segmentImage(&empty.window, nullptr, nullptr, &p, &out, nullptr, nullptr, 0, 0, nullptr),
              cip_err_emptyHistogram);
    cblob_imageRle_destruct(&out);
    cblob_runParams_destruct(&p);
}

// ------------------------------------------------------------ encoding

TEST(Segmentation, EncodeFunctionsFollowTheirSetters) {
    TestImage img(8, 300, 40, 5, -3), thresholds(8, 300, 40);
    std::mt19937 rng(7);
    img.fillRandom(rng, 0, 255, 40);
    thresholds.fillRandom(rng, 0, 255, 90);
    std::vector<uint8_t> map = randomTable<uint8_t>(rng, 200, 4), tmap = randomTable<uint8_t>(rng, 256, 255),
                         post = randomTable<uint8_t>(rng, 30, 6);
    cmath_matrix scale;
    cmath_matrix_init(&scale, 2, 0, 0, 2);
    cmath_xformLinear linear;
    cmath_xformLinear_init(&linear, &scale, 1, -1);
    cmath_xformPtrhConst shift;
    ASSERT_EQ(cmath_xformPtrhConst_constructLinear(&shift, &linear), 0);
    ASSERT_EQ(cimg_image_setClientFromImageXform(&img.image, &shift), 0);

    struct Case {
        const char *name;
        std::function<int32_t(cblob_imageRlePtrh *)> encode;
        std::function<int(int, int, int)> value;  // (v, x, y)
        bool grey;
    };
    const Case cases[] = {
        {"none", [&](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encode(h, &img.image); },
         [](int v, int, int) { return v; }, true},
        {"map", [&](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeMap8(h, &img.image, map.data(), 200); },
         [&](int v, int, int) { return v < 200 ? map[static_cast<size_t>(v)] : 0; }, true},
        {"hard", [&](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeHardThresh(h, &img.image, 90, 1); },
         [](int v, int, int) { return v < 90; }, false},
        {"soft",
         [&](cblob_imageRlePtrh *h) {
             return cblob_imageRlePtrh_encodeSoftThreshWithSoftness(h, &img.image, 50, 150, 20, 0);
         },
         [](int v, int, int) { return softLevel(v, 50, 150, 20, false); }, true},
        {"threshold image",
         [&](cblob_imageRlePtrh *h) {
             return cblob_imageRlePtrh_encodeThreshImage8(h, &img.image, tmap.data(), &thresholds.image, post.data(),
                                                          256, 30);
         },
         [&](int v, int x, int y) {
             const int u = tmap[static_cast<size_t>(v)], t = thresholds.get(x, y);
             return u < t ? 0 : post[static_cast<size_t>(std::min(u - t, 29))];
         },
         true},
        {"hard percent",
         [&](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeHardThreshPercent(h, &img.image, 0, 0, 50, 0); },
         nullptr, false},
        {"soft percent",
         [&](cblob_imageRlePtrh *h) {
             return cblob_imageRlePtrh_encodeSoftThreshPercentWithSoftness(h, &img.image, 0, 0, 20, 80, 7, 0);
         },
         nullptr, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cblob_imageRlePtrh h, other;
        cblob_imageRlePtrh_construct(&h);
        ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&other, 3, 3, 9, &shift), 0);
        cblob_imageRlePtrh_assign(&h, &other);
        ASSERT_EQ(c.encode(&h), 0);
        cblob_imageRle *rec = nullptr, *old = nullptr;
        cblob_imageRlePtrh_getImageRle(&h, &rec);
        cblob_imageRlePtrh_getImageRle(&other, &old);
        EXPECT_NE(rec, old) << "the other holder keeps its image";
        EXPECT_EQ(old->width, 3);
        EXPECT_EQ(segtest::checkStructure(rec), "");
        EXPECT_EQ(rec->isGrey != 0, c.grey);
        EXPECT_EQ(rec->offsetX, 5);
        EXPECT_EQ(rec->offsetY, -3);
        cmath_xformPtrhConst back;
        cmath_xformPtrhConst_construct(&back);
        ASSERT_EQ(cblob_imageRlePtrh_getClientFromImageXform(&h, &back), 0);
        double cx = 0, cy = 0;
        ASSERT_EQ(cmath_xformPtrhConst_mapPoint(&back, 3, 4, &cx, &cy), 0);
        EXPECT_DOUBLE_EQ(cx, 7);
        EXPECT_DOUBLE_EQ(cy, 7);
        cmath_xformPtrhConst_destruct(&back);
        if (c.value) {
            const std::vector<uint8_t> decoded = segtest::decodePixels(rec);
            size_t i = 0;
            for (int y = 0; y < img.height && !HasFailure(); ++y) {
                for (int x = 0; x < img.width; ++x, ++i) ASSERT_EQ(decoded[i], c.value(img.get(x, y), x, y));
            }
        }
        cblob_imageRlePtrh_destruct(&h);
        cblob_imageRlePtrh_destruct(&other);
    }
    cmath_xformPtrhConst_destruct(&shift);
}

TEST(Segmentation, EncodeFailuresBeforeAndAfterTheHandleIsReleased) {
    TestImage img(8, 8, 2), deep(16, 8, 2), unbound(8, 0, 0), empty(8, 0, 3);
    unbound.image.pels = nullptr;
    cmath_xformPtrhConst identity;
    cmath_xformPtrhConst_construct(&identity);
    cblob_imageRlePtrh h;
    ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&h, 2, 2, 1, &identity), 0);
    auto holds = [&] {
        int32_t isNull = 1;
        cblob_imageRlePtrh_getIsNull(&h, &isNull);
        return !isNull;
    };
    struct Case {
        const char *name;
        std::function<int32_t()> call;
        int32_t expected;
        bool stillHeld;
    };
    const Case cases[] = {
        {"setter failure", [&] { return cblob_imageRlePtrh_encodeHardThresh(&h, &img.image, -1, 0); },
         cblob_err_badThresh, true},
        {"threshold above 255", [&] { return cblob_imageRlePtrh_encodeHardThresh(&h, &img.image, 256, 0); },
         cblob_err_badThreshRange, true},
        {"unbound image", [&] { return cblob_imageRlePtrh_encode(&h, &unbound.image); }, cblob_err_imageUnbound, true},
        {"16-bit image", [&] { return cblob_imageRlePtrh_encodeHardThresh(&h, &deep.image, 1, 0); }, cimg_err_badDepth,
         true},
        {"percent on an empty image",
         [&] { return cblob_imageRlePtrh_encodeHardThreshPercent(&h, &empty.image, 0, 0, 50, 0); },
         cip_err_emptyHistogram, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!holds()) {
            ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&h, 2, 2, 1, &identity), 0);
        }
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_EQ(holds(), c.stillHeld);
    }
    // An empty image encodes to an image without rows to speak of.
    ASSERT_EQ(cblob_imageRlePtrh_encode(&h, &empty.image), 0);
    cblob_imageRle *rec = nullptr;
    cblob_imageRlePtrh_getImageRle(&h, &rec);
    EXPECT_EQ(rec->height, 3);
    EXPECT_EQ(rec->numRuns, 0);
    cblob_imageRlePtrh_destruct(&h);
}

// ------------------------------------------- fault injection, cancellation

TEST(Segmentation, CleanUnderEveryFailingAllocationAndEveryPoll) {
    std::mt19937 rng(99);
    TestImage img8(8, 200, 150), img16(16, 200, 150), thresholds(16, 200, 150);
    img8.fillRandom(rng, 0, 255, 20);
    img16.fillRandom(rng, 0, 4000, 20);
    thresholds.fillRandom(rng, 0, 4000, 20);
    MaskSetup window(Mask::window, 200, 150, 5), rle(Mask::rleGrey, 200, 150, 6), torv(Mask::torv, 200, 150, 7);
    std::vector<uint16_t> tmap16(300, 2000);
    std::vector<uint8_t> post(10, 3);
    struct Case {
        const char *name;
        TestImage *image;
        MaskSetup *mask;
        std::function<int32_t(cblob_runParams *)> set;
    };
    const Case cases[] = {
        {"hard", &img8, nullptr,
         [](cblob_runParams *p) { return cblob_runParams_setSegmentationHardThresh(p, 100, 0); }},
        {"hard, kept window mask", &img8, &window,
         [](cblob_runParams *p) {
             p->keepMaskImage = 1;
             return cblob_runParams_setSegmentationHardThresh(p, 100, 1);
         }},
        {"soft percent 16-bit, rle mask", &img16, &rle,
         [](cblob_runParams *p) { return cblob_runParams_setSegmentationSoftThreshPercent(p, 5, 5, 10, 90, 1); }},
        {"threshold image, kept TORV mask", &img16, &torv,
         [&](cblob_runParams *p) {
             p->keepMaskImage = 1;
             return cblob_runParams_setSegmentationThreshImage16(p, 3, tmap16.data(), &thresholds.image, post.data(),
                                                                 300, 10);
         }},
    };
    for (int threads : {1, 4}) {
        segtest::ThreadCount count(threads);
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
            auto run = [&] {
                cblob_runParams p;
                cblob_runParams_construct(&p);
                const int32_t set = c.set(&p);
                if (CBLOB_FAILED(set)) {
                    cblob_runParams_destruct(&p);
                    return set;
                }
                cblob_imageRle out, kept;
                cblob_imageRle_construct(&out);
                cblob_imageRle_construct(&kept);
                MaskSetup *m = c.mask;
                const bool is8 = c.image->bits == 8;
                const int32_t status = cblob::seg::segmentImage(
                    is8 ? &c.image->window : nullptr, is8 ? nullptr : &c.image->window,
                    m && m->window ? &m->window->window : nullptr, &p, &out,
                    m && m->kind == Mask::rleGrey ? &m->rle : &kept, m && !m->torv.empty() ? m->torv.data() : nullptr,
                    m && m->rleOrTorv() ? 1 : 0, 0, nullptr);
                cblob_imageRle_destruct(&out);
                cblob_imageRle_destruct(&kept);
                cblob_runParams_destruct(&p);
                return status;
            };
            cblobtest::expectCleanUnderAllocationFailures(run);
            const int64_t polls = cblobtest::expectCleanUnderCancellation(run);
            // 150 rows poll before rows 0, 32, 64, 96 and 128 in each single-threaded
            // pass; bands do not poll, the TORV row packer always does.
            const bool keptPass = c.mask && c.mask->kind != Mask::rleGrey;
            EXPECT_EQ(polls, threads == 1 ? (keptPass ? 10 : 5) : (c.mask && c.mask->kind == Mask::torv ? 5 : 0));
        }
    }
}

TEST(Segmentation, EncodeFunctionsCleanUnderEveryFailingAllocation) {
    std::mt19937 rng(5);
    TestImage img(8, 150, 140), thresholds(8, 150, 140);
    img.fillRandom(rng, 0, 255, 30);
    thresholds.fillRandom(rng, 0, 255, 30);
    std::vector<uint8_t> table = randomTable<uint8_t>(rng, 256, 5);
    const std::function<int32_t(cblob_imageRlePtrh *)> encoders[] = {
        [&](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encode(h, &img.image); },
        [&](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeMap8(h, &img.image, table.data(), 256); },
        [&](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeHardThresh(h, &img.image, 128, 0); },
        [&](cblob_imageRlePtrh *h) {
            return cblob_imageRlePtrh_encodeSoftThreshWithSoftness(h, &img.image, 9, 99, 9, 1);
        },
        [&](cblob_imageRlePtrh *h) {
            return cblob_imageRlePtrh_encodeThreshImage8(h, &img.image, table.data(), &thresholds.image, table.data(),
                                                         256, 256);
        },
        [&](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeHardThreshPercent(h, &img.image, 1, 2, 30, 0); },
        [&](cblob_imageRlePtrh *h) {
            return cblob_imageRlePtrh_encodeSoftThreshPercentWithSoftness(h, &img.image, 1, 2, 30, 60, 5, 0);
        },
    };
    for (int threads : {1, 2}) {
        segtest::ThreadCount count(threads);
        for (size_t i = 0; i < std::size(encoders); ++i) {
            SCOPED_TRACE("encoder " + std::to_string(i) + ", threads " + std::to_string(threads));
            auto run = [&] {
                cblob_imageRlePtrh h;
                cblob_imageRlePtrh_construct(&h);
                const int32_t status = encoders[i](&h);
                int32_t isNull = 0;
                cblob_imageRlePtrh_getIsNull(&h, &isNull);
                EXPECT_EQ(isNull != 0, CBLOB_FAILED(status)) << "the handle holds an image exactly on success";
                cblob_imageRlePtrh_destruct(&h);
                return status;
            };
            cblobtest::expectCleanUnderAllocationFailures(run);
            EXPECT_EQ(cblobtest::expectCleanUnderCancellation(run), threads == 1 ? 5 : 0);
        }
    }
}

}  // namespace
