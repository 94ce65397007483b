// Rendering a run-length image into an existing 8-bit image through a value
// map, with a transparent value; and the row renderer it shares with
// getImage.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "core/frame.hpp"

namespace cblob::rle {

int32_t renderRows(const cblob_imageRle *img, const cimg_window &w, const uint8_t *map, int32_t mapSize,
                   int32_t transparent) {
    const bool grey = img->isGrey != 0;
    const int32_t width = img->width;
    for (int32_t y = 0; y < img->height; ++y) {
        uint8_t *out = w.pels + static_cast<int64_t>(y) * w.strideBytes;
        RowReader reader(*imageRow(img, y), grey);
        Run run;
        int32_t x = 0;
        while (x < width && reader.next(run)) {
            if (grey && run.value >= mapSize) return cblob_err_badMapSize;
            const uint8_t output = map[run.value];
            const int32_t length = std::min(run.length, width - x);
            if (output != transparent) std::memset(out + x, output, static_cast<size_t>(length));
            x += length;
        }
        if (!grey && x < width && map[0] != transparent)
            std::memset(out + x, map[0], static_cast<size_t>(width - x));
    }
    return 0;
}

}  // namespace cblob::rle

extern "C" {

int32_t cblob_imageRlePtrh_renderInImage(const cblob_imageRlePtrh *h, const cstd_point32 *offset,
                                         const cstd_vector8 *map, uint8_t transparent, cimg_image *image) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, h);
    CBLOB_FRAME_REQUIRE(f, offset);
    CBLOB_FRAME_REQUIRE(f, map);
    CBLOB_FRAME_REQUIRE(f, image);
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(h, cblob_err_rleImageEmpty, &img));
    CBLOB_FRAME_CHECK(f, img->rows && img->height >= 1, cblob_err_rleImageEmpty);
    int32_t bound = 0;
    CBLOB_FRAME_TRY(f, cimg_image_getIsBound(image, &bound));
    CBLOB_FRAME_CHECK(f, bound, cblob_err_imageUnbound);
    CBLOB_FRAME_CHECK(f, image->bitsPerPel == 8, cimg_err_badDepth);
    const int64_t x = static_cast<int64_t>(img->offsetX) + offset->x;
    const int64_t y = static_cast<int64_t>(img->offsetY) + offset->y;
    CBLOB_FRAME_CHECK(f, cblob::rle::windowInsideImage(x, y, img->width, img->height, *image),
                      cblob_err_windowOutsideImage);
    const uint8_t *values = nullptr;
    int32_t numValues = 0;
    CBLOB_FRAME_TRY(f, cstd_vector8_getBeginSize32Const(map, &values, &numValues));
    CBLOB_FRAME_CHECK(f, img->isGrey || numValues >= 2, cblob_err_badMapSize);
    cimg_window w;
    CBLOB_FRAME_TRY(f, cimg_window_initWindow(&w, image, static_cast<int32_t>(x), static_cast<int32_t>(y),
                                              img->width, img->height));
    CBLOB_FRAME_TRY(f, cblob::rle::renderRows(img, w, values, numValues, transparent));
    return f.exit();
}

}  // extern "C"
