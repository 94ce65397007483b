// Reading one pixel of a run-length image.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "core/frame.hpp"

extern "C" {

int32_t cblob_imageRlePtrh_getPel8(const cblob_imageRlePtrh *h, int32_t x, int32_t y, uint8_t *value) {
    CBLOB_REQUIRE_ARG(value);
    return cblob::rle::withImage(h, [&](cblob_imageRle *img) {
        const int64_t column = static_cast<int64_t>(x) - img->offsetX;
        const int64_t row = static_cast<int64_t>(y) - img->offsetY;
        if (column < 0 || column >= img->width || row < 0 || row >= img->height)
            return static_cast<int32_t>(cblob_err_pelOutside);
        if (!img->rows) return static_cast<int32_t>(cblob_err_rleImageNoRows);
        // Walk to the run holding the column; binary values flip after every
        // run passed. Past the last run (a row that ends early) reads 0.
        cblob::rle::RowReader reader(*cblob::rle::imageRow(img, static_cast<int32_t>(row)), img->isGrey != 0);
        cblob::rle::Run run;
        uint8_t pel = 0;
        int64_t left = column;
        while (reader.next(run)) {
            if (left < run.length) {
                pel = run.value;
                break;
            }
            left -= run.length;
        }
        *value = pel;
        return 0;
    });
}

}  // extern "C"
