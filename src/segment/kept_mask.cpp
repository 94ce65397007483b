// The kept mask: the run's mask turned into a run-length image for the
// result set. A mask window becomes binary runs (inside 1) by the
// hard-threshold finder at threshold 1; a TORV mask becomes grey runs by the
// row packer, which merges neighbouring pairs of one value.
#include <algorithm>
#include <cstdint>

#include "rle/row_packer.hpp"
#include "rle/sentinel_rows.hpp"
#include "rle/storage.hpp"
#include "segment/band_dispatcher.hpp"
#include "core/frame.hpp"
#include "segment/run_finder.hpp"
#include "segment/segment_parts.hpp"

namespace cblob::seg {

namespace {

int32_t keepMaskWindow(const cimg_windowConst *maskWindow, cblob_imageRle *record) {
    Frame<0> f;
    RunFinder finder;
    CBLOB_FRAME_TRY(f, hardRunFinder(8, &finder));
    FindInputs in;
    in.pixels = maskWindow->pels;
    in.pixelStride = maskWindow->strideBytes;
    in.width = maskWindow->width;
    in.numRows = maskWindow->height;
    in.runsPerRow = runsPerRowEstimate(in.width);
    in.thresh = 1;
    in.colourBelow = 0;
    in.colourAbove = 1;
    CBLOB_FRAME_TRY(f, findRunsInBands(in, finder, record));
    return f.exit();
}

int32_t keepTorvMask(const uint8_t *const *torvMask, int32_t width, int32_t height, cblob_imageRle *record) {
    Frame<0> f;
    cblob_imageRleData_ *data = record->data;
    CBLOB_FRAME_REQUIRE(f, data);
    cblob_rleRow *rows = rle::rowTable(data);
    const int32_t runsPerRow = runsPerRowEstimate(width);
    const int32_t sentinelBytes = rle::sentinelRowBytes(width, true);
    const int64_t firstBlock =
        std::max(static_cast<int64_t>(runsPerRow) * 2 * height + 1, (static_cast<int64_t>(width) + 4) * 2) +
        sentinelBytes;
    rle::WriteBlock block;
    CBLOB_FRAME_TRY(f, rle::newBlock(data, firstBlock, &block));
    rle::writeSentinelRow(block.cursor, &rows[0], width, true);
    CBLOB_FRAME_TRY(f, rle::packRows(torvMask, width, height, &block, runsPerRow, data, rows));
    CBLOB_FRAME_TRY(f, rle::ensureSpace(data, &block, sentinelBytes, sentinelBytes));
    rle::writeSentinelRow(block.cursor, &rows[height + 1], width, true);
    record->numRuns = data->numRuns;
    record->isGrey = 1;
    return f.exit();
}

}  // namespace

int32_t keepMask(const cimg_windowConst *window, const cimg_windowConst *maskWindow, const uint8_t *const *torvMask,
                 cblob_imageRle *record) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, window);
    CBLOB_FRAME_REQUIRE(f, record);
    CBLOB_FRAME_REQUIRE(f, maskWindow || torvMask);
    CBLOB_FRAME_TRY(f, initRecordForWindow(record, window));
    if (maskWindow) {
        CBLOB_FRAME_TRY(f, keepMaskWindow(maskWindow, record));
    } else {
        CBLOB_FRAME_TRY(f, keepTorvMask(torvMask, window->width, window->height, record));
    }
    return f.exit();
}

}  // namespace cblob::seg
