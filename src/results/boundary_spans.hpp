// A blob's rows as sorted lists of spans, the form the boundary trace walks.
//
// Each row of the blob's box becomes the ordered list of its blob pixels as
// spans [start, end), x measured from the box's left; neighbouring runs of
// non-zero value in grey rows join into one span. Every row list is closed
// by a sentinel span whose start and end lie beyond every x, and an empty
// row above the box and one below it hold the sentinel alone, so the trace
// needs no tests for the first and the last row.
#ifndef CBLOB_RESULTS_BOUNDARY_SPANS_HPP
#define CBLOB_RESULTS_BOUNDARY_SPANS_HPP

#include <cstdint>

#include "cblob/rle_image.h"

namespace cblob::results {

constexpr int32_t kSpanSentinel = INT32_MAX;

struct BoundarySpans {
    int32_t *start = nullptr;  // span starts of all rows, each row closed by a sentinel
    int32_t *end = nullptr;    // span ends, in step with start
    int32_t *first = nullptr;  // first[r + 1]: the index of row r's first span, r = -1 .. height
    int32_t height = 0;
    int64_t stepBound = 0;     // no closed boundary of these pixels has more unit steps, plus 1
    double pixels = 0;         // with mass: the number of blob pixels
    double sumX = 0, sumY = 0; // with mass: the sums of their centres' x and y (box coordinates)
    void *memory = nullptr;    // the block holding the arrays, or null when they lie in the caller's buffer

    int32_t rowFirst(int32_t r) const { return first[r + 1]; }
    // The index of row r's sentinel.
    int32_t rowSentinel(int32_t r) const { return first[r + 2] - 1; }
};

// Builds the spans of `height` rows (binary rows alternating from their start
// flag, or grey rows with value bytes), and with `withMass` the pixel count
// and centre sums. The arrays go into the caller's `local` buffer (8-byte
// aligned, localBytes long) when they fit, so that small blobs allocate
// nothing, else into one block from the memory service, spans->memory,
// which the caller frees (csys_memory_free_internal; a frame's addMemory).
// Polls the attention check before rows 32, 64, 96, ...
// Statuses: the attention check's, memory failures (then spans->memory is null
// and the other fields are unspecified);
// a row holding more runs than its entry counts is a broken invariant
// (assert).
int32_t buildBoundarySpans(const cblob_rleRow *rows, int32_t height, bool grey, bool withMass, void *local,
                           int64_t localBytes, BoundarySpans *spans);

}  // namespace cblob::results

#endif
