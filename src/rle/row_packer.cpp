// The row packer: (value byte, length byte) pairs into merged grey runs.
#include <algorithm>
#include <cstdint>

#include "rle/row_packer.hpp"
#include "rle/run_format.hpp"
#include "core/frame.hpp"

namespace {

// Rows are polled for cancellation this often.
constexpr int32_t kPollRows = 32;

// Writes one row's pairs as merged grey runs and its terminator at the
// cursor. Merging stops as soon as the row covers more than `width` pixels,
// so a row never writes more than 2 * width + 2 bytes: every run of 1 to 254
// pixels takes 2 bytes, every longer one 6.
int32_t packRow(const uint8_t *pair, int32_t width, uint8_t *&cursor, int32_t *numRuns) {
    int64_t covered = 0;
    int32_t runs = 0;
    while (pair[1] != 0) {
        const uint8_t value = pair[0];
        int64_t length = 0;
        do {
            length += pair[1];
            pair += 2;
        } while (pair[1] != 0 && pair[0] == value && covered + length <= width);
        covered += length;
        if (covered > width) return cimg_err_badGeometry;
        cblob::rle::writeGreyRun(cursor, value, static_cast<int32_t>(length));
        ++runs;
    }
    if (covered != width) return cimg_err_badGeometry;
    cblob::rle::writeGreyTerminator(cursor);
    *numRuns = runs;
    return 0;
}

}  // namespace

namespace cblob::rle {

int32_t packRows(const uint8_t *const *rowRuns, int32_t width, int32_t numRows, WriteBlock *block,
                 int32_t runsPerRow, cblob_imageRleData_ *data, cblob_rleRow *rows) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, rowRuns);
    CBLOB_FRAME_REQUIRE(f, block);
    CBLOB_FRAME_REQUIRE(f, data);
    CBLOB_FRAME_REQUIRE(f, rows);
    CBLOB_FRAME_REQUIRE(f, width >= 0 && numRows >= 0);
    data->numRuns = 0;
    data->isGrey = 1;
    const int64_t rowSpace = (static_cast<int64_t>(width) + 4) * 2;
    for (int32_t r = 0; r < numRows; ++r) {
        if (r % kPollRows == 0) CBLOB_FRAME_TRY(f, csys_attention_check());
        CBLOB_FRAME_REQUIRE(f, rowRuns[r]);
        const int64_t estimate = static_cast<int64_t>(runsPerRow) * 2 * (numRows - r) + 1;
        CBLOB_FRAME_TRY(f, ensureSpace(data, block, rowSpace, nextBlockSize(estimate, rowSpace)));
        cblob_rleRow &entry = rows[r + 1];
        entry.runs = block->cursor;
        int32_t runs = 0;
        CBLOB_FRAME_TRY(f, packRow(rowRuns[r], width, block->cursor, &runs));
        entry.numRuns = runs;
        CBLOB_FRAME_TRY(f, addRunCount(data, runs));
    }
    return f.exit();
}

}  // namespace cblob::rle
