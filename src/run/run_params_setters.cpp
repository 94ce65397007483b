// The segmentation setters of the run parameters. Each checks its arguments
// in its documented order before it changes anything, then writes exactly
// the fields of its segmentation.
#include <climits>

#include "cblob/run_params.h"
#include "core/frame.hpp"
#include "run/run_params_image.hpp"
#include "containers/table_block.hpp"

namespace {

// Closed bounds; NaN fails.
bool isPercent(float x) { return x >= 0.0f && x <= 100.0f; }

// The exact sum of two floats fits a double, so 30 + 70 passes and
// 30.5 + 70 fails without rounding deciding either way.
bool tailsFit(float lowTail, float highTail) {
    return static_cast<double>(lowTail) + static_cast<double>(highTail) <= 100.0;
}

// softness + 1 as a scale value, held at INT32_MAX where it would overflow.
int32_t scaleAbove(int32_t softness) { return softness < INT32_MAX ? softness + 1 : INT32_MAX; }

int32_t checkSoftRange(int32_t low, int32_t high) {
    if (low >= high) return cblob_err_badThreshRange;
    if (low < 0) return cblob_err_badLowThresh;
    if (high < 0) return cblob_err_badHighThresh;
    return 0;
}

int32_t checkSoftness(int32_t low, int32_t high, int32_t softness) {
    const int32_t status = checkSoftRange(low, high);
    if (CBLOB_FAILED(status)) return status;
    // low >= 0 and high > low here, so high - low cannot overflow.
    if (softness > high - low) return cblob_err_softnessTooLarge;
    if (softness < 0) return cblob_err_badSoftness;
    return 0;
}

int32_t checkTails(float lowTail, float highTail) {
    if (!isPercent(lowTail)) return cblob_err_badLowTailPercent;
    if (!isPercent(highTail)) return cblob_err_badHighTailPercent;
    return 0;
}

int32_t checkHardPercents(float lowTail, float highTail, float threshPercent) {
    const int32_t status = checkTails(lowTail, highTail);
    if (CBLOB_FAILED(status)) return status;
    if (!isPercent(threshPercent)) return cblob_err_badThreshPercent;
    if (!tailsFit(lowTail, highTail)) return cblob_err_tailPercentSum;
    return 0;
}

int32_t checkSoftPercents(float lowTail, float highTail, float lowThresh, float highThresh) {
    const int32_t status = checkTails(lowTail, highTail);
    if (CBLOB_FAILED(status)) return status;
    if (!isPercent(lowThresh)) return cblob_err_badLowThreshPercent;
    if (!isPercent(highThresh)) return cblob_err_badHighThreshPercent;
    if (!tailsFit(lowTail, highTail)) return cblob_err_tailPercentSum;
    if (!(highThresh > lowThresh)) return cblob_err_threshPercentOrder;
    return 0;
}

int32_t checkBound(const cimg_imageConst *image) {
    int32_t bound = 0;
    const int32_t status = cimg_imageConst_getIsBound(image, &bound);
    if (CBLOB_FAILED(status)) return status;
    return bound ? 0 : cblob_err_threshImageUnbound;
}

void writeSoftPercents(cblob_runParams *p, float lowTail, float highTail, float lowThresh, float highThresh,
                       int32_t invert) {
    p->lowTailPercent = lowTail;
    p->highTailPercent = highTail;
    p->lowThreshPercent = lowThresh;
    p->highThreshPercent = highThresh;
    p->invert = invert;
    p->isThreshPercent = 1;
    p->segmentationType = cblob_segmentationSoftThresh;
}

// Both threshold image setters: MapSlot and ImageSlot are the fields of the
// depth, Bits its pixel depth.
template <class MapEntry, MapEntry *cblob_runParams::*MapSlot, cimg_imageConst *cblob_runParams::*ImageSlot, int Bits>
int32_t setThreshImage(cblob_runParams *p, uint8_t scaleVal, const MapEntry *threshMap,
                       const cimg_imageConst *threshImage, const uint8_t *postMap, int32_t threshMapSize,
                       int32_t postMapSize) {
    // Two tables and one image object.
    cblob::Frame<3> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_REQUIRE(f, threshMap);
    CBLOB_FRAME_REQUIRE(f, threshImage);
    CBLOB_FRAME_REQUIRE(f, postMap);
    CBLOB_FRAME_CHECK(f, scaleVal != 0, cblob_err_badScaleVal);
    CBLOB_FRAME_TRY(f, checkBound(threshImage));
    CBLOB_FRAME_CHECK(f, threshMapSize >= 0 && postMapSize >= 0, csys_err_badSize);

    // The scale value is part of the documented state after a failed copy.
    p->scaleVal = scaleVal;
    cblob::TableReplacement<MapEntry> map(&(p->*MapSlot), threshMap, threshMapSize);
    cblob::TableReplacement<uint8_t> post(&p->map, postMap, postMapSize);
    cblob::ThreshImageReplacement image(&(p->*ImageSlot), threshImage, Bits, true);
    CBLOB_FRAME_TRY(f, map.prepare(f));
    CBLOB_FRAME_TRY(f, post.prepare(f));
    CBLOB_FRAME_TRY(f, image.prepare(f));

    // Nothing below allocates.
    CBLOB_FRAME_TRY(f, map.commit());
    p->threshMapSize = threshMapSize;
    CBLOB_FRAME_TRY(f, post.commit());
    p->mapSize = postMapSize;
    CBLOB_FRAME_TRY(f, image.commit());
    p->isThreshPercent = 0;
    p->segmentationType = cblob_segmentationThreshImage;
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_runParams_setSegmentationNone(cblob_runParams *p, int32_t scaleVal) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_CHECK(f, scaleVal > 0, cblob_err_badScaleVal);
    p->scaleVal = scaleVal;
    p->segmentationType = cblob_segmentationNone;
    return f.exit();
}

int32_t cblob_runParams_setSegmentationHardThresh(cblob_runParams *p, int32_t thresh, int32_t invert) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_CHECK(f, thresh >= 0, cblob_err_badThresh);
    p->thresh = thresh;
    p->invert = invert;
    p->scaleVal = 1;
    p->isThreshPercent = 0;
    p->segmentationType = cblob_segmentationHardThresh;
    return f.exit();
}

