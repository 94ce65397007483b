// The standard connectivity scan: the frame of one call, the working tables,
// and the row walk that links each run to the runs above it.
//
// The walk, per run of the current row (a segment: a maximal stretch of one
// colour), visits the previous-row runs of its colour that it touches
// (objects 8-connected, background 4-connected) through a cursor that only
// moves forward. The first contact names the run's region; every further
// contact either merges another region into it (the older one, with the
// smaller label, survives) or, when it already is the run's region, closes
// off the other-colour region between the two contacts, which becomes a
// child of the run's region. Background runs at the left or right window
// edge belong to the outer region. A run without contact opens a region.
// After the row, previous-row regions no run continued are complete.
#include "connect/standard_scan.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "cblob/run_params.h"
#include "connect/banded_scan.hpp"
#include "connect/blob_record.hpp"
#include "connect/scan_rows.hpp"
#include "connect/scan_state.hpp"
#include "core/frame.hpp"

namespace cblob::connect {

namespace {

using scan::findRoot;
using scan::kOuterSlot;
using scan::ScanRow;
using scan::ScanState;
using scan::ScanTables;

constexpr int32_t kPollRowMask = 31;  // the attention check runs every 32 rows
constexpr int32_t kLabelMapStartSize = 1000;
constexpr int32_t kMaxWidth = INT32_MAX / 4 - 8;  // slot numbers for three rows of runs fit 32 bits

// ------------------------------------------------------------ working tables

// Byte offsets of the tables inside the one working block.
struct TableLayout {
    int64_t bytes = 0;
    int64_t ends[2], slots[2], segLabel, completing, segMass, segSumX, segSumXX;
    int64_t link, seenRow, rec, freeSlots, absorbed[2], rowBuffer, maskRow;

