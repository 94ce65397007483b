// Building a blob's spans from its rows, with the bound on its boundary
// steps: every row contributes two vertical edges per span, and between two
// neighbouring rows (and above the first and below the last) every pixel
// column covered by exactly one of them contributes one horizontal edge.
// Counting every pixel's top and bottom edge instead is a looser bound that
// costs nothing; the exact count is taken only when the loose one is large,
// since the bound sizes the chain's working memory.
#include "results/boundary_spans.hpp"

#include <cstdint>

#include "core/frame.hpp"
#include "rle/row_access.hpp"

namespace cblob::results {
namespace {

constexpr int32_t kPollRows = 32;
// Loose bounds up to this many steps are kept as they are.
constexpr int64_t kLooseBoundSteps = 1 << 14;

// Writes the spans of one grey row from index `at`, at most `room` of them,
// then the sentinel; neighbouring runs of non-zero value join. Returns the
// index after the sentinel, or -1 when the row holds more spans than room;
// *rowLength = the row's length in pixels.
int32_t greyRowSpans(const cblob_rleRow &row, int32_t at, int32_t room, BoundarySpans *s, int32_t *rowLength) {
    rle::RowReader reader(row, true);
    rle::Run run;
    int32_t x = 0, count = 0;
    bool open = false;  // the last span written may still grow
    while (count <= room && reader.next(run)) {
        const int32_t next = x + run.length;
        if (run.value == 0) {
            open = false;
        } else if (open) {
            s->end[at - 1] = next;
        } else if (++count <= room) {
            s->start[at] = x;
            s->end[at] = next;
            ++at;
            open = true;
        }
        x = next;
    }
    s->start[at] = kSpanSentinel;
    s->end[at] = kSpanSentinel;
    *rowLength = x;
    return count <= room ? at + 1 : -1;
}

// The same for a binary row: its runs alternate between gaps and blob
// pixels, so every blob run is a span of its own.
int32_t binaryRowSpans(const cblob_rleRow &row, int32_t at, int32_t room, BoundarySpans *s, int32_t *rowLength) {
    const uint8_t *p = row.runs;
    const int32_t last = at + room;
    int32_t x = 0;
    bool in = row.startValue != 0, full = false;
    while (p && !full) {
        const int32_t length = rle::readLength(p);
        if (length <= 0) break;
        if (in) {
            full = at == last;
            s->start[at] = x;
            s->end[at] = x + length;
            at += full ? 0 : 1;
        }
        x += length;
        in = !in;
    }
    s->start[at] = kSpanSentinel;
    s->end[at] = kSpanSentinel;
    *rowLength = x;
    return full ? -1 : at + 1;
}

// The pixels two sorted span lists share, each list ended by its sentinel.
int64_t overlap(const BoundarySpans &s, int32_t a, int32_t b) {
    int64_t shared = 0;
    while (s.start[a] != kSpanSentinel && s.start[b] != kSpanSentinel) {
        const int32_t lo = s.start[a] > s.start[b] ? s.start[a] : s.start[b];
        const int32_t hi = s.end[a] < s.end[b] ? s.end[a] : s.end[b];
        if (lo < hi) shared += hi - lo;
        if (s.end[a] < s.end[b]) {
            ++a;
        } else {
            ++b;
        }
    }
    return shared;
}

// Adds the row's pixels and their centres to the sums.
void addRowMass(BoundarySpans *s, int32_t from, int32_t to, int32_t y) {
    for (int32_t i = from; i < to; ++i) {
        const double n = static_cast<double>(s->end[i]) - s->start[i];
        s->pixels += n;
        s->sumX += n * (static_cast<double>(s->start[i]) + s->end[i]) / 2;
        s->sumY += n * (y + 0.5);
    }
}

// The bound on the steps of any closed boundary of the spans, end marker
// included: two vertical edges per span, and at most a top and a bottom
// edge per pixel column of each row. Where that exceeds kLooseBoundSteps,
// the exact count of boundary edges: the top and bottom edges of every
// pixel but those two neighbouring rows share.
int64_t stepBound(const BoundarySpans &s, int32_t width) {
    const int64_t spans = s.first[s.height + 1] - s.first[1] - s.height;
    int64_t bound = 1 + 2 * spans + 2 * static_cast<int64_t>(width) * s.height;
    if (bound > kLooseBoundSteps) {
        bound = 1 + 2 * spans;
        for (int32_t y = 0; y < s.height; ++y) {
            for (int32_t k = s.first[y + 1]; s.start[k] != kSpanSentinel; ++k) bound += 2 * (s.end[k] - s.start[k]);
            if (y > 0) bound -= 2 * overlap(s, s.first[y], s.first[y + 1]);
        }
    }
    return bound;
}

// Room: a span per two runs (rounded up) and a sentinel per row, the two
// empty rows around the box included. *bytes = what the arrays take.
int64_t spanCapacity(const cblob_rleRow *rows, int32_t height, int64_t *bytes) {
    int64_t capacity = static_cast<int64_t>(height) + 2;
    for (int32_t y = 0; y < height; ++y) capacity += (static_cast<int64_t>(rows[y].numRuns > 0 ? rows[y].numRuns : 0) + 1) / 2;
    *bytes = (static_cast<int64_t>(height) + 3 + 2 * capacity) * static_cast<int64_t>(sizeof(int32_t));
    return capacity;
}

// Fills the spans into `memory` (capacity spans); builds nothing, so it
// keeps no cleanup list and leaves at its one return.
int32_t fillSpans(const cblob_rleRow *rows, int32_t height, bool grey, bool withMass, void *memory,
                  int64_t capacity, BoundarySpans *spans) {
    // Written in place: a copy of the record at the end would stall on the
    // fields just stored.
    BoundarySpans &s = *spans;
    s.memory = nullptr;
    s.pixels = s.sumX = s.sumY = 0;
    s.first = static_cast<int32_t *>(memory);
    s.start = s.first + height + 3;
    s.end = s.start + capacity;
    s.height = height;
    // The empty row above the box.
    s.first[0] = 0;
    s.start[0] = s.end[0] = kSpanSentinel;
    int32_t at = 1, status = 0, width = 0;
    for (int32_t y = 0; y < height && status == 0; ++y) {
        if (y > 0 && y % kPollRows == 0) status = csys_attention_check();
        const int32_t from = at;
        s.first[y + 1] = from;
        const int32_t room = static_cast<int32_t>((static_cast<int64_t>(rows[y].numRuns > 0 ? rows[y].numRuns : 0) + 1) / 2);
        int32_t length = 0;
        at = grey ? greyRowSpans(rows[y], from, room, &s, &length) : binaryRowSpans(rows[y], from, room, &s, &length);
        width = length > width ? length : width;
        if (at < 0) {
            cstd_assert_(__LINE__);  // a row with more runs than its entry counts
            status = csys_err_assertFailed;
            break;
        }
        if (withMass) addRowMass(&s, from, at - 1, y);
    }
    if (status == 0) {
        // The empty row below the box and the end of the table.
        s.first[height + 1] = at;
        s.start[at] = s.end[at] = kSpanSentinel;
        s.first[height + 2] = at + 1;
        s.stepBound = stepBound(s, width);
    }
    return status;
}

// The spans in a new block from the memory service.
int32_t fillSpansInBlock(const cblob_rleRow *rows, int32_t height, bool grey, bool withMass, int64_t capacity,
                         int64_t bytes, BoundarySpans *spans) {
    cblob::Frame<1> f;
    CBLOB_FRAME_CHECK(f, capacity < INT32_MAX, csys_err_badSize);
    void *memory = nullptr;
    CBLOB_FRAME_TRY(f, allocate(bytes, &memory));
    const int32_t id = f.addMemory(&memory, csys_cleanup_resultMemory);
    CBLOB_FRAME_TRY(f, fillSpans(rows, height, grey, withMass, memory, capacity, spans));
    spans->memory = memory;
    f.handOver(id);
    return f.exit();
}

}  // namespace

int32_t buildBoundarySpans(const cblob_rleRow *rows, int32_t height, bool grey, bool withMass, void *local,
                           int64_t localBytes, BoundarySpans *spans) {
    CBLOB_REQUIRE_ARG(rows);
    CBLOB_REQUIRE_ARG(spans);
    CBLOB_REQUIRE_ARG(height >= 1);
    // Small blobs fill the caller's buffer and allocate nothing.
    int64_t bytes = 0;
    const int64_t capacity = spanCapacity(rows, height, &bytes);
    const int32_t status = local && bytes <= localBytes
                               ? fillSpans(rows, height, grey, withMass, local, capacity, spans)
                               : fillSpansInBlock(rows, height, grey, withMass, capacity, bytes, spans);
    return status;
}

}  // namespace cblob::results
