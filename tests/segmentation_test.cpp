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
#include "segment/segment_image.hpp"
#include "segment/segment_parts.hpp"
#include "support/fault_injection.hpp"
#include "support/rle_model.hpp"
#include "support/segmentation_support.hpp"

namespace {

using segtest::TestImage;

using segtest::Mask;
using segtest::MaskSetup;
using segtest::segment;
const char *const kMaskNames[] = {"none", "window", "rleBinary", "rleGrey", "torv"};

// The model's soft-threshold level: 0 below low, s + 1 from high on, graded
// between; inverted as s + 1 minus that.
int softLevel(int v, int low, int high, int softness, bool inverted) {
    const int s = std::min(softness, 254);
    const int up = v < low ? 0 : v >= high ? s + 1 : 1 + (v - low) * s / (high - low);
    return inverted ? s + 1 - up : up;
}

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
            case 1: return softLevel(v, thresh, high, softness, invert != 0);
            case 2: return v < static_cast<int>(map.size()) ? map[static_cast<size_t>(v)] : 0;
            case 3: {
                const bool wide = threshImage->bits == 16;
                const size_t size = wide ? threshMap16.size() : threshMap8.size(), at = static_cast<size_t>(v);
                const int u = at < size ? (wide ? threshMap16[at] : threshMap8[at]) : 0, t = threshImage->get(x, y);
                return u < t ? 0 : post[std::min(static_cast<size_t>(u - t), post.size() - 1)];
            }
            default: return v;
        }
    }
    // Sets the segmentation on p with the setters.
    int32_t apply(cblob_runParams *p) const {
        p->connectivityType = connectivity;
        const auto postSize = static_cast<int32_t>(post.size()), size8 = static_cast<int32_t>(threshMap8.size()),
                   size16 = static_cast<int32_t>(threshMap16.size());
        switch (type) {
            case 0: return cblob_runParams_setSegmentationHardThresh(p, thresh, invert);
            case 1: return cblob_runParams_setSegmentationSoftThreshWithSoftness(p, thresh, high, softness, invert);
            case 2: return cblob_runParams_setSegmentationMap(p, 3, map.data(), static_cast<int32_t>(map.size()));
            case 3:
                if (threshImage->bits == 16) {
                    return cblob_runParams_setSegmentationThreshImage16(p, 3, threshMap16.data(), &threshImage->image,
                                                                        post.data(), size16, postSize);
                }
                return cblob_runParams_setSegmentationThreshImage8(p, 3, threshMap8.data(), &threshImage->image,
                                                                   post.data(), size8, postSize);
            default: return cblob_runParams_setSegmentationNone(p, 1);
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
    s.type = type, s.bits = bits, s.invert = invert, s.connectivity = connectivity;
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

// Runs segment image and compares every pixel (and the kept mask) with the
// model. Returns the status.
int32_t segmentAndCompare(const Segmentation &s, TestImage &img, MaskSetup &mask, bool keep, int wide) {
    segtest::Records r;
    cblob_runParams &p = r.p;
    cblob_imageRle &out = r.out, &kept = r.kept;
    EXPECT_EQ(s.apply(&p), 0);
    p.keepMaskImage = keep ? 1 : 0;
    std::vector<uint8_t> scratch(static_cast<size_t>(img.width) + 1);
    const int32_t status = mask.segment(img, &p, &out, &kept, wide, scratch.data());
    if (status == 0) {
        EXPECT_EQ(segtest::checkStructure(&out), "");
        EXPECT_EQ(out.isGrey != 0, s.grey());
        EXPECT_EQ(out.data->isWide, wide);
        EXPECT_TRUE(out.offsetX == img.window.x && out.offsetY == img.window.y);
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
            EXPECT_EQ(segtest::decodePixels(&kept), mask.kind == Mask::window ? mask.inside : mask.values);
        }
    }
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
    const std::pair<int, int> sizes[] = {{1, 1}, {255, 3}, {256, 4}, {257, 2}, {40, 33}, {300, 70}};
    std::mt19937 rng(2024);
    int index = 0;
    for (int type = 0; type <= 4; ++type) {
        for (int bits : {8, 16}) {
            for (int invert = 0; invert <= (type <= 1 ? 2 : 0); ++invert) {
                for (int connectivity = 0; connectivity <= (type == 0 ? 1 : 0); ++connectivity) {
                    for (int m = 0; m < 5; ++m) {
                        for (const auto &[w, h] : sizes) {
                            ++index;
                            const int maxPel = bits == 8 ? 255 : (type >= 2 ? 2000 : 65535);
                            SCOPED_TRACE(::testing::Message() << "type " << type << " bits " << bits << " invert "
                                                              << invert << " connectivity " << connectivity << " mask "
                                                              << kMaskNames[m] << " " << w << "x" << h);
                            TestImage img(bits, w, h, 3 - index % 7, index % 5);
                            img.fillRandom(rng, 0, maxPel, 1 + index % 300);
                            MaskSetup mask(static_cast<Mask>(m), w, h, static_cast<uint32_t>(index));
                            const Segmentation s = randomSegmentation(rng, type, bits, invert, connectivity, maxPel, w,
                                                                      h, bits == 16 && index % 2 == 0);
                            EXPECT_EQ(segmentAndCompare(s, img, mask, index % 2 == 1, index % 3 == 0),
                                      type == 4 && bits == 16 ? cblob_err_noneNeeds8Bit : 0);
                            if (HasFailure()) return;
                        }
                    }
                }
            }
        }
    }
}

// Hand-made rows at the boundaries of each rule: (bits, type, connectivity,
// low, high, softness, invert) and pixels with their expected values.
TEST_P(SegmentationModel, BoundaryCases) {
    const struct {
        const char *name;
        int bits, type, connectivity, low, high, softness, invert;
        std::vector<int> pixels, expected;
    } cases[] = {
        {"threshold 128", 8, 0, 0, 128, 0, 0, 0, {127, 128, 255, 0}, {0, 1, 1, 0}},
        {"threshold 128 inverted", 8, 0, 0, 128, 0, 0, 1, {127, 128}, {1, 0}},
        {"invert 2 is not inverted for a binary threshold", 8, 0, 0, 128, 0, 0, 2, {127, 128}, {0, 1}},
        {"invert 2 inverts a hard threshold under labelling", 8, 0, 1, 128, 0, 0, 2, {127, 128}, {1, 0}},
        {"hard threshold under labelling is grey 0 / 1", 8, 0, 1, 128, 0, 0, 0, {127, 128}, {0, 1}},
        {"soft 100 / 110 / 10", 8, 1, 0, 100, 110, 10, 0, {0, 99, 100, 101, 105, 109, 110, 255},
         {0, 0, 1, 2, 6, 10, 11, 11}},
        {"soft 100 / 110 / 10 inverted", 8, 1, 0, 100, 110, 10, 1, {99, 100, 101, 109, 110}, {11, 10, 9, 1, 0}},
        {"invert 2 inverts a soft threshold", 8, 1, 0, 100, 110, 10, 2, {99, 110}, {11, 0}},
        {"soft 0 / 255 / 254", 8, 1, 0, 0, 255, 254, 0, {0, 1, 127, 253, 254, 255}, {1, 1, 127, 253, 254, 255}},
        {"16-bit softness capped at 254 levels", 16, 1, 0, 0, 1000, 1000, 0, {0, 500, 999, 1000, 65535},
         {1, 128, 254, 255, 255}},
        {"16-bit threshold 65535", 16, 0, 0, 65535, 0, 0, 0, {65534, 65535}, {0, 1}},
        {"threshold 0 makes every pixel object", 8, 0, 0, 0, 0, 0, 0, {0, 255}, {1, 1}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestImage img(c.bits, static_cast<int>(c.pixels.size()), 1);
        for (size_t x = 0; x < c.pixels.size(); ++x) img.set(static_cast<int>(x), 0, c.pixels[x]);
        segtest::Records r;
        cblob_runParams &p = r.p;
        p.connectivityType = c.connectivity;
        ASSERT_EQ(c.type == 0
                      ? cblob_runParams_setSegmentationHardThresh(&p, c.low, c.invert)
                      : cblob_runParams_setSegmentationSoftThreshWithSoftness(&p, c.low, c.high, c.softness, c.invert),
                  0);
        ASSERT_EQ(segment(img, &p, &r.out), 0);
        const std::vector<uint8_t> decoded = segtest::decodePixels(&r.out);
        EXPECT_EQ(std::vector<int>(decoded.begin(), decoded.end()), c.expected);
    }
}

TEST(Segmentation, ValidationOrderAndMaskChecks) {
    cblobtest::AssertCatcher asserts;
    TestImage img8(8, 4, 3), img16(16, 4, 3), unbound(8, 0, 0), otherMask(8, 5, 3);
    unbound.window.pels = nullptr;
    cblob_imageRle noRows, wrongSize;
    cblob_imageRle_construct(&noRows);
    ASSERT_EQ(cblob_imageRle_construct_(&noRows), 0);
    ASSERT_EQ(rletest::buildByFilling(&wrongSize, rletest::randomModel(1, 5, 3, false, 3)), 0);
    const uint8_t pairs[] = {1, 4, 0, 0};
    const uint8_t *torv[] = {pairs, pairs, pairs};
    auto hard = [](int t) { return [t](cblob_runParams *p) { cblob_runParams_setSegmentationHardThresh(p, t, 0); }; };
    auto soft = [](int lo, int hi, int s) {
        return [=](cblob_runParams *p) { cblob_runParams_setSegmentationSoftThreshWithSoftness(p, lo, hi, s, 0); };
    };
    auto none = [](cblob_runParams *p) { cblob_runParams_setSegmentationNone(p, 1); };
    const struct {
        const char *name;
        std::function<void(cblob_runParams *)> set;
        TestImage *image;
        const cimg_windowConst *maskWindow;
        cblob_imageRle *rle;
        bool torv, flag;
        int32_t expected;
    } cases[] = {
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
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        segtest::Records r;
        c.set(&r.p);
        EXPECT_EQ(segment(*c.image, &r.p, &r.out, c.maskWindow, c.rle, c.torv ? torv : nullptr, c.flag), c.expected);
        EXPECT_EQ(r.out.constructed, c.expected == 0 ? 1 : 0) << "validation failures leave the record alone";
    }
    EXPECT_EQ(asserts.count(), 0);
    cblob_imageRle_destruct(&noRows);
    cblob_imageRle_destruct(&wrongSize);
}

TEST(Segmentation, PercentThresholdsOnConstructedHistograms) {
    const struct {
        const char *name;
        int bits;
        std::vector<std::pair<int, int>> histogram;  // (value, count)
        int type;                                    // 0 hard, 1 soft
        float lowTail, highTail, a, b;               // hard: a = threshPercent; soft: a, b = low, high percent
        int thresh, high;
    } cases[] = {
        {"10..210 at 50 %", 8, {{10, 50}, {210, 50}}, 0, 0, 0, 50, 0, 110, 0},
        {"fraction of the percentage kept", 8, {{0, 1}, {200, 1}}, 0, 0, 0, 50.3f, 0, 101, 0},
        {"rounds half up", 8, {{0, 1}, {3, 1}}, 0, 0, 0, 50, 0, 2, 0},
        {"tails cut at whole percents", 8, {{0, 10}, {50, 80}, {250, 10}}, 0, 10.9f, 10.5f, 100, 0, 50, 0},
        {"tails move the span", 8, {{0, 10}, {100, 80}, {200, 10}}, 0, 11, 11, 0, 0, 100, 0},
        {"16-bit span", 16, {{1000, 5}, {61000, 5}}, 0, 0, 0, 25, 0, 16000, 0},
        {"soft percentages truncated", 8, {{10, 50}, {210, 50}}, 1, 0, 0, 25.9f, 75.5f, 60, 160},
        {"soft on a flat image", 8, {{77, 9}}, 1, 0, 0, 20, 80, 77, 77},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> pixels;
        for (auto &hv : c.histogram) pixels.insert(pixels.end(), static_cast<size_t>(hv.second), hv.first);
        TestImage img(c.bits, static_cast<int>(pixels.size()), 1);
        for (size_t x = 0; x < pixels.size(); ++x) img.set(static_cast<int>(x), 0, pixels[x]);
        segtest::Records r;
        cblob_runParams &p = r.p;
        ASSERT_EQ(c.type == 0 ? cblob_runParams_setSegmentationHardThreshPercent(&p, c.lowTail, c.highTail, c.a, 0)
                              : cblob_runParams_setSegmentationSoftThreshPercent(&p, c.lowTail, c.highTail, c.a, c.b, 0),
                  0);
        ASSERT_EQ(cblob::seg::computePercentThresholds(&img.window, &p), 0);
        EXPECT_EQ(p.thresh, c.thresh);
        if (c.type == 1) {
            EXPECT_TRUE(p.highThresh == c.high && p.softness == c.high - c.thresh && p.softnessFixed == 1);
            EXPECT_EQ(p.scaleVal, c.high - c.thresh + 1);
        }
    }
}

TEST(Segmentation, PercentRunsRecomputeThresholdsButKeepTheFirstSoftness) {
    TestImage first(8, 4, 1), second(8, 4, 1), empty(8, 0, 0);
    const int a[] = {10, 10, 210, 210}, b[] = {50, 50, 100, 100};
    for (int x = 0; x < 4; ++x) first.set(x, 0, a[x]), second.set(x, 0, b[x]);
    segtest::Records r;
    cblob_runParams &p = r.p;
    cblob_imageRle &out = r.out;
    ASSERT_EQ(cblob_runParams_setSegmentationSoftThreshPercent(&p, 0, 0, 0, 100, 0), 0);
    ASSERT_EQ(segment(first, &p, &out), 0);
    EXPECT_TRUE(p.thresh == 10 && p.highThresh == 210 && p.softness == 200 && p.scaleVal == 201);
    EXPECT_EQ(segtest::decodePixels(&out), (std::vector<uint8_t>{1, 1, 201, 201}));
    ASSERT_EQ(segment(second, &p, &out), 0);
    EXPECT_TRUE(p.thresh == 50 && p.highThresh == 100);
    EXPECT_TRUE(p.softness == 200 && p.scaleVal == 201) << "the first run's softness stays";
    EXPECT_EQ(segment(empty, &p, &out), cip_err_emptyHistogram);  // an empty window has no histogram
}

// The encode functions on a 300 x 140 image at (5, -3) with a client
// transform, with per-pixel models where the parameters are fixed.
struct Encoders {
    TestImage img{8, 300, 140, 5, -3}, thresholds{8, 300, 140};
    std::vector<uint8_t> map, tmap, post;
    cmath_xformPtrhConst shift;
    struct Encoder {
        const char *name;
        std::function<int32_t(cblob_imageRlePtrh *)> encode;
        std::function<int(int, int, int)> value;  // (v, x, y)
        bool grey;
    };
    std::vector<Encoder> all;

    Encoders() {
        std::mt19937 rng(7);
        img.fillRandom(rng, 0, 255, 40);
        thresholds.fillRandom(rng, 0, 255, 90);
        map = randomTable<uint8_t>(rng, 200, 4), tmap = randomTable<uint8_t>(rng, 256, 255);
        post = randomTable<uint8_t>(rng, 30, 6);
        const cmath_xformLinear linear = {{2, 0, 0, 2}, 1, -1};
        EXPECT_EQ(cmath_xformPtrhConst_constructLinear(&shift, &linear), 0);
        EXPECT_EQ(cimg_image_setClientFromImageXform(&img.image, &shift), 0);
        const cimg_imageConst *in = &img.image;
        all = {
            {"none", [=](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encode(h, in); },
             [](int v, int, int) { return v; }, true},
            {"map", [=](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeMap8(h, in, map.data(), 200); },
             [this](int v, int, int) { return v < 200 ? map[static_cast<size_t>(v)] : 0; }, true},
            {"hard", [=](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeHardThresh(h, in, 90, 1); },
             [](int v, int, int) { return v < 90; }, false},
            {"soft",
             [=](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeSoftThreshWithSoftness(h, in, 50, 150, 20, 0); },
             [](int v, int, int) { return softLevel(v, 50, 150, 20, false); }, true},
            {"threshold image",
             [=](cblob_imageRlePtrh *h) {
                 return cblob_imageRlePtrh_encodeThreshImage8(h, in, tmap.data(), &thresholds.image, post.data(), 256, 30);
             },
             [this](int v, int x, int y) {
                 const int u = tmap[static_cast<size_t>(v)], t = thresholds.get(x, y);
                 return u < t ? 0 : post[static_cast<size_t>(std::min(u - t, 29))];
             },
             true},
            {"hard percent",
             [=](cblob_imageRlePtrh *h) { return cblob_imageRlePtrh_encodeHardThreshPercent(h, in, 0, 0, 50, 0); },
             nullptr, false},
            {"soft percent",
             [=](cblob_imageRlePtrh *h) {
                 return cblob_imageRlePtrh_encodeSoftThreshPercentWithSoftness(h, in, 1, 2, 20, 80, 7, 0);
             },
             nullptr, true},
        };
    }
    ~Encoders() { cmath_xformPtrhConst_destruct(&shift); }
};

TEST(Segmentation, EncodeFunctionsFollowTheirSetters) {
    Encoders enc;
    for (const auto &c : enc.all) {
        SCOPED_TRACE(c.name);
        cblob_imageRlePtrh h, other;
        cblob_imageRlePtrh_construct(&h);
        ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&other, 3, 3, 9, &enc.shift), 0);
        cblob_imageRlePtrh_assign(&h, &other);
        ASSERT_EQ(c.encode(&h), 0);
        cblob_imageRle *rec = nullptr, *old = nullptr;
        cblob_imageRlePtrh_getImageRle(&h, &rec);
        cblob_imageRlePtrh_getImageRle(&other, &old);
        EXPECT_TRUE(rec != old && old->width == 3) << "the other holder keeps its image";
        EXPECT_EQ(segtest::checkStructure(rec), "");
        EXPECT_EQ(rec->isGrey != 0, c.grey);
        EXPECT_TRUE(rec->offsetX == 5 && rec->offsetY == -3);
        cmath_xformPtrhConst back;
        cmath_xformPtrhConst_construct(&back);
        ASSERT_EQ(cblob_imageRlePtrh_getClientFromImageXform(&h, &back), 0);
        double cx = 0, cy = 0;
        ASSERT_EQ(cmath_xformPtrhConst_mapPoint(&back, 3, 4, &cx, &cy), 0);
        EXPECT_TRUE(cx == 7 && cy == 7);
        cmath_xformPtrhConst_destruct(&back);
        if (c.value) {
            const std::vector<uint8_t> decoded = segtest::decodePixels(rec);
            for (size_t i = 0; i < decoded.size() && !HasFailure(); ++i) {
                const int x = static_cast<int>(i % 300), y = static_cast<int>(i / 300);
                ASSERT_EQ(decoded[i], c.value(enc.img.get(x, y), x, y)) << x << "," << y;
            }
        }
        cblob_imageRlePtrh_destruct(&h);
        cblob_imageRlePtrh_destruct(&other);
    }
}

