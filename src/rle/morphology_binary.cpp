// Morphology of binary images on intervals. The rows are decoded once into
// flat arrays of [start, end) intervals of one value, every pass maps
// interval rows to interval rows, and the last pass's rows are encoded
// once; no pass reads or writes the byte format in between. Every pass is
// an erosion: of the foreground intervals for a minimum, of the background
// intervals for a maximum (dilating the foreground is eroding the
// background, with the same repeated edges). A horizontal erosion moves
// each interval's ends inwards, a vertical one intersects three
// neighbouring rows; both are branch-free per interval.
#include <algorithm>
#include <cstdint>
#include <cstring>

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

// Whether two rows of intervals are equal (a and b hold n intervals each).
bool sameIntervals(const Interval *a, const Interval *b, int64_t n) {
    return a == b || std::memcmp(a, b, static_cast<size_t>(n) * sizeof(Interval)) == 0;
}

// Whether the row at `row` begins with the n bytes at `previous`; stops at
// the first difference, so it never reads past the row's terminator (a row
// whose bytes match another's up to its terminator ends there too).
bool startsWith(const uint8_t *row, const uint8_t *previous, int64_t n) {
    for (int64_t i = 0; i < n; ++i)
        if (row[i] != previous[i]) return false;
    return true;
}

// Horizontal erosion of one interval: it loses its end pixels, except at
// the image's edges (the edge pixel repeats). Written at *o, which moves on
// when the interval is not empty.
inline void erodeInterval(int32_t start, int32_t end, int32_t width, Interval *&o) {
    const int32_t s = start + (start > 0 ? 1 : 0);
    const int32_t e = end - (end < width ? 1 : 0);
    *o = Interval{s, e};
    o += s < e ? 1 : 0;
}

// The intervals of value `ink` (0 or 1) of the narrow binary rows (entry y
// is image row y), cut at the width; a row that ends early is background
// after its last run. With `erode`, the intervals are stored eroded
// horizontally (the first pass of the operation, polled as a pass is).
int32_t decodeRows(const cblob_rleRow *src, int32_t width, int32_t height, bool wide, uint8_t ink, bool erode,
                   IntervalRows *out) {
    Frame<0> f;
    // A row of n runs has at most n / 2 + 1 runs of one value, counting the
    // background that completes a row ending early. The rows' counts size
    // the room; should a count be short, the room grows.
    int64_t bound = 0;
    for (int32_t y = 0; y < height; ++y) bound += static_cast<int64_t>(src[y].numRuns) / 2 + 1;
    CBLOB_FRAME_TRY(f, reserveRows(out, bound, height));
    int64_t n = 0;
    // Rows often repeat the row above (straight edges, empty margins): a
    // row whose bytes equal the previous row's takes its intervals.
    const uint8_t *previous = nullptr;
    int64_t previousBytes = 0;
    for (int32_t y = 0; y < height; ++y) {
        if (erode && y % kPollRows == 0) CBLOB_FRAME_TRY(f, csys_attention_check());
        out->first[y] = n;
        const uint8_t *p = src[y].runs;
        int32_t x = 0;
        uint8_t value = src[y].startValue ? 1 : 0;
        if (previous && p && y > 0 && src[y].numRuns == src[y - 1].numRuns &&
            value == (src[y - 1].startValue ? 1 : 0) && startsWith(p, previous, previousBytes)) {
            const int64_t count = n - out->first[y - 1];
            if (n + count > out->capacity) CBLOB_FRAME_TRY(f, growRows(out, 2 * (n + count) + 16));
            std::memcpy(out->items + n, out->items + out->first[y - 1], static_cast<size_t>(count) * sizeof(Interval));
            n += count;
            continue;
        }
        previous = p;
        // The row's intervals, the last one held back: a row that ends
        // early may extend it with the background after its last run.
        int32_t heldStart = 0, heldEnd = -1;
        while (p && x < width) {
            const int32_t length = wide ? readWideBinaryRun(p) : readLength(p);
            if (length <= 0) break;
            const int32_t end = length < width - x ? x + length : width;
            if (value == ink) {
                if (n + 1 >= out->capacity) CBLOB_FRAME_TRY(f, growRows(out, 2 * n + 16));
                Interval *o = out->items + n;
                if (heldEnd >= 0) {
                    if (erode) {
                        erodeInterval(heldStart, heldEnd, width, o);
                    } else {
                        *o++ = Interval{heldStart, heldEnd};
                    }
                }
                n = o - out->items;
                heldStart = x;
                heldEnd = end;
            }
            x = end;
            value ^= 1;
        }
        previousBytes = p ? p - previous : 0;
        if (x < width && ink == 0) {
            // The background after the last run of a row that ends early.
            if (heldEnd == x) {
                heldEnd = width;
            } else {
                if (n + 1 >= out->capacity) CBLOB_FRAME_TRY(f, growRows(out, 2 * n + 16));
                Interval *o = out->items + n;
                if (heldEnd >= 0) {
                    if (erode) {
                        erodeInterval(heldStart, heldEnd, width, o);
                    } else {
                        *o++ = Interval{heldStart, heldEnd};
                    }
                }
                n = o - out->items;
                heldStart = x;
                heldEnd = width;
            }
        }
        if (heldEnd >= 0) {
            if (n + 1 >= out->capacity) CBLOB_FRAME_TRY(f, growRows(out, 2 * n + 16));
            Interval *o = out->items + n;
            if (erode) {
                erodeInterval(heldStart, heldEnd, width, o);
            } else {
                *o++ = Interval{heldStart, heldEnd};
            }
            n = o - out->items;
        }
    }
    out->first[height] = n;
    return f.exit();
}

