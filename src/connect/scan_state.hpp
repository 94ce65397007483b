// The working state of one standard connectivity scan, shared by its files:
// the row tables, the slot tables that map runs to open regions, the
// settings in the form the inner loop wants them, and the region operations
// (open, merge, enclose, complete, finish).
//
// Slot tables. Every run of the previous and the current row names a slot;
// a slot names a region. Slots form a union-find forest: a merge links the
// root slot of the absorbed region under the survivor's root, so every run
// that named the absorbed region (earlier runs of this row, later runs of
// the previous row) reaches the survivor through its slot without being
// visited. At the end of each row the slots of the current row's runs are
// renumbered densely (one root slot per live region, slot 0 always the
// outer region) and become the previous row's slots. So a row uses at most
// 1 + previous-row runs + current-row runs slots, and a merge costs a link.
#ifndef CBLOB_CONNECT_SCAN_STATE_HPP
#define CBLOB_CONNECT_SCAN_STATE_HPP

#include <cstdint>

#include "cblob/blob.h"
#include "cblob/math.h"
#include "cblob/result_set.h"
#include "connect/blob_internal.hpp"
#include "connect/blob_internal_pool.hpp"
#include "connect/standard_scan.hpp"

namespace cblob::connect::scan {

// The outer region's slot in every row.
constexpr int32_t kOuterSlot = 0;

// One row as the scan sees it: maximal stretches of one colour
// ("segments"), alternating in colour from firstColour, covering exactly
// [0, width). In the weighted scan a segment can hold several runs; its
// weighted sums are given per segment (weight w, run start x, length L):
//   mass  = sum of w * L
//   sumX  = sum of w * (2x + L) * L
//   sumXX = sum of w * L * (3x(x + L) + L^2)
// The binary scan leaves them unset: each segment is one run of weight 1.
struct ScanRow {
    int32_t count = 0;
    uint8_t firstColour = 0;
    int32_t *end = nullptr;     // exclusive end x of each segment
    int64_t *mass = nullptr;    // weighted scan only
    double *sumX = nullptr;
    double *sumXX = nullptr;
};

// The working tables, carved from one block. maxSegments bounds the
// segments of one row (width + 2); maxSlots the slots of one row.
struct ScanTables {
    int32_t maxSegments = 0;
    int32_t maxSlots = 0;
    int32_t *prevEnd = nullptr;   // previous row: segment ends
    int32_t *prevSlot = nullptr;  // previous row: slot of each segment
    int32_t *curEnd = nullptr;    // current row: segment ends
    int32_t *curSlot = nullptr;   // current row: slot of each segment
    int32_t *segLabel = nullptr;  // current row: region label of each segment (wide rows)
    int64_t *segMass = nullptr;   // current row: weighted sums (weighted scan)
    double *segSumX = nullptr;
    double *segSumXX = nullptr;
    int32_t *link = nullptr;      // slot -> parent slot; a root links to itself
    uint8_t *mark = nullptr;      // root slot -> 1 when a current run continues its region
    int32_t *remap = nullptr;     // slot -> slot of the next row, -1 while unassigned
    cblob_blob_internal_ **rec = nullptr;      // root slot -> region
    cblob_blob_internal_ **recNext = nullptr;  // the next row's rec, built at the row end
};

struct ScanState {
    const ScanSettings *settings = nullptr;
    BlobInternalPool *pool = nullptr;
    cblob_resultSet *rs = nullptr;

    bool keepTree = false;    // computeTopology, or any cleanup mode
    bool moments = false;     // second-order sums wanted
    bool weighted = false;
    bool plainSums = false;   // weighted scan with fill cleanup: unweighted sums too
    int32_t cleanup = 0;
    uint32_t minArea = 0;     // compared unsigned with the mass
    double scaleVal = 1.0;
    int32_t originX = 0, originY = 0;

    cblob_blob_internal_ *outer = nullptr;
    int32_t nextLabel = 1;
    cblob_blob *firstTopLevelBefore = nullptr;  // the result set's, before this scan

    // Label map (null when not wanted): [label] = label while alive,
    // -survivor once merged. blobLabels: [blob label] = working label.
    cstd_vector32s *labelMap = nullptr;
    cstd_vector32s *blobLabels = nullptr;

    // Client transform, prepared once (scan_finish.cpp).
    ScanXformKind xformKind = ScanXformKind::none;
    bool xformIsIdentity = true;       // linear: nothing is mapped or scaled
    double linearAreaFactor = 1.0;     // linear: |det L|
    cmath_xformLinear linear{};        // linear: the transform
    const cmath_xformPtrhConst *xform = nullptr;  // non-linear: the handle

    ScanTables t;
};

// Path-halving find of a slot's root.
inline int32_t findRoot(int32_t *link, int32_t slot) {
    while (link[slot] != slot) {
        link[slot] = link[link[slot]];
        slot = link[slot];
    }
    return slot;
}

// ------------------------------------------------- regions (scan_regions.cpp)

// Opens a region of `colour` whose first run lies in row y: a record from
// the pool with the next label, an empty box at (x0, y), zero sums, and its
// label-map entry. Fails only when the pool or the label map must grow.
int32_t openRegion(ScanState &st, uint8_t colour, int32_t x0, int32_t y, cblob_blob_internal_ **region);

// Adds the sums, pixel count and box of `from` into `into`.
void addRegionSums(cblob_blob_internal_ *into, const cblob_blob_internal_ *from);

// Merges region g into s (the survivor, the smaller label): sums and box,
// g's children move to s, g leaves its parent's child list, the label map
// records -s for g, and g's record returns to the pool. The caller repoints
// the slots.
int32_t mergeRegion(ScanState &st, cblob_blob_internal_ *s, cblob_blob_internal_ *g);

// Makes q a child of r when the run that closes q off is r's: only a region
// that has no parent yet, is not the outer region and is not r itself.
int32_t encloseRegion(ScanState &st, cblob_blob_internal_ *r, cblob_blob_internal_ *q);

// Writes [label] = value into the label map (when kept), growing it.
int32_t setLabelMapEntry(ScanState &st, int32_t label, int32_t value);

// ------------------------------------------------ completion (scan_cleanup.cpp)

// A region with no run in the current row: pruned, filled into its parent,
// held or finished, by the cleanup mode.
int32_t completeRegion(ScanState &st, cblob_blob_internal_ *region);

// The outer region had runs in the previous row and none in this one: in
// fill mode, its held children are finished.
int32_t completeOuter(ScanState &st);

// After the closing row: held children of the outer region are finished,
// every child of the outer region loses its parent, the head of their
// sibling chain becomes the result set's first top-level blob (unless it had
// one before the scan), and the outer record returns to the pool.
int32_t endScan(ScanState &st);

// ----------------------------------------------------- finishing (scan_finish.cpp)

// Reads the client transform from the settings into the state (and the
// result set's shared linear transform). Fails on a memory failure of the
// transform blocks.
int32_t prepareClientXform(ScanState &st);

// Finishes a region into the next blob record of the result set and returns
// its working record to the pool.
int32_t finishRegion(ScanState &st, cblob_blob_internal_ *region);

}  // namespace cblob::connect::scan

#endif