TEST(Segmentation, EncodeFailuresBeforeAndAfterTheHandleIsReleased) {
    TestImage img(8, 8, 2), deep(16, 8, 2), unbound(8, 0, 0), empty(8, 0, 3), thresholds(8, 8, 2), small(8, 7, 2);
    unbound.image.pels = nullptr;
    std::vector<uint8_t> table(256, 1);
    cmath_xformPtrhConst identity;
    cmath_xformPtrhConst_construct(&identity);
    cblob_imageRlePtrh h;
    cblob_imageRlePtrh_construct(&h);
    auto threshImage = [&](TestImage &image, TestImage &t) {
        return cblob_imageRlePtrh_encodeThreshImage8(&h, &image.image, table.data(), &t.image, table.data(), 256, 3);
    };
    const struct {
        const char *name;
        std::function<int32_t()> call;
        int32_t expected;
        bool stillHeld;
    } cases[] = {
        {"setter failure", [&] { return cblob_imageRlePtrh_encodeHardThresh(&h, &img.image, -1, 0); },
         cblob_err_badThresh, true},
        {"threshold above 255", [&] { return cblob_imageRlePtrh_encodeHardThresh(&h, &img.image, 256, 0); },
         cblob_err_badThreshRange, true},
        {"unbound image", [&] { return cblob_imageRlePtrh_encode(&h, &unbound.image); }, cblob_err_imageUnbound, true},
        {"16-bit image", [&] { return cblob_imageRlePtrh_encodeHardThresh(&h, &deep.image, 1, 0); }, cimg_err_badDepth,
         true},
        {"threshold image of another size", [&] { return threshImage(img, small); }, cimg_err_badGeometry, true},
        {"16-bit threshold image", [&] { return threshImage(img, deep); }, cimg_err_badDepth, true},
        {"percent on an empty image",
         [&] { return cblob_imageRlePtrh_encodeHardThreshPercent(&h, &empty.image, 0, 0, 50, 0); },
         cip_err_emptyHistogram, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(cblob_imageRlePtrh_constructUniform(&h, 2, 2, 1, &identity), 0);
        EXPECT_EQ(c.call(), c.expected);
        int32_t isNull = 1;
        cblob_imageRlePtrh_getIsNull(&h, &isNull);
        EXPECT_EQ(!isNull, c.stillHeld);
        cblob_imageRlePtrh_destruct(&h);
    }
    // An empty image encodes to an image without rows to speak of.
    ASSERT_EQ(cblob_imageRlePtrh_encode(&h, &empty.image), 0);
    cblob_imageRle *rec = nullptr;
    cblob_imageRlePtrh_getImageRle(&h, &rec);
    EXPECT_TRUE(rec->height == 3 && rec->numRuns == 0);
    cblob_imageRlePtrh_destruct(&h);
}

// Segmentation with every kind of mask and every encode function, under
// every failing allocation and every attention poll, single-threaded and in
// bands. 140 or 150 rows poll before rows 0, 32, 64, 96 and 128 in each
// single-threaded pass; bands do not poll, the TORV row packer always does.
TEST(Segmentation, CleanUnderEveryFailingAllocationAndEveryPoll) {
    std::mt19937 rng(99);
    TestImage img8(8, 200, 150), img16(16, 200, 150), thresholds(16, 200, 150);
    img8.fillRandom(rng, 0, 255, 20);
    img16.fillRandom(rng, 0, 4000, 20);
    thresholds.fillRandom(rng, 0, 4000, 20);
    MaskSetup none(Mask::none, 0, 0, 0), window(Mask::window, 200, 150, 5), rle(Mask::rleGrey, 200, 150, 6),
        torv(Mask::torv, 200, 150, 7);
    std::vector<uint16_t> tmap16(300, 2000);
    std::vector<uint8_t> post(10, 3);
    struct Case {
        std::string name;
        std::function<int32_t()> run;
        int64_t polls, bandedPolls;
    };
    auto segmentCase = [&](std::string name, TestImage *image, MaskSetup *m, bool keep, int64_t polls,
                           int64_t bandedPolls, std::function<int32_t(cblob_runParams *)> set) {
        return Case{name,
                    [=] {
                        segtest::Records r;
                        r.p.keepMaskImage = keep;
                        int32_t status = set(&r.p);
                        if (!CBLOB_FAILED(status)) status = m->segment(*image, &r.p, &r.out, &r.kept);
                        return status;
                    },
                    polls, bandedPolls};
    };
    std::vector<Case> cases = {
        segmentCase("hard", &img8, &none, false, 5, 0,
                    [](cblob_runParams *p) { return cblob_runParams_setSegmentationHardThresh(p, 100, 0); }),
        segmentCase("hard, kept window mask", &img8, &window, true, 10, 0,
                    [](cblob_runParams *p) { return cblob_runParams_setSegmentationHardThresh(p, 100, 1); }),
        segmentCase("soft percent 16-bit, rle mask", &img16, &rle, false, 5, 0, [](cblob_runParams *p) {
            return cblob_runParams_setSegmentationSoftThreshPercent(p, 5, 5, 10, 90, 1);
        }),
        segmentCase("threshold image, kept TORV mask", &img16, &torv, true, 10, 5, [&](cblob_runParams *p) {
            return cblob_runParams_setSegmentationThreshImage16(p, 3, tmap16.data(), &thresholds.image, post.data(),
                                                                300, 10);
        }),
    };
    Encoders enc;
    for (const auto &e : enc.all) {
        cases.push_back({std::string("encode ") + e.name,
                         [&e] {
                             cblob_imageRlePtrh h;
                             cblob_imageRlePtrh_construct(&h);
                             const int32_t status = e.encode(&h);
                             int32_t isNull = 0;
                             cblob_imageRlePtrh_getIsNull(&h, &isNull);
                             EXPECT_EQ(isNull != 0, CBLOB_FAILED(status)) << "an image exactly on success";
                             cblob_imageRlePtrh_destruct(&h);
                             return status;
                         },
                         5, 0});
    }
    for (int threads : {1, 4}) {
        segtest::ThreadCount count(threads);
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name + ", threads " + std::to_string(threads));
            cblobtest::expectCleanUnderAllocationFailures(c.run);
            EXPECT_EQ(cblobtest::expectCleanUnderCancellation(c.run), threads == 1 ? c.polls : c.bandedPolls);
        }
    }
}

}  // namespace
