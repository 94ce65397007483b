// Masking one run-length image by another, run by run: the kernel the run
// pipeline shares, and cblob_imageRlePtrh_mask.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/derived_image.hpp"
#include "rle/image_rle_internal.hpp"
#include "rle/mask_kernel.hpp"
#include "rle/row_access.hpp"
#include "rle/run_writer.hpp"
#include "core/frame.hpp"

namespace cblob::rle {

namespace {

// The settings of one masking.
struct MaskTest {
    uint8_t value;
    uint8_t replacement;
    bool keepEqual;
};

// One row: each mask piece either lets the source pieces under it through
// or becomes one run of the replacement.
void maskRow(const cblob_imageRle &srcImage, const cblob_imageRle &maskImage, int32_t y, const MaskTest &t,
             RunWriter &w) {
    const int32_t width = srcImage.width;
    RunCursor src(*imageRow(&srcImage, y), srcImage.isGrey != 0, width, hasWideRows(&srcImage));
    RunCursor mask(*imageRow(&maskImage, y), maskImage.isGrey != 0, width, hasWideRows(&maskImage));
    while (mask.left() > 0) {
        int32_t n = mask.left();
        if ((mask.value() == t.value) == t.keepEqual) {
            for (int32_t left = n; left > 0;) {
                const int32_t step = left < src.left() ? left : src.left();
                w.add(src.value(), step);
                src.advance(step);
                left -= step;
            }
        } else {
            w.add(t.replacement, n);
            src.skip(n);
        }
        mask.advance(n);
    }
}

}  // namespace

int32_t maskImage(const cblob_imageRle *src, const cblob_imageRle *mask, uint8_t value, uint8_t replacement,
                  int32_t keepEqual, bool wide, cblob_imageRle **out) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, src && mask && out);
    *out = nullptr;
    CBLOB_FRAME_CHECK(f, src->rows && mask->rows, cblob_err_rleImageEmpty);
    CBLOB_FRAME_CHECK(f, mask->width == src->width && mask->height == src->height, cblob_err_maskGeometryMismatch);
    const bool grey = src->isGrey != 0;
    const MaskTest test{value, grey ? replacement : static_cast<uint8_t>(replacement ? 1 : 0), keepEqual != 0};
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, newOwnedRecord(&img));
    f.addObject<&deleteRecord>(&img, csys_cleanup_resultObject);
    const int32_t width = src->width;
    const int32_t height = src->height;
    StorageWriter writer;
    CBLOB_FRAME_TRY(f, writer.start(img->data, width, height, grey, wide, height > 0 ? src->numRuns / height : 0));
    for (int32_t y = 0; y < height; ++y) {
        RunWriter w;
        CBLOB_FRAME_TRY(f, writer.beginRow(y, &w));
        maskRow(*src, *mask, y, test, w);
        CBLOB_FRAME_TRY(f, writer.endRow(y, &w));
    }
    CBLOB_FRAME_TRY(f, writer.finish());
    CBLOB_FRAME_TRY(f, publishStorage(img, src->offsetX, src->offsetY, width, height, &src->imageFromClient));
    *out = img;
    img = nullptr;
    return f.exit();
}

}  // namespace cblob::rle

extern "C" {

int32_t cblob_imageRlePtrh_mask(const cblob_imageRlePtrh *src, const cblob_imageRlePtrh *mask,
                                cblob_imageRlePtrh *result, uint8_t value, uint8_t replacement, int32_t keepEqual) {
    cblob::Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, src && mask && result);
    // Whatever fails from here on leaves the result detached.
    f.addObject<&cblob_imageRlePtrh_detach>(result, csys_cleanup_resultObject);
    cblob_imageRle *source = nullptr;
    cblob_imageRle *maskRecord = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(src, cblob_err_nullRleImage, &source));
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(mask, cblob_err_nullRleImage, &maskRecord));
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::maskImage(source, maskRecord, value, replacement, keepEqual, false, &img));
    f.addObject<&cblob::rle::deleteRecord>(&img, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob::rle::attachResult(result, &img));
    return f.exit();
}

}  // extern "C"