    int64_t take(int64_t size) {
        const int64_t at = bytes;
        bytes += (size + 7) & ~int64_t{7};
        return at;
    }
};

TableLayout layoutTables(int32_t maxSegments, int32_t maxSlots, bool weighted, int64_t rowBuffer, int64_t maskRow) {
    TableLayout l;
    const int64_t segs = maxSegments, slots = maxSlots;
    for (int i = 0; i < 2; ++i) {
        l.ends[i] = l.take((segs + 2) * 4);  // the leading 0 and the sentinel
        l.slots[i] = l.take(segs * 4);
        l.absorbed[i] = l.take((segs + 2) * 4);  // a row absorbs at most one region per previous run
    }
    l.segLabel = l.take(segs * 4);
    l.completing = l.take(segs * 4);
    l.segMass = l.take(weighted ? segs * 8 : 0);
    l.segSumX = l.take(weighted ? segs * 8 : 0);
    l.segSumXX = l.take(weighted ? segs * 8 : 0);
    l.link = l.take(slots * 4);
    l.seenRow = l.take(slots * 4);
    l.rec = l.take(slots * static_cast<int64_t>(sizeof(cblob_blob_internal_ *)));
    l.freeSlots = l.take(slots * 4);
    l.rowBuffer = l.take(rowBuffer);
    l.maskRow = l.take(maskRow);
    return l;
}

template <class T>
T *at(uint8_t *block, int64_t offset) {
    return reinterpret_cast<T *>(block + offset);
}

void bindTables(ScanTables &t, uint8_t *block, const TableLayout &l, int32_t maxSegments, int32_t maxSlots,
                bool weighted) {
    t.maxSegments = maxSegments;
    t.maxSlots = maxSlots;
    t.prevEnd = at<int32_t>(block, l.ends[0]) + 1;
    t.curEnd = at<int32_t>(block, l.ends[1]) + 1;
    t.prevEnd[-1] = 0;
    t.curEnd[-1] = 0;
    t.prevSlot = at<int32_t>(block, l.slots[0]);
    t.curSlot = at<int32_t>(block, l.slots[1]);
    t.segLabel = at<int32_t>(block, l.segLabel);
    t.completing = at<int32_t>(block, l.completing);
    if (weighted) {
        t.segMass = at<int64_t>(block, l.segMass);
        t.segSumX = at<double>(block, l.segSumX);
        t.segSumXX = at<double>(block, l.segSumXX);
    }
    t.link = at<int32_t>(block, l.link);
    t.seenRow = at<int32_t>(block, l.seenRow);
    t.rec = at<cblob_blob_internal_ *>(block, l.rec);
    t.freeSlots = at<int32_t>(block, l.freeSlots);
    for (int i = 0; i < 2; ++i) {
        t.absorbed[i] = at<int32_t>(block, l.absorbed[i]);
        t.absorbedCount[i] = 0;
    }
    // Slot 0 is the outer region's; the others are free, the lowest on top.
    t.freeCount = 0;
    for (int32_t slot = maxSlots - 1; slot > kOuterSlot; --slot) t.freeSlots[t.freeCount++] = slot;
    t.link[kOuterSlot] = kOuterSlot;
    t.seenRow[kOuterSlot] = -1;
}

// ----------------------------------------------------------------- the walk

// The previous row: its segments.
struct PreviousRow {
    int32_t count = 0;
    uint8_t firstColour = 0;
    bool hasOuter = true;  // one of its runs belongs to the outer region
};

// Terms of the run sums that depend only on the row y: y, the per-pixel
// (y + 1)^3 - y^3 = 3y^2 + 3y + 1, and 2y + 1.
struct RowTerms {
    double y, yCube, twoYPlusOne;
    explicit RowTerms(int32_t row)
        : y(row), yCube(3.0 * y * y + 3.0 * y + 1.0), twoYPlusOne(2.0 * y + 1.0) {}
};

// Adds the sums of one run (segment k of row y, [x0, x0 + len)) to a
// region. Over the run's pixels: sum of (2x + 1) = (2 x0 + L) L, sum of
// (x + 1)^3 - x^3 = L (3 x0 (x0 + L) + L^2). The weighted scan takes the
// weighted x-sums of the segment from the row.
template <bool Weighted, bool Moments>
inline void addRunSums(const ScanState &st, cblob_blob_internal_ *r, const ScanRow &row, int32_t k, int32_t x0,
                       int32_t length, const RowTerms &y) {
    const int64_t len = length;
    const int64_t xs = x0;
    const double plainX = static_cast<double>((2 * xs + len) * len);
    int64_t mass = len;
    double sumX = plainX;
    if constexpr (Weighted) {
        mass = row.mass[k];
        sumX = row.sumX[k];
        r->pixelCount += len;
    }
    const double m = static_cast<double>(mass);
    r->mass += mass;
    r->sumX += sumX;
    r->sumY += m * y.y;
    if constexpr (Moments) {
        const double plainXX = static_cast<double>(len) * static_cast<double>(3 * xs * (xs + len) + len * len);
        r->sumXX += Weighted ? row.sumXX[k] : plainXX;
        r->sumYY += m * y.yCube;
        r->sumXY += y.twoYPlusOne * sumX;
        if (Weighted && st.plainSums) {
            r->plainSumXX += plainXX;
            r->plainSumYY += static_cast<double>(len) * y.yCube;
            r->plainSumXY += y.twoYPlusOne * plainX;
        }
    }
    if (Weighted && st.plainSums) {
        r->plainSumX += plainX;
        r->plainSumY += static_cast<double>(len) * y.y;
    }
}

// The sums of one run of the binary scan, [x0, x0 + length) in row y, as
// addRunSums adds them (to a region that had none, the same values).
template <bool Moments>
inline scan::RunSums binaryRunSums(int32_t x0, int32_t length, const RowTerms &y) {
    const int64_t len = length;
    const int64_t xs = x0;
    scan::RunSums s;
    s.mass = len;
    s.sumX = static_cast<double>((2 * xs + len) * len);
    const double m = static_cast<double>(len);
    s.sumY = m * y.y;
    if constexpr (Moments) {
        s.sumXX = static_cast<double>(len) * static_cast<double>(3 * xs * (xs + len) + len * len);
        s.sumYY = m * y.yCube;
        s.sumXY = y.twoYPlusOne * s.sumX;
    }
    return s;
}

// Grows a region's box (not empty) sideways by the run [x0, x1). The bottom
// is not written per run: a live region's last row is the one its slot was
// last continued in, and a region completes exactly one row after its last
// run, so endRow sets the height then. Until that, a live region's height
// may lag behind (merges carry it along as they do the rest of the box);
// nothing reads it before completion.
inline void addRunBox(cblob_blob_internal_ *r, int32_t x0, int32_t x1) {
    const int32_t right = r->left + r->width > x1 ? r->left + r->width : x1;
    const int32_t left = x0 < r->left ? x0 : r->left;
    r->left = left;
    r->width = right - left;
}

// The slow paths of the walk return a slot (0 or more) or a failure status
// (bit 31 set, so below 0), which keeps the walk's own variables out of
// memory.

// In a band below the first, a merge of two regions that both touch the
// band's first row may join regions that already meet above the band; the
// seam join replays these merges (scan_state.hpp, SeamTables). `between` is
// the region of the other colour between the run's earlier contacts and
// this one (null when there is none).
void logSeamMerge(ScanState &st, const cblob_blob_internal_ *a, const cblob_blob_internal_ *b,
                  const cblob_blob_internal_ *between) {
    if (a->seamState != scan::kSeamTouching || b->seamState != scan::kSeamTouching) return;
    scan::SeamTables &seam = *st.seam;
    int32_t *entry = seam.log + 3 * static_cast<int64_t>(seam.logCount++);
    entry[0] = a->label - st.labelBase;
    entry[1] = b->label - st.labelBase;
    const bool closes = between && between != st.outer && between->seamState == scan::kSeamTouching;
    entry[2] = closes ? between->label - st.labelBase : -1;
}

// Merges the regions of two root slots; the older region survives and its
// slot becomes the root of both. `between`: the root slot of the region of
// the other colour just left of the contact, or -1 (banded scans log it).
// Returns that slot or the failure.
int32_t mergeSlots(ScanState &st, int32_t a, int32_t b, int32_t between = -1) {
    ScanTables &t = st.t;
    if (st.seam) logSeamMerge(st, t.rec[a], t.rec[b], between >= 0 ? t.rec[between] : nullptr);
    if (t.rec[b]->label < t.rec[a]->label) {
        const int32_t swap = a;
        a = b;
        b = swap;
    }
    const int32_t status = scan::mergeRegion(st, t.rec[a], t.rec[b]);
    if (CBLOB_FAILED(status)) return status;
    t.link[b] = a;
    t.absorbed[1][t.absorbedCount[1]++] = b;
    return a;
}

// Opens a region for the run [x0, x1) of colour c in row y, in a free slot,
// with the sums `first` when given (else zero). Returns the slot or the
// failure.
int32_t openSlot(ScanState &st, int32_t colour, int32_t x0, int32_t x1, int32_t y,
                 const scan::RunSums *first = nullptr) {
    ScanTables &t = st.t;
    cblob_blob_internal_ *region = nullptr;
    const int32_t status = scan::openRegion(st, static_cast<uint8_t>(colour), x0, x1, y, &region, first);
    if (CBLOB_FAILED(status)) return status;
    CBLOB_REQUIRE_ARG(t.freeCount > 0);  // the slot bound holds
    const int32_t slot = t.freeSlots[--t.freeCount];
    t.link[slot] = slot;
    t.rec[slot] = region;
    return slot;
}

// The contacts of a run after its first, from same-colour previous segment
// i on, with the run's region in slot r: each is merged into r, or, when it
// already is r's region, closes off the other-colour region just left of
// it. Returns the run's slot after the merges or the failure.
int32_t furtherContacts(ScanState &st, int32_t i, int32_t high, int32_t x0, int32_t r) {
    ScanTables &t = st.t;
    for (; t.prevEnd[i - 1] <= high && r >= 0; i += 2) {
        const int32_t q = findRoot(t.link, t.prevSlot[i]);
        if (q == r) {
            if (st.keepTree && t.prevEnd[i - 1] > x0) {
                encloseRegion(st, t.rec[r], t.rec[findRoot(t.link, t.prevSlot[i - 1])]);
            }
        } else {
            const int32_t between =
                st.seam && t.prevEnd[i - 1] > x0 ? findRoot(t.link, t.prevSlot[i - 1]) : -1;
            r = mergeSlots(st, r, q, between);
        }
    }
    return r;
}

// Moves the cursor to the first previous segment that reaches past column
// `low` and returns the first segment of colour C from there.
template <int32_t C>
inline int32_t firstCandidate(const int32_t *prevEnd, int32_t prevFirstColour, int32_t low, int32_t &cursor) {
    while (prevEnd[cursor] <= low) ++cursor;
    return cursor + ((prevFirstColour ^ cursor ^ C) & 1);
}

// One row's walk over the previous row. Both end tables hold 0 before their
// first segment, and the previous row's holds INT32_MAX after its last, so
// previous segment i spans [prevEnd[i - 1], prevEnd[i]) for every i the walk
// reaches: a walk over same-colour segments ends at the first one that
// starts beyond the run's reach, at the latest at the sentinel. An object
// run's reach to the right is capped at the last column, which covers the
// same segments as the cap at the width.
//
// Per run of colour c at [x0, x1): the cursor moves to the first previous
// segment that reaches past the run's left reach (objects are 8-connected:
// x0 - 1 .. x1; background 4-connected: x0 .. x1 - 1); the first
// same-colour segment from there that the run touches names its region;
// every further one is merged into it or closes off a region inside it. A
// run without contact opens a region. The first and the last run carry the
// edge rules; the runs between alternate in colour and take the lean path.
template <bool Weighted, bool Moments>
class RowWalk {
public:
    RowWalk(ScanState &st, const ScanRow &row, int32_t y, const PreviousRow &prev, bool deferSums)
        : st_(st), row_(row), prev_(prev), terms_(y), y_(y), deferSums_(!Weighted && deferSums) {}

