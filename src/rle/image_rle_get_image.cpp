// Extracting a run-length image as an 8-bit image: into a caller's image
// that holds its window, or into new storage of exactly its size.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "core/frame.hpp"

namespace {

// The identity value map: grey runs keep their value, binary runs give 0 and 1.
struct IdentityMap {
    uint8_t values[256];
    constexpr IdentityMap() : values() {
        for (int i = 0; i < 256; ++i) values[i] = static_cast<uint8_t>(i);
    }
};
constexpr IdentityMap kIdentity;

// No output value is transparent.
constexpr int32_t kNothingTransparent = -1;

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_getImage(const cblob_imageRlePtrh *h, cimg_image *image) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, h);
    CBLOB_FRAME_REQUIRE(f, image);
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(h, cblob_err_rleImageEmpty, &img));
    CBLOB_FRAME_CHECK(f, img->rows && img->height >= 1, cblob_err_rleImageEmpty);
    CBLOB_FRAME_CHECK(f, image->bitsPerPel == 8, cimg_err_badDepth);
    // The image takes the record's transform; its inverse is had first so
    // that a singular one fails before anything is drawn.
    cmath_xformPtrhConst clientFromImage;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&clientFromImage));
    f.addObject<&cmath_xformPtrhConst_destruct>(&clientFromImage, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getInverseConst(&img->imageFromClient, &clientFromImage));

    int32_t bound = 0;
    CBLOB_FRAME_TRY(f, cimg_image_getIsBound(image, &bound));
    if (!bound || image->width < img->width || image->height < img->height) {
        CBLOB_FRAME_TRY(f, cimg_image_assignNew(image, img->width, img->height));
        CBLOB_FRAME_TRY(f, cimg_image_setOrigin(image, img->offsetX, img->offsetY));
    }
    CBLOB_FRAME_CHECK(f, cblob::rle::windowInsideImage(img->offsetX, img->offsetY, img->width, img->height, *image),
                      cblob_err_windowOutsideImage);
    cimg_window w;
    CBLOB_FRAME_TRY(f, cimg_window_initWindow(&w, image, img->offsetX, img->offsetY, img->width, img->height));
    CBLOB_FRAME_TRY(f, cblob::rle::renderRows(img, w, kIdentity.values, 256, kNothingTransparent));
    CBLOB_FRAME_TRY(f, cimg_image_setClientFromImageXform(image, &clientFromImage));
    return f.exit();
}

}  // extern "C"
