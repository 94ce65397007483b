// Value mapping: a new grey run-length image whose every pixel is
// table[source value], with the source's geometry and client transform.
#include <algorithm>
#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "rle/run_format.hpp"
#include "rle/sentinel_rows.hpp"
#include "rle/storage.hpp"
#include "core/frame.hpp"

namespace {

using cblob::rle::Run;

// Rows are polled for cancellation this often.
constexpr int32_t kPollRows = 32;

// Writes the mapped runs of one source row at the cursor, merging runs that
// map to the same value, then the terminator; returns the row's run count.
// Runs are clipped to the width, and a row that ends early (a binary row
// after its last foreground run) is completed with table[0]. A row of
// `width` pixels takes at most 2 * width + 2 bytes: 2 per run below 255
// pixels, 6 per longer run.
int32_t mapRow(const cblob_rleRow &row, bool grey, int32_t width, const uint8_t *table, uint8_t *&cursor) {
    cblob::rle::RowReader reader(row, grey);
    Run run;
    int32_t x = 0;
    int32_t runs = 0;
    uint8_t pendingValue = 0;
    int32_t pendingLength = 0;
    auto add = [&](uint8_t value, int32_t length) {
        if (pendingLength > 0 && value != pendingValue) {
            cblob::rle::writeGreyRun(cursor, pendingValue, pendingLength);
            ++runs;
            pendingLength = 0;
        }
        pendingValue = value;
        pendingLength += length;
    };
    // Binary runs carry 0 or 1, so table[value] maps both formats.
    while (x < width && reader.next(run)) {
        const int32_t length = std::min(run.length, width - x);
        add(table[run.value], length);
        x += length;
    }
    if (x < width) add(table[0], width - x);
    if (pendingLength > 0) {
        cblob::rle::writeGreyRun(cursor, pendingValue, pendingLength);
        ++runs;
    }
    cblob::rle::writeGreyTerminator(cursor);
    return runs;
}

}  // namespace

extern "C" {

int32_t cblob_imageRlePtrh_map(const cblob_imageRlePtrh *src, const uint8_t *table, int32_t tableSize,
                               cblob_imageRlePtrh *result) {
    static_cast<void>(tableSize);  // the table always has 256 entries
    cblob::Frame<3> f;
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, table);
    CBLOB_FRAME_REQUIRE(f, result);
    // Whatever fails from here on leaves the result detached.
    f.addObject<&cblob_imageRlePtrh_detach>(result, csys_cleanup_resultObject);
    cblob_imageRle *source = nullptr;
    CBLOB_FRAME_TRY(f, cblob::rle::resolveHandle(src, cblob_err_nullRleImage, &source));
    CBLOB_FRAME_CHECK(f, source->data && source->rows, cblob_err_rleImageNoRows);
    const int32_t width = source->width;
    const int32_t height = source->height;
    const bool grey = source->isGrey != 0;

    cblob_imageRle *img = nullptr;
    CBLOB_FRAME_TRY(f, cblob::allocate(static_cast<int64_t>(sizeof(cblob_imageRle)), &img));
    f.addMemory(&img, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(img));
    f.addObject<&cblob_imageRle_destruct>(img, csys_cleanup_resultObject);
    CBLOB_FRAME_TRY(f, cblob::rle::newStorage(&img->data));  // the record releases it on failure
    cblob_imageRleData_ *data = img->data;
    CBLOB_FRAME_TRY(f, cblob::rle::resetStorage(data, height));
    data->isGrey = 1;

    // Block sizes from the source's runs per row; every row is written into
    // a block with room for its worst case.
    const int64_t runsPerRow = height > 0 ? source->numRuns / height : 0;
    const int64_t rowSpace = (static_cast<int64_t>(width) + 3) * 2;
    cblob::rle::WriteBlock block;
    CBLOB_FRAME_TRY(f, cblob::rle::newBlock(
                           data, cblob::rle::nextBlockSize(std::max(runsPerRow * height + 2, width + int64_t{3}) * 2,
                                                           rowSpace),
                           &block));
    cblob_rleRow *rows = cblob::rle::rowTable(data);
    cblob::rle::writeSentinelRow(block.cursor, &rows[0], width, true);
    for (int32_t y = 0; y < height; ++y) {
        if (y % kPollRows == 0) CBLOB_FRAME_TRY(f, csys_attention_check());
        const int64_t estimate = runsPerRow * 2 * (height - y) + 1;
        CBLOB_FRAME_TRY(f, cblob::rle::ensureSpace(data, &block, rowSpace,
                                                   cblob::rle::nextBlockSize(estimate, rowSpace)));
        cblob_rleRow &entry = rows[y + 1];
        entry.runs = block.cursor;
        entry.startValue = 0;
        entry.numRuns = mapRow(*cblob::rle::imageRow(source, y), grey, width, table, block.cursor);
        CBLOB_FRAME_TRY(f, cblob::rle::addRunCount(data, entry.numRuns));
    }
    const int32_t sentinelBytes = cblob::rle::sentinelRowBytes(width, true);
    CBLOB_FRAME_TRY(f, cblob::rle::ensureSpace(data, &block, sentinelBytes, sentinelBytes));
    cblob::rle::writeSentinelRow(block.cursor, &rows[height + 1], width, true);

    img->offsetX = source->offsetX;
    img->offsetY = source->offsetY;
    img->width = width;
    img->height = height;
    img->numRuns = data->numRuns;
    img->isGrey = 1;
    img->rows = rows;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&img->imageFromClient, &source->imageFromClient));
    // The result may be the source's own handle: the source is not read
    // after this point.
    CBLOB_FRAME_TRY(f, cblob_imageRlePtrh_attach(result, img));
    return f.exit();
}

}  // extern "C"
