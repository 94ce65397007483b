// The row packer: turns rows given as (value byte, length byte) pairs, the
// host vision library's run-length format, into grey rows of owned storage.
// Shared by the conversion from that format and by segmentation.
#ifndef CBLOB_RLE_ROW_PACKER_HPP
#define CBLOB_RLE_ROW_PACKER_HPP

#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/storage.hpp"

namespace cblob::rle {

// Packs rows 0 .. numRows-1 into row-table entries 1 .. numRows of `rows`
// (the storage's table, entry 0 being the top sentinel row). rowRuns[r]
// points at row r's pairs, ended by a pair whose length byte is 0; pairs of
// equal value in a row are merged into one run (escaped when 255 or longer).
//
// Sets data->numRuns to 0 and data->isGrey to 1, then per row: polls the
// attention check when r is a multiple of 32 (returning its status
// unchanged); starts a new block of max(runsPerRow * 2 * (numRows - r) + 1,
// (width + 4) * 2) bytes when fewer than (width + 4) * 2 are left in *block;
// writes the row and its terminator at the cursor, stores the row's run count
// in its entry and adds it to data->numRuns. *block holds the cursor after the
// last row on return. cimg_err_badGeometry when a row's lengths do not add up
// to `width`. Rows written before a failure stay in the storage.
int32_t packRows(const uint8_t *const *rowRuns, int32_t width, int32_t numRows, WriteBlock *block,
                 int32_t runsPerRow, cblob_imageRleData_ *data, cblob_rleRow *rows);

}  // namespace cblob::rle

#endif
