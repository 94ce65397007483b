// Sentinel rows: the background rows above the first and below the last
// image row of owned storage, read by the connectivity scans as the frame of
// the image. Each is one run of value 0 over the full width, start value 0.
#ifndef CBLOB_RLE_SENTINEL_ROWS_HPP
#define CBLOB_RLE_SENTINEL_ROWS_HPP

#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/run_format.hpp"

namespace cblob::rle {

// Bytes a narrow sentinel row of this width takes, terminator included.
inline int32_t sentinelRowBytes(int32_t width, bool grey) {
    return grey ? greyRunBytes(width) + kGreyTerminatorBytes : lengthBytes(width) + kBinaryTerminatorBytes;
}

// Bytes a wide sentinel row takes, terminator included.
inline int32_t wideSentinelRowBytes(bool grey) { return 2 * (grey ? kWideGreyRunBytes : kWideBinaryRunBytes); }

// Writes a narrow sentinel row at the cursor and points *entry at it.
inline void writeSentinelRow(uint8_t *&cursor, cblob_rleRow *entry, int32_t width, bool grey) {
    entry->runs = cursor;
    entry->numRuns = 1;
    entry->startValue = 0;
    if (grey) {
        writeGreyRun(cursor, 0, width);
        writeGreyTerminator(cursor);
    } else {
        writeLength(cursor, width);
        writeBinaryTerminator(cursor);
    }
}

// Writes a wide sentinel row at the cursor and points *entry at it.
inline void writeWideSentinelRow(uint8_t *&cursor, cblob_rleRow *entry, int32_t width, bool grey) {
    entry->runs = cursor;
    entry->numRuns = 1;
    entry->startValue = 0;
    if (grey) {
        writeWideGreyRun(cursor, 0, width);
        writeWideGreyRun(cursor, 0, 0);
    } else {
        writeWideBinaryRun(cursor, width);
        writeWideBinaryRun(cursor, 0);
    }
}

}  // namespace cblob::rle

#endif
