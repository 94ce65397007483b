// The wide copy of an image that owns narrow storage: every row entry,
// sentinel rows included, re-encoded with 4-byte lengths and label slots.
#include <cstdint>

#include "rle/image_rle_internal.hpp"
#include "rle/row_access.hpp"
#include "rle/run_format.hpp"
#include "rle/storage.hpp"
#include "rle/wide_copy.hpp"
#include "core/frame.hpp"

namespace cblob::rle {

int32_t constructWideCopy(cblob_imageRle *dst, const cblob_imageRle *src) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, dst);
    CBLOB_FRAME_REQUIRE(f, src);
    CBLOB_FRAME_REQUIRE(f, src->constructed == 1 && src->data && !src->data->isWide);
    dst->constructed = 0;
    const cblob_imageRleData_ *from = src->data;
    CBLOB_FRAME_TRY(f, cblob_imageRle_construct_(dst));
    f.addObject<&cblob_imageRle_destruct>(dst, csys_cleanup_resultObject);
    dst->offsetX = src->offsetX;
    dst->offsetY = src->offsetY;
    dst->width = src->width;
    dst->height = src->height;
    dst->numRuns = src->numRuns;
    dst->isGrey = src->isGrey;
    CBLOB_FRAME_TRY(f, cmath_xformPtrhConst_assign(&dst->imageFromClient, &src->imageFromClient));

    CBLOB_FRAME_TRY(f, newStorage(&dst->data));  // the record releases it on failure
    cblob_imageRleData_ *to = dst->data;
    to->numRows = from->numRows;
    to->numRuns = from->numRuns;
    to->isGrey = from->isGrey;
    to->isWide = 1;
    const int32_t entries = rowCount(from);
    CBLOB_FRAME_TRY(f, cstd_vector_cblob_rleRow_resize(&to->rows, entries));
    const bool grey = from->isGrey != 0;
    const int64_t runBytes = grey ? kWideGreyRunBytes : kWideBinaryRunBytes;
    WriteBlock block;
    CBLOB_FRAME_TRY(f, newBlock(to, (static_cast<int64_t>(from->numRuns) + 2 + entries) * runBytes, &block));

    const cblob_rleRow *in = rowTable(from);
    cblob_rleRow *out = rowTable(to);
    for (int32_t i = 0; i < entries; ++i) {
        out[i].runs = block.cursor;
        out[i].numRuns = in[i].numRuns;
        out[i].startValue = in[i].startValue;
        RowReader reader(in[i], grey);
        Run run;
        for (;;) {
            const bool more = reader.next(run);
            CBLOB_FRAME_REQUIRE(f, block.bytesLeft() >= runBytes);  // the storage's run count was too low
            const int32_t length = more ? run.length : 0;           // a wide run of length 0 ends the row
            if (grey) {
                writeWideGreyRun(block.cursor, more ? run.value : 0, length);
            } else {
                writeWideBinaryRun(block.cursor, length);
            }
            if (!more) break;
        }
    }
    dst->rows = out;
    return f.exit();
}

}  // namespace cblob::rle
