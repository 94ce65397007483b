// The trace of a blob's outer boundary along pixel edges, over its spans.
//
// The walk keeps the blob on its right: it starts at the top-left corner of
// the first span of the top row moving +x and ends when it comes back there.
// Four states say which edge it follows: R the top edge of a span (+x), D a
// right edge (+y), L a bottom edge (-x), U a left edge (-y). Where two spans
// of neighbouring rows touch only at a pixel corner, the diagonal switches
// say whether the walk passes from one to the other: `horizontal` for the
// corners met while moving along x, `vertical` for those met along y.
//
// The walk hands its steps to a sink: runs of horizontal steps and single
// vertical steps, with the position (box coordinates, a pixel corner) each
// starts from:
//   void horizontal(int32_t code, int32_t x, int32_t y, int32_t count);  code 0 (+x) or 1 (-x)
//   void vertical(int32_t code, int32_t x, int32_t y);                    code 2 (+y) or 3 (-y)
#ifndef CBLOB_RESULTS_BOUNDARY_TRACE_HPP
#define CBLOB_RESULTS_BOUNDARY_TRACE_HPP

#include <cstdint>

#include "cblob/sys.h"
#include "core/require.hpp"
#include "results/boundary_spans.hpp"

namespace cblob::results {

struct DiagonalRules {
    bool horizontal;  // corners met while moving along x connect
    bool vertical;    // corners met while moving along y connect
};

struct TraceCounts {
    int64_t horizontal = 0;  // steps along x
    int64_t vertical = 0;    // steps along y
    int64_t corners = 0;     // convex corners (turns to the right)
    int64_t steps() const { return horizontal + vertical; }
};

namespace trace_detail {

constexpr int64_t kPollVerticalSteps = 1 << 16;

// The first index of [from, sentinel] whose value is above x (strict) or at
// least x (!strict); the sentinel qualifies always.
inline int32_t firstAbove(const int32_t *values, int32_t from, int32_t sentinel, int32_t x, bool strict) {
    // Rows hold few spans as a rule: a short linear scan, else bisection.
    if (sentinel - from <= 8) {
        while (strict ? values[from] <= x : values[from] < x) ++from;
        return from;
    }
    int32_t lo = from, hi = sentinel;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (strict ? values[mid] <= x : values[mid] < x) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

// A broken invariant of the walk: reported, and the walk fails.
inline int32_t brokenWalk(int32_t line) {
    cstd_assert_(line);
    return csys_err_assertFailed;
}

}  // namespace trace_detail

// Walks the outer boundary of the spans' first span in the top row under
// the rules kHorizontal and kVertical. It builds nothing, so it keeps no cleanup list: every path ends at the one
// return with the walk's status.
// Statuses: the attention check's (polled every 65536 vertical steps);
// a walk longer than the spans' step bound is a broken invariant (assert).
template <bool kHorizontal, bool kVertical, class Sink>
int32_t traceSpansWith(const BoundarySpans &s, Sink &sink, TraceCounts *counts) {
    using trace_detail::firstAbove;
    enum class State { R, D, L, U, closed };
    const int32_t *start = s.start;
    const int32_t *end = s.end;
    const int32_t top = s.rowFirst(0);
    const int64_t bound = s.stepBound - 1;  // the end marker is no step
    TraceCounts n;
    int64_t nextPoll = trace_detail::kPollVerticalSteps;
    int32_t status = start[top] != kSpanSentinel ? 0 : trace_detail::brokenWalk(__LINE__);
    State state = State::R;
    int32_t r = 0, i = top, x = start[top];
    // Horizontal steps from x to `to`, and a vertical step; both check the bound.
#define CBLOB_TRACE_RUN(code, to)                                                        \
    do {                                                                                 \
        const int32_t count_ = (code) == 0 ? (to) - x : x - (to);                        \
        n.horizontal += count_;                                                          \
        if (n.steps() > bound) {                                                         \
            status = trace_detail::brokenWalk(__LINE__);                                 \
        } else {                                                                         \
            sink.horizontal((code), x, (code) == 0 ? r : r + 1, count_);                 \
        }                                                                                \
        x = (to);                                                                        \
    } while (0)
    while (status == 0 && state != State::closed) {
        switch (state) {
            case State::R: {
                // Along the top edge of span i: up into the next span above
                // that starts before the end of i (at its end: a corner).
                const int32_t j = firstAbove(start, s.rowFirst(r - 1), s.rowSentinel(r - 1), x, true);
                if (kHorizontal ? start[j] <= end[i] : start[j] < end[i]) {
                    CBLOB_TRACE_RUN(0, start[j]);
                    i = j;
                    --r;
                    state = State::U;
                } else {
                    CBLOB_TRACE_RUN(0, end[i]);
                    ++n.corners;
                    state = State::D;
                }
                break;
            }
            case State::L: {
                // Along the bottom edge of span i: down into the nearest span
                // below that ends after the start of i (at it: a corner).
                const int32_t below = s.rowFirst(r + 1);
                const int32_t j = firstAbove(end, below, s.rowSentinel(r + 1), x, true) - 1;
                if (j >= below && (kHorizontal ? start[i] <= end[j] : start[i] < end[j])) {
                    CBLOB_TRACE_RUN(1, end[j]);
                    i = j;
                    ++r;
                    state = State::D;
                } else {
                    CBLOB_TRACE_RUN(1, start[i]);
                    ++n.corners;
                    state = State::U;
                }
                break;
            }
            case State::D: {
                if (++n.vertical + n.horizontal > bound) {
                    status = trace_detail::brokenWalk(__LINE__);
                    break;
                }
                sink.vertical(2, x, r);
                // The span below that holds pixel x - 1 (and x: turn to +x;
                // ending at x: go on down), or holds x alone with diagonal contact.
                const int32_t below = s.rowFirst(r + 1);
                const int32_t j = firstAbove(start, below, s.rowSentinel(r + 1), x, kVertical) - 1;
                if (j >= below && end[j] >= x) {
                    i = j;
                    ++r;
                    if (x < end[j]) state = State::R;
                } else {
                    ++n.corners;
                    state = State::L;
                }
                break;
            }
            case State::U: {
                if (++n.vertical + n.horizontal > bound) {
                    status = trace_detail::brokenWalk(__LINE__);
                    break;
                }
                sink.vertical(3, x, r + 1);
                // The span above that holds pixel x - 1 (turn to -x), or one
                // that starts at x (go on up).
                const int32_t above = s.rowFirst(r - 1);
                const int32_t j = firstAbove(start, above, s.rowSentinel(r - 1), x, false);
                if (j > above && (kVertical ? end[j - 1] >= x : end[j - 1] > x)) {
                    i = j - 1;
                    --r;
                    state = State::L;
                } else if (start[j] == x) {
                    i = j;
                    --r;
                } else {
                    ++n.corners;
                    state = i == top ? State::closed : State::R;
                }
                break;
            }
            case State::closed:
                break;
        }
        if (n.vertical >= nextPoll && status == 0) {
            nextPoll += trace_detail::kPollVerticalSteps;
            status = csys_attention_check();
        }
    }
#undef CBLOB_TRACE_RUN
    if (status == 0) *counts = n;
    return status;
}

// The walk with the rules as constants, so that its comparisons need no
// tests of them.
template <class Sink>
int32_t traceSpans(const BoundarySpans &s, DiagonalRules rules, Sink &sink, TraceCounts *counts) {
    const int32_t status = rules.horizontal ? (rules.vertical ? traceSpansWith<true, true>(s, sink, counts)
                                                              : traceSpansWith<true, false>(s, sink, counts))
                                            : (rules.vertical ? traceSpansWith<false, true>(s, sink, counts)
                                                              : traceSpansWith<false, false>(s, sink, counts));
    return status;
}

}  // namespace cblob::results

#endif
