// Morphology operations as sequences of passes, applied from one record
// into another, and cblob_imageRlePtrh_gmorph.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/derived_image.hpp"
#include "rle/image_rle_internal.hpp"
#include "rle/morphology.hpp"
#include "rle/row_access.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"

namespace cblob::rle {

namespace {

// The passes of each operation code, in order (at most four).
struct Steps {
    int32_t count;
    MorphPass pass[4];
};
constexpr Steps kSteps[] = {
    {1, {MorphPass::hMin}},                                                     // erode 1 x 3
    {1, {MorphPass::vMin}},                                                     // erode 3 x 1
    {2, {MorphPass::hMin, MorphPass::vMin}},                                    // erode 3 x 3
    {1, {MorphPass::hMax}},                                                     // dilate 1 x 3
    {1, {MorphPass::vMax}},                                                     // dilate 3 x 1
    {2, {MorphPass::hMax, MorphPass::vMax}},                                    // dilate 3 x 3
    {2, {MorphPass::hMax, MorphPass::hMin}},                                    // close 1 x 3
    {2, {MorphPass::vMax, MorphPass::vMin}},                                    // close 3 x 1
    {4, {MorphPass::hMax, MorphPass::vMax, MorphPass::hMin, MorphPass::vMin}},  // close 3 x 3
    {2, {MorphPass::hMin, MorphPass::hMax}},                                    // open 1 x 3
    {2, {MorphPass::vMin, MorphPass::vMax}},                                    // open 3 x 1
    {4, {MorphPass::hMin, MorphPass::vMin, MorphPass::hMax, MorphPass::vMax}},  // open 3 x 3
};

int32_t runOnePass(MorphPass pass, const cblob_rleRow *rows, int32_t width, int32_t height, bool grey, bool wide,
                   cblob_imageRleData_ *dst, int64_t runsPerRow) {
    const bool minimum = pass == MorphPass::hMin || pass == MorphPass::vMin;
    if (pass == MorphPass::hMin || pass == MorphPass::hMax) {
        return horizontalPass(rows, width, height, grey, wide, dst, minimum, runsPerRow);
    }
    return verticalPass(rows, width, height, grey, wide, dst, minimum, runsPerRow);
}

// Makes dst show `fresh` (taken over; *fresh becomes null) with the geometry
// and transform given, releasing what dst held.
int32_t takeStorage(cblob_imageRle *dst, cblob_imageRleData_ **fresh, int32_t offsetX, int32_t offsetY,
                    int32_t width, int32_t height, const cmath_xformPtrhConst *imageFromClient) {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, cblob_imageRle_clear(dst));
    CBLOB_FRAME_TRY(f, deleteStorage(&dst->data));
    dst->data = *fresh;
    *fresh = nullptr;
    CBLOB_FRAME_TRY(f, publishStorage(dst, offsetX, offsetY, width, height, imageFromClient));
    return f.exit();
}

}  // namespace

int32_t applyMorphology(const cblob_imageRle *src, cblob_imageRle *dst, int32_t op) {
    Frame<5> f;
    CBLOB_FRAME_REQUIRE(f, src && dst);
    CBLOB_FRAME_CHECK(f, isMorphOp(op), cblob_err_badMorphOp);
    CBLOB_FRAME_CHECK(f, src->rows, cblob_err_rleImageEmpty);
    if (!dst->constructed) CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(dst));
    const int32_t width = src->width;
    const int32_t height = src->height;
    const bool grey = src->isGrey != 0;
    const int64_t runsPerRow = height > 0 ? src->numRuns / height + 1 : 1;
    // The source's transform outlives clearing dst, which may be src.
    cmath_xformPtrhConst imageFromClient;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_constructCopy(&imageFromClient, &src->imageFromClient));
    f.addObject<&cmath_xformPtrhConst_destruct>(&imageFromClient, csys_cleanup_tempObject);

    cblob_imageRleData_ *storage[3] = {nullptr, nullptr, nullptr};  // result, two intermediates
    for (auto &s : storage) {
        CBLOB_FRAME_TRY(f, newStorage(&s));
        f.addObject<&deleteStorage>(&s, csys_cleanup_tempObject);
    }
    const Steps &steps = kSteps[op];
    const cblob_rleRow *rows = imageRow(src, 0);
    if (!grey) {
        // Binary images: all passes on foreground intervals.
        CBLOB_FRAME_TRY(f, binaryMorphology(rows, width, height, hasWideRows(src), steps.pass, steps.count,
                                            storage[0]));
    }
    for (int32_t i = 0; grey && i < steps.count; ++i) {
        cblob_imageRleData_ *out = i + 1 == steps.count ? storage[0] : storage[1 + i % 2];
        // Only the source may be wide; the passes write narrow rows.
        CBLOB_FRAME_TRY(f, runOnePass(steps.pass[i], rows, width, height, grey, i == 0 && hasWideRows(src), out,
                                      runsPerRow));
        rows = rowTable(out) + 1;
    }
    CBLOB_FRAME_TRY(f, takeStorage(dst, &storage[0], src->offsetX, src->offsetY, width, height, &imageFromClient));
    return f.exit();
}

}  // namespace cblob::rle

extern "C" {

int32_t cblob_imageRlePtrh_gmorph(const cblob_imageRlePtrh *src, cblob_imageRlePtrh *result, cblob_morphOp op) {
    cblob::Frame<2> f;
    CBLOB_FRAME_REQUIRE(f, src && result);
    f.addObject<&cblob_imageRlePtrh_detach>(result, csys_cleanup_resultObject);
    cblob_imageRle *source = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(src, cblob_err_nullRleImage, &source));
    CBLOB_FRAME_CHECK(f, cblob::rle::isMorphOp(op), cblob_err_badMorphOp);
    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::newOwnedRecord(&img));
    f.addObject<&cblob::rle::deleteRecord>(&img, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob::rle::applyMorphology(source, img, op));
    CBLOB_FRAME_TRY(f, cblob::rle::attachResult(result, &img));
    return f.exit();
}

}  // extern "C"
