// The address of one pixel of an image.
#include "cblob/image.h"
#include "host/image_internal.hpp"
#include "core/require.hpp"

namespace {

template <class Image, class Byte>
int32_t pointToPel(Image *img, int32_t x, int32_t y, Byte **ptr) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(ptr);
    if (!img->pels) return cimg_err_unbound;
    if (!cblob::img::rectInside(x, y, 1, 1, img->originX, img->originY, img->width, img->height))
        return cimg_err_badGeometry;
    *ptr = cblob::img::pelAddress<Byte>(img->pels, static_cast<int64_t>(x) - img->originX,
                                        static_cast<int64_t>(y) - img->originY, img->strideBytes, img->bitsPerPel);
    return 0;
}

}  // namespace

extern "C" {

int32_t cimg_imageConst_pointToPel_internal(const cimg_imageConst *img, int32_t x, int32_t y, const uint8_t **ptr) {
    return pointToPel<const cimg_imageConst, const uint8_t>(img, x, y, ptr);
}

int32_t cimg_image_pointToPel_internal(cimg_image *img, int32_t x, int32_t y, uint8_t **ptr) {
    return pointToPel<cimg_image, uint8_t>(img, x, y, ptr);
}

}  // extern "C"
