// Combination: one run-length image laid over another through a value table,
// walking the runs of both rows in step.
#include <algorithm>
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/derived_image.hpp"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "rle/run_writer.hpp"
#include "core/frame.hpp"

namespace {

using cblob::rle::RunCursor;
using cblob::rle::RunWriter;

// Where b lies over a, relative to a's first pixel, and the columns of a it
// covers after clipping to a (x0 <= x1).
struct Overlay {
    int64_t bx, by;
    int32_t x0, x1;
};

// Row y of a with b's row laid over the columns [x0, x1).
void combineRow(const cblob_imageRle &a, const cblob_imageRle &b, int32_t y, const Overlay &o, const uint8_t *table,
                uint8_t transparent, RunWriter &w) {
    RunCursor under(*cblob::rle::imageRow(&a, y), a.isGrey != 0, a.width, cblob::rle::hasWideRows(&a));
    const int64_t by = y - o.by;
    if (by < 0 || by >= b.height || o.x0 >= o.x1) {
        cblob::rle::copyPixels(under, a.width, w);
        return;
    }
    cblob::rle::copyPixels(under, o.x0, w);
    RunCursor over(*cblob::rle::imageRow(&b, static_cast<int32_t>(by)), b.isGrey != 0,
                   static_cast<int32_t>(o.x1 - o.bx), cblob::rle::hasWideRows(&b));
    over.skip(static_cast<int32_t>(o.x0 - o.bx));
    for (int32_t x = o.x0; x < o.x1;) {
        const int32_t n = std::min({under.left(), over.left(), o.x1 - x});
        const uint8_t t = table[over.value()];
        w.add(t == transparent ? under.value() : t, n);
        under.advance(n);
        over.advance(n);
        x += n;
    }
    cblob::rle::copyPixels(under, a.width - o.x1, w);
}

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_combine(int32_t dx, int32_t dy, const cblob_imageRlePtrh *a, const cblob_imageRlePtrh *b,
                                   const uint8_t *table, int32_t ignored, uint8_t transparent,
                                   cblob_imageRlePtrh *result) {
    static_cast<void>(ignored);  // the table always has 256 entries
    cblob::Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, a && b && table && result);
    f.addObject<&cblob_imageRlePtrh_detach>(result, csys_cleanup_resultObject);
    cblob_imageRle *under = nullptr;
    cblob_imageRle *over = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(a, cblob_err_nullRleImage, &under));
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(b, cblob_err_nullRleImage, &over));
    CBLOB_FRAME_CHECK(f, under->rows && over->rows, cblob_err_rleImageEmpty);
    Overlay o;
    o.bx = static_cast<int64_t>(over->offsetX) - under->offsetX + dx;
    o.by = static_cast<int64_t>(over->offsetY) - under->offsetY + dy;
    o.x0 = static_cast<int32_t>(std::clamp<int64_t>(o.bx, 0, under->width));
    o.x1 = static_cast<int32_t>(std::clamp<int64_t>(o.bx + over->width, o.x0, under->width));

    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::newOwnedRecord(&img));
    f.addObject<&cblob::rle::deleteRecord>(&img, csys_cleanup_resultObject);
    const int32_t height = under->height;
    cblob::rle::StorageWriter writer;
    CBLOB_FRAME_TRY(f, writer.start(img->data, under->width, height, true, false,
                                    height > 0 ? under->numRuns / height : 0));
    for (int32_t y = 0; y < height; ++y) {
        RunWriter w;
        CBLOB_FRAME_TRY(f, writer.beginRow(y, &w));
        combineRow(*under, *over, y, o, table, transparent, w);
        CBLOB_FRAME_TRY(f, writer.endRow(y, &w));
    }
    CBLOB_FRAME_TRY(f, writer.finish());
    CBLOB_FRAME_TRY(f, cblob::rle::publishStorage(img, under->offsetX, under->offsetY, under->width, height,
                                                  &under->imageFromClient));
    CBLOB_FRAME_TRY(f, cblob::rle::attachResult(result, &img));
    return f.exit();
}

}  // extern "C"
