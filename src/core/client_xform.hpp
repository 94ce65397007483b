// Taking an image's client-from-image transform into a call frame, as every
// function that builds a record from an image does.
#ifndef CBLOB_CORE_CLIENT_XFORM_HPP
#define CBLOB_CORE_CLIENT_XFORM_HPP

#include <cstdint>

#include "cblob/image.h"
#include "cblob/math.h"
#include "core/frame.hpp"

namespace cblob {

// *xform = the image's client-from-image transform: constructed, handed to
// the caller's frame for release, then read from the image.
template <int Capacity>
int32_t takeClientFromImage(Frame<Capacity> &f, const cimg_imageConst *image, cmath_xformPtrhConst *xform) {
    const int32_t status = cmath_xformPtrhConst_construct(xform);
    if (CBLOB_FAILED(status)) return status;
    f.template addObject<&cmath_xformPtrhConst_destruct>(xform, csys_cleanup_tempObject);
    return cimg_imageConst_getClientFromImageXform(image, xform);
}

}  // namespace cblob

#endif
