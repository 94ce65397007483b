// The uniform image: a new grey record whose every pixel has one value,
// handed out through a handle.
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/run_format.hpp"
#include "rle/sentinel_rows.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"

namespace {

// Each row needs at most 8 bytes (value, escaped length, terminator).
constexpr int64_t kBytesPerRow = 2 * 6;

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_constructUniform(cblob_imageRlePtrh *h, int32_t width, int32_t height, int32_t value,
                                            const cmath_xformPtrhConst *clientFromImage) {
    cblob::Frame<3> f;
    CBLOB_FRAME_REQUIRE(f, h);
    CBLOB_FRAME_REQUIRE(f, clientFromImage);
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_construct(h));  // null on every failure path
    CBLOB_FRAME_CHECK(f, width >= 1 && height >= 1, cstd_err_badRect);
    cmath_xformPtrhConst imageFromClient;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_construct(&imageFromClient));
    f.addObject<&cmath_xformPtrhConst_destruct>(&imageFromClient, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_getInverseConst(clientFromImage, &imageFromClient));

    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::allocate(static_cast<int64_t>(sizeof(cblob_imageRle)), &img));
    f.addMemory(&img, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(img));
    f.addObject<&cblob_imageRle_destruct>(img, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob::rle::newStorage(&img->data));  // the record releases it on failure
    cblob_imageRleData_ *data = img->data;
    CBLOB_FRAME_TRY(f, cblob::rle::resetStorage(data, height));
    cblob::rle::WriteBlock block;
    CBLOB_FRAME_TRY(f, cblob::rle::newBlock(data, (static_cast<int64_t>(height) + 2) * kBytesPerRow, &block));

    const auto pel = static_cast<uint8_t>(value & 0xFF);
    cblob_rleRow *rows = cblob::rle::rowTable(data);
    cblob::rle::writeSentinelRow(block.cursor, &rows[0], width, true);
    for (int32_t y = 1; y <= height; ++y) {
        rows[y].runs = block.cursor;
        rows[y].numRuns = 1;
        rows[y].startValue = 0;
        cblob::rle::writeGreyRun(block.cursor, pel, width);
        cblob::rle::writeGreyTerminator(block.cursor);
    }
    cblob::rle::writeSentinelRow(block.cursor, &rows[height + 1], width, true);
    data->numRows = height;
    data->numRuns = height;
    data->isGrey = 1;

    img->offsetX = 0;
    img->offsetY = 0;
    img->width = width;
    img->height = height;
    img->numRuns = data->numRuns;
    img->isGrey = data->isGrey;
    img->rows = rows;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&img->imageFromClient, &imageFromClient));
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_attach(h, img));
    return f.exit();
}

}  // extern "C"