// The gaps between the intervals of every row: the same pixels with the
// other value.
int32_t complementRows(const IntervalRows &in, int32_t width, int32_t height, IntervalRows *out) {
    Frame<0> f;
    CBLOB_FRAME_TRY(f, reserveRows(out, countOf(in, height) + height, height));
    int64_t n = 0;
    for (int32_t y = 0; y < height; ++y) {
        out->first[y] = n;
        int32_t x = 0;
        for (int64_t i = in.first[y]; i < in.first[y + 1]; ++i) {
            out->items[n] = Interval{x, in.items[i].start};
            n += x < in.items[i].start ? 1 : 0;
            x = in.items[i].end;
        }
        out->items[n] = Interval{x, width};
        n += x < width ? 1 : 0;
    }
    out->first[height] = n;
    return f.exit();
}

// Horizontal erosion of one row: each interval loses its end pixels,
// except at the image's edges (the edge pixel repeats).
int64_t erodeRowH(const Interval *in, const Interval *inEnd, int32_t width, Interval *out) {
    Interval *o = out;
    for (; in != inEnd; ++in) erodeInterval(in->start, in->end, width, o);
    return o - out;
}

// Vertical erosion of one row: the intersection of three rows. After a
// piece is taken, every interval that ends where it ends can meet nothing
// further and is passed; the others go on.
int64_t intersect3(const Interval *a, const Interval *aEnd, const Interval *b, const Interval *bEnd,
                   const Interval *c, const Interval *cEnd, Interval *out) {
    Interval *o = out;
    while (a != aEnd && b != bEnd && c != cEnd) {
        const int32_t s = std::max(std::max(a->start, b->start), c->start);
        const int32_t e = std::min(std::min(a->end, b->end), c->end);
        *o = Interval{s, e};
        o += s < e ? 1 : 0;
        a += a->end == e ? 1 : 0;
        b += b->end == e ? 1 : 0;
        c += c->end == e ? 1 : 0;
    }
    return o - out;
}

