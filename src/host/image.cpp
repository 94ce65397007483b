// Image objects: construction, sharing copies, destruction and plain getters.
#include "cblob/image.h"
#include "host/image_internal.hpp"
#include "core/require.hpp"

namespace {

// An unbound image of a valid depth; nothing to release.
int32_t constructUnbound(cimg_image *img, int32_t bitsPerPel) {
    cimg_image fresh{};
    fresh.bitsPerPel = bitsPerPel;
    int32_t status = cstd_ptrh_construct(&fresh.storage);
    if (CBLOB_FAILED(status)) return status;
    status = cmath_xformPtrhConst_construct(&fresh.clientFromImage);
    if (CBLOB_FAILED(status)) return status;
    *img = fresh;
    return 0;
}

}  // namespace

extern "C" {

int32_t cimg_image8_construct(cimg_image *img) {
    CBLOB_REQUIRE_ARG(img);
    return constructUnbound(img, 8);
}

int32_t cimg_image16_construct(cimg_image *img) {
    CBLOB_REQUIRE_ARG(img);
    return constructUnbound(img, 16);
}

int32_t cimg_image_constructUnbound(cimg_image *img, int32_t bitsPerPel) {
    CBLOB_REQUIRE_ARG(img);
    if (!cblob::img::depthIsValid(bitsPerPel)) return cimg_err_badDepth;
    return constructUnbound(img, bitsPerPel);
}

int32_t cimg_imageConst_constructCopy(cimg_imageConst *dst, const cimg_imageConst *src) {
    CBLOB_REQUIRE_ARG(dst);
    CBLOB_REQUIRE_ARG(src);
    cimg_image copy = *src;
    // Neither copy allocates: each only adds a reference.
    int32_t status = cstd_ptrh_constructCopy(&copy.storage, &src->storage);
    if (CBLOB_FAILED(status)) return status;
    status = cmath_xformPtrhConst_constructCopy(&copy.clientFromImage, &src->clientFromImage);
    if (CBLOB_FAILED(status)) {
        cstd_ptrh_destruct(&copy.storage);
        return status;
    }
    *dst = copy;
    return 0;
}

int32_t cimg_imageConst_assign(cimg_imageConst *dst, const cimg_imageConst *src) {
    CBLOB_REQUIRE_ARG(dst);
    CBLOB_REQUIRE_ARG(src);
    if (dst == src) return 0;
    // Both handles take the new reference before dropping the old one, so an
    // image that shares storage with src never loses it on the way.
    int32_t status = cstd_ptrh_assign(&dst->storage, &src->storage);
    if (!CBLOB_FAILED(status)) status = cmath_xformPtrhConst_assign(&dst->clientFromImage, &src->clientFromImage);
    dst->bitsPerPel = src->bitsPerPel;
    dst->width = src->width;
    dst->height = src->height;
    dst->originX = src->originX;
    dst->originY = src->originY;
    dst->strideBytes = src->strideBytes;
    dst->pels = src->pels;
    return CBLOB_FAILED(status) ? status : 0;
}

int32_t cimg_imageConst_destruct(cimg_imageConst *img) {
    CBLOB_REQUIRE_ARG(img);
    int32_t status = cstd_ptrh_destruct(&img->storage);
    const int32_t xformStatus = cmath_xformPtrhConst_destruct(&img->clientFromImage);
    if (!CBLOB_FAILED(status)) status = xformStatus;
    img->pels = nullptr;
    img->width = 0;
    img->height = 0;
    img->strideBytes = 0;
    return CBLOB_FAILED(status) ? status : 0;
}

int32_t cimg_image_destruct(cimg_image *img) { return cimg_imageConst_destruct(img); }

int32_t cimg_imageConst_getIsBound(const cimg_imageConst *img, int32_t *isBound) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(isBound);
    *isBound = img->pels ? 1 : 0;
    return 0;
}

int32_t cimg_image_getIsBound(const cimg_image *img, int32_t *isBound) {
    return cimg_imageConst_getIsBound(img, isBound);
}

int32_t cimg_image_setOrigin(cimg_image *img, int32_t originX, int32_t originY) {
    CBLOB_REQUIRE_ARG(img);
    img->originX = originX;
    img->originY = originY;
    return 0;
}

int32_t cimg_imageConst_getOrigin(const cimg_imageConst *img, int32_t *originX, int32_t *originY) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(originX);
    CBLOB_REQUIRE_ARG(originY);
    *originX = img->originX;
    *originY = img->originY;
    return 0;
}

int32_t cimg_imageConst_getSize(const cimg_imageConst *img, int32_t *width, int32_t *height) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(width);
    CBLOB_REQUIRE_ARG(height);
    *width = img->width;
    *height = img->height;
    return 0;
}

int32_t cimg_imageConst_getBitsPerPel(const cimg_imageConst *img, int32_t *bitsPerPel) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(bitsPerPel);
    *bitsPerPel = img->bitsPerPel;
    return 0;
}

}  // extern "C"
