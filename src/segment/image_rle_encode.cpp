// The encode functions: each sets one segmentation on a local run-parameters
// object and encodes the image with it into a new record on the handle.
#include <cstdint>

#include "cblob/rle_image.h"
#include "cblob/run_params.h"
#include "core/frame.hpp"
#include "segment/segment_image.hpp"

namespace {

// Builds local run parameters, lets `set` choose the segmentation (its
// failure is returned without encoding), encodes, and releases them.
template <class Set>
int32_t encodeWith(cblob_imageRlePtrh *h, const cimg_imageConst *image, Set &&set) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, h);
    CBLOB_FRAME_REQUIRE(f, image);
    cblob_runParams params;
    CBLOB_FRAME_TRY(f, cblob_runParams_construct(&params));
    f.addObject<&cblob_runParams_destruct>(&params, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, set(&params));
    CBLOB_FRAME_TRY(f, cblob::seg::encodeImage(h, image, &params));
    return f.exit();
}

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_encode(cblob_imageRlePtrh *h, const cimg_imageConst *image) {
    return encodeWith(h, image, [&](cblob_runParams *p) { return cblob_runParams_setSegmentationNone(p, 1); });
}

int32_t cblob_imageRlePtrh_encodeMap8(cblob_imageRlePtrh *h, const cimg_imageConst *image, const uint8_t *map,
                                      int32_t mapSize) {
    return encodeWith(h, image,
                      [&](cblob_runParams *p) { return cblob_runParams_setSegmentationMap(p, 1, map, mapSize); });
}

int32_t cblob_imageRlePtrh_encodeHardThresh(cblob_imageRlePtrh *h, const cimg_imageConst *image, int32_t thresh,
                                            int32_t invert) {
    return encodeWith(h, image,
                      [&](cblob_runParams *p) { return cblob_runParams_setSegmentationHardThresh(p, thresh, invert); });
}

int32_t cblob_imageRlePtrh_encodeSoftThreshWithSoftness(cblob_imageRlePtrh *h, const cimg_imageConst *image,
                                                        int32_t low, int32_t high, int32_t softness, int32_t invert) {
    return encodeWith(h, image, [&](cblob_runParams *p) {
        return cblob_runParams_setSegmentationSoftThreshWithSoftness(p, low, high, softness, invert);
    });
}

int32_t cblob_imageRlePtrh_encodeThreshImage8(cblob_imageRlePtrh *h, const cimg_imageConst *image,
                                              const uint8_t *threshMap, const cimg_imageConst *threshImage,
                                              const uint8_t *postMap, int32_t threshMapSize, int32_t postMapSize) {
    return encodeWith(h, image, [&](cblob_runParams *p) {
        return cblob_runParams_setSegmentationThreshImage8(p, 1, threshMap, threshImage, postMap, threshMapSize,
                                                           postMapSize);
    });
}

int32_t cblob_imageRlePtrh_encodeHardThreshPercent(cblob_imageRlePtrh *h, const cimg_imageConst *image,
                                                   float lowTailPercent, float highTailPercent, float threshPercent,
                                                   int32_t invert) {
    return encodeWith(h, image, [&](cblob_runParams *p) {
        return cblob_runParams_setSegmentationHardThreshPercent(p, lowTailPercent, highTailPercent, threshPercent,
                                                                invert);
    });
}

int32_t cblob_imageRlePtrh_encodeSoftThreshPercentWithSoftness(cblob_imageRlePtrh *h, const cimg_imageConst *image,
                                                               float lowTailPercent, float highTailPercent,
                                                               float lowThreshPercent, float highThreshPercent,
                                                               int32_t softness, int32_t invert) {
    return encodeWith(h, image, [&](cblob_runParams *p) {
        return cblob_runParams_setSegmentationSoftThreshPercentWithSoftness(
            p, lowTailPercent, highTailPercent, lowThreshPercent, highThreshPercent, softness, invert);
    });
}

}  // extern "C"