    int32_t run() {
        const int32_t last = row_.count - 1;
        int32_t cursor = edgeRun(0, 0);
        if (cursor < 0 || last == 0) return cursor < 0 ? cursor : 0;
        // Locals, so that they stay in registers.
        ScanTables &t = st_.t;
        const int32_t *end = row_.end;
        const int32_t *prevEnd = t.prevEnd;
        const int32_t *prevSlot = t.prevSlot;
        const int32_t prevFirst = prev_.firstColour;
        int32_t *link = t.link;
        int32_t k = 1;
        int32_t x0 = end[0];
        int32_t status = 0;
        // One run of the lean path: returns its slot or the failure.
        auto inner = [&](auto colour, int32_t x1) {
            constexpr int32_t C = decltype(colour)::value;
            const int32_t high = C ? x1 : x1 - 1;
            int32_t i = firstCandidate<C>(prevEnd, prevFirst, x0 - C, cursor);
            if (prevEnd[i - 1] > high) {
                if constexpr (!Weighted) {
                    // A region opened for this run starts with the run's sums.
                    if (!deferSums_) {
                        const scan::RunSums first = binaryRunSums<Moments>(x0, x1 - x0, terms_);
                        const int32_t r = openSlot(st_, C, x0, x1, y_, &first);
                        if (r >= 0) continueSlot(k, r);
                        return r;
                    }
                }
                const int32_t r = openSlot(st_, C, x0, x1, y_);
                if (r >= 0) join(k, r, x0, x1, true);
                return r;
            }
            int32_t r = findRoot(link, prevSlot[i]);
            i += 2;
            if (prevEnd[i - 1] <= high) r = furtherContacts(st_, i, high, x0, r);
            if (r >= 0) join(k, r, x0, x1, false);
            return r;
        };
        using Object = std::integral_constant<int32_t, 1>;
        using Background = std::integral_constant<int32_t, 0>;
        if (row_.firstColour == 0 && k < last) {  // run 1 is an object run
            status = inner(Object{}, end[k]);
            x0 = end[k++];
        }
        while (status >= 0 && k + 1 < last) {
            status = inner(Background{}, end[k]);
            x0 = end[k++];
            if (status < 0) break;
            status = inner(Object{}, end[k]);
            x0 = end[k++];
        }
        if (status >= 0 && k < last) status = inner(Background{}, end[k]);
        if (status < 0) return status;
        const int32_t r = edgeRun(last, cursor);
        return r < 0 ? r : 0;
    }

private:
    // Run k joins slot r: its region is continued in this row, and, unless
    // it is the outer region (whose sums are never read), gets the run's sums
    // and box (the box is already the run's when the region was opened for
    // it), or, when the row's sums are deferred, gets them after the row
    // (see endStreak).
    void join(int32_t k, int32_t r, int32_t x0, int32_t x1, bool opened) {
        continueSlot(k, r);
        ScanTables &t = st_.t;
        if (r == kOuterSlot || deferSums_) return;
        cblob_blob_internal_ *region = t.rec[r];
        addRunSums<Weighted, Moments>(st_, region, row_, k, x0, x1 - x0, terms_);
        if (!opened) addRunBox(region, x0, x1);
    }

