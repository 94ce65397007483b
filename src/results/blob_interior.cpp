// Whether a blob is interior: it touches neither the edge of the run's
// window nor, when the run had a mask, the edge of the mask.
#include <cstdint>

#include "cblob/measure.h"
#include "core/frame.hpp"
#include "results/box_at_angle.hpp"
#include "results/measure_internal.hpp"
#include "rle/projection.hpp"

namespace cblob::results {
namespace {

bool touchesWindow(const cblob_blob *blob, const cstd_rect32 &w) {
    return blob->boxLeft == w.x || blob->boxTop == w.y || blob->boxLeft + blob->boxWidth == w.x + w.width ||
           blob->boxTop + blob->boxHeight == w.y + w.height;
}

// Calls visit(start, end) for every stretch [start, end) of weighted pixels
// of image row y (image coordinates; neighbouring weighted runs joined). A
// row outside the image has none.
template <class Visit>
void forEachStretch(const cblob_imageRle *img, int32_t y, Visit &&visit) {
    const int32_t row = y - img->offsetY;
    if (row < 0 || row >= img->height) return;
    int32_t start = 0, end = -1;
    rle::forEachWeightedRun(img, row, [&](int32_t x, int32_t length, uint32_t) {
        if (x != end) {
            if (end >= 0) visit(img->offsetX + start, img->offsetX + end);
            start = x;
        }
        end = x + length;
    });
    if (end >= 0) visit(img->offsetX + start, img->offsetX + end);
}

// The run [a, b) of row y is inside the mask with a margin: no mask stretch
// of its row starts at a or ends at b, and one stretch of each neighbouring
// row covers a - 1 .. b.
bool runInside(const cblob_imageRle *mask, int32_t y, int32_t a, int32_t b) {
    bool sharesEdge = false, above = false, below = false;
    forEachStretch(mask, y, [&](int32_t s, int32_t e) { sharesEdge = sharesEdge || s == a || e == b; });
    forEachStretch(mask, y - 1, [&](int32_t s, int32_t e) { above = above || (s <= a - 1 && e >= b + 1); });
    forEachStretch(mask, y + 1, [&](int32_t s, int32_t e) { below = below || (s <= a - 1 && e >= b + 1); });
    return !sharesEdge && above && below;
}

int32_t insideMask(cblob_blob *blob, const cblob_imageRle *mask, int32_t *inside) {
    cblob::Frame<0> f;
    cblob_rleRow *rows = nullptr;
    CBLOB_FRAME_TRY(f, cblob_blob_getRleRows(blob, &rows));
    const cblob_imageRle img =
        rowsRecord(BlobRows{rows, blob->isGrey, blob->boxLeft, blob->boxTop, blob->boxWidth, blob->boxHeight});
    bool all = true;
    for (int32_t y = img.offsetY; all && y < img.offsetY + img.height; ++y) {
        forEachStretch(&img, y, [&](int32_t a, int32_t b) { all = all && runInside(mask, y, a, b); });
    }
    *inside = all ? 1 : 0;
    return f.exit();
}

}  // namespace

int32_t interiorTest(cblob_blob *blob, int32_t *isInterior) {
    cblob::Frame<0> f;
    const cblob_resultSet *rs = blob->owner;
    int32_t noMask = 1;
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_getIsNull(&rs->maskImage, &noMask));
    const bool touches = touchesWindow(blob, rs->runWindow);
    if (touches || noMask) {
        *isInterior = touches ? 0 : 1;
        return f.exit();
    }
    cblob_imageRle *mask = nullptr;
    CBLOB_FRAME_TRY(f, rle::resolveReadable(&rs->maskImage, &mask));
    CBLOB_FRAME_TRY(f, insideMask(blob, mask, isInterior));
    return f.exit();
}

}  // namespace cblob::results

extern "C" {

int32_t cblob_blob_getIsInterior(cblob_blob *blob, int32_t *isInterior) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, isInterior);
    double value = 0;
    CBLOB_FRAME_TRY(f, cblob::results::dispatchMeasure(blob, cblob_measureIsInterior, 0, nullptr, &value));
    *isInterior = value != 0 ? 1 : 0;
    return f.exit();
}

}  // extern "C"
