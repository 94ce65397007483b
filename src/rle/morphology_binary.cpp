// Morphology of binary images on foreground intervals. The rows are decoded
// once into flat arrays of [start, end) intervals, every pass maps interval
// rows to interval rows (a horizontal pass moves each interval's ends, a
// vertical pass intersects or unites three neighbouring rows), and the
// last pass's rows are encoded once. No pass reads or writes the byte
// format in between.
#include <algorithm>
#include <cstdint>

#include "rle/derived_image.hpp"
#include "rle/morphology.hpp"
#include "rle/run_format.hpp"
#include "core/frame.hpp"

namespace cblob::rle {

namespace {

// Rows are polled for cancellation this often in every pass.
constexpr int32_t kPollRows = 32;

struct Interval {
    int32_t start, end;  // [start, end), start < end
};

// Foreground intervals of every row: row y holds items[first[y]] up to
// items[first[y + 1]].
struct IntervalRows {
    Interval *items = nullptr;
    int64_t *first = nullptr;
    int64_t capacity = 0;  // intervals items can hold
};

int32_t releaseRows(IntervalRows *rows) {
    release(&rows->items);
    release(&rows->first);
    rows->capacity = 0;
    return 0;
}

// Grows the room for intervals to at least `intervals`, keeping those held.
int32_t growRows(IntervalRows *rows, int64_t intervals) {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, reallocate(intervals * static_cast<int64_t>(sizeof(Interval)), &rows->items));
    rows->capacity = intervals;
    return f.exit();
}

// Makes room for `intervals` intervals and height + 1 row starts.
int32_t reserveRows(IntervalRows *rows, int64_t intervals, int32_t height) {
    Frame<0> f;
    if (!rows->first) CBLOB_FRAME_TRY(f, allocate((static_cast<int64_t>(height) + 1) * 8, &rows->first));
    if (intervals > rows->capacity) {
        release(&rows->items);
        rows->capacity = 0;
        CBLOB_FRAME_TRY(f, allocate((intervals > 0 ? intervals : 1) * static_cast<int64_t>(sizeof(Interval)),
                                    &rows->items));
        rows->capacity = intervals;
    }
    return f.exit();
}

int64_t countOf(const IntervalRows &rows, int32_t height) { return rows.first[height]; }

// The foreground intervals of the narrow binary rows (entry y is image row
// y), cut at the width; a row that ends early is background after its last
// run.
int32_t decodeRows(const cblob_rleRow *src, int32_t width, int32_t height, IntervalRows *out) {
    Frame<0> f;
    // A row of n runs has at most (n + 1) / 2 foreground runs. The rows'
    // counts size the room; should a count be short, the room grows.
    int64_t bound = 0;
    for (int32_t y = 0; y < height; ++y) bound += (static_cast<int64_t>(src[y].numRuns) + 2) / 2;
    CBLOB_FRAME_TRY(f, reserveRows(out, bound, height));
    int64_t n = 0;
    for (int32_t y = 0; y < height; ++y) {
        out->first[y] = n;
        const uint8_t *p = src[y].runs;
        if (!p) continue;
        int32_t x = 0;
        for (uint8_t value = src[y].startValue ? 1 : 0; x < width; value ^= 1) {
            const int32_t length = readLength(p);
            if (length <= 0) break;
            const int32_t end = length < width - x ? x + length : width;
            if (value) {
                if (n == out->capacity) CBLOB_FRAME_TRY(f, growRows(out, 2 * n + 16));
                out->items[n++] = Interval{x, end};
            }
            x = end;
        }
    }
    out->first[height] = n;
    return f.exit();
}

// Horizontal erosion: each interval loses its end pixels, except at the
// image's edges (the edge pixel repeats).
int64_t erodeRowH(const Interval *in, const Interval *inEnd, int32_t width, Interval *out) {
    Interval *o = out;
    for (; in != inEnd; ++in) {
        const int32_t s = in->start > 0 ? in->start + 1 : 0;
        const int32_t e = in->end < width ? in->end - 1 : width;
        if (s < e) *o++ = Interval{s, e};
    }
    return o - out;
}

// Horizontal dilation: each interval grows by a pixel on each side inside
// the image; intervals that meet merge.
int64_t dilateRowH(const Interval *in, const Interval *inEnd, int32_t width, Interval *out) {
    Interval *o = out;
    for (; in != inEnd; ++in) {
        const int32_t s = in->start > 0 ? in->start - 1 : 0;
        const int32_t e = in->end < width ? in->end + 1 : width;
        if (o != out && s <= o[-1].end) {
            o[-1].end = e;
        } else {
            *o++ = Interval{s, e};
        }
    }
    return o - out;
}

// The intersection of three rows of intervals.
int64_t intersect3(const Interval *a, const Interval *aEnd, const Interval *b, const Interval *bEnd,
                   const Interval *c, const Interval *cEnd, Interval *out) {
    Interval *o = out;
    while (a != aEnd && b != bEnd && c != cEnd) {
        const int32_t s = std::max({a->start, b->start, c->start});
        const int32_t e = std::min({a->end, b->end, c->end});
        if (s < e) *o++ = Interval{s, e};
        // The interval that ends first can meet nothing further.
        if (a->end == e) {
            ++a;
        } else if (b->end == e) {
            ++b;
        } else {
            ++c;
        }
    }
    return o - out;
}

// The union of three rows of intervals; intervals that meet merge.
int64_t unite3(const Interval *a, const Interval *aEnd, const Interval *b, const Interval *bEnd, const Interval *c,
               const Interval *cEnd, Interval *out) {
    Interval *o = out;
    for (;;) {
        const Interval *next = nullptr;
        const Interval **from = nullptr;
        if (a != aEnd) next = a, from = &a;
        if (b != bEnd && (!next || b->start < next->start)) next = b, from = &b;
        if (c != cEnd && (!next || c->start < next->start)) next = c, from = &c;
        if (!next) break;
        ++*from;
        if (o != out && next->start <= o[-1].end) {
            if (next->end > o[-1].end) o[-1].end = next->end;
        } else {
            *o++ = *next;
        }
    }
    return o - out;
}

// One pass from `in` into `out`.
int32_t runPass(MorphPass pass, const IntervalRows &in, int32_t width, int32_t height, IntervalRows *out) {
    Frame<0> f;
    const bool vertical = pass == MorphPass::vMin || pass == MorphPass::vMax;
    const int64_t total = countOf(in, height);
    // A vertical pass may give each row as many intervals as its three
    // source rows hold together, and never more than one per two pixels.
    int64_t bound = vertical ? 3 * total : total;
    bound = std::min<int64_t>(bound, static_cast<int64_t>(height) * (width / 2 + 1));
    CBLOB_FRAME_TRY(f, reserveRows(out, bound, height));
    int64_t n = 0;
    for (int32_t y = 0; y < height; ++y) {
        if (y % kPollRows == 0) CBLOB_FRAME_TRY(f, csys_attention_check());
        out->first[y] = n;
        const Interval *row = in.items + in.first[y];
        const Interval *rowEnd = in.items + in.first[y + 1];
        Interval *dst = out->items + n;
        if (pass == MorphPass::hMin) {
            n += erodeRowH(row, rowEnd, width, dst);
        } else if (pass == MorphPass::hMax) {
            n += dilateRowH(row, rowEnd, width, dst);
        } else {
            const int32_t up = y > 0 ? y - 1 : 0;
            const int32_t down = y + 1 < height ? y + 1 : y;
            const Interval *a = in.items + in.first[up], *aEnd = in.items + in.first[up + 1];
            const Interval *c = in.items + in.first[down], *cEnd = in.items + in.first[down + 1];
            n += pass == MorphPass::vMin ? intersect3(a, aEnd, row, rowEnd, c, cEnd, dst)
                                    : unite3(a, aEnd, row, rowEnd, c, cEnd, dst);
        }
    }
    out->first[height] = n;
    return f.exit();
}

// Writes the interval rows as binary rows of new storage.
int32_t encodeRows(const IntervalRows &rows, int32_t width, int32_t height, cblob_imageRleData_ *dst) {
    Frame<0> f;
    StorageWriter writer;
    const int64_t perRow = height > 0 ? 2 * countOf(rows, height) / height + 1 : 1;
    CBLOB_FRAME_TRY(f, writer.start(dst, width, height, false, false, perRow));
    for (int32_t y = 0; y < height; ++y) {
        RunWriter w;
        CBLOB_FRAME_TRY(f, writer.beginRow(y, &w, false));
        int32_t x = 0;
        for (int64_t i = rows.first[y]; i < rows.first[y + 1]; ++i) {
            const Interval &iv = rows.items[i];
            w.add(0, iv.start - x);
            w.add(1, iv.end - iv.start);
            x = iv.end;
        }
        w.add(0, width - x);
        CBLOB_FRAME_TRY(f, writer.endRow(y, &w));
    }
    CBLOB_FRAME_TRY(f, writer.finish());
    return f.exit();
}

}  // namespace

int32_t binaryMorphology(const cblob_rleRow *rows, int32_t width, int32_t height, const MorphPass *passes,
                         int32_t numPasses, cblob_imageRleData_ *dst) {
    Frame<3> f;
    IntervalRows buffers[3];
    for (IntervalRows &b : buffers) f.addObject<&releaseRows>(&b, csys_cleanup_tempObject);
    CBLOB_FRAME_TRY(f, decodeRows(rows, width, height, &buffers[0]));
    int32_t current = 0;
    for (int32_t i = 0; i < numPasses; ++i) {
        const int32_t next = current == 1 ? 2 : 1;
        CBLOB_FRAME_TRY(f, runPass(passes[i], buffers[current], width, height, &buffers[next]));
        current = next;
    }
    CBLOB_FRAME_TRY(f, encodeRows(buffers[current], width, height, dst));
    return f.exit();
}

}  // namespace cblob::rle
