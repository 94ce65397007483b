// The record's client transform. The record stores only image-from-client;
// the client-from-image direction is its inverse, which the transform handle
// always holds alongside (no computation, no allocation).
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "core/frame.hpp"

extern "C" {

int32_t cblob_imageRle_getImageFromClientXform(const cblob_imageRle *img, cmath_xformPtrhConst *xform) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(img->constructed == 1);
    CBLOB_REQUIRE_ARG(xform);
    return cmath_xformPtrhConst_assign(xform, &img->imageFromClient);
}

int32_t cblob_imageRle_getClientFromImageXform(const cblob_imageRle *img, cmath_xformPtrhConst *xform) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(img->constructed == 1);
    CBLOB_REQUIRE_ARG(xform);
    return cmath_xformPtrhConst_getInverseConst(&img->imageFromClient, xform);
}

int32_t cblob_imageRle_setImageFromClientXform(cblob_imageRle *img, const cmath_xformPtrhConst *xform) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(img->constructed == 1);
    CBLOB_REQUIRE_ARG(xform);
    return cmath_xformPtrhConst_assign(&img->imageFromClient, xform);
}

int32_t cblob_imageRle_setClientFromImageXform(cblob_imageRle *img, const cmath_xformPtrhConst *xform) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(img->constructed == 1);
    CBLOB_REQUIRE_ARG(xform);
    return cmath_xformPtrhConst_getInverseConst(xform, &img->imageFromClient);
}

// The handle forms resolve the handle and call the record function.
#define CBLOB_RLE_XFORM_THROUGH_HANDLE(Name, HandleConst, XformConst)                                   \
    int32_t cblob_imageRlePtrh_##Name(HandleConst cblob_imageRlePtrh *h, XformConst cmath_xformPtrhConst *xform) { \
        return cblob::rle::withImage(h, [&](cblob_imageRle *img) { return cblob_imageRle_##Name(img, xform); }); \
    }

CBLOB_RLE_XFORM_THROUGH_HANDLE(getImageFromClientXform, const, )
CBLOB_RLE_XFORM_THROUGH_HANDLE(getClientFromImageXform, const, )
CBLOB_RLE_XFORM_THROUGH_HANDLE(setImageFromClientXform, , const)
CBLOB_RLE_XFORM_THROUGH_HANDLE(setClientFromImageXform, , const)

}  // extern "C"
