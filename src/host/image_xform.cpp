// The client-from-image transform an image carries.
#include "cblob/image.h"
#include "core/require.hpp"
#include "core/frame.hpp"

extern "C" {

int32_t cimg_imageConst_getClientFromImageXform(const cimg_imageConst *img, cmath_xformPtrhConst *xform) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(xform);
    return cmath_xformPtrhConst_assign(xform, &img->clientFromImage);
}

int32_t cimg_imageConst_getImageFromClientXform(const cimg_imageConst *img, cmath_xformPtrhConst *xform) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(xform);
    return cmath_xformPtrhConst_getInverseConst(&img->clientFromImage, xform);
}

int32_t cimg_image_setClientFromImageXform(cimg_image *img, const cmath_xformPtrhConst *xform) {
    CBLOB_REQUIRE_ARG(img);
    CBLOB_REQUIRE_ARG(xform);
    return cmath_xformPtrhConst_assign(&img->clientFromImage, xform);
}

int32_t cimg_image_setImageFromClientXform(cimg_image *img, const cmath_xformPtrhConst *xform) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, img);
    CBLOB_FRAME_REQUIRE(f, xform);
    cmath_xformPtrhConst inverse;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&inverse));
    f.addObject<&cmath_xformPtrhConst_destruct>(&inverse, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getInverseConst(xform, &inverse));
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&img->clientFromImage, &inverse));
    return f.exit();
}

}  // extern "C"
