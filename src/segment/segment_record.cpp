// The records segmentation writes into (the output and the kept mask) are
// initialised for the segmented window: its origin and size, empty owned
// storage, and the transform the record already carried.
#include <cstdint>

#include "core/frame.hpp"
#include "segment/segment_parts.hpp"

namespace cblob::seg {

int32_t initRecordForWindow(cblob_imageRle *img, const cimg_windowConst *window) {
    Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, img);
    CBLOB_FRAME_REQUIRE(f, window);
    // The record's transform, held aside: init stores the inverse of what it
    // is given, and handing the transform back unchanged keeps it exact.
    cmath_xformPtrhConst imageFromClient;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&imageFromClient));
    f.addObject<&cmath_xformPtrhConst_destruct>(&imageFromClient, csys_cleanup_tempObject);
    const bool hadRecord = img->constructed == 1;
    if (hadRecord) CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&imageFromClient, &img->imageFromClient));
    cmath_xformPtrhConst identity;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&identity));
    f.addObject<&cmath_xformPtrhConst_destruct>(&identity, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cblob_imageRle_init(img, window->x, window->y, window->width, window->height, &identity));
    if (hadRecord) CBLOB_FRAME_TRY(f, cblob_imageRle_setImageFromClientXform(img, &imageFromClient));
    return f.exit();
}

}  // namespace cblob::seg
