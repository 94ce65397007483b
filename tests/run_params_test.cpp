// Run parameters: setter checks and writes, getter applicability, table
// ownership, copies sharing threshold image pixels, and clean failure.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

#include "cblob/run_params.h"
#include "support/fault_injection.hpp"

namespace {

using P = cblob_runParams;
using Bytes = std::array<unsigned char, sizeof(P)>;
Bytes bytesOf(const P &p) {
    Bytes b;
    std::memcpy(b.data(), &p, sizeof p);
    return b;
}

// An 8- or 16-bit image with its own pixels (unbound for width 0).
struct Image {
    cimg_image img;
    explicit Image(int bits, int w = 4, int h = 3) {
        EXPECT_EQ(cimg_image_constructUnbound(&img, bits), 0);
        if (w > 0) {
            EXPECT_EQ(cimg_image_assignNew(&img, w, h), 0);
        }
    }
    ~Image() { cimg_image_destruct(&img); }
};

const std::vector<uint8_t> kTable = [] {
    std::vector<uint8_t> t(300);
    for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint8_t>(i * 7 + 1);
    return t;
}();
const std::vector<uint16_t> kTable16(kTable.begin(), kTable.end());

// One setter call. Maps come from kTable: the pixel map at entry 1, the post
// map at entry 2.
enum Kind { None, Hard, HardPct, Soft, Softness, SoftPct, SoftPctS, Map, Image8, Image16 };
struct Call {
    Kind kind;
    std::array<int32_t, 3> i{};
    std::array<float, 4> f{};
};

int32_t apply(P *p, const Call &c, const cimg_imageConst *image = nullptr) {
    const auto &i = c.i;
    const auto &f = c.f;
    const uint8_t *t = kTable.data();
    const auto scale = static_cast<uint8_t>(i[0]);
    switch (c.kind) {
        case None: return cblob_runParams_setSegmentationNone(p, i[0]);
        case Hard: return cblob_runParams_setSegmentationHardThresh(p, i[0], i[1]);
        case HardPct: return cblob_runParams_setSegmentationHardThreshPercent(p, f[0], f[1], f[2], i[0]);
        case Soft: return cblob_runParams_setSegmentationSoftThresh(p, i[0], i[1], 0);
        case Softness: return cblob_runParams_setSegmentationSoftThreshWithSoftness(p, i[0], i[1], i[2], 0);
        case SoftPct: return cblob_runParams_setSegmentationSoftThreshPercent(p, f[0], f[1], f[2], f[3], i[0]);
        case SoftPctS:
            return cblob_runParams_setSegmentationSoftThreshPercentWithSoftness(p, f[0], f[1], f[2], f[3], i[0], 0);
        case Map: return cblob_runParams_setSegmentationMap(p, scale, t + 1, i[1]);
        case Image8: return cblob_runParams_setSegmentationThreshImage8(p, scale, t + 1, image, t + 2, i[1], i[2]);
        case Image16:
            return cblob_runParams_setSegmentationThreshImage16(p, scale, &kTable16[1], image, t + 2, i[1], i[2]);
    }
    return -1;
}

int32_t P::*const kIntFields[] = {
    &P::connectivityType, &P::keepThresholdedImage, &P::keepMorphedThresholdedImage, &P::keepMaskedAndThresholdedImage,
    &P::keepBlobImages, &P::connectivityCleanup, &P::minArea, &P::keepMaskImage, &P::thresh, &P::highThresh,
    &P::invert, &P::segmentationType, &P::mapSize, &P::threshMapSize, &P::softness, &P::softnessFixed,
    &P::isThreshPercent, &P::computeSecondMoments, &P::computeTopology, &P::scaleVal};  // the last three default to 1
float P::*const kFloatFields[] = {&P::lowTailPercent, &P::highTailPercent, &P::highThreshPercent,
                                  &P::lowThreshPercent, &P::threshPercent};

// A constructed object with every scalar away from its default, one
// morphology operation, and all three tables (map 5 entries, threshMap8 4,
// threshMap16 6) and both threshold images.
struct Busy {
    P p;
    Image image8{8}, image16{16};
    Busy() {
        const uint8_t *t = kTable.data();
        EXPECT_EQ(cblob_runParams_construct(&p), 0);
        EXPECT_EQ(cblob_runParams_setSegmentationThreshImage8(&p, 3, t, &image8.img, t, 4, 9), 0);
        EXPECT_EQ(cblob_runParams_setSegmentationThreshImage16(&p, 3, kTable16.data(), &image16.img, t, 6, 2), 0);
        EXPECT_EQ(cblob_runParams_setSegmentationMap(&p, 4, t, 5), 0);
        const cblob_morphOp op = 2;
        EXPECT_EQ(cstd_vector_cblob_morphOp_pushBack(&p.morphOps, &op), 0);
        // Distinct values in every scalar but the two counts, which belong to the tables.
        for (size_t k = 0; k < std::size(kIntFields); ++k) {
            if (kIntFields[k] != &P::mapSize && kIntFields[k] != &P::threshMapSize) p.*kIntFields[k] = int32_t(11 + k);
        }
        for (size_t k = 0; k < std::size(kFloatFields); ++k) p.*kFloatFields[k] = 1.5f + float(k);
    }
    ~Busy() { EXPECT_EQ(cblob_runParams_destruct(&p), 0); }
};

TEST(RunParamsSetters, ChecksRunInOrderAndRefusalsChangeNothing) {
    Image bound8(8), bound16(16), unbound(8, 0);
    const float nan = std::nanf("");
    const struct {
        Call call;
        int32_t expected;
        const cimg_imageConst *image = nullptr;
    } rows[] = {
        {{None, {0}}, cblob_err_badScaleVal}, {{None, {1}}, 0},
        {{Hard, {-1}}, cblob_err_badThresh}, {{Hard, {0, 1}}, 0},
        // Hard percent: each range in order, then the tail sum; closed bounds.
        {{HardPct, {}, {-0.1f, 200, -1}}, cblob_err_badLowTailPercent},
        {{HardPct, {}, {nan, 0, 50}}, cblob_err_badLowTailPercent},
        {{HardPct, {}, {0, 100.5f, -1}}, cblob_err_badHighTailPercent},
        {{HardPct, {}, {60, 60, 101}}, cblob_err_badThreshPercent},
        {{HardPct, {}, {30.5f, 70, 50}}, cblob_err_tailPercentSum},
        {{HardPct, {}, {30, 70, 50}}, 0}, {{HardPct, {}, {0, 0, 0}}, 0}, {{HardPct, {}, {100, 0, 100}}, 0},
        // Soft: the order check comes first.
        {{Soft, {10, 10}}, cblob_err_badThreshRange}, {{Soft, {-1, 5}}, cblob_err_badLowThresh},
        {{Soft, {5, -1}}, cblob_err_badThreshRange}, {{Soft, {-1, -5}}, cblob_err_badThreshRange},
        {{Soft, {-5, -1}}, cblob_err_badLowThresh}, {{Soft, {0, 1}}, 0},
        {{Softness, {10, 10, -1}}, cblob_err_badThreshRange}, {{Softness, {0, 10, 11}}, cblob_err_softnessTooLarge},
        {{Softness, {0, 10, -1}}, cblob_err_badSoftness}, {{Softness, {0, 10, 0}}, 0}, {{Softness, {0, 10, 10}}, 0},
        // Soft percent: four ranges in order, the tail sum, then the threshold order.
        {{SoftPct, {}, {-1, -1, -1, -1}}, cblob_err_badLowTailPercent},
        {{SoftPct, {}, {0, 101, -1, -1}}, cblob_err_badHighTailPercent},
        {{SoftPct, {}, {0, 0, -1, 101}}, cblob_err_badLowThreshPercent},
        {{SoftPct, {}, {0, 0, 0, 101}}, cblob_err_badHighThreshPercent},
        {{SoftPct, {}, {60, 50, 50, 50}}, cblob_err_tailPercentSum},
        {{SoftPct, {}, {0, 0, 50, 50}}, cblob_err_threshPercentOrder},
        {{SoftPct, {}, {0, 0, 60, 40}}, cblob_err_threshPercentOrder}, {{SoftPct, {}, {30, 70, 0, 100}}, 0},
        {{SoftPctS, {-1}, {0, 0, 50, 50}}, cblob_err_threshPercentOrder},
        {{SoftPctS, {-1}, {0, 0, 50, 60}}, cblob_err_badSoftness}, {{SoftPctS, {0}, {0, 0, 50, 60}}, 0},
        {{Map, {0, 0}}, cblob_err_badScaleVal}, {{Map, {1, 0}}, cblob_err_badMapSize}, {{Map, {255, 256}}, 0},
        // Threshold images: scale value, then binding, then the sizes.
        {{Image8, {0, 1, 1}}, cblob_err_badScaleVal, &unbound.img},
        {{Image8, {1, -1, 1}}, cblob_err_threshImageUnbound, &unbound.img},
        {{Image8, {1, 1, -1}}, csys_err_badSize, &bound8.img}, {{Image8, {1, 0, 0}}, 0, &bound8.img},
        {{Image16, {0, 1, 1}}, cblob_err_badScaleVal, &unbound.img},
        {{Image16, {1, 1, 1}}, cblob_err_threshImageUnbound, &unbound.img},
        {{Image16, {1, -1, 1}}, csys_err_badSize, &bound16.img}, {{Image16, {1, 3, 1}}, 0, &bound16.img},
    };
    for (const auto &row : rows) {
        Busy busy;
        const Bytes before = bytesOf(busy.p);
        const int index = static_cast<int>(&row - rows);
        EXPECT_EQ(apply(&busy.p, row.call, row.image), row.expected) << "row " << index;
        if (row.expected != 0) {
            EXPECT_EQ(bytesOf(busy.p), before) << "row " << index;
        }
    }
}

TEST(RunParamsSetters, EachWritesItsFieldsAndNoOthers) {
    Image other8(8, 5, 5);
    const struct {
        Call call;
        std::function<void(P &)> writes;  // applied to a copy of the old bytes
    } rows[] = {
        {{None, {9}}, [](P &e) { e.scaleVal = 9, e.segmentationType = 4; }},
        {{Hard, {40, 7}},
         [](P &e) { e.thresh = 40, e.invert = 7, e.scaleVal = 1, e.isThreshPercent = 0, e.segmentationType = 0; }},
        {{HardPct, {0}, {10, 20, 30}}, [](P &e) {
             e.lowTailPercent = 10, e.highTailPercent = 20, e.threshPercent = 30, e.invert = 0, e.scaleVal = 1;
             e.isThreshPercent = 1, e.softnessFixed = 0, e.segmentationType = 0;
         }},
        {{Soft, {0, INT32_MAX}}, [](P &e) {  // softness high - low; the scale value stops at INT32_MAX
             e.thresh = 0, e.highThresh = INT32_MAX, e.invert = 0, e.softness = INT32_MAX, e.scaleVal = INT32_MAX;
             e.softnessFixed = 1, e.isThreshPercent = 0, e.segmentationType = 1;
         }},
        {{Softness, {20, 30, 4}}, [](P &e) {
             e.thresh = 20, e.highThresh = 30, e.invert = 0, e.softness = 4, e.scaleVal = 5;
             e.softnessFixed = 1, e.isThreshPercent = 0, e.segmentationType = 1;
         }},
        {{SoftPct, {0}, {1, 2, 3, 4}}, [](P &e) {
             e.lowTailPercent = 1, e.highTailPercent = 2, e.lowThreshPercent = 3, e.highThreshPercent = 4;
             e.invert = 0, e.softnessFixed = 0, e.isThreshPercent = 1, e.segmentationType = 1;
         }},
        {{SoftPctS, {6}, {1, 2, 3, 4}}, [](P &e) {
             e.lowTailPercent = 1, e.highTailPercent = 2, e.lowThreshPercent = 3, e.highThreshPercent = 4;
             e.invert = 0, e.softness = 6, e.scaleVal = 7, e.softnessFixed = 1, e.isThreshPercent = 1;
             e.segmentationType = 1;
         }},
        // The same numbers of entries as the tables held: the blocks are reused.
        {{Map, {200, 5}}, [](P &e) { e.scaleVal = 200, e.isThreshPercent = 0, e.segmentationType = 2; }},
        {{Image8, {8, 4, 5}},
         [](P &e) { e.scaleVal = 8, e.threshMapSize = 4, e.isThreshPercent = 0, e.segmentationType = 3; }},
    };
    const uint8_t *t = kTable.data();
    for (const auto &row : rows) {
        Busy busy;
        P expected;
        std::memcpy(&expected, &busy.p, sizeof expected);
        row.writes(expected);
        ASSERT_EQ(apply(&busy.p, row.call, &other8.img), 0) << "row " << (&row - rows);
        EXPECT_EQ(bytesOf(busy.p), bytesOf(expected)) << "row " << (&row - rows);
        if (row.call.kind == Image8) {
            // New contents in the reused blocks; the image object rebuilt in
            // place on the new pixels; the other depth left alone.
            EXPECT_TRUE(!std::memcmp(busy.p.threshMap8, kTable.data() + 1, 4) && !std::memcmp(busy.p.map, t + 2, 5));
            EXPECT_TRUE(busy.p.threshImage8->pels == other8.img.pels && busy.p.threshImage8->width == 5);
            EXPECT_EQ(busy.p.threshImage16->pels, busy.image16.img.pels);
        }
    }
    // New lengths get new blocks, also when the source is the object's own
    // table. threshMapSize (6) describes threshMap16 here: 6 entries must not
    // go into the 4-entry threshMap8 block.
    Busy busy;
    const uint8_t *const oldMap = busy.p.map, *const old8 = busy.p.threshMap8;
    ASSERT_EQ(cblob_runParams_setSegmentationMap(&busy.p, 1, busy.p.map, 3), 0);
    EXPECT_TRUE(busy.p.map != oldMap && busy.p.mapSize == 3 && std::memcmp(busy.p.map, kTable.data(), 3) == 0);
    ASSERT_EQ(apply(&busy.p, {Image8, {1, 6, 3}}, &busy.image8.img), 0);
    EXPECT_TRUE(busy.p.threshMap8 != old8 && std::memcmp(busy.p.threshMap8, kTable.data() + 1, 6) == 0);
}

TEST(RunParamsGetters, ApplyOnlyToTheirSegmentationTypes) {
    Image image8(8);
    const Call toType[] = {{Hard, {5}}, {Soft, {5, 9}}, {Map, {1, 3}}, {Image8, {1, 2, 3}}, {None, {1}}};
    const struct {
        int32_t (*get)(const P *, int32_t *);
        unsigned types;  // bit t: applies to segmentation type t
    } getters[] = {
        {&cblob_runParams_getSegmentationType, 0x1F}, {&cblob_runParams_getThresh, 0x03},
        {&cblob_runParams_getHighThresh, 0x02},       {&cblob_runParams_getInvert, 0x03},
        {&cblob_runParams_getIsThreshPercent, 0x03},  {&cblob_runParams_getScaleVal, 0x1F},
        {&cblob_runParams_getSoftness, 0x1F},
    };
    for (int type = 0; type < 5; ++type) {
        P p;
        ASSERT_EQ(cblob_runParams_construct(&p), 0);
        ASSERT_EQ(apply(&p, toType[type], &image8.img), 0);
        auto expect = [&](int32_t status, bool wrote, unsigned types) {
            const bool applies = (types >> type) & 1u;
            EXPECT_EQ(status, applies ? 0 : cblob_err_notApplicable) << "type " << type;
            EXPECT_EQ(wrote, applies) << "type " << type;
        };
        for (const auto &g : getters) {
            int32_t v = -777;
            const int32_t status = g.get(&p, &v);
            expect(status, v != -777, g.types);
        }
        // Statuses first: argument evaluation order is unspecified.
        float lo = -1, hi = -1;
        const uint8_t *map = nullptr, *post = nullptr;
        const cimg_imageConst *image = nullptr;
        int32_t size = -1;
        const int32_t statuses[] = {cblob_runParams_getLowTailPercent(&p, &lo),
                                    cblob_runParams_getHighTailPercent(&p, &hi),
                                    cblob_runParams_getMap(&p, &map, nullptr, &size),
                                    cblob_runParams_getPostMap(&p, &post, &size),
                                    cblob_runParams_getThreshImage(&p, &image, nullptr)};
        expect(statuses[0], lo != -1, 0x1F);
        expect(statuses[1], hi != -1, 0x1F);
        expect(statuses[2], map != nullptr, 0x0C);
        expect(statuses[3], post != nullptr, 0x08);
        expect(statuses[4], image != nullptr, 0x08);
        EXPECT_EQ(cblob_runParams_destruct(&p), 0);
    }
}

TEST(RunParamsGetters, GetMapPicksTheMapByDepth) {
    Image image8(8), image16(16);
    P typeMap, type8, type16;
    for (P *p : {&typeMap, &type8, &type16}) ASSERT_EQ(cblob_runParams_construct(p), 0);
    ASSERT_EQ(apply(&typeMap, {Map, {1, 3}}), 0);
    ASSERT_EQ(apply(&type8, {Map, {1, 3}}), 0);
    ASSERT_EQ(apply(&type8, {Image8, {1, 4, 5}}, &image8.img), 0);
    ASSERT_EQ(apply(&type16, {Image16, {1, 6, 2}}, &image16.img), 0);
    const void *const unset = &image8;  // an output the getter must not write
    const struct {
        const P *p;
        bool give8, give16;
        const void *map8, *map16;
        int32_t size;  // -1: not written
    } rows[] = {
        {&typeMap, true, false, typeMap.map, unset, 3},    {&typeMap, false, true, unset, nullptr, 0},
        {&typeMap, true, true, nullptr, nullptr, 0},       {&type8, true, false, type8.threshMap8, unset, 4},
        {&type8, false, true, unset, nullptr, 4},          {&type16, true, false, nullptr, unset, -1},
        {&type16, false, true, unset, type16.threshMap16, 6}, {&type16, true, true, nullptr, type16.threshMap16, 6},
    };
    for (const auto &r : rows) {
        const uint8_t *map8 = static_cast<const uint8_t *>(unset);
        const uint16_t *map16 = static_cast<const uint16_t *>(unset);
        int32_t size = -1;
        EXPECT_EQ(cblob_runParams_getMap(r.p, r.give8 ? &map8 : nullptr, r.give16 ? &map16 : nullptr, &size), 0);
        EXPECT_EQ(static_cast<const void *>(map8), r.map8) << "row " << (&r - rows);
        EXPECT_EQ(static_cast<const void *>(map16), r.map16) << "row " << (&r - rows);
        EXPECT_EQ(size, r.size) << "row " << (&r - rows);
    }
    for (P *p : {&typeMap, &type8, &type16}) EXPECT_EQ(cblob_runParams_destruct(p), 0);
}

// Every field but the owned pointers and the morphology vector is equal.
bool sameScalars(const P &a, const P &b) {
    bool same = true;
    for (auto field : kIntFields) same = same && a.*field == b.*field;
    for (auto field : kFloatFields) same = same && a.*field == b.*field;
    return same;
}

std::vector<cblob_morphOp> morphOpsOf(const P &p) {
    const cblob_morphOp *ops = nullptr;
    int32_t n = 0;
    EXPECT_EQ(cstd_vector_cblob_morphOp_getBeginSizeConst(&p.morphOps, &ops, &n), 0);
    return std::vector<cblob_morphOp>(ops, ops + n);
}

TEST(RunParamsLifecycle, DefaultsAndCopiesThatOwnTheirTablesAndShareThresholdPixels) {
    Busy src;
    P copy;
    ASSERT_EQ(cblob_runParams_constructCopy(&copy, &src.p), 0);
    EXPECT_TRUE(sameScalars(copy, src.p));
    EXPECT_EQ(morphOpsOf(copy), morphOpsOf(src.p));
    EXPECT_TRUE(copy.map != src.p.map && copy.threshMap8 != src.p.threshMap8 && copy.threshMap16 != src.p.threshMap16);
    EXPECT_TRUE(!std::memcmp(copy.map, kTable.data(), 5) && !std::memcmp(copy.threshMap8, kTable.data(), 4) &&
                !std::memcmp(copy.threshMap16, kTable16.data(), 12));
    // Pixels written through the caller's images are seen through the copy's.
    ASSERT_NE(copy.threshImage8, src.p.threshImage8);
    src.image8.img.pels[5] = 99;
    reinterpret_cast<uint16_t *>(src.image16.img.pels)[7] = 4321;
    EXPECT_EQ(copy.threshImage8->pels[5], 99);
    EXPECT_EQ(reinterpret_cast<const uint16_t *>(copy.threshImage16->pels)[7], 4321);

    // Tables of the same lengths and existing image objects are reused.
    Busy target;
    uint8_t *const map = target.p.map;
    const cimg_imageConst *const image8 = target.p.threshImage8;
    ASSERT_EQ(apply(&copy, {Map, {1, 5}}), 0);
    ASSERT_EQ(cblob_runParams_assign(&target.p, &copy), 0);
    EXPECT_TRUE(target.p.map == map && target.p.threshImage8 == image8);
    EXPECT_EQ(std::memcmp(target.p.map, kTable.data() + 1, 5), 0);
    EXPECT_TRUE(sameScalars(target.p, copy));
    EXPECT_EQ(target.p.threshImage8->pels, src.image8.img.pels);

    const Bytes before = bytesOf(target.p);
    EXPECT_EQ(cblob_runParams_assign(&target.p, &target.p), 0);
    EXPECT_EQ(bytesOf(target.p), before);

    // A new object (its defaults checked here) as the source: the tables go, the images stay.
    P empty;
    ASSERT_EQ(cblob_runParams_construct(&empty), 0);
    for (size_t k = 0; k < std::size(kIntFields); ++k)
        EXPECT_EQ(empty.*kIntFields[k], k + 3 < std::size(kIntFields) ? 0 : 1) << "field " << k;
    const float percents[] = {0, 100, 100, 0, 50};
    for (size_t k = 0; k < std::size(kFloatFields); ++k) EXPECT_EQ(empty.*kFloatFields[k], percents[k]);
    EXPECT_TRUE(!empty.map && !empty.threshMap8 && !empty.threshMap16 && !empty.threshImage8 && !empty.threshImage16);
    ASSERT_EQ(cblob_runParams_assign(&target.p, &empty), 0);
    EXPECT_TRUE(!target.p.map && !target.p.threshMap8 && !target.p.threshMap16 && target.p.threshImage8 == image8);
    EXPECT_TRUE(sameScalars(target.p, empty) && morphOpsOf(target.p).empty());

    // A source whose threshold image lost its pixels is refused before any change.
    ASSERT_EQ(cimg_imageConst_destruct(src.p.threshImage16), 0);
    const Bytes untouched = bytesOf(copy);
    EXPECT_EQ(cblob_runParams_assign(&copy, &src.p), cblob_err_threshImageUnbound);
    EXPECT_EQ(bytesOf(copy), untouched);
    P refused;
    EXPECT_EQ(cblob_runParams_constructCopy(&refused, &src.p), cblob_err_threshImageUnbound);
    EXPECT_EQ(cblob_runParams_destruct(&empty), 0);
    EXPECT_EQ(cblob_runParams_destruct(&copy), 0);
}

TEST(RunParamsFailures, AllocationFailuresKeepOnlyTheDocumentedWrites) {
    Image image8(8);
    // Tables of new lengths, failing at each of their allocations: only the
    // scale value, written before the copies, has changed.
    const struct {
        Call call;
        int64_t allocations;
    } rows[] = {{{Map, {77, 9}}, 1}, {{Image8, {77, 2, 3}}, 2}};
    for (const auto &row : rows) {
        for (int64_t n = 1; n <= row.allocations; ++n) {
            Busy busy;
            P expected;
            std::memcpy(&expected, &busy.p, sizeof expected);
            expected.scaleVal = 77;
            csys_memory_failAfter(n, 0);
            EXPECT_EQ(apply(&busy.p, row.call, &image8.img), csys_err_outOfMemory);
            csys_memory_failAfter(0, 0);
            EXPECT_EQ(bytesOf(busy.p), bytesOf(expected)) << "allocation " << n;
        }
    }
    // assign: the morphology vector, assigned first, keeps its new contents.
    Busy src;
    P target;
    ASSERT_EQ(cblob_runParams_construct(&target), 0);
    csys_memory_failAfter(2, 0);
    EXPECT_EQ(cblob_runParams_assign(&target, &src.p), csys_err_outOfMemory);
    csys_memory_failAfter(0, 0);
    EXPECT_EQ(morphOpsOf(target), morphOpsOf(src.p));
    EXPECT_TRUE(!target.map && !target.threshImage8 && target.scaleVal == 1);
    EXPECT_EQ(cblob_runParams_destruct(&target), 0);
}

TEST(RunParamsAsserts, NullArgumentsAreReported) {
    cblobtest::AssertCatcher catcher;
    P p;
    ASSERT_EQ(cblob_runParams_construct(&p), 0);
    int32_t size = 0;
    const Bytes before = bytesOf(p);
    EXPECT_EQ(cblob_runParams_construct(nullptr), csys_err_assertFailed);
    EXPECT_EQ(cblob_runParams_setSegmentationMap(&p, 1, nullptr, 3), csys_err_assertFailed);
    EXPECT_EQ(cblob_runParams_getMap(&p, nullptr, nullptr, &size), csys_err_assertFailed);
    EXPECT_EQ(cblob_runParams_getThreshImage(&p, nullptr, nullptr), csys_err_assertFailed);
    EXPECT_EQ(cblob_runParams_constructCopy(&p, &p), csys_err_assertFailed);
    EXPECT_EQ(catcher.count(), 5);
    EXPECT_EQ(bytesOf(p), before);
    EXPECT_EQ(cblob_runParams_destruct(&p), 0);
}

}  // namespace