// Vertical erosion of rows of n intervals each, when interval i of each row
// meets no interval but the i-th of the others: then the intersection is
// interval by interval, without a merge. Returns -1 (having written
// scratch into out) when some interval reaches past the next index's start
// in another row, so that the merge must run.
int64_t intersectInStep(const Interval *a, const Interval *b, const Interval *c, int64_t n, Interval *out) {
    Interval *o = out;
    bool inStep = true;
    for (int64_t i = 0; i < n; ++i) {
        const int32_t s = std::max(std::max(a[i].start, b[i].start), c[i].start);
        const int32_t e = std::min(std::min(a[i].end, b[i].end), c[i].end);
        if (i + 1 < n) {
            const int32_t reach = std::max(std::max(a[i].end, b[i].end), c[i].end);
            const int32_t next = std::min(std::min(a[i + 1].start, b[i + 1].start), c[i + 1].start);
            inStep &= reach <= next;
        }
        *o = Interval{s, e};
        o += s < e ? 1 : 0;
    }
    return inStep ? o - out : -1;
}

// One erosion pass of the intervals in `in` into `out`: horizontal or
// vertical. Dilation is the erosion of the other value's intervals.
int32_t erodePass(bool vertical, const IntervalRows &in, int32_t width, int32_t height, IntervalRows *out) {
    Frame<0> f;
    // A horizontal erosion never adds intervals. A vertical one may give a
    // row as many as its three source rows hold together: the room grows
    // when a row could need more (each row may also write one interval past
    // its last).
    int64_t widest = 0;
    for (int32_t y = 0; vertical && y < height; ++y) widest = std::max(widest, in.first[y + 1] - in.first[y]);
    CBLOB_FRAME_TRY(f, reserveRows(out, countOf(in, height) + 3 * widest + 1, height));
    int64_t n = 0;
    for (int32_t y = 0; y < height; ++y) {
        if (y % kPollRows == 0) CBLOB_FRAME_TRY(f, csys_attention_check());
        out->first[y] = n;
        const Interval *row = in.items + in.first[y];
        const Interval *rowEnd = in.items + in.first[y + 1];
        if (!vertical) {
            n += erodeRowH(row, rowEnd, width, out->items + n);
        } else {
            const int32_t up = y > 0 ? y - 1 : 0;
            const int32_t down = y + 1 < height ? y + 1 : y;
            const int64_t most = n + (in.first[up + 1] - in.first[up]) + (rowEnd - row) +
                                 (in.first[down + 1] - in.first[down]) + 1;
            if (most > out->capacity) CBLOB_FRAME_TRY(f, growRows(out, std::max(most, 2 * out->capacity)));
            const Interval *a = in.items + in.first[up];
            const Interval *c = in.items + in.first[down];
            const int64_t count = rowEnd - row;
            if (in.first[up + 1] - in.first[up] == count && in.first[down + 1] - in.first[down] == count &&
                sameIntervals(a, row, count) && sameIntervals(c, row, count)) {
                // Three equal rows: the row stays as it is.
                std::memcpy(out->items + n, row, static_cast<size_t>(count) * sizeof(Interval));
                n += count;
            } else {
                int64_t got = -1;
                if (in.first[up + 1] - in.first[up] == count && in.first[down + 1] - in.first[down] == count) {
                    got = intersectInStep(a, row, c, count, out->items + n);
                }
                if (got < 0) {
                    got = intersect3(a, in.items + in.first[up + 1], row, rowEnd, c, in.items + in.first[down + 1],
                                     out->items + n);
                }
                n += got;
            }
        }
    }
    out->first[height] = n;
    return f.exit();
}

