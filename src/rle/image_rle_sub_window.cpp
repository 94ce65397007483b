// Sub-windows: a rectangle of a run-length image cut out as an image of its
// own, its runs split at the rectangle's left and right edges.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/derived_image.hpp"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "rle/run_writer.hpp"
#include "core/frame.hpp"

namespace {

// Whether the rectangle (relative to the image's first pixel) lies inside it.
bool rectInside(const cstd_rect32 &r, const cblob_imageRle &img) {
    return r.x >= 0 && r.y >= 0 && r.width >= 1 && r.height >= 1 &&
           static_cast<int64_t>(r.x) + r.width <= img.width && static_cast<int64_t>(r.y) + r.height <= img.height;
}

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_subWindow(const cblob_imageRlePtrh *src, const cstd_rect32 *rect,
                                     cblob_imageRlePtrh *result) {
    cblob::Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, src && rect && result);
    f.addObject<&cblob_imageRlePtrh_detach>(result, csys_cleanup_resultObject);
    cblob_imageRle *source = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(src, cblob_err_nullRleImage, &source));
    CBLOB_FRAME_CHECK(f, source->data && source->rows, cblob_err_rleImageNoRows);
    const cstd_rect32 r = *rect;
    CBLOB_FRAME_CHECK(f, rectInside(r, *source), cblob_err_badSubWindow);
    const bool grey = source->isGrey != 0;

    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::newOwnedRecord(&img));
    f.addObject<&cblob::rle::deleteRecord>(&img, csys_cleanup_resultObject);
    // Runs expected per row: the source's density over the rectangle.
    const int64_t runsPerRow = static_cast<int64_t>(source->numRuns) * r.width /
                               (static_cast<int64_t>(source->width) * source->height);
    cblob::rle::StorageWriter writer;
    CBLOB_FRAME_TRY(f, writer.start(img->data, r.width, r.height, grey, false, runsPerRow));
    for (int32_t y = 0; y < r.height; ++y) {
        cblob::rle::RunWriter w;
        CBLOB_FRAME_TRY(f, writer.beginRow(y, &w));
        cblob::rle::RunCursor in(*cblob::rle::imageRow(source, r.y + y), grey, r.x + r.width,
                                 cblob::rle::hasWideRows(source));
        in.skip(r.x);
        while (in.left() > 0) {
            w.add(in.value(), in.left());
            in.advance(in.left());
        }
        CBLOB_FRAME_TRY(f, writer.endRow(y, &w));
    }
    CBLOB_FRAME_TRY(f, writer.finish());
    CBLOB_FRAME_TRY(f, cblob::rle::publishStorage(img, source->offsetX + r.x, source->offsetY + r.y, r.width,
                                                  r.height, &source->imageFromClient));
    CBLOB_FRAME_TRY(f, cblob::rle::attachResult(result, &img));
    return f.exit();
}

}  // extern "C"
