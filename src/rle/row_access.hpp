// Reading the rows of a run-length image: where image row y sits in the row
// table, and a reader that walks the narrow runs of one row.
#ifndef CBLOB_RLE_ROW_ACCESS_HPP
#define CBLOB_RLE_ROW_ACCESS_HPP

#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/run_format.hpp"

namespace cblob::rle {

// Owned storage starts with a top sentinel row; rows borrowed from the blob
// database do not. So image row y is entry y + 1 with owned storage and
// entry y otherwise.
inline int32_t firstImageRowEntry(const cblob_imageRle *img) { return img->data ? 1 : 0; }

// The row-table entry of image row y (0 <= y < height; the record has rows).
inline cblob_rleRow *imageRow(const cblob_imageRle *img, int32_t y) {
    return img->rows + firstImageRowEntry(img) + y;
}

struct Run {
    uint8_t value;   // grey: the value byte; binary: 0 or 1
    int32_t length;  // > 0
};

// Walks the narrow runs of one row. Grey rows are walked by the entry's run
// count, binary rows up to their terminator, their values alternating from
// the start value. A row without run bytes (never written) has no runs, and
// a zero or negative length ends any row.
class RowReader {
public:
    RowReader(const cblob_rleRow &row, bool grey)
        : cursor_(row.runs), left_(row.numRuns), value_(row.startValue ? 1 : 0), grey_(grey) {}

    // The next run; false at the end of the row.
    bool next(Run &run) {
        if (!cursor_) return false;
        int32_t length;
        if (grey_) {
            if (left_ <= 0) return false;
            length = readGreyRun(cursor_, run.value);
            --left_;
        } else {
            length = readLength(cursor_);
            run.value = value_;
            value_ ^= 1;
        }
        if (length <= 0) {
            cursor_ = nullptr;
            return false;
        }
        run.length = length;
        return true;
    }

private:
    const uint8_t *cursor_;
    int32_t left_;
    uint8_t value_;
    bool grey_;
};

}  // namespace cblob::rle

#endif