// Writes the interval rows as binary rows of new storage: the intervals
// hold value `ink`, the gaps the other value. Intervals never touch (every
// pass keeps them maximal), so lengths are written as they are.
int32_t encodeRows(const IntervalRows &rows, uint8_t ink, int32_t width, int32_t height,
                   cblob_imageRleData_ *dst) {
    Frame<0> f;
    StorageWriter writer;
    const int64_t perRow = height > 0 ? 2 * countOf(rows, height) / height + 1 : 1;
    CBLOB_FRAME_TRY(f, writer.start(dst, width, height, false, false, perRow));
    // A row equal to the row above is a copy of its bytes.
    const uint8_t *previous = nullptr;
    int64_t previousBytes = 0;
    int32_t previousRuns = 0;
    uint8_t previousStart = 0;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *cursor = nullptr;
        CBLOB_FRAME_TRY(f, writer.beginRawRow(y, &cursor));
        const Interval *iv = rows.items + rows.first[y];
        const Interval *end = rows.items + rows.first[y + 1];
        if (previous && y > 0 && rows.first[y] - rows.first[y - 1] == end - iv &&
            sameIntervals(rows.items + rows.first[y - 1], iv, end - iv)) {
            std::memcpy(cursor, previous, static_cast<size_t>(previousBytes));
            previous = cursor;
            CBLOB_FRAME_TRY(f, writer.endRawRow(y, cursor + previousBytes, previousRuns, previousStart));
            continue;
        }
        uint8_t *const rowStart = cursor;
        const bool inkFirst = iv != end && iv->start == 0;
        int32_t runs = 0;
        int32_t x = 0;
        for (; iv != end; ++iv) {
            if (iv->start > x) {
                writeLength(cursor, iv->start - x);
                ++runs;
            }
            writeLength(cursor, iv->end - iv->start);
            ++runs;
            x = iv->end;
        }
        if (x < width) {
            writeLength(cursor, width - x);
            ++runs;
        }
        writeBinaryTerminator(cursor);
        previous = rowStart;
        previousBytes = cursor - rowStart;
        previousRuns = runs;
        previousStart = inkFirst ? ink : static_cast<uint8_t>(ink ^ 1);
        CBLOB_FRAME_TRY(f, writer.endRawRow(y, cursor, runs, previousStart));
    }
    CBLOB_FRAME_TRY(f, writer.finish());
    return f.exit();
}

}  // namespace

int32_t binaryMorphology(const cblob_rleRow *rows, int32_t width, int32_t height, bool wide,
                         const MorphPass *passes, int32_t numPasses, cblob_imageRleData_ *dst) {
    Frame<3> f;
    IntervalRows buffers[3];
    for (IntervalRows &b : buffers) f.addObject<&releaseRows>(&b, csys_cleanup_tempObject);
    // Erosion works on the foreground (ink 1), dilation on the background
    // (ink 0): the rows switch between the two when the passes do.
    auto inkOf = [](MorphPass pass) -> uint8_t { return pass == MorphPass::hMin || pass == MorphPass::vMin ? 1 : 0; };
    uint8_t ink = numPasses > 0 ? inkOf(passes[0]) : 1;
    // A first horizontal pass is done as the rows are decoded.
    const bool fused = numPasses > 0 && (passes[0] == MorphPass::hMin || passes[0] == MorphPass::hMax);
    CBLOB_FRAME_TRY(f, decodeRows(rows, width, height, wide, ink, fused, &buffers[0]));
    int32_t current = 0;
    auto other = [&current] { return current == 1 ? 2 : 1; };
    for (int32_t i = fused ? 1 : 0; i < numPasses; ++i) {
        if (inkOf(passes[i]) != ink) {
            const int32_t next = other();
            CBLOB_FRAME_TRY(f, complementRows(buffers[current], width, height, &buffers[next]));
            current = next;
            ink ^= 1;
        }
        const int32_t next = other();
        const bool vertical = passes[i] == MorphPass::vMin || passes[i] == MorphPass::vMax;
        CBLOB_FRAME_TRY(f, erodePass(vertical, buffers[current], width, height, &buffers[next]));
        current = next;
    }
    CBLOB_FRAME_TRY(f, encodeRows(buffers[current], ink, width, height, dst));
    return f.exit();
}

}  // namespace cblob::rle
