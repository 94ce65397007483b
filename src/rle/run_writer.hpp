// Writing and walking rows run by run for the operations that derive one
// run-length image from others: a writer that merges neighbouring runs of
// equal value as it writes (narrow or wide, grey or binary), and a cursor
// that walks a source row piece by piece over exactly `width` pixels.
#ifndef CBLOB_RLE_RUN_WRITER_HPP
#define CBLOB_RLE_RUN_WRITER_HPP

#include <cstdint>

#include "cblob/rle_image.h"
#include "rle/row_access.hpp"
#include "rle/run_format.hpp"

namespace cblob::rle {

// Writes one row at a cursor. Runs of the value of the run before them are
// merged into it, so grey runs always differ from their neighbours and
// binary runs alternate. A binary row's start value is its first run's.
class RunWriter {
public:
    RunWriter() = default;
    RunWriter(uint8_t *cursor, bool grey, bool wide) : cursor_(cursor), grey_(grey), wide_(wide) {}

    void add(uint8_t value, int32_t length) {
        if (length <= 0) return;
        if (pendingLength_ > 0) {
            if (value == pendingValue_) {
                pendingLength_ += length;
                return;
            }
            flush();
        }
        pendingValue_ = value;
        pendingLength_ = length;
    }

    // Writes the last run and the terminator; returns the cursor after them.
    uint8_t *finish() {
        flush();
        if (wide_) {
            if (grey_) {
                writeWideGreyRun(cursor_, 0, 0);
            } else {
                writeWideBinaryRun(cursor_, 0);
            }
        } else if (grey_) {
            writeGreyTerminator(cursor_);
        } else {
            writeBinaryTerminator(cursor_);
        }
        return cursor_;
    }

    int32_t runs() const { return runs_; }
    uint8_t startValue() const { return grey_ ? 0 : startValue_; }

private:
    void flush() {
        if (pendingLength_ <= 0) return;
        if (runs_ == 0) startValue_ = pendingValue_;
        if (wide_) {
            if (grey_) {
                writeWideGreyRun(cursor_, pendingValue_, pendingLength_);
            } else {
                writeWideBinaryRun(cursor_, pendingLength_);
            }
        } else {
            if (grey_) *cursor_++ = pendingValue_;
            writeLength(cursor_, pendingLength_);
        }
        ++runs_;
        pendingLength_ = 0;
    }

    uint8_t *cursor_ = nullptr;
    bool grey_ = false;
    bool wide_ = false;
    uint8_t pendingValue_ = 0;
    int32_t pendingLength_ = 0;
    int32_t runs_ = 0;
    uint8_t startValue_ = 0;
};

// Whether the image's rows hold the wide layout (owned storage written for
// the connectivity scans); borrowed rows are narrow.
inline bool hasWideRows(const cblob_imageRle *img) { return img->data && img->data->isWide; }

// Walks one row, narrow or wide, over exactly `width` pixels: runs reaching
// past the width are cut there, and a row that ends early (a binary row
// borrowed from the blob database ends after its last foreground run)
// continues with value 0 up to the width. Grey rows end after the entry's
// run count or at the terminator, binary rows at the terminator. value()
// and left() describe the piece at the current position; left() is 0 only
// once the whole width is passed.
class RunCursor {
public:
    RunCursor(const cblob_rleRow &row, bool grey, int32_t width, bool wide = false)
        : cursor_(row.runs), runsLeft_(row.numRuns), binary_(row.startValue ? 1 : 0), grey_(grey), wide_(wide),
          widthLeft_(width) {
        load();
    }

    uint8_t value() const { return value_; }
    int32_t left() const { return left_; }

    // Moves n pixels on (n <= left()).
    void advance(int32_t n) {
        left_ -= n;
        if (left_ == 0) load();
    }

    // Moves n pixels on, across runs.
    void skip(int32_t n) {
        while (n > 0 && left_ > 0) {
            const int32_t step = n < left_ ? n : left_;
            advance(step);
            n -= step;
        }
    }

private:
    // The next run of the row; false at its end.
    bool nextRun(uint8_t &value, int32_t &length) {
        if (!cursor_) return false;
        if (grey_) {
            if (runsLeft_-- <= 0) return false;
            length = wide_ ? readWideGreyRun(cursor_, value) : readGreyRun(cursor_, value);
        } else {
            length = wide_ ? readWideBinaryRun(cursor_) : readLength(cursor_);
            value = binary_;
            binary_ ^= 1;
        }
        if (length > 0) return true;
        cursor_ = nullptr;
        return false;
    }

    void load() {
        if (widthLeft_ <= 0) {
            left_ = 0;
            return;
        }
        uint8_t value = 0;
        int32_t length = 0;
        if (!ended_ && nextRun(value, length)) {
            value_ = value;
            left_ = length < widthLeft_ ? length : widthLeft_;
        } else {
            ended_ = true;
            value_ = 0;
            left_ = widthLeft_;
        }
        widthLeft_ -= left_;
    }

    const uint8_t *cursor_;
    int32_t runsLeft_;
    uint8_t binary_;
    bool grey_;
    bool wide_;
    int32_t widthLeft_;
    uint8_t value_ = 0;
    int32_t left_ = 0;
    bool ended_ = false;
};

// Copies the next n pixels of `in` (n <= what is left of its width) to w.
inline void copyPixels(RunCursor &in, int32_t n, RunWriter &w) {
    while (n > 0) {
        const int32_t step = n < in.left() ? n : in.left();
        w.add(in.value(), step);
        in.advance(step);
        n -= step;
    }
}

}  // namespace cblob::rle

#endif