    // Run k names slot r: the slot's region is continued in this row.
    void continueSlot(int32_t k, int32_t r) {
        ScanTables &t = st_.t;
        t.seenRow[r] = y_;
        t.curSlot[k] = r;
    }

    // The first or the last run of the row (cursor where the walk stands),
    // with the edge rules: background at the left or right window edge
    // belongs to the outer region, and at the right edge it closes off the
    // region of the previous row's last run. Returns the cursor or the
    // failure.
    int32_t edgeRun(int32_t k, int32_t cursor) {
        ScanTables &t = st_.t;
        const int32_t width = st_.settings->width;
        const int32_t colour = row_.firstColour ^ (k & 1);
        const bool object = colour != 0;
        const int32_t x0 = row_.end[k - 1];
        const int32_t x1 = row_.end[k];
        const int32_t high = object ? (x1 < width - 1 ? x1 : width - 1) : x1 - 1;
        int32_t i = object ? firstCandidate<1>(t.prevEnd, prev_.firstColour, x0 - 1, cursor)
                           : firstCandidate<0>(t.prevEnd, prev_.firstColour, x0, cursor);
        int32_t r = -1;
        bool contact = true;
        if (!object && x0 == 0) {
            r = kOuterSlot;
        } else if (t.prevEnd[i - 1] <= high) {
            r = findRoot(t.link, t.prevSlot[i]);
            i += 2;
        } else {
            contact = false;
        }
        if (contact) {
            r = furtherContacts(st_, i, high, x0, r);
            if (r < 0) return r;
        }
        const bool rightEdge = !object && x1 == width;
        bool opened = false;
        if (!contact) {
            if (rightEdge) {
                r = kOuterSlot;
            } else {
                r = openSlot(st_, colour, x0, x1, y_);
                if (r < 0) return r;
                opened = true;
            }
        } else if (rightEdge && r != kOuterSlot) {
            r = mergeSlots(st_, kOuterSlot, r);
            if (r < 0) return r;
        }
        if (rightEdge && st_.keepTree) {
            const int32_t lastSlot = findRoot(t.link, t.prevSlot[prev_.count - 1]);
            if (lastSlot != kOuterSlot && t.seenRow[lastSlot] != y_) {
                encloseRegion(st_, st_.outer, t.rec[lastSlot]);
            }
        }
        join(k, r, x0, x1, opened);
        return cursor;
    }

