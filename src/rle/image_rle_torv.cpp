// Conversion from the host vision library's own run-length format (rows of
// (value byte, length byte) pairs) into an owned grey run-length image.
#include <algorithm>
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/row_packer.hpp"
#include "rle/sentinel_rows.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"

extern "C" {

int32_t cblob_imageRle_constructFromTORVRLE(cblob_imageRle *img, const uint8_t *const *rowRuns, int32_t numRuns,
                                            int32_t offsetX, int32_t offsetY, int32_t width, int32_t height,
                                            const cmath_xformPtrhConst *imageFromClient) {
    cblob::Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, img);
    CBLOB_FRAME_REQUIRE(f, rowRuns);
    CBLOB_FRAME_REQUIRE(f, imageFromClient);
    img->constructed = 0;
    CBLOB_FRAME_CHECK(f, width >= 1 && height >= 1, cstd_err_badRect);
    CBLOB_FRAME_CHECK(f, cblob::rle::extentFits(offsetX, width) && cblob::rle::extentFits(offsetY, height),
                      cstd_err_badRect);
    CBLOB_FRAME_CHECK(f, numRuns >= 0, cstd_err_badCount);
    CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(img));
    f.addObject<&cblob_imageRle_destruct>(img, csys_cleanup_resultObject);
    img->isGrey = 1;
    CBLOB_FRAME_TRY(f, cblob::rle::newStorage(&img->data));  // the record releases it on failure
    cblob_imageRleData_ *data = img->data;
    CBLOB_FRAME_TRY(f, cblob::rle::resetStorage(data, height));
    data->isGrey = 1;

    // numRuns only sizes the storage: the rows hold at most one run per
    // pixel, so a larger count (a caller's mistake) neither allocates more
    // nor makes a block too large; the blocks grow as the rows need.
    const int64_t runsBound = std::min(static_cast<int64_t>(numRuns), static_cast<int64_t>(width) * height);
    cblob::rle::WriteBlock block;
    const int64_t firstBlock =
        cblob::rle::nextBlockSize((runsBound + 2) * 5, (static_cast<int64_t>(width) + 4) * 5);
    CBLOB_FRAME_TRY(f, cblob::rle::newBlock(data, firstBlock, &block));
    cblob_rleRow *rows = cblob::rle::rowTable(data);
    cblob::rle::writeSentinelRow(block.cursor, &rows[0], width, true);
    CBLOB_FRAME_TRY(f, cblob::rle::packRows(rowRuns, width, height, &block, static_cast<int32_t>(runsBound / height),
                                            data, rows));
    // The packer leaves room for a row of single pixels after its last row,
    // which need not hold an escaped sentinel run: make sure it fits.
    const int32_t sentinelBytes = cblob::rle::sentinelRowBytes(width, true);
    CBLOB_FRAME_TRY(f, cblob::rle::ensureSpace(data, &block, sentinelBytes, sentinelBytes));
    cblob::rle::writeSentinelRow(block.cursor, &rows[height + 1], width, true);

    img->offsetX = offsetX;
    img->offsetY = offsetY;
    img->width = width;
    img->height = height;
    img->numRuns = numRuns;
    img->rows = rows;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&img->imageFromClient, imageFromClient));
    return f.exit();
}

}  // extern "C"