int32_t cblob_runParams_setSegmentationHardThreshPercent(cblob_runParams *p, float lowTailPercent,
                                                         float highTailPercent, float threshPercent,
                                                         int32_t invert) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_TRY(f, checkHardPercents(lowTailPercent, highTailPercent, threshPercent));
    p->lowTailPercent = lowTailPercent;
    p->highTailPercent = highTailPercent;
    p->threshPercent = threshPercent;
    p->invert = invert;
    p->scaleVal = 1;
    p->isThreshPercent = 1;
    p->softnessFixed = 0;
    p->segmentationType = cblob_segmentationHardThresh;
    return f.exit();
}

int32_t cblob_runParams_setSegmentationSoftThresh(cblob_runParams *p, int32_t low, int32_t high, int32_t invert) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_TRY(f, checkSoftRange(low, high));
    p->thresh = low;
    p->highThresh = high;
    p->invert = invert;
    p->softness = high - low;
    p->scaleVal = scaleAbove(high - low);
    p->softnessFixed = 1;
    p->isThreshPercent = 0;
    p->segmentationType = cblob_segmentationSoftThresh;
    return f.exit();
}

int32_t cblob_runParams_setSegmentationSoftThreshWithSoftness(cblob_runParams *p, int32_t low, int32_t high,
                                                              int32_t softness, int32_t invert) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_TRY(f, checkSoftness(low, high, softness));
    p->thresh = low;
    p->highThresh = high;
    p->invert = invert;
    p->softness = softness;
    p->scaleVal = scaleAbove(softness);
    p->softnessFixed = 1;
    p->isThreshPercent = 0;
    p->segmentationType = cblob_segmentationSoftThresh;
    return f.exit();
}

int32_t cblob_runParams_setSegmentationSoftThreshPercent(cblob_runParams *p, float lowTailPercent,
                                                         float highTailPercent, float lowThreshPercent,
                                                         float highThreshPercent, int32_t invert) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_TRY(f, checkSoftPercents(lowTailPercent, highTailPercent, lowThreshPercent, highThreshPercent));
    writeSoftPercents(p, lowTailPercent, highTailPercent, lowThreshPercent, highThreshPercent, invert);
    // The first run derives softness and scaleVal from its thresholds.
    p->softnessFixed = 0;
    return f.exit();
}

int32_t cblob_runParams_setSegmentationSoftThreshPercentWithSoftness(cblob_runParams *p, float lowTailPercent,
                                                                     float highTailPercent, float lowThreshPercent,
                                                                     float highThreshPercent, int32_t softness,
                                                                     int32_t invert) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_TRY(f, checkSoftPercents(lowTailPercent, highTailPercent, lowThreshPercent, highThreshPercent));
    CBLOB_FRAME_CHECK(f, softness >= 0, cblob_err_badSoftness);
    writeSoftPercents(p, lowTailPercent, highTailPercent, lowThreshPercent, highThreshPercent, invert);
    p->softness = softness;
    p->scaleVal = scaleAbove(softness);
    p->softnessFixed = 1;
    return f.exit();
}

int32_t cblob_runParams_setSegmentationMap(cblob_runParams *p, uint8_t scaleVal, const uint8_t *map,
                                           int32_t mapSize) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_REQUIRE(f, map);
    CBLOB_FRAME_CHECK(f, scaleVal != 0, cblob_err_badScaleVal);
    CBLOB_FRAME_CHECK(f, mapSize >= 1, cblob_err_badMapSize);
    // The scale value is part of the documented state after a failed copy.
    p->scaleVal = scaleVal;
    cblob::TableReplacement<uint8_t> table(&p->map, map, mapSize);
    CBLOB_FRAME_TRY(f, table.prepare(f));
    CBLOB_FRAME_TRY(f, table.commit());
    p->mapSize = mapSize;
    p->isThreshPercent = 0;
    p->segmentationType = cblob_segmentationMap;
    return f.exit();
}

int32_t cblob_runParams_setSegmentationThreshImage8(cblob_runParams *p, uint8_t scaleVal, const uint8_t *threshMap,
                                                    const cimg_imageConst *threshImage, const uint8_t *postMap,
                                                    int32_t threshMapSize, int32_t postMapSize) {
    return setThreshImage<uint8_t, &cblob_runParams::threshMap8, &cblob_runParams::threshImage8, 8>(
        p, scaleVal, threshMap, threshImage, postMap, threshMapSize, postMapSize);
}

int32_t cblob_runParams_setSegmentationThreshImage16(cblob_runParams *p, uint8_t scaleVal,
                                                     const uint16_t *threshMap, const cimg_imageConst *threshImage,
                                                     const uint8_t *postMap, int32_t threshMapSize,
                                                     int32_t postMapSize) {
    return setThreshImage<uint16_t, &cblob_runParams::threshMap16, &cblob_runParams::threshImage16, 16>(
        p, scaleVal, threshMap, threshImage, postMap, threshMapSize, postMapSize);
}

}  // extern "C"
