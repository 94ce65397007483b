// The two passes of morphology on runs. Both stream: the horizontal pass
// looks one run ahead, the vertical pass walks three rows in step.
#include <algorithm>
#include <cstdint>

#include "rle/derived_image.hpp"
#include "rle/morphology.hpp"
#include "rle/run_writer.hpp"
#include "core/frame.hpp"

namespace cblob::rle {

namespace {

template <bool Minimum>
inline uint8_t pick(uint8_t a, uint8_t b) {
    return Minimum ? std::min(a, b) : std::max(a, b);
}

// One row of the horizontal pass. Inside a run nothing changes; the pixel
// at each end of a run sees the neighbouring run, and a run of one pixel
// sees both neighbours. Equal values merge in the writer, so a losing run
// shrinks and the winning neighbour grows by the pixels it takes.
template <bool Minimum>
void horizontalRow(const cblob_rleRow &row, bool grey, bool wide, int32_t width, RunWriter &w) {
    RunCursor in(row, grey, width, wide);
    uint8_t value = in.value();
    int32_t length = in.left();
    uint8_t before = value;  // the first pixel of a row has no left neighbour
    while (length > 0) {
        in.advance(length);
        const int32_t nextLength = in.left();
        const uint8_t after = nextLength > 0 ? in.value() : value;
        if (length == 1) {
            w.add(pick<Minimum>(pick<Minimum>(before, value), after), 1);
        } else {
            w.add(pick<Minimum>(before, value), 1);
            w.add(value, length - 2);
            w.add(pick<Minimum>(value, after), 1);
        }
        before = value;
        value = after;
        length = nextLength;
    }
}

// One row of the vertical pass: the three rows walked in step, each piece
// as long as the shortest of the three current runs.
template <bool Minimum>
void verticalRow(const cblob_rleRow &above, const cblob_rleRow &row, const cblob_rleRow &below, bool grey, bool wide,
                 int32_t width, RunWriter &w) {
    RunCursor a(above, grey, width, wide);
    RunCursor b(row, grey, width, wide);
    RunCursor c(below, grey, width, wide);
    while (b.left() > 0) {
        const int32_t n = std::min({a.left(), b.left(), c.left()});
        w.add(pick<Minimum>(pick<Minimum>(a.value(), b.value()), c.value()), n);
        a.advance(n);
        b.advance(n);
        c.advance(n);
    }
}

// Runs a pass: rowFn(y, writer) writes output row y.
template <class RowFn>
int32_t runPass(int32_t width, int32_t height, bool grey, cblob_imageRleData_ *dst, int64_t runsPerRow,
                RowFn &&rowFn) {
    Frame<0> f;
    StorageWriter writer;
    CBLOB_FRAME_TRY(f, writer.start(dst, width, height, grey, false, runsPerRow));
    for (int32_t y = 0; y < height; ++y) {
        RunWriter w;
        CBLOB_FRAME_TRY(f, writer.beginRow(y, &w));
        rowFn(y, w);
        CBLOB_FRAME_TRY(f, writer.endRow(y, &w));
    }
    CBLOB_FRAME_TRY(f, writer.finish());
    return f.exit();
}

}  // namespace

int32_t horizontalPass(const cblob_rleRow *rows, int32_t width, int32_t height, bool grey, bool wide,
                       cblob_imageRleData_ *dst, bool minimum, int64_t runsPerRow) {
    return runPass(width, height, grey, dst, runsPerRow, [&](int32_t y, RunWriter &w) {
        if (minimum) {
            horizontalRow<true>(rows[y], grey, wide, width, w);
        } else {
            horizontalRow<false>(rows[y], grey, wide, width, w);
        }
    });
}

int32_t verticalPass(const cblob_rleRow *rows, int32_t width, int32_t height, bool grey, bool wide,
                     cblob_imageRleData_ *dst, bool minimum, int64_t runsPerRow) {
    return runPass(width, height, grey, dst, runsPerRow, [&](int32_t y, RunWriter &w) {
        const cblob_rleRow &above = rows[y > 0 ? y - 1 : 0];
        const cblob_rleRow &below = rows[y + 1 < height ? y + 1 : y];
        if (minimum) {
            verticalRow<true>(above, rows[y], below, grey, wide, width, w);
        } else {
            verticalRow<false>(above, rows[y], below, grey, wide, width, w);
        }
    });
}

}  // namespace cblob::rle
