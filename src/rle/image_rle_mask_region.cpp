// A run-length image as a mask over ordinary 8-bit images: copying the
// pixels under the mask into another image, and histogramming them. Each
// mask run selects or rejects a whole span of pixels at once.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "rle/run_writer.hpp"
#include "core/frame.hpp"

namespace {

// Rows are polled for cancellation this often.
constexpr int32_t kPollRows = 32;

// A rectangle in image coordinates (64-bit: shifted masks may reach past
// the 32-bit range before they are clipped).
struct Box {
    int64_t x0, y0, x1, y1;  // [x0, x1) x [y0, y1)
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Box intersect(const Box &a, const Box &b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

Box imageBox(const cimg_image &img) {
    return {img.originX, img.originY, static_cast<int64_t>(img.originX) + img.width,
            static_cast<int64_t>(img.originY) + img.height};
}

// The common checks of both operations, in order: an unbound source, a null
// mask handle, a mask without owned storage, a source without pixels; then
// an 8-bit source. *mask is the mask record, *placed where it lies in the
// source's image coordinates.
int32_t checkInputs(const cimg_imageConst *src, const cblob_imageRlePtrh *maskHandle, int32_t dx, int32_t dy,
                    cblob_imageRle **mask, Box *placed) {
    cblob::Frame<0> f;
    CBLOB_FRAME_CHECK(f, src->pels, cblob_err_imageUnbound);
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(maskHandle, cblob_err_nullRleImage, mask));
    CBLOB_FRAME_CHECK(f, (*mask)->data && (*mask)->rows, cblob_err_rleImageNoRows);
    CBLOB_FRAME_CHECK(f, src->width > 0 && src->height > 0, cblob_err_emptyWindow);
    CBLOB_FRAME_CHECK(f, src->bitsPerPel == 8, cimg_err_badDepth);
    const int64_t x = static_cast<int64_t>((*mask)->offsetX) - dx;
    const int64_t y = static_cast<int64_t>((*mask)->offsetY) - dy;
    *placed = Box{x, y, x + (*mask)->width, y + (*mask)->height};
    return f.exit();
}

// Calls span(y, x, n, selected) for the pixels of `area` (inside the placed
// mask) run by run: a pixel is selected when (mask value != 0) differs from
// `invert`. Polls the attention check every 32 rows.
template <class Span>
int32_t walkMask(const cblob_imageRle &mask, const Box &placed, const Box &area, bool invert, Span &&span) {
    cblob::Frame<0> f;
    for (int64_t y = area.y0; y < area.y1; ++y) {
        if ((y - area.y0) % kPollRows == 0) CBLOB_FRAME_TRY(f, csys_attention_check());
        const auto row = static_cast<int32_t>(y - placed.y0);
        cblob::rle::RunCursor c(*cblob::rle::imageRow(&mask, row), mask.isGrey != 0,
                                static_cast<int32_t>(area.x1 - placed.x0), cblob::rle::hasWideRows(&mask));
        c.skip(static_cast<int32_t>(area.x0 - placed.x0));
        for (int64_t x = area.x0; x < area.x1;) {
            const int32_t n = static_cast<int32_t>(std::min<int64_t>(c.left(), area.x1 - x));
            span(y, x, n, (c.value() != 0) != invert);
            c.advance(n);
            x += n;
        }
    }
    return f.exit();
}

// The address of the pixel at image coordinates (x, y) of an 8-bit image.
inline uint8_t *pel(const cimg_image &img, int64_t x, int64_t y) {
    return img.pels + (y - img.originY) * img.strideBytes + (x - img.originX);
}

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_maskAndCopyRegion(const cimg_imageConst *src, const cblob_imageRlePtrh *mask, int32_t dx,
                                             int32_t dy, uint8_t fillValue, int32_t fill, int32_t invert,
                                             cimg_image *dst) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, src && mask && dst);
    cblob_imageRle *maskRecord = nullptr;
    Box placed{};
    CBLOB_FRAME_TRY(f, checkInputs(src, mask, dx, dy, &maskRecord, &placed));
    CBLOB_FRAME_CHECK(f, dst->bitsPerPel == 8, cimg_err_badDepth);
    Box area = intersect(placed, imageBox(*src));
    if (area.empty()) return f.exit();
    if (!dst->pels) {
        CBLOB_FRAME_TRY(f, cimg_image_assignNew(dst, static_cast<int32_t>(area.x1 - area.x0),
                                                static_cast<int32_t>(area.y1 - area.y0)));
        CBLOB_FRAME_TRY(f, cimg_image_setOrigin(dst, static_cast<int32_t>(area.x0), static_cast<int32_t>(area.y0)));
    } else {
        area = intersect(area, imageBox(*dst));
        if (area.empty()) return f.exit();
    }
    CBLOB_FRAME_TRY(f, walkMask(*maskRecord, placed, area, invert != 0,
                                [&](int64_t y, int64_t x, int32_t n, bool selected) {
                                    if (selected) {
                                        std::memmove(pel(*dst, x, y), pel(*src, x, y), static_cast<size_t>(n));
                                    } else if (fill) {
                                        std::memset(pel(*dst, x, y), fillValue, static_cast<size_t>(n));
                                    }
                                }));
    return f.exit();
}

int32_t cblob_imageRlePtrh_maskAndHistogramRegion(const cimg_imageConst *src, const cblob_imageRlePtrh *mask,
                                                  int32_t dx, int32_t dy, int32_t invert, uint32_t *hist,
                                                  int32_t numBins) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, src && mask && hist);
    cblob_imageRle *maskRecord = nullptr;
    Box placed{};
    CBLOB_FRAME_TRY(f, checkInputs(src, mask, dx, dy, &maskRecord, &placed));
    CBLOB_FRAME_CHECK(f, numBins >= 1, cip_err_badBins);
    const uint8_t maxBin = static_cast<uint8_t>(numBins < 256 ? numBins - 1 : 255);
    const Box area = intersect(placed, imageBox(*src));
    if (area.empty()) return f.exit();
    CBLOB_FRAME_TRY(f, walkMask(*maskRecord, placed, area, invert != 0,
                                [&](int64_t y, int64_t x, int32_t n, bool selected) {
                                    if (!selected) return;
                                    const uint8_t *p = pel(*src, x, y);
                                    for (int32_t i = 0; i < n; ++i) ++hist[std::min(p[i], maxBin)];
                                }));
    return f.exit();
}

}  // extern "C"
