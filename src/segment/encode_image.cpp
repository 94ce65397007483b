// Encode image: a whole 8-bit image segmented into a new run-length image
// record that is attached to a handle. Serves every cblob_imageRlePtrh_encode*
// function.
#include <cstdint>

#include "core/frame.hpp"
#include "core/client_xform.hpp"
#include "segment/segment_image.hpp"

namespace cblob::seg {

int32_t encodeImage(cblob_imageRlePtrh *h, const cimg_imageConst *image, cblob_runParams *params) {
    Frame<5> f;
    CBLOB_FRAME_REQUIRE(f, h);
    CBLOB_FRAME_REQUIRE(f, image);
    CBLOB_FRAME_REQUIRE(f, params);
    CBLOB_FRAME_CHECK(f, image->pels, cblob_err_imageUnbound);
    CBLOB_FRAME_CHECK(f, image->bitsPerPel == 8, cimg_err_badDepth);
    cimg_windowConst window;
    CBLOB_FRAME_TRY(f, cimg_windowConst_init(&window, image));
    CBLOB_FRAME_TRY(f, validateSegmentation(&window, nullptr, nullptr, params, nullptr, nullptr, 0));

    // Other holders of the handle's image keep it as it is.
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_detach(h));
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, allocate(static_cast<int64_t>(sizeof(cblob_imageRle)), &img));
    f.addMemory(&img, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(img));
    f.addObject<&cblob_imageRle_destruct>(img, csys_cleanup_resultObject);
    cmath_xformPtrhConst clientFromImage;
    CBLOB_FRAME_TRY(f, takeClientFromImage(f, image, &clientFromImage));
    CBLOB_FRAME_TRY(
        f, cblob_imageRle_init(img, image->originX, image->originY, image->width, image->height, &clientFromImage));
    uint8_t *scratch = nullptr;
    CBLOB_FRAME_TRY(f, allocate(image->width, &scratch));
    f.addMemory(&scratch, csys_cleanup_tempMemory);
    CBLOB_FRAME_TRY(f, segmentImage(&window, nullptr, nullptr, params, img, nullptr, nullptr, 0, 0, scratch));
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_attach(h, img));
    return f.exit();
}

}  // namespace cblob::seg
