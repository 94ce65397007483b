// Projections of a run-length image onto the image axes: the weight of
// every column, of every row and of every diagonal x + y.
#include <algorithm>
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/projection.hpp"
#include "core/frame.hpp"

namespace {

// Resizes `out` to `count` entries and returns its first element.
int32_t sized(cstd_vector32 *out, int64_t count, uint32_t **begin) {
    const int32_t status = cstd_vector32_resize(out, count);
    if (CBLOB_FAILED(status)) return status;
    return cstd_vector32_getBegin(out, begin);
}

// csys_err_badSize when a sum over `cells` pixels could pass the 32-bit
// entries: grey pixels weigh up to 255, binary ones 1. The difference
// arrays wrap modulo 2^32, so every sum that fits comes out exact.
int32_t checkSumsFit(const cblob_imageRle *img, int64_t cells) {
    const int64_t heaviest = img->isGrey ? 255 : 1;
    return heaviest * cells <= static_cast<int64_t>(UINT32_MAX) ? 0 : csys_err_badSize;
}

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_projectVert(const cblob_imageRlePtrh *src, cstd_vector32 *out) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, out);
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveReadable(src, &img));
    // The vector itself holds the difference array, one entry longer than
    // the result.
    CBLOB_FRAME_TRY(f, checkSumsFit(img, img->height));
    uint32_t *sums = nullptr;
    CBLOB_FRAME_TRY(f, sized(out, static_cast<int64_t>(img->width) + 1, &sums));
    cblob::rle::columnSums(img, sums);
    CBLOB_FRAME_TRY(f, cstd_vector32_resize(out, img->width));
    return f.exit();
}

int32_t cblob_imageRlePtrh_projectHoriz(const cblob_imageRlePtrh *src, cstd_vector32 *out) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, out);
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveReadable(src, &img));
    CBLOB_FRAME_TRY(f, checkSumsFit(img, img->width));
    uint32_t *sums = nullptr;
    CBLOB_FRAME_TRY(f, sized(out, img->height, &sums));
    cblob::rle::rowSums(img, sums);
    return f.exit();
}

int32_t cblob_imageRlePtrh_projectDiag(const cblob_imageRlePtrh *src, cstd_vector32 *out) {
    cblob::Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, out);
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveReadable(src, &img));
    // A difference array over the diagonals d = x + y: a run of row y from x
    // covers the diagonals x + y .. x + y + length - 1.
    const int64_t diagonals = static_cast<int64_t>(img->width) + img->height;
    CBLOB_FRAME_TRY(f, checkSumsFit(img, std::min(img->width, img->height)));
    uint32_t *sums = nullptr;
    CBLOB_FRAME_TRY(f, sized(out, diagonals, &sums));
    std::fill(sums, sums + diagonals, 0u);
    for (int32_t y = 0; y < img->height; ++y) {
        uint32_t *diagonal = sums + y;
        cblob::rle::forEachWeightedRun(img, y, [&](int32_t x, int32_t length, uint32_t weight) {
            diagonal[x] += weight;
            diagonal[x + length] -= weight;
        });
    }
    uint32_t running = 0;
    for (int64_t d = 0; d < diagonals; ++d) sums[d] = running += sums[d];
    CBLOB_FRAME_TRY(f, cstd_vector32_resize(out, std::max<int64_t>(diagonals - 1, 0)));
    return f.exit();
}

}  // extern "C"
