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

#include "connect/blob_record.hpp"
#include "connect/scan_rows.hpp"
#include "connect/scan_state.hpp"
#include "run/frame.hpp"

namespace cblob::connect {

namespace {

using scan::findRoot;
using scan::kOuterSlot;
using scan::ScanRow;
using scan::ScanState;
using scan::ScanTables;

constexpr int32_t kPollRowMask = 31;  // the attention check runs every 32 rows
constexpr int32_t kLabelMapStartSize = 1000;
constexpr int32_t kMaxWidth = INT32_MAX / 2 - 8;

// ------------------------------------------------------------ working tables

// Byte offsets of the tables inside the one working block.
struct TableLayout {
    int64_t bytes = 0;
    int64_t ends[2], slots[2], segLabel, segMass, segSumX, segSumXX;
    int64_t link, remap, mark, rec[2], rowBuffer, maskRow;

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
        l.ends[i] = l.take(segs * 4);
        l.slots[i] = l.take(segs * 4);
        l.rec[i] = l.take(slots * static_cast<int64_t>(sizeof(cblob_blob_internal_ *)));
    }
    l.segLabel = l.take(segs * 4);
    l.segMass = l.take(weighted ? segs * 8 : 0);
    l.segSumX = l.take(weighted ? segs * 8 : 0);
    l.segSumXX = l.take(weighted ? segs * 8 : 0);
    l.link = l.take(slots * 4);
    l.remap = l.take(slots * 4);
    l.mark = l.take(slots);
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
    t.prevEnd = at<int32_t>(block, l.ends[0]);
    t.curEnd = at<int32_t>(block, l.ends[1]);
    t.prevSlot = at<int32_t>(block, l.slots[0]);
    t.curSlot = at<int32_t>(block, l.slots[1]);
    t.rec = at<cblob_blob_internal_ *>(block, l.rec[0]);
    t.recNext = at<cblob_blob_internal_ *>(block, l.rec[1]);
    t.segLabel = at<int32_t>(block, l.segLabel);
    if (weighted) {
        t.segMass = at<int64_t>(block, l.segMass);
        t.segSumX = at<double>(block, l.segSumX);
        t.segSumXX = at<double>(block, l.segSumXX);
    }
    t.link = at<int32_t>(block, l.link);
    t.remap = at<int32_t>(block, l.remap);
    t.mark = at<uint8_t>(block, l.mark);
    for (int32_t s = 0; s < maxSlots; ++s) {
        t.link[s] = s;
        t.remap[s] = -1;
        t.mark[s] = 0;
    }
}

// ----------------------------------------------------------------- the walk

// The previous row: its segments and the number of slots they use.
struct PreviousRow {
    int32_t count = 0;
    uint8_t firstColour = 0;
    int32_t slots = 0;          // slots 0 .. slots-1 are its regions' roots
    bool hasOuter = true;       // one of its runs belongs to the outer region
};

// Adds one run (segment k of row y, [x0, x1)) to a region's sums and box.
// Over the run's pixels: sum of (2x + 1) = (2 x0 + L) L, sum of
// (x + 1)^3 - x^3 = L (3 x0 (x0 + L) + L^2), and per pixel of row y,
// (y + 1)^3 - y^3 = 3y^2 + 3y + 1. The weighted scan takes the weighted
// x-sums of the segment from the row.
template <bool Weighted>
inline void addRun(const ScanState &st, cblob_blob_internal_ *r, const ScanRow &row, int32_t k, int32_t x0,
                   int32_t x1, int32_t y) {
    const int64_t len = x1 - x0;
    const int64_t xs = x0;
    const double plainX = static_cast<double>((2 * xs + len) * len);
    const double yd = y;
    int64_t mass = len;
    double sumX = plainX;
    if constexpr (Weighted) {
        mass = row.mass[k];
        sumX = row.sumX[k];
        r->pixelCount = static_cast<int32_t>(static_cast<uint32_t>(r->pixelCount) + static_cast<uint32_t>(len));
    }
    const double m = static_cast<double>(mass);
    r->mass = static_cast<int32_t>(static_cast<uint32_t>(r->mass) + static_cast<uint32_t>(mass));
    r->sumX += sumX;
    r->sumY += m * yd;
    if (st.moments) {
        const double plainXX = static_cast<double>(len) * static_cast<double>(3 * xs * (xs + len) + len * len);
        const double yCube = 3.0 * yd * yd + 3.0 * yd + 1.0;
        r->sumXX += Weighted ? row.sumXX[k] : plainXX;
        r->sumYY += m * yCube;
        r->sumXY += (2.0 * yd + 1.0) * sumX;
        if (Weighted && st.plainSums) {
            r->plainSumXX += plainXX;
            r->plainSumYY += static_cast<double>(len) * yCube;
            r->plainSumXY += (2.0 * yd + 1.0) * plainX;
        }
    }
    if (Weighted && st.plainSums) {
        r->plainSumX += plainX;
        r->plainSumY += static_cast<double>(len) * yd;
    }
    if (r->width <= 0) {
        r->left = x0;
        r->width = x1 - x0;
    } else {
        const int32_t right = r->left + r->width > x1 ? r->left + r->width : x1;
        if (x0 < r->left) r->left = x0;
        r->width = right - r->left;
    }
    r->height = y - r->top + 1;
}

// Merges the regions of two root slots; the older region survives and its
// slot becomes the root of both. *survivor = that slot.
int32_t mergeSlots(ScanState &st, int32_t a, int32_t b, int32_t *survivor) {
    ScanTables &t = st.t;
    if (t.rec[b]->label < t.rec[a]->label) {
        const int32_t swap = a;
        a = b;
        b = swap;
    }
    const int32_t status = scan::mergeRegion(st, t.rec[a], t.rec[b]);
    if (CBLOB_FAILED(status)) return status;
    t.link[b] = a;
    *survivor = a;
    return 0;
}

// Links every segment of the current row to the previous row. *slots is the
// number of slots in use; new regions take the next ones.
template <bool Weighted>
int32_t walkRow(ScanState &st, const ScanRow &row, int32_t y, const PreviousRow &prev, int32_t *slots) {
    ScanTables &t = st.t;
    const int32_t width = st.settings->width;
    const int32_t *prevEnd = t.prevEnd;
    const int32_t *prevSlot = t.prevSlot;
    int32_t *link = t.link;
    const bool inImage = y < st.settings->height;
    int32_t cursor = 0;
    int32_t x0 = 0;
    uint8_t colour = row.firstColour;
    for (int32_t k = 0; k < row.count; ++k, colour ^= 1) {
        const int32_t x1 = row.end[k];
        const bool object = colour != 0;
        // Previous-row columns the run touches: [low, high].
        const int32_t low = object ? x0 - 1 : x0;
        const int32_t high = object ? x1 : x1 - 1;
        while (prevEnd[cursor] <= low) ++cursor;
        const bool rightEdge = !object && x1 == width;
        int32_t r = !object && x0 == 0 ? kOuterSlot : -1;
        // Same-colour previous runs from the cursor on.
        int32_t i = cursor + ((prev.firstColour ^ (cursor & 1)) != colour ? 1 : 0);
        for (; i < prev.count; i += 2) {
            const int32_t start = i > 0 ? prevEnd[i - 1] : 0;
            if (start > high) break;
            const int32_t q = findRoot(link, prevSlot[i]);
            if (r < 0) {
                r = q;
            } else if (q == r) {
                if (st.keepTree && start > x0) {
                    const int32_t closed = findRoot(link, prevSlot[i - 1]);
                    const int32_t status = scan::encloseRegion(st, t.rec[r], t.rec[closed]);
                    if (CBLOB_FAILED(status)) return status;
                }
            } else {
                const int32_t status = mergeSlots(st, r, q, &r);
                if (CBLOB_FAILED(status)) return status;
            }
        }
        if (r < 0) {
            if (rightEdge) {
                r = kOuterSlot;
            } else {
                cblob_blob_internal_ *region = nullptr;
                const int32_t status = scan::openRegion(st, colour, x0, y, &region);
                if (CBLOB_FAILED(status)) return status;
                r = (*slots)++;
                link[r] = r;
                t.rec[r] = region;
            }
        } else if (rightEdge && r != kOuterSlot) {
            const int32_t status = mergeSlots(st, kOuterSlot, r, &r);
            if (CBLOB_FAILED(status)) return status;
        }
        if (rightEdge && st.keepTree) {
            // The region of the previous row's last run, when it ends here,
            // is closed off by the outer region at the right edge.
            const int32_t last = findRoot(link, prevSlot[prev.count - 1]);
            if (last != kOuterSlot && !t.mark[last]) {
                const int32_t status = scan::encloseRegion(st, st.outer, t.rec[last]);
                if (CBLOB_FAILED(status)) return status;
            }
        }
        t.mark[r] = 1;
        t.curSlot[k] = r;
        if (inImage && r != kOuterSlot) addRun<Weighted>(st, t.rec[r], row, k, x0, x1, y);
        x0 = x1;
    }
    return 0;
}

// After the walk of a row: previous-row regions that no run continued are
// complete, then the current row's slots are renumbered densely and become
// the previous row's.
int32_t endRow(ScanState &st, const ScanRow &row, PreviousRow &prev, int32_t slots) {
    ScanTables &t = st.t;
    for (int32_t s = 1; s < prev.slots; ++s) {
        if (t.link[s] != s || t.mark[s]) continue;
        const int32_t status = scan::completeRegion(st, t.rec[s]);
        if (CBLOB_FAILED(status)) return status;
    }
    if (prev.hasOuter && !t.mark[kOuterSlot]) {
        const int32_t status = scan::completeOuter(st);
        if (CBLOB_FAILED(status)) return status;
    }
    prev.hasOuter = t.mark[kOuterSlot] != 0;
    int32_t next = 1;
    t.remap[kOuterSlot] = kOuterSlot;
    t.recNext[kOuterSlot] = st.outer;
    for (int32_t k = 0; k < row.count; ++k) {
        const int32_t root = findRoot(t.link, t.curSlot[k]);
        if (t.remap[root] < 0) {
            t.remap[root] = next;
            t.recNext[next++] = t.rec[root];
        }
        t.curSlot[k] = t.remap[root];
    }
    for (int32_t s = 0; s < slots; ++s) t.remap[s] = -1;
    for (int32_t s = 0; s < next; ++s) {
        t.link[s] = s;
        t.mark[s] = 0;
    }
    cblob_blob_internal_ **rec = t.rec;
    t.rec = t.recNext;
    t.recNext = rec;
    int32_t *swap = t.prevEnd;
    t.prevEnd = t.curEnd;
    t.curEnd = swap;
    swap = t.prevSlot;
    t.prevSlot = t.curSlot;
    t.curSlot = swap;
    prev.count = row.count;
    prev.firstColour = row.firstColour;
    prev.slots = next;
    return 0;
}

// Rows 0 .. height - 1 of the source, then the closing row of background.
template <bool Weighted>
int32_t scanRows(ScanState &st, const scan::RowSource &source) {
    ScanTables &t = st.t;
    const int32_t width = st.settings->width;
    const int32_t height = st.settings->height;
    // The frame: above row 0 lies one background run of the outer region.
    t.prevEnd[0] = width;
    t.prevSlot[0] = kOuterSlot;
    t.rec[kOuterSlot] = st.outer;
    PreviousRow prev;
    prev.count = 1;
    prev.firstColour = 0;
    prev.slots = 1;
    prev.hasOuter = true;
    for (int32_t y = 0; y <= height; ++y) {
        ScanRow row;
        row.end = t.curEnd;
        row.mass = t.segMass;
        row.sumX = t.segSumX;
        row.sumXX = t.segSumXX;
        if (y < height) {
            if ((y & kPollRowMask) == 0) {
                const int32_t status = csys_attention_check();
                if (CBLOB_FAILED(status)) return status;
            }
            source.read(y, row, Weighted, st.plainSums);
        } else {
            row.count = 1;
            row.firstColour = 0;
            row.end[0] = width;
        }
        int32_t slots = prev.slots;
        int32_t status = walkRow<Weighted>(st, row, y, prev, &slots);
        if (CBLOB_FAILED(status)) return status;
        if (y < height && source.hasLabelSlots()) {
            for (int32_t k = 0; k < row.count; ++k) t.segLabel[k] = t.rec[findRoot(t.link, t.curSlot[k])]->label;
            source.writeLabels(y, row, t.segLabel);
        }
        status = endRow(st, row, prev, slots);
        if (CBLOB_FAILED(status)) return status;
    }
    return 0;
}

// The scan state from the settings.
void initState(ScanState &st, const ScanSettings &settings, BlobInternalPool *pool, cblob_resultSet *rs) {
    st.settings = &settings;
    st.pool = pool;
    st.rs = rs;
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

}  // namespace

int32_t scanStandard(const ScanSource &source, const ScanSettings &settings, BlobInternalPool *pool,
                     const ScanScratch &scratch, cblob_resultSet *rs) {
    Frame<1> f;
    CBLOB_FRAME_REQUIRE(f, pool);
    CBLOB_FRAME_REQUIRE(f, rs);
    CBLOB_FRAME_TRY(f, scan::validateRowSource(source, settings));
    CBLOB_FRAME_CHECK(f, settings.scaleVal >= 1, cblob_err_badScaleVal);
    // The slot tables count two rows of runs in 32 bits.
    CBLOB_FRAME_CHECK(f, settings.width <= kMaxWidth, csys_err_badSize);

    ScanState st;
    initState(st, settings, pool, rs);
    CBLOB_FRAME_TRY(f, ensureBlobBlocks(&rs->blobBlocks));
    CBLOB_FRAME_TRY(f, scan::prepareClientXform(st));
    CBLOB_FRAME_TRY(f, startLabelMap(st));
    if (settings.width == 0 || settings.height == 0) return f.exit();  // no pixel, no blob

    // Working tables: at most width segments a row (plus room for the
    // frame); slots for the outer region and both rows' regions.
    const int32_t maxSegments = settings.width + 2;
    const int32_t maxSlots = 2 * maxSegments + 2;
    const bool singlePass = !source.rle;
    const int64_t ownRowBuffer = singlePass && !scratch.rowBuffer ? scan::rowBufferBytes(settings.width) : 0;
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

    // The outer region: label 0, background, the root of the region tree.
    st.nextLabel = 0;
    CBLOB_FRAME_TRY(f, scan::openRegion(st, 0, 0, 0, &st.outer));
    CBLOB_FRAME_TRY(f, settings.weighted ? scanRows<true>(st, rows) : scanRows<false>(st, rows));
    CBLOB_FRAME_TRY(f, scan::endScan(st));
    return f.exit();
}

}  // namespace cblob::connect
