// The getters of the run parameters. A value that the current segmentation
// type does not use is refused with cblob_err_notApplicable, nothing written.
#include "cblob/run_params.h"
#include "core/frame.hpp"

namespace {

// Sets of segmentation types, one bit per type.
constexpr uint32_t typeBit(int32_t type) { return 1u << type; }
constexpr uint32_t kAnyType = 0xFFFFFFFFu;
constexpr uint32_t kThresholdTypes = typeBit(cblob_segmentationHardThresh) | typeBit(cblob_segmentationSoftThresh);
constexpr uint32_t kSoftType = typeBit(cblob_segmentationSoftThresh);
constexpr uint32_t kMapTypes = typeBit(cblob_segmentationMap) | typeBit(cblob_segmentationThreshImage);
constexpr uint32_t kThreshImageType = typeBit(cblob_segmentationThreshImage);

// "Any type" takes even a value outside the known types; the others only
// their own types.
bool applies(const cblob_runParams *p, uint32_t types) {
    if (types == kAnyType) return true;
    const int32_t type = p->segmentationType;
    return type >= 0 && type < 32 && ((types >> type) & 1u) != 0;
}

// The getters of one plain field.
template <class T, T cblob_runParams::*Field, uint32_t Types>
int32_t getField(const cblob_runParams *p, T *value) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_REQUIRE(f, value);
    CBLOB_FRAME_CHECK(f, applies(p, Types), cblob_err_notApplicable);
    *value = p->*Field;
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_runParams_getSegmentationType(const cblob_runParams *p, int32_t *type) {
    return getField<int32_t, &cblob_runParams::segmentationType, kAnyType>(p, type);
}

int32_t cblob_runParams_getThresh(const cblob_runParams *p, int32_t *thresh) {
    return getField<int32_t, &cblob_runParams::thresh, kThresholdTypes>(p, thresh);
}

int32_t cblob_runParams_getHighThresh(const cblob_runParams *p, int32_t *highThresh) {
    return getField<int32_t, &cblob_runParams::highThresh, kSoftType>(p, highThresh);
}

int32_t cblob_runParams_getInvert(const cblob_runParams *p, int32_t *invert) {
    return getField<int32_t, &cblob_runParams::invert, kThresholdTypes>(p, invert);
}

int32_t cblob_runParams_getIsThreshPercent(const cblob_runParams *p, int32_t *isThreshPercent) {
    return getField<int32_t, &cblob_runParams::isThreshPercent, kThresholdTypes>(p, isThreshPercent);
}

int32_t cblob_runParams_getScaleVal(const cblob_runParams *p, int32_t *scaleVal) {
    return getField<int32_t, &cblob_runParams::scaleVal, kAnyType>(p, scaleVal);
}

int32_t cblob_runParams_getSoftness(const cblob_runParams *p, int32_t *softness) {
    return getField<int32_t, &cblob_runParams::softness, kAnyType>(p, softness);
}

int32_t cblob_runParams_getLowTailPercent(const cblob_runParams *p, float *percent) {
    return getField<float, &cblob_runParams::lowTailPercent, kAnyType>(p, percent);
}

int32_t cblob_runParams_getHighTailPercent(const cblob_runParams *p, float *percent) {
    return getField<float, &cblob_runParams::highTailPercent, kAnyType>(p, percent);
}

int32_t cblob_runParams_getMap(const cblob_runParams *p, const uint8_t **map8, const uint16_t **map16,
                               int32_t *size) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_REQUIRE(f, map8 || map16);
    CBLOB_FRAME_REQUIRE(f, size);
    CBLOB_FRAME_CHECK(f, applies(p, kMapTypes), cblob_err_notApplicable);
    if (map16) {
        // A caller that can take a 16-bit map gets the 16-bit threshold map.
        if (map8) *map8 = nullptr;
        *map16 = p->threshMap16;
        *size = p->threshMapSize;
    } else if (p->threshMap16) {
        // An 8-bit view of a 16-bit map would be wrong; the size is left alone.
        *map8 = nullptr;
    } else if (p->threshMap8) {
        *map8 = p->threshMap8;
        *size = p->threshMapSize;
    } else {
        *map8 = p->map;
        *size = p->mapSize;
    }
    return f.exit();
}

int32_t cblob_runParams_getPostMap(const cblob_runParams *p, const uint8_t **map, int32_t *size) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_REQUIRE(f, map);
    CBLOB_FRAME_REQUIRE(f, size);
    CBLOB_FRAME_CHECK(f, applies(p, kThreshImageType), cblob_err_notApplicable);
    *map = p->map;
    *size = p->mapSize;
    return f.exit();
}

int32_t cblob_runParams_getThreshImage(const cblob_runParams *p, const cimg_imageConst **image8,
                                       const cimg_imageConst **image16) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, p);
    CBLOB_FRAME_REQUIRE(f, image8 || image16);
    CBLOB_FRAME_CHECK(f, applies(p, kThreshImageType), cblob_err_notApplicable);
    if (image8) *image8 = p->threshImage8;
    if (image16) *image16 = p->threshImage16;
    return f.exit();
}

}  // extern "C"