    ScanState &st_;
    const ScanRow &row_;
    const PreviousRow &prev_;
    const RowTerms terms_;
    const int32_t y_;
    const bool deferSums_;  // binary scan only
};

// A row whose segments are exactly those of the row above (same colours,
// same ends) continues every region of that row and nothing else: each run
// touches only the segment right above it (the neighbours of that segment,
// of the same colour, lie at least one pixel of the other colour away, which
// keeps them out of an object run's diagonal reach too), so there is no
// merge, no enclosure, no new region, no completion, and the edge runs are
// the outer region's as they were above. Vertical structure (parts with
// straight edges, strokes, codes, blocky noise) makes such rows common.
//
// A streak of repeated rows therefore leaves the previous row's tables as
// they are: the first repeated row replaces the previous row's slots by
// their roots (so that the slots absorbed during the last walked row can
// be freed), and no slot, table or box changes after that. The last-continued
// rows of the regions are not written either: they are only ever compared
// with the row being walked.
//
// Run sums: the weighted scan, whose runs can weigh differently from row to
// row, adds them row by row. The binary scan adds those of the repeated rows
// at once, when the streak ends: the same runs, the same x-sums, and the
// y-sums of the streak's rows. Where rows repeat, a walked row is likely to
// be followed by repeats too, so after a streak with repeats the binary scan
// defers the sums of the next walked row as well, into the streak it
// starts: the walk then does no arithmetic and stores nothing into the
// region records, and each run's sums are added once for all the rows of
// its streak. The streak ends before the next walk, which may merge or
// complete the regions. Elsewhere (single-pixel noise, say) the walk adds
// the sums itself, which costs less than a second pass over the row.
bool repeatsPreviousRow(const ScanTables &t, const ScanRow &row, const PreviousRow &prev) {
    return row.count == prev.count && row.firstColour == prev.firstColour &&
           std::memcmp(row.end, t.prevEnd, static_cast<size_t>(row.count) * sizeof(int32_t)) == 0;
}

// The rows whose run sums wait (binary scan), the sums of their RowTerms,
// how many rows repeated the walked row, and whether the previous row's
// slots are roots yet.
struct RepeatStreak {
    int32_t rows = 0;
    int32_t repeats = 0;
    double y = 0.0, yCube = 0.0, twoYPlusOne = 0.0;
    bool rooted = false;
    void add(int32_t row) {
        const RowTerms terms(row);
        ++rows;
        y += terms.y;
        yCube += terms.yCube;
        twoYPlusOne += terms.twoYPlusOne;
    }
};

template <bool Weighted, bool Moments>
void continueRepeatedRow(ScanState &st, const ScanRow &row, int32_t y, RepeatStreak &streak) {
    ScanTables &t = st.t;
    int32_t *prevSlot = t.prevSlot;
    if (!streak.rooted) {
        for (int32_t k = 0; k < row.count; ++k) prevSlot[k] = findRoot(t.link, prevSlot[k]);
        streak.rooted = true;
    }
    ++streak.repeats;
    if constexpr (Weighted) {
        const RowTerms terms(y);
        int32_t x0 = 0;
        for (int32_t k = 0; k < row.count; ++k) {
            const int32_t x1 = row.end[k];
            const int32_t r = prevSlot[k];
            if (r != kOuterSlot) addRunSums<true, Moments>(st, t.rec[r], row, k, x0, x1 - x0, terms);
            x0 = x1;
        }
    } else {
        streak.add(y);
    }
}

// Ends a streak: in the binary scan, each run of the streak's row (the
// previous row's segments) adds its box and its sums for all the streak's
// rows: L pixels a row, the same x-sums every row, and the y-sums of the
// rows.
template <bool Weighted, bool Moments>
void endStreak(ScanState &st, int32_t count, RepeatStreak &streak) {
    if (!Weighted && streak.rows > 0) {
        ScanTables &t = st.t;
        const double rows = streak.rows;
        for (int32_t k = 0; k < count; ++k) {
            const int32_t slot = findRoot(t.link, t.prevSlot[k]);
            if (slot == kOuterSlot) continue;
            cblob_blob_internal_ *r = t.rec[slot];
            const int32_t x0 = t.prevEnd[k - 1];
            const int32_t x1 = t.prevEnd[k];
            const int64_t xs = x0;
            const int64_t len = x1 - x0;
            const double plainX = static_cast<double>((2 * xs + len) * len);
            const double l = static_cast<double>(len);
            r->mass += len * static_cast<int64_t>(streak.rows);
            r->sumX += plainX * rows;
            r->sumY += l * streak.y;
            if constexpr (Moments) {
                r->sumXX += l * static_cast<double>(3 * xs * (xs + len) + len * len) * rows;
                r->sumYY += l * streak.yCube;
                r->sumXY += plainX * streak.twoYPlusOne;
            }
            addRunBox(r, x0, x1);
        }
    }
    streak = RepeatStreak{};
}

// The slots absorbed during the previous row go back to the free stack:
// no run names them any more.
void recycleAbsorbed(ScanTables &t) {
    for (int32_t i = 0; i < t.absorbedCount[0]; ++i) t.freeSlots[t.freeCount++] = t.absorbed[0][i];
    int32_t *swap = t.absorbed[0];
    t.absorbed[0] = t.absorbed[1];
    t.absorbed[1] = swap;
    t.absorbedCount[0] = t.absorbedCount[1];
    t.absorbedCount[1] = 0;
}

// A region of a band that touches the band's first row and completes in the
// band may still continue above it: the seam join decides.
void holdForSeam(ScanState &st, cblob_blob_internal_ *region, int32_t y) {
    scan::SeamTables &seam = *st.seam;
    region->seamState = scan::kSeamHeld;
    seam.held[seam.heldCount] = region;
    seam.heldRow[seam.heldCount++] = y;
}

// After the walk of row y: the previous row's regions that no run continued
// are complete, in the order of their first runs (the outer region last),
// the slots absorbed during the previous row go back to the free stack, and
// the current row becomes the previous one.
//
// Which regions no run continued is data-dependent (on noise, about one
// previous-row segment in seven), so the search first collects their slots
// without a branch on it, and only then completes them.
int32_t endRow(ScanState &st, int32_t y, const ScanRow &row, PreviousRow &prev) {
    ScanTables &t = st.t;
    int32_t *link = t.link;
    int32_t *seenRow = t.seenRow;
    const int32_t *prevSlot = t.prevSlot;
    int32_t *completing = t.completing;
    int32_t candidates = 0;
    for (int32_t i = 0; i < prev.count; ++i) {
        const int32_t slot = findRoot(link, prevSlot[i]);
        completing[candidates] = slot;
        candidates += (slot != kOuterSlot) & (seenRow[slot] != y);
    }
    for (int32_t c = 0; c < candidates; ++c) {
        const int32_t slot = completing[c];
        if (seenRow[slot] == y) continue;  // one of its earlier segments completed it
        seenRow[slot] = y;  // its later runs are passed over
        cblob_blob_internal_ *region = t.rec[slot];
        region->height = y - region->top;  // its last run lies in row y - 1
        int32_t status = 0;
        if (region->seamState == scan::kSeamTouching) {
            holdForSeam(st, region, y);
        } else {
            // Without cleanup a complete region is finished at once.
            status = st.cleanup == cblob_connectivityCleanupNone ? scan::finishRegion(st, region)
                                                                 : scan::completeRegion(st, region);
        }
        if (CBLOB_FAILED(status)) return status;
        t.freeSlots[t.freeCount++] = slot;
    }
    if (prev.hasOuter && seenRow[kOuterSlot] != y) {
        const int32_t status = scan::completeOuter(st);
        if (CBLOB_FAILED(status)) return status;
    }
    prev.hasOuter = seenRow[kOuterSlot] == y;
    recycleAbsorbed(t);
    int32_t *swap = t.prevEnd;
    t.prevEnd = t.curEnd;
    t.curEnd = swap;
    swap = t.prevSlot;
    t.prevSlot = t.curSlot;
    t.curSlot = swap;
    prev.count = row.count;
    prev.firstColour = row.firstColour;
    return 0;
}

// The first row of a band below the first: nothing lies above it yet, so
// each of its runs opens a region of its own that touches the seam (the
// seam join links them to the band above), except background at the window
// edges, which belongs to the band's outer region. The seam tables record
// the row and the local label of each run.
template <bool Weighted, bool Moments>
int32_t openTopRow(ScanState &st, const ScanRow &row, int32_t y) {
    ScanTables &t = st.t;
    scan::SeamTables &seam = *st.seam;
    const int32_t width = st.settings->width;
    const RowTerms terms(y);
    int32_t x0 = 0;
    int32_t colour = row.firstColour;
    for (int32_t k = 0; k < row.count; ++k, colour ^= 1) {
        const int32_t x1 = row.end[k];
        int32_t slot = kOuterSlot;
        if (colour != 0 || (x0 > 0 && x1 < width)) {
            slot = openSlot(st, colour, x0, x1, y);
            if (slot < 0) return slot;
            cblob_blob_internal_ *region = t.rec[slot];
            region->seamState = scan::kSeamTouching;
            const int32_t local = region->label - st.labelBase;
            seam.rec[local] = region;
            seam.link[local] = local;
            seam.opened = local;
            addRunSums<Weighted, Moments>(st, region, row, k, x0, x1 - x0, terms);
        }
        seam.firstEnd[k] = x1;
        seam.firstLabel[k] = t.rec[slot]->label - st.labelBase;
        t.seenRow[slot] = y;
        t.curSlot[k] = slot;
        x0 = x1;
    }
    seam.firstCount = row.count;
    seam.firstColour = row.firstColour;
    return 0;
}

// The last row a scan reads: its segments are the previous row's tables
// when the scan ends.
struct LastRow {
    int32_t count = 0;
    uint8_t firstColour = 0;
};

// Rows rowBegin .. rowEnd - 1 of the source, then, when the scan closes, the
// closing row of background.
template <bool Weighted, bool Moments>
int32_t scanRows(ScanState &st, const scan::RowSource &source, LastRow *last) {
    ScanTables &t = st.t;
    const int32_t width = st.settings->width;
    const int32_t height = st.settings->height;
    const int32_t stop = st.closing ? height : st.rowEnd - 1;
    const bool openTop = st.seam != nullptr;
    const bool labelSlots = source.hasLabelSlots();
    // The frame: above row 0 lies one background run of the outer region.
    t.prevEnd[0] = width;
    t.prevEnd[1] = INT32_MAX;
    t.prevSlot[0] = kOuterSlot;
    t.rec[kOuterSlot] = st.outer;
    RepeatStreak streak;
    bool deferSums = false;  // the last walked row's sums wait for its streak
    PreviousRow prev;
    prev.count = 1;
    prev.firstColour = 0;
    prev.hasOuter = true;
    for (int32_t y = st.rowBegin; y <= stop; ++y) {
        ScanRow row;
        row.end = t.curEnd;
        row.mass = t.segMass;
        row.sumX = t.segSumX;
        row.sumXX = t.segSumXX;
        bool repeated = false;
        if (y < height) {
            if ((y & kPollRowMask) == 0) {
                const int32_t status = csys_attention_check();
                if (CBLOB_FAILED(status)) return status;
            }
            // A window row with the pixels of the row above is not even
            // segmented: its segments are the previous row's.
            repeated = !Weighted && y > st.rowBegin && source.repeatsRowAbove(y);
            if (repeated) {
                row.count = prev.count;
                row.firstColour = prev.firstColour;
            } else {
                source.read(y, row, Weighted, st.plainSums);
            }
        } else {
            row.count = 1;
            row.firstColour = 0;
            row.end[0] = width;
        }
        if (!repeated) {
            // The sentinel the next row's walk stops at.
            row.end[row.count] = INT32_MAX;
            if (openTop && y == st.rowBegin) {
                const int32_t status = openTopRow<Weighted, Moments>(st, row, y);
                if (CBLOB_FAILED(status)) return status;
                // Nothing lies above: nothing completes after the row.
                prev.count = 0;
                prev.hasOuter = false;
                const int32_t ended = endRow(st, y, row, prev);
                if (CBLOB_FAILED(ended)) return ended;
                continue;
            }
            repeated = repeatsPreviousRow(t, row, prev);
        }
        if (repeated) {
            continueRepeatedRow<Weighted, Moments>(st, row, y, streak);
        } else {
            deferSums = streak.repeats > 0;
            endStreak<Weighted, Moments>(st, prev.count, streak);
            const int32_t status = RowWalk<Weighted, Moments>(st, row, y, prev, deferSums).run();
            if (CBLOB_FAILED(status)) return status;
        }
        if (y < height && labelSlots) {
            const int32_t *slots = repeated ? t.prevSlot : t.curSlot;
            for (int32_t k = 0; k < row.count; ++k) t.segLabel[k] = t.rec[findRoot(t.link, slots[k])]->label;
            source.writeLabels(y, row, t.segLabel);
        }
        if (repeated) {
            recycleAbsorbed(t);
        } else {
            const int32_t status = endRow(st, y, row, prev);
            if (CBLOB_FAILED(status)) return status;
            // A walked row with deferred sums starts the streak.
            if (!Weighted && deferSums && y < height) streak.add(y);
        }
    }
    endStreak<Weighted, Moments>(st, prev.count, streak);
    last->count = prev.count;
    last->firstColour = prev.firstColour;
    return 0;
}

template <bool Weighted>
int32_t scanRowsFor(ScanState &st, const scan::RowSource &source, LastRow *last) {
    return st.moments ? scanRows<Weighted, true>(st, source, last) : scanRows<Weighted, false>(st, source, last);
}

}  // namespace

namespace scan {

void initScanState(ScanState &st, const ScanSettings &settings, BlobInternalPool *pool, cblob_resultSet *rs) {
    st.settings = &settings;
    st.pool = pool;
    st.rs = rs;
    st.blobBlocks = &rs->blobBlocks;
    st.numBlobs = &rs->numBlobs;
    st.spares = settings.spareBlobBlocks;
    st.rowBegin = 0;
    st.rowEnd = settings.height;
    st.closing = true;
    st.cleanup = settings.connectivityCleanup;
    st.keepTree = settings.computeTopology || st.cleanup == cblob_connectivityCleanupPrune ||
                  st.cleanup == cblob_connectivityCleanupFill;
    st.moments = settings.computeSecondMoments;
    st.weighted = settings.weighted;
    st.plainSums = settings.weighted && st.cleanup == cblob_connectivityCleanupFill;
    st.minArea = static_cast<uint32_t>(settings.minArea);
    st.scaleVal = settings.scaleVal;
    st.originX = settings.originX;
    st.originY = settings.originY;
    st.labelMap = settings.labelMap;
    st.blobLabels = settings.blobLabels;
    st.firstTopLevelBefore = rs->firstTopLevelBlob;
}

}  // namespace scan

namespace {

using scan::initScanState;

// The label map starts with kLabelMapStartSize entries; the outer region is
// label 0.
int32_t startLabelMap(ScanState &st) {
    if (!st.labelMap) return 0;
    int32_t size = 0;
    int32_t status = cstd_vector32s_getSize(st.labelMap, &size);
    if (!CBLOB_FAILED(status) && size < kLabelMapStartSize) {
        status = cstd_vector32s_resize(st.labelMap, kLabelMapStartSize);
    }
    if (!CBLOB_FAILED(status)) status = scan::setLabelMapEntry(st, 0, 0);
    return status;
}

// A band's last row for the seam join: its segment ends and the region of
// each segment, whose box reaches down to the row (the scan sets the height
// of a live region only when it completes).
void keepLastRow(const ScanState &st, const LastRow &last, BandScan *band) {
    const ScanTables &t = st.t;
    band->lastCount = last.count;
    band->lastColour = last.firstColour;
    for (int32_t i = 0; i < last.count; ++i) {
        band->lastEnd[i] = t.prevEnd[i];
        cblob_blob_internal_ *region = t.rec[findRoot(t.link, t.prevSlot[i])];
        band->lastRec[i] = region;
        if (region != st.outer) region->height = st.rowEnd - region->top;
    }
}

// The rows of a scan with its working tables: the outer region (of the
// band, for a band), then the rows. A band keeps its last row.
int32_t scanWithTables(const ScanSource &source, const ScanSettings &settings, const ScanScratch &scratch,
                       ScanState &st, BandScan *band) {
    Frame<1> f;
    // Working tables: at most width segments a row (plus room for the
    // frame); slots for the outer region and one per run of three rows (see
    // scan_state.hpp), with a margin.
    // The tables are indexed in 32 bits: rows wider than about 715 million
    // pixels give the size status.
    CBLOB_FRAME_CHECK(f, 3 * (static_cast<int64_t>(settings.width) + 2) + 8 <= INT32_MAX, csys_err_badSize);
    const int32_t maxSegments = settings.width + 2;
    const int32_t maxSlots = 3 * maxSegments + 8;
    const int64_t ownRowBuffer =
        scan::needsRowBuffer(source) && !scratch.rowBuffer ? scan::rowBufferBytes(settings.width) : 0;
    const int64_t ownMaskRow = scan::needsMaskRow(source) && !scratch.maskRow ? settings.width : 0;
    const TableLayout layout = layoutTables(maxSegments, maxSlots, settings.weighted, ownRowBuffer, ownMaskRow);
    uint8_t *block = nullptr;
    CBLOB_FRAME_TRY(f, allocate(layout.bytes, &block));
    f.addMemory(&block, csys_cleanup_tempMemory);
    bindTables(st.t, block, layout, maxSegments, maxSlots, settings.weighted);
    uint8_t *rowBuffer = ownRowBuffer ? block + layout.rowBuffer : scratch.rowBuffer;
    uint8_t *maskRow = ownMaskRow ? block + layout.maskRow : scratch.maskRow;

    scan::RowSource rows;
    CBLOB_FRAME_TRY(f, rows.bind(source, settings, rowBuffer, maskRow));

    // The outer region: background, the root of the region tree, with the
    // scan's first label (0 for the whole window or the first band).
    st.nextLabel = st.labelBase;
    CBLOB_FRAME_TRY(f, scan::openRegion(st, 0, 0, 0, 0, &st.outer));
    if (st.seam) {
        // The band's outer region touches the seam (its edge runs in the
        // first row), as local label 0.
        st.outer->seamState = scan::kSeamTouching;
        st.seam->rec[0] = st.outer;
        st.seam->link[0] = 0;
        st.seam->opened = 0;
        st.seam->logCount = 0;
        st.seam->heldCount = 0;
    }
    CBLOB_FRAME_TRY(f, scan::bindBlobBlock(st));
    st.firstBlobIndex = *st.numBlobs;
    LastRow last;
    CBLOB_FRAME_TRY(f, settings.weighted ? scanRowsFor<true>(st, rows, &last) : scanRowsFor<false>(st, rows, &last));
    if (band) {
        band->outer = st.outer;
        if (!st.closing) keepLastRow(st, last, band);
    }
    return f.exit();
}

}  // namespace

int32_t scanStandard(const ScanSource &source, const ScanSettings &settings, BlobInternalPool *pool,
                     const ScanScratch &scratch, cblob_resultSet *rs) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, pool);
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_TRY(f, scan::validateRowSource(source, settings));
    CBLOB_FRAME_CHECK(f, settings.scaleVal >= 1, cblob_err_badScaleVal);
    CBLOB_FRAME_CHECK(f, settings.width <= kMaxWidth, csys_err_badSize);

    ScanState st;
    initScanState(st, settings, pool, rs);
    CBLOB_FRAME_TRY(f, ensureBlobBlocksFrom(&rs->blobBlocks, settings.spareBlobBlocks));
    CBLOB_FRAME_TRY(f, scan::prepareClientXform(st));
    CBLOB_FRAME_TRY(f, startLabelMap(st));
    if (settings.width == 0 || settings.height == 0) return f.exit();  // no pixel, no blob
    CBLOB_FRAME_TRY(f, scanWithTables(source, settings, scratch, st, nullptr));
    CBLOB_FRAME_TRY(f, scan::endScan(st));
    return f.exit();
}

int32_t scanBand(const ScanSource &source, const ScanSettings &settings, cblob_resultSet *rs, BandScan *band) {
    Frame<0> f;
    CBLOB_FRAME_REQUIRE(f, band);
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_REQUIRE(f, !settings.labelMap && !settings.blobLabels);
    ScanState st;
    // The result set is the blobs' owner and holds their shared transform;
    // the band writes neither.
    initScanState(st, settings, band->pool, rs);
    st.blobBlocks = &band->blocks;
    st.numBlobs = &band->numBlobs;
    st.spares = band->spares;
    st.rowBegin = band->rowBegin;
    st.rowEnd = band->rowEnd;
    st.closing = band->closing;
    st.labelBase = band->labelBase;
    st.labelLimit = band->labelLimit;
    st.seam = band->labelBase > 0 ? &band->seam : nullptr;
    st.finishTopLevel = true;
    CBLOB_FRAME_TRY(f, ensureBlobBlocksFrom(&band->blocks, band->spares));
    CBLOB_FRAME_TRY(f, scan::prepareClientXform(st, false));
    CBLOB_FRAME_TRY(f, scanWithTables(source, settings, band->scratch, st, band));
    return f.exit();
}

}  // namespace cblob::connect
