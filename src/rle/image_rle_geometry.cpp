// Geometry of a run-length image through its handle: binary flag, offset,
// dimensions, bounding box, run count and the row table.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "core/frame.hpp"

extern "C" {

int32_t cblob_imageRlePtrh_getIsBinary(const cblob_imageRlePtrh *h, int32_t *isBinary) {
    CBLOB_REQUIRE_ARG(isBinary);
    return cblob::rle::withImage(h, [&](cblob_imageRle *img) {
        *isBinary = img->isGrey ? 0 : 1;
        return 0;
    });
}

int32_t cblob_imageRlePtrh_getOffset(const cblob_imageRlePtrh *h, cstd_point32 *point) {
    CBLOB_REQUIRE_ARG(point);
    return cblob::rle::withImage(h, [&](cblob_imageRle *img) {
        point->x = img->offsetX;
        point->y = img->offsetY;
        return 0;
    });
}

int32_t cblob_imageRlePtrh_setOffset(cblob_imageRlePtrh *h, const cstd_point32 *point) {
    CBLOB_REQUIRE_ARG(point);
    return cblob::rle::withImage(h, [&](cblob_imageRle *img) {
        img->offsetX = point->x;
        img->offsetY = point->y;
        return 0;
    });
}

int32_t cblob_imageRlePtrh_getDimensions(const cblob_imageRlePtrh *h, cstd_size32 *size) {
    CBLOB_REQUIRE_ARG(size);
    return cblob::rle::withImage(h, [&](cblob_imageRle *img) {
        size->width = img->width;
        size->height = img->height;
        return 0;
    });
}

int32_t cblob_imageRlePtrh_getBoundingBox(const cblob_imageRlePtrh *h, cstd_rect32 *rect) {
    CBLOB_REQUIRE_ARG(rect);
    return cblob::rle::withImage(h, [&](cblob_imageRle *img) {
        rect->x = img->offsetX;
        rect->y = img->offsetY;
        rect->width = img->width;
        rect->height = img->height;
        return 0;
    });
}

int32_t cblob_imageRlePtrh_getNumRuns(const cblob_imageRlePtrh *h, int32_t *n) {
    CBLOB_REQUIRE_ARG(n);
    return cblob::rle::withImage(h, [&](cblob_imageRle *img) {
        *n = img->numRuns;
        return 0;
    });
}

int32_t cblob_imageRlePtrh_getRows(const cblob_imageRlePtrh *h, cblob_rleRow **rows) {
    CBLOB_REQUIRE_ARG(rows);
    return cblob::rle::withImage(h, [&](cblob_imageRle *img) {
        if (img->height < 1 || !img->rows) return static_cast<int32_t>(cblob_err_rleImageNoRows);
        *rows = cblob::rle::imageRow(img, 0);
        return 0;
    });
}

}  // extern "C"
